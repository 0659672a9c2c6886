#include "bintodld/converter.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string_view>
#include <vector>

#include "bintodld/cfg_parser.h"
#include "bintodld/print.h"
#include "download/crc32.h"
#include "download/record_format.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"
#include "platform/pending_file.h"

namespace qv::bintodld {

namespace {

constexpr int kCompressedRecordLength = 24;    // sector header record: payload 20 + CRC
constexpr int kUncompressedRecordLength = 17;  // payload 13 + CRC
constexpr int kDataHeadSize = 4;               // tag 51 and the 3-byte length
constexpr int kCrcSize = 4;
constexpr uint32_t kLargestTotalSize = 0xFFFFFF;  // TRANS_TOTAL_SIZE has three bytes

// Sector header payload offsets of the fields computed here.
constexpr int kSectorSizeOffset = 5;
constexpr int kSectorCrcOffset = 8;
constexpr int kCompressedLengthOffset = 12;
constexpr int kCompressedCrcOffset = 15;
constexpr int kTransferUnitsOffset = 19;
constexpr int kUncompressedUnitsOffset = 12;

// LZO1X-1's output for a sector of the largest size can exceed the sector by this much.
constexpr size_t kCompressedLimit = kSectorLimit + kSectorLimit / 16 + 64 + 3;

// Output is gathered in a large buffer and written in few, large writes.
constexpr size_t kOutputBufferSize = size_t{256} << 10;
constexpr size_t kLargestSectorOutput =
    2 + kSectorRecordSize + kDataHeadSize + kCompressedLimit + kCrcSize;

bool EndsInBin(const std::string& name) {
  if (name.size() < 4) return false;
  std::string_view end(name.data() + name.size() - 4, 4);
  return end[0] == '.' && std::tolower(static_cast<unsigned char>(end[1])) == 'b' &&
         std::tolower(static_cast<unsigned char>(end[2])) == 'i' &&
         std::tolower(static_cast<unsigned char>(end[3])) == 'n';
}

// Appends download bytes in order, in large writes to the pending output file.
class OutputBuffer {
 public:
  explicit OutputBuffer(File& file)
      : file_(file), buffer_(std::make_unique_for_overwrite<uint8_t[]>(kOutputBufferSize)) {}

  // Room for `size` more bytes (at most kLargestSectorOutput) at the end of the buffer; they
  // count once Advance() is called.
  uint8_t* Room(size_t size) {
    if (used_ + size > kOutputBufferSize) Flush();
    return buffer_.get() + used_;
  }
  void Advance(size_t size) { used_ += size; }
  void Append(const uint8_t* bytes, size_t size) {
    std::copy_n(bytes, size, Room(size));
    Advance(size);
  }
  void Flush() {
    file_.WriteAt(written_, std::span<const uint8_t>(buffer_.get(), used_));
    written_ += static_cast<int64_t>(used_);
    used_ = 0;
  }
  int64_t total() const { return written_ + static_cast<int64_t>(used_); }

