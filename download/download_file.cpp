#include "download/download_file.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "download/crc32.h"
#include "platform/file.h"
#include "platform/pending_file.h"
#include "platform/hex.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"

namespace qv {

namespace {

// Walks the records of one download file and places its data blocks into the image.
class DownloadReader {
 public:
  DownloadReader(std::span<const uint8_t> input, Variant variant, std::vector<uint8_t>& image)
      : input_(input), variant_(variant), image_(image) {}

  // Reads and verifies the record at `position`; with a block index of 0 or more also
  // decompresses its payload as that data block. Returns the position after the record, or
  // -1 with error() saying what was wrong.
  int64_t ReadRecord(const RecordFormat& format, int64_t position, int block_index) {
    std::string which = std::string(format.name) + " at offset " + Hex(position);
    if (block_index >= 0) which += " (sector " + std::to_string(block_index) + ")";
    const int width = format.length_width;
    if (position >= Size())
      return Fail(format, position, "the file ends where the " + which + " should begin");
    if (input_[position] != format.tag) {
      return Fail(
          format, position,
          "the " + which + " has tag " + Hex(input_[position]) + " instead of " + Hex(format.tag));
    }
    if (position + 1 + width > Size())
      return Fail(format, position + 1, "the file ends inside the length field of the " + which);
    uint32_t length = static_cast<uint32_t>(ReadLe(&input_[position + 1], width));
    if (length < 4) {
      return Fail(
          format, position + 1,
          "the " + which + " has a length field of " + std::to_string(length) + ", below 4");
    }
    uint32_t payload_size = length - 4;
    if (payload_size > kRecordLimit) {
      return Fail(format, position + 1,
                  "the " + which + " has a payload of " + std::to_string(payload_size) +
                      " bytes, more than the limit of " + std::to_string(kRecordLimit));
    }
    int64_t payload_at = position + 1 + width;
    int64_t next = payload_at + length;
    if (next > Size())
      return Fail(format, position, "the " + which + " runs past the end of the file");

    std::span<const uint8_t> payload = input_.subspan(payload_at, payload_size);
    uint32_t computed = Crc32Update(kCrc32Initial, payload);
    uint32_t stored = ReadLe32(&input_[payload_at + payload_size]);
    if (computed != stored) {
      return Fail(format, payload_at + payload_size,
                  "the " + which + " has the CRC " + Hex(stored) + " but its payload gives " +
                      Hex(computed));
    }
    if (block_index >= 0) {
      if (std::optional<std::string> problem = PlaceDataBlock(block_index, payload))
        return Fail(format, payload_at, which + ": " + *problem);
    }
    return next;
  }

  // Decompresses one sector data payload straight into place at the block's file offset.
  // The decompressor may write part of a faulty stream before it notices the fault, so the
  // window it may write is put back as it was when the block cannot be placed.
  std::optional<std::string> PlaceDataBlock(int block_index, std::span<const uint8_t> payload) {
    size_t offset =
        static_cast<size_t>(BlockFileOffset(variant_, static_cast<uint8_t>(block_index)));
    uint8_t* window = image_.data() + offset;
    // Bytes at or past placed_end_ are still erased; only those before it need keeping.
    size_t kept = placed_end_ > offset ? std::min<size_t>(placed_end_ - offset, kRecordLimit) : 0;
    saved_.assign(window, window + kept);

    lzo_uint produced = kRecordLimit;
    int status = lzo1x_decompress_safe(payload.data(), payload.size(), window, &produced, nullptr);
    if (status != LZO_E_OK) {
      std::copy(saved_.begin(), saved_.end(), window);
      std::fill(window + kept, window + kRecordLimit, 0xFF);
      return DecompressionProblem(status);
    }
    placed_end_ = std::max(placed_end_, offset + produced);
    return std::nullopt;
  }

  // The length of the converted file: the erased blocks, or further when a block reached
  // past them.
  size_t ImageLength(size_t erased_length) const { return std::max(erased_length, placed_end_); }

  const Error& error() const { return error_; }

 private:
  int64_t Size() const { return static_cast<int64_t>(input_.size()); }

  int64_t Fail(const RecordFormat& format, int64_t offset, std::string text) {
    error_ = Error{format.name, offset, std::move(text)};
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
        return "its compressed data is not a valid LZO1X stream (error " + std::to_string(status) +
               ")";
    }
  }

