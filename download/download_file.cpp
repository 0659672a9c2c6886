#include "download/download_file.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <stdexcept>

#include "download/crc32.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"

namespace qv {

namespace {

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

const char* RecordName(uint8_t tag) {
  switch (tag) {
    case kHeaderTag:
      return "download header record";
    case kSectorHeaderTag:
      return "sector header record";
    default:
      return "sector data record";
  }
}

// Walks the records of one download file and places its data blocks into the image.
class DownloadReader {
 public:
  DownloadReader(std::span<const uint8_t> input, Variant variant, std::vector<uint8_t>& image)
      : input_(input), variant_(variant), image_(image), block_(kRecordLimit) {}

  // Reads and verifies the record at `position`; with a block index of 0 or more also
  // decompresses its payload as that data block. Returns the position after the record, or
  // -1 with problem() saying what was wrong.
  int64_t ReadRecord(uint8_t tag, int length_width, int64_t position, int block_index) {
    std::string which = std::string(RecordName(tag)) + " at offset " + Hex(position);
    if (block_index >= 0) which += " (sector " + std::to_string(block_index) + ")";
    if (position >= Size()) return Fail("the file ends where the " + which + " should begin");
    if (input_[position] != tag) {
      return Fail("the " + which + " has tag " + Hex(input_[position]) + " instead of " + Hex(tag));
    }
    if (position + 1 + length_width > Size()) return Fail("the file ends inside the length field of the " + which);
    uint32_t length = static_cast<uint32_t>(ReadLe(&input_[position + 1], length_width));
    if (length < 4) return Fail("the " + which + " has a length field of " + std::to_string(length) + ", below 4");
    uint32_t payload_size = length - 4;
    if (payload_size > kRecordLimit) {
      return Fail("the " + which + " has a payload of " + std::to_string(payload_size) +
                  " bytes, more than the limit of " + std::to_string(kRecordLimit));
    }
    int64_t payload_at = position + 1 + length_width;
    int64_t next = payload_at + length;
    if (next > Size()) return Fail("the " + which + " runs past the end of the file");

    std::span<const uint8_t> payload = input_.subspan(payload_at, payload_size);
    uint32_t computed = Crc32Update(kCrc32Initial, payload);
    uint32_t stored = ReadLe32(&input_[payload_at + payload_size]);
    if (computed != stored) {
      return Fail("the " + which + " has the CRC " + Hex(stored) + " but its payload gives " + Hex(computed));
    }
    if (block_index >= 0 && !PlaceDataBlock(block_index, payload)) return Fail(which + ": " + problem_);
    return next;
  }

  // Decompresses one sector data payload and writes it at the block's file offset.
  bool PlaceDataBlock(int block_index, std::span<const uint8_t> payload) {
    lzo_uint produced = kRecordLimit;
    int status = lzo1x_decompress_safe(payload.data(), payload.size(), block_.data(), &produced, nullptr);
    if (status != LZO_E_OK) {
      problem_ = DecompressionProblem(status);
      return false;
    }
    size_t offset = static_cast<size_t>(BlockFileOffset(variant_, static_cast<uint8_t>(block_index)));
    if (offset + produced > image_.size()) image_.resize(offset + produced, 0xFF);
    std::copy_n(block_.begin(), produced, image_.begin() + offset);
    return true;
  }

  const std::string& problem() const { return problem_; }

 private:
  int64_t Size() const { return static_cast<int64_t>(input_.size()); }

  int64_t Fail(std::string problem) {
    problem_ = std::move(problem);
    return -1;
  }

  static std::string DecompressionProblem(int status) {
    switch (status) {
      case LZO_E_OUTPUT_OVERRUN:
        return "its data decompresses to more than " + std::to_string(kRecordLimit) + " bytes";
      case LZO_E_INPUT_NOT_CONSUMED:
        return "its compressed data goes on after the end-of-stream marker";
      case LZO_E_INPUT_OVERRUN:
        return "its compressed data ends before the end-of-stream marker";
      default:
        return "its compressed data is not a valid LZO1X stream (error " + std::to_string(status) + ")";
    }
  }

  std::span<const uint8_t> input_;
  Variant variant_;
  std::vector<uint8_t>& image_;
  std::vector<uint8_t> block_;  // one decompressed data block
  std::string problem_;
};

// The most input bytes a conversion can look at: the header record and, per pair, the
// largest sector header and data records that pass the limits.
size_t InputBound(int pairs) {
  return 3 + 0xFFFF + static_cast<size_t>(pairs) * ((2 + 0xFF) + (4 + kRecordLimit + 4));
}

}  // namespace

void EnsureLzoReady() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (lzo_init() != LZO_E_OK) throw std::runtime_error("LZO could not be initialised");
  });
}

ConversionResult ConvertDownloadBytes(std::span<const uint8_t> download, Variant variant,
                                      std::vector<uint8_t>& image) {
  EnsureLzoReady();
  int pairs = BlockCount(variant);
  image.assign(size_t{ErasedBlockCount(variant)} * kBlockSize, 0xFF);
  if (pairs == 0) return {false, "image variant " + std::to_string(variant) + " has no download layout"};

  DownloadReader reader(download, variant, image);
  int64_t position = reader.ReadRecord(kHeaderTag, 2, 0, -1);
  for (int n = 0; n < pairs && position >= 0; ++n) {
    position = reader.ReadRecord(kSectorHeaderTag, 1, position, -1);
    if (position >= 0) position = reader.ReadRecord(kSectorDataTag, 3, position, n);
  }
  if (position < 0) return {false, reader.problem()};
  return {true, ""};
}

ConversionResult ConvertDownload(const std::string& path, Variant variant, const std::string& output_path) {
  std::vector<uint8_t> input;
  std::string open_problem;
  if (auto file = File::TryOpen(path, File::Mode::kRead)) {
    input.resize(std::min<size_t>(static_cast<size_t>(file->Size()), InputBound(BlockCount(variant))));
    input.resize(file->ReadAt(0, input));
  } else {
    open_problem = "the download file cannot be opened";
  }

  std::vector<uint8_t> image;
  ConversionResult result = ConvertDownloadBytes(input, variant, image);
  if (!open_problem.empty() && result.ok == false) result.problem = open_problem;
  try {
    WriteWholeFile(output_path, image);
  } catch (const IoError& error) {
    return {false, "the converted image cannot be written: " + std::string(error.what())};
  }
  return result;
}

}  // namespace qv