 private:
  File& file_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t used_ = 0;
  int64_t written_ = 0;
};

static_assert(kLargestSectorOutput <= kOutputBufferSize);

// Reads one configuration file and feeds it to the parser.
bool ParseCfgFile(const File& file, CfgParser& parser, std::ostream& out) {
  const int64_t size = file.Size();
  if (size > kCfgFileLimit) {
    Print(out, "The cfg file is larger than %d bytes!\n", kCfgFileLimit);
    return false;
  }
  std::vector<char> text(static_cast<size_t>(size));
  auto bytes = std::span(reinterpret_cast<uint8_t*>(text.data()), text.size());
  if (file.ReadAt(0, bytes) != bytes.size()) {
    Print(out, "Can not read the cfg file!\n");
    return false;
  }
  ParseCfgText(parser, std::string_view(text.data(), text.size()), out);
  return true;
}

// The checks that keep the output pass inside its buffers and the header in the 72-byte form
// whose TRANS_TOTAL_SIZE and CRC lie at offsets 61 and 75.
bool CheckParsedCfg(const CfgParser& parser, std::ostream& out) {
  if (!parser.problem.empty()) {
    out << parser.problem;
    return false;
  }
  if (parser.value_overran_field) {
    Print(out, "A value in the cfg file is longer than its field: the fields after it are lost!\n");
    return false;
  }
  if (HeaderPayloadLength(parser) != kHeaderPayloadSize) {
    Print(out, "The Size of download Header must be %d!\n", kHeaderPayloadSize);
    return false;
  }
  const int record_length = parser.compressed ? kCompressedRecordLength : kUncompressedRecordLength;
  for (int n = 0; n < SectorCount(parser); ++n) {
    const SectorRecord& record = parser.sectors[static_cast<size_t>(n)];
    if (record[0] != kSectorHeaderTag || record[1] != record_length) {
      Print(out, "The cfg file does not give sector %d its memory type, start and size!\n", n);
      return false;
    }
    const uint32_t size = ReadLe24(&record[kSectorPayloadStart + kSectorSizeOffset]);
    if (size > kSectorLimit) {
      Print(out, "The size of sector %d is %u bytes, more than %d!\n", n, size, kSectorLimit);
      return false;
    }
  }
  return true;
}

// The sector data and the compressor's work memory (LZO1X_1_MEM_COMPRESS: 64 KiB in 32-bit
// builds, 128 KiB in 64-bit ones). Both are written before they are read.
struct Buffers {
  std::unique_ptr<uint8_t[]> sector = std::make_unique_for_overwrite<uint8_t[]>(kSectorLimit);
  std::unique_ptr<uint8_t[]> work = std::make_unique_for_overwrite<uint8_t[]>(LZO1X_1_MEM_COMPRESS);
};

// Writes the sector header record and the sector data record of sector n.
bool ConvertSector(CfgParser& parser, int n, const File& image, int64_t& image_offset,
                   Buffers& buffers, OutputBuffer& output, std::ostream& out) {
  SectorRecord& record = parser.sectors[static_cast<size_t>(n)];
  uint8_t* payload = &record[kSectorPayloadStart];
  const uint32_t size = ReadLe24(payload + kSectorSizeOffset);
  Print(out, "\nParition number is %d\n", n);
  Print(out, "The uiCurrPartSize is %x\n", size);

  // The image is consumed from offset 0 in sector order; the start addresses only describe
  // where the loader puts each sector.
  const std::span<uint8_t> data(buffers.sector.get(), size);
  if (image.ReadAt(image_offset, data) != size) {
    Print(out, "The input file ends inside sector %d: it needs %u bytes from offset %lld!\n", n,
          size, static_cast<long long>(image_offset));
    return false;
  }
  image_offset += size;
  const uint32_t sector_crc = Crc32Update(kCrc32Initial, data);
  WriteLe32(payload + kSectorCrcOffset, sector_crc);

  const int record_size = record[1] + 2;
  uint8_t* record_at = output.Room(kLargestSectorOutput);
  uint8_t* head_at = record_at + record_size;
  uint8_t* data_at = head_at + kDataHeadSize;
  uint32_t data_length = size;
  uint32_t data_crc = sector_crc;
  if (parser.compressed) {
    lzo_uint packed = 0;
    const int status = lzo1x_1_compress(data.data(), size, data_at, &packed, buffers.work.get());
    if (status != LZO_E_OK || packed > kCompressedLimit) {
      Print(out, "Compress is fail!!!\n");
      return false;
    }
    Print(out, "Compress is success!!\n");
    data_length = static_cast<uint32_t>(packed);
    data_crc = Crc32Update(kCrc32Initial, {data_at, data_length});
    WriteLe24(payload + kCompressedLengthOffset, data_length);
    Print(out, "The uiCurrPartCompSize is %x\n\n", data_length);
    WriteLe32(payload + kCompressedCrcOffset, data_crc);
    payload[kTransferUnitsOffset] = static_cast<uint8_t>(TransferUnits(data_length + 8));
  } else {
    std::copy(data.begin(), data.end(), data_at);
    payload[kUncompressedUnitsOffset] = static_cast<uint8_t>(TransferUnits(size + 8));
  }

  const int payload_length = record[1] - kCrcSize;
  WriteLe32(payload + payload_length, Crc32(payload, payload_length));
  std::copy_n(record.begin(), record_size, record_at);
  head_at[0] = kSectorDataTag;
  WriteLe24(head_at + 1, data_length + kCrcSize);
  WriteLe32(data_at + data_length, data_crc);
  output.Advance(static_cast<size_t>(record_size) + kDataHeadSize + data_length + kCrcSize);
  return true;
}

int Convert(std::span<const std::string> arguments, std::ostream& out) {
  if (arguments.size() != 3) {
    Print(out, "Wrong format!\n");
    Print(out, "The format must be : bintodld *.bin!\n");
    return 1;
  }
  const std::string& manufacturer_path = arguments[0];
  const std::string& cfg_path = arguments[1];
  const std::string& image_path = arguments[2];
  if (!EndsInBin(image_path))
    Print(out, "The input file  is wrong!it shoule be :  filename.bin!\n");
  const std::optional<std::string> output_path = DownloadNameFor(image_path);

  std::optional<File> cfg = File::TryOpen(cfg_path, File::Mode::kRead);
  std::optional<File> manufacturer = File::TryOpen(manufacturer_path, File::Mode::kRead);
  std::optional<File> image = File::TryOpen(image_path, File::Mode::kRead);
  // The download must not replace one of its own inputs (an image named "*.dld", say).
  bool output_is_input = false;
  for (const std::string& input : arguments) {
    if (output_path && IsSameFile(input, *output_path)) output_is_input = true;
  }
  std::optional<PendingFile> output = output_path && !output_is_input
                                          ? PendingFile::Create(*output_path)
                                          : std::optional<PendingFile>();
  // An earlier download of this name goes now, as it would when the output is created, so
  // that after a failed run no download file is found there: one that exists is complete and
  // belongs to the last run. A name that cannot be freed (a directory, say) cannot be created.
  if (output && FileExists(*output_path) && !RemoveFile(*output_path)) output.reset();
  if (!cfg || !manufacturer || !image || !output) {
    Print(out, "Can not open the input file!\n");
    return 1;
  }

  CfgParser parser;
  if (!ParseCfgFile(*manufacturer, parser, out)) return 1;
  BeginCfgFile(parser, CfgFile::kHeader);
  if (!ParseCfgFile(*cfg, parser, out)) return 1;

  Print(out, "\nThe Size of download Header is %d\n", HeaderPayloadLength(parser));
  Print(out, "The Number of Partition  is %d\n", SectorCount(parser));
  Print(out, "The Size of Partition head is %d\n", SectorPayloadLength(parser));
  if (!CheckParsedCfg(parser, out)) return 1;

  // The header goes out first with the configured TRANS_TOTAL_SIZE and is written again at
  // the end, when the file's length is known.
  uint8_t* header = parser.header.data();
  header[0] = kHeaderTag;
  WriteLe16(header + 1, static_cast<uint32_t>(parser.header_position + 1));
  WriteLe32(header + kHeaderCrcOffset, Crc32(header + kHeaderPayloadStart, kHeaderPayloadSize));
  OutputBuffer buffer(output->file());
  buffer.Append(header, kHeaderRecordSize);

  Buffers buffers;
  int64_t image_offset = 0;
  for (int n = 0; n < SectorCount(parser); ++n) {
    if (!ConvertSector(parser, n, *image, image_offset, buffers, buffer, out)) return 1;
  }

  const int64_t total = buffer.total();
  Print(out, "\n\n---------iDlDataLen  is [%lld]------\n\n", static_cast<long long>(total));
  if (total > kLargestTotalSize) {
    Print(out, "The download file is longer than TRANS_TOTAL_SIZE can hold!\n");
    return 1;
  }
  buffer.Flush();
  WriteLe24(header + kTotalSizeOffset, static_cast<uint32_t>(total));
  WriteLe32(header + kHeaderCrcOffset, Crc32(header + kHeaderPayloadStart, kHeaderPayloadSize));
  output->file().WriteAt(0, std::span<const uint8_t>(header, kHeaderRecordSize));
  Result<void> committed = output->Commit(PendingFile::Replace::kExisting);
  if (!committed) throw IoError(committed.error().text);
  return 0;
}

}  // namespace

std::optional<std::string> DownloadNameFor(const std::string& image) {
  // Only the file name's own characters are replaced, so the download stays beside the image.
  const size_t slash = image.rfind('/');
  const size_t name_length = slash == std::string::npos ? image.size() : image.size() - slash - 1;
  if (name_length < 3) return std::nullopt;
  return image.substr(0, image.size() - 3) + "dld";
}

int RunBintodld(std::span<const std::string> arguments, std::ostream& out) {
  if (lzo_init() != LZO_E_OK) {
    Print(out, "LZO could not be initialised!\n");
    return 1;
  }
  try {
    return Convert(arguments, out);
  } catch (const IoError& error) {
    Print(out, "Can not write the output file: %s!\n", error.what());
    return 1;
  }
}

}  // namespace qv::bintodld
