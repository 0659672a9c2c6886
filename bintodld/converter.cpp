#include "bintodld/converter.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string_view>
#include <vector>

#include "bintodld/cfg_parser.h"
#include "bintodld/print.h"
#include "bintodld/sector_records.h"
#include "download/crc32.h"
#include "download/record_format.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"
#include "platform/pending_file.h"

namespace qv::bintodld {

namespace {

constexpr int kCompressedRecordLength = 24;       // sector header record: payload 20 + CRC
constexpr int kUncompressedRecordLength = 17;     // payload 13 + CRC
constexpr uint32_t kLargestTotalSize = 0xFFFFFF;  // TRANS_TOTAL_SIZE has three bytes
constexpr int kSectorSizeOffset = 5;              // of the size in the sector header payload

bool EndsInBin(const std::string& name) {
  if (name.size() < 4) return false;
  std::string_view end(name.data() + name.size() - 4, 4);
  return end[0] == '.' && std::tolower(static_cast<unsigned char>(end[1])) == 'b' &&
         std::tolower(static_cast<unsigned char>(end[2])) == 'i' &&
         std::tolower(static_cast<unsigned char>(end[3])) == 'n';
}

// Feeds one configuration file's text to the parser.
bool ParseCfg(std::string_view text, CfgParser& parser, std::ostream& out) {
  if (text.size() > size_t{kCfgFileLimit}) {
    Print(out, "The cfg file is larger than %d bytes!\n", kCfgFileLimit);
    return false;
  }
  ParseCfgText(parser, text, out);
  return true;
}

// Reads one configuration file's text; nothing when it cannot be used (the reason in the
// trace).
std::optional<std::string> ReadCfgFile(const File& file, std::ostream& out) {
  const int64_t size = file.Size();
  if (size > kCfgFileLimit) {
    Print(out, "The cfg file is larger than %d bytes!\n", kCfgFileLimit);
    return std::nullopt;
  }
  std::string text(static_cast<size_t>(size), '\0');
  auto bytes = std::span(reinterpret_cast<uint8_t*>(text.data()), text.size());
  if (file.ReadAt(0, bytes) != bytes.size()) {
    Print(out, "Can not read the cfg file!\n");
    return std::nullopt;
  }
  return text;
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

// The converter's trace of the sectors, in sector order, ending with the reason when one
// could not be converted; true when all were.
bool TraceSectors(const CfgParser& parser, const SectorsConverted& records, std::ostream& out) {
  const int traced = std::min(records.converted + 1, SectorCount(parser));
  for (int n = 0; n < traced; ++n) {
    const SectorRecord& record = parser.sectors[static_cast<size_t>(n)];
    const uint32_t size = ReadLe24(&record[kSectorPayloadStart + kSectorSizeOffset]);
    Print(out, "\nParition number is %d\n", n);
    Print(out, "The uiCurrPartSize is %x\n", size);
    if (n == records.converted) {
      if (records.fault == SectorFault::kImageEnds) {
        Print(out, "The input file ends inside sector %d: it needs %u bytes from offset %lld!\n", n,
              size, static_cast<long long>(records.fault_offset));
      } else {
        Print(out, "Compress is fail!!!\n");
      }
      return false;
    }
    if (parser.compressed) {
      Print(out, "Compress is success!!\n");
      Print(out, "The uiCurrPartCompSize is %x\n\n", records.data_lengths[static_cast<size_t>(n)]);
    }
  }
  return true;
}

// Makes the download file from parsed configuration files into `sink`: every sector's
// records, then the header record. False when a file or a sector cannot be used (the reason
// in the trace).
bool BuildDownload(CfgParser& parser, const ImageSource& image, DownloadSink& sink,
                   std::ostream& out) {
  if (!CheckParsedCfg(parser, out)) return false;
  const SectorsConverted records = ConvertSectors(parser, image, sink);
  if (!TraceSectors(parser, records, out)) return false;
  const size_t total = kHeaderRecordSize + records.bytes;
  Print(out, "\n\n---------iDlDataLen  is [%lld]------\n\n", static_cast<long long>(total));
  if (total > kLargestTotalSize) {
    Print(out, "The download file is longer than TRANS_TOTAL_SIZE can hold!\n");
    return false;
  }
  uint8_t* header = parser.header.data();
  header[0] = kHeaderTag;
  WriteLe16(header + 1, static_cast<uint32_t>(parser.header_position + 1));
  WriteLe24(header + kTotalSizeOffset, static_cast<uint32_t>(total));
  WriteLe32(header + kHeaderCrcOffset, Crc32(header + kHeaderPayloadStart, kHeaderPayloadSize));
  sink.PutHeader({header, kHeaderRecordSize});
  return true;
}

// Says what the two configuration files gave.
void TraceParsed(const CfgParser& parser, std::ostream& out) {
  Print(out, "\nThe Size of download Header is %d\n", HeaderPayloadLength(parser));
  Print(out, "The Number of Partition  is %d\n", SectorCount(parser));
  Print(out, "The Size of Partition head is %d\n", SectorPayloadLength(parser));
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

  // Each file is read just before it is parsed, so a fault in manufacturer.cfg is reported
  // before the header configuration is looked at.
  CfgParser parser;
  const std::optional<std::string> manufacturer_text = ReadCfgFile(*manufacturer, out);
  if (!manufacturer_text || !ParseCfg(*manufacturer_text, parser, out)) return 1;
  BeginCfgFile(parser, CfgFile::kHeader);
  const std::optional<std::string> header_text = ReadCfgFile(*cfg, out);
  if (!header_text || !ParseCfg(*header_text, parser, out)) return 1;
  TraceParsed(parser, out);

  FileDownload sink(output->file(), kHeaderRecordSize);
  if (!BuildDownload(parser, FileImage(*image), sink, out)) return 1;
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

std::optional<DownloadBytes> MakeDownload(std::string_view manufacturer_cfg,
                                          std::string_view header_cfg,
                                          std::span<const uint8_t> image, std::ostream& out) {
  if (lzo_init() != LZO_E_OK) {
    Print(out, "LZO could not be initialised!\n");
    return std::nullopt;
  }
  CfgParser parser;
  if (!ParseCfg(manufacturer_cfg, parser, out)) return std::nullopt;
  BeginCfgFile(parser, CfgFile::kHeader);
  if (!ParseCfg(header_cfg, parser, out)) return std::nullopt;
  TraceParsed(parser, out);
  DownloadBytes download(kHeaderRecordSize,
                         kHeaderRecordSize + LargestRecordsSize(SectorCount(parser)));
  if (!BuildDownload(parser, MemoryImage(image), download, out)) return std::nullopt;
  return download;
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
