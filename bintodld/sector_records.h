#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "bintodld/cfg_parser.h"
#include "platform/file.h"

// The sector records of a download file: for each sector the converter's list names, its
// sector header record (with the sector's CRC, and in the compressed form its LZO1X-1 length,
// the compressed data's CRC and its transfer units filled in) and its sector data record.
// The sectors are converted side by side on every core; their records go out in order.
namespace qv::bintodld {

// Where the sectors' bytes come from: the image, consumed from offset 0 in sector order.
class ImageSource {
 public:
  virtual ~ImageSource() = default;
  virtual int64_t Size() const = 0;
  // The `size` bytes at `offset`, read into `scratch` (room for a whole sector) where they
  // must be copied; fewer when the image ends first.
  virtual std::span<const uint8_t> Read(int64_t offset, size_t size, uint8_t* scratch) const = 0;
};

// An image held in memory.
class MemoryImage final : public ImageSource {
 public:
  explicit MemoryImage(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  std::span<const uint8_t> Read(int64_t offset, size_t size, uint8_t* scratch) const override;

 private:
  std::span<const uint8_t> bytes_;
};

// An image read from its file, sector by sector, by whichever worker converts the sector.
class FileImage final : public ImageSource {
 public:
  explicit FileImage(const File& file) : file_(file), size_(file.Size()) {}
  int64_t Size() const override { return size_; }
  std::span<const uint8_t> Read(int64_t offset, size_t size, uint8_t* scratch) const override;

 private:
  const File& file_;
  int64_t size_;
};

// Where a download file's bytes go: the sector records in sector order, each after the last,
// from the end of the header record's room; then the header record at the front.
class DownloadSink {
 public:
  virtual ~DownloadSink() = default;
  virtual void Append(std::span<const uint8_t> records) = 0;
  virtual void PutHeader(std::span<const uint8_t> header) = 0;
};

// A download file written straight into its (pending) file, each byte once.
class FileDownload final : public DownloadSink {
 public:
  FileDownload(File& file, size_t header_size) : file_(file), end_(int64_t(header_size)) {}
  void Append(std::span<const uint8_t> records) override;
  void PutHeader(std::span<const uint8_t> header) override;

 private:
  File& file_;
  int64_t end_;
};

// A download file in memory. Its buffer is sized for the largest download the sectors could
// give, of which only the pages written are ever touched.
class DownloadBytes final : public DownloadSink {
 public:
  DownloadBytes(size_t header_size, size_t capacity);
  void Append(std::span<const uint8_t> records) override;
  void PutHeader(std::span<const uint8_t> header) override;
  std::span<const uint8_t> bytes() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_;
};

enum class SectorFault { kNone, kImageEnds, kCompressFailed };

struct SectorsConverted {
  int converted = 0;                       // the sectors converted, from sector 0 on
  SectorFault fault = SectorFault::kNone;  // why sector `converted` was not converted
  int64_t fault_offset = 0;                // where that sector begins in the image
  std::vector<uint32_t> data_lengths;      // each converted sector's data length
  size_t bytes = 0;                        // of the records appended
};

// The most bytes `sector_count` sectors can add to a download file.
size_t LargestRecordsSize(int sector_count);

// Converts the parser's sectors, each sector header record's computed fields written into
// `parser.sectors`, and appends their records to `sink` in sector order. The sectors are
// converted side by side; each worker reuses its own buffers. Stops at the first sector that
// cannot be converted: no sector after it reaches the sink. The parser's records must have
// passed the converter's checks (sizes within kSectorLimit). An IoError of the sink is
// raised again once every worker has stopped.
SectorsConverted ConvertSectors(CfgParser& parser, const ImageSource& image, DownloadSink& sink);

}  // namespace qv::bintodld