  std::span<const uint8_t> input_;
  Variant variant_;
  std::vector<uint8_t>& image_;  // room for a whole window past the last block's offset
  size_t placed_end_ = 0;        // end of the furthest block placed so far
  std::vector<uint8_t> saved_;   // what a block's window held before it was written
  Error error_;
};

// Where one record's payload lies, once its framing has been checked.
struct Payload {
  size_t offset;
  size_t size;
};

// Checks the framing of the record at `position` (tag, length, bounds) without its CRC.
std::optional<Payload> FrameRecord(std::span<const uint8_t> input, const RecordFormat& format,
                                   size_t& position) {
  const int length_width = format.length_width;
  if (position + 1 + length_width > input.size() || input[position] != format.tag)
    return std::nullopt;
  uint32_t length = static_cast<uint32_t>(ReadLe(&input[position + 1], length_width));
  if (length < 4 || length - 4 > kRecordLimit) return std::nullopt;
  size_t payload = position + 1 + length_width;
  if (payload + length > input.size()) return std::nullopt;
  position = payload + length;
  return Payload{payload, length - 4};
}

bool CrcMatches(std::span<const uint8_t> input, const Payload& payload) {
  return Crc32Update(kCrc32Initial, input.subspan(payload.offset, payload.size)) ==
         ReadLe32(&input[payload.offset + payload.size]);
}

// The fast path for a sound download file: the records are framed in one quick pass, then
// two threads verify and decompress the sectors side by side, each block limited to its own
// sector so that no two blocks can overlap. Returns false on anything unusual, leaving the
// image to be rebuilt by the sequential walk, which then finds and reports the fault exactly.
bool PlaceSectorsInParallel(std::span<const uint8_t> input, Variant variant,
                            std::vector<uint8_t>& image, size_t& placed_end) {
  const int pairs = BlockCount(variant);
  size_t position = 0;
  std::optional<Payload> header = FrameRecord(input, FormatOf(RecordType::kHeader), position);
  if (!header || !CrcMatches(input, *header)) return false;
  std::vector<std::pair<Payload, Payload>> sectors;
  for (int n = 0; n < pairs; ++n) {
    std::optional<Payload> sector_header =
        FrameRecord(input, FormatOf(RecordType::kSectorHeader), position);
    std::optional<Payload> data =
        sector_header ? FrameRecord(input, FormatOf(RecordType::kSectorData), position)
                      : std::nullopt;
    if (!data) return false;
    sectors.emplace_back(*sector_header, *data);
  }

  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::vector<size_t> ends(pairs, 0);
  auto work = [&] {
    for (int n = next++; n < pairs && !failed; n = next++) {
      const auto& [sector_header, data] = sectors[n];
      size_t offset = static_cast<size_t>(BlockFileOffset(variant, static_cast<uint8_t>(n)));
      lzo_uint produced = BlockSize(variant, n);
      if (!CrcMatches(input, sector_header) || !CrcMatches(input, data) ||
          lzo1x_decompress_safe(&input[data.offset], data.size, image.data() + offset, &produced,
                                nullptr) != LZO_E_OK) {
        failed = true;
        return;
      }
      ends[n] = offset + produced;
    }
  };
  if (std::thread::hardware_concurrency() > 1) {
    std::thread helper(work);
    work();
    helper.join();
  } else {
    work();
  }
  if (failed) return false;
  placed_end = *std::max_element(ends.begin(), ends.end());
  return true;
}

}  // namespace

size_t DownloadInputBound(Variant variant) {
  const size_t pairs = static_cast<size_t>(BlockCount(variant));
  return 3 + 0xFFFF + pairs * ((2 + 0xFF) + (4 + kRecordLimit + 4));
}

std::optional<uint8_t> PartitionCountByte(std::span<const uint8_t> download) {
  if (download.size() <= kPartitionCountOffset) return std::nullopt;
  return download[kPartitionCountOffset];
}

void EnsureLzoReady() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (lzo_init() != LZO_E_OK) throw std::runtime_error("LZO could not be initialised");
  });
}

Result<void> ConvertDownloadBytes(std::span<const uint8_t> download, Variant variant,
                                  std::vector<uint8_t>& image) {
  EnsureLzoReady();
  const int pairs = BlockCount(variant);
  const size_t erased_length = size_t{ErasedBlockCount(variant)} * kBlockSize;
  size_t last_offset =
      pairs > 0 ? static_cast<size_t>(BlockFileOffset(variant, static_cast<uint8_t>(pairs - 1)))
                : 0;
  image.assign(std::max(erased_length, last_offset + kRecordLimit), 0xFF);
  if (pairs == 0) {
    image.resize(erased_length);
    return Fail("variant", -1,
                "image variant " + std::to_string(variant) + " has no download layout");
  }

  size_t placed_end = 0;
  if (PlaceSectorsInParallel(download, variant, image, placed_end)) {
    image.resize(std::max(erased_length, placed_end));
    return {};
  }
  std::fill(image.begin(), image.end(), 0xFF);

  DownloadReader reader(download, variant, image);
  int64_t position = reader.ReadRecord(FormatOf(RecordType::kHeader), 0, -1);
  for (int n = 0; n < pairs && position >= 0; ++n) {
    position = reader.ReadRecord(FormatOf(RecordType::kSectorHeader), position, -1);
    if (position >= 0) position = reader.ReadRecord(FormatOf(RecordType::kSectorData), position, n);
  }
  image.resize(reader.ImageLength(erased_length));
  if (position < 0) return tl::unexpected<Error>(reader.error());
  return {};
}

Result<void> ConvertDownload(const std::string& path, Variant variant,
                             const std::string& output_path) {
  std::vector<uint8_t> input;
  bool opened = false;
  if (auto file = File::TryOpen(path, File::Mode::kRead)) {
    opened = true;
    input.resize(std::min<size_t>(static_cast<size_t>(file->Size()), DownloadInputBound(variant)));
    input.resize(file->ReadAt(0, input));
  }

  std::vector<uint8_t> image;
  Result<void> result = ConvertDownloadBytes(input, variant, image);
  if (!opened) result = Fail("file", -1, "the download file cannot be opened");
  try {
    // A new file renamed over the old one: faster than truncating a large file in place, and
    // a reader never sees it half-written.
    WriteFileAtomically(output_path, image);
  } catch (const IoError& error) {
    return Fail("file", -1, "the converted image cannot be written: " + std::string(error.what()));
  }
  return result;
}

}  // namespace qv
