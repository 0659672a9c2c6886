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
#include "platform/hex.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"
#include "platform/pending_file.h"
#include "platform/threads.h"

namespace qv {

namespace {

// What a failed decompression of a sector data payload says of it.
std::string DecompressionProblem(int status) {
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

// The record payloads of a sector pair: its sector header and its sector data.
using SectorPayloads = std::vector<std::pair<Payload, Payload>>;

// Frames the download header record and every sector pair of a sound download file in one
// quick pass; nothing on anything unusual (a record out of place, or the header's CRC).
std::optional<SectorPayloads> FrameSectors(std::span<const uint8_t> input, Variant variant) {
  size_t position = 0;
  std::optional<Payload> header = FrameRecord(input, FormatOf(RecordType::kHeader), position);
  if (!header || !CrcMatches(input, *header)) return std::nullopt;
  SectorPayloads sectors;
  for (int n = 0; n < BlockCount(variant); ++n) {
    std::optional<Payload> sector_header =
        FrameRecord(input, FormatOf(RecordType::kSectorHeader), position);
    std::optional<Payload> data =
        sector_header ? FrameRecord(input, FormatOf(RecordType::kSectorData), position)
                      : std::nullopt;
    if (!data) return std::nullopt;
    sectors.emplace_back(*sector_header, *data);
  }
  return sectors;
}

// Runs work(n, scratch) for every sector n, on two threads side by side where the processor
// has two cores, each thread with a scratch buffer of its own (empty until work sizes it).
// False as soon as one returns false (the sectors not yet begun are left).
template <typename Work>
bool ForEverySector(int count, Work&& work) {
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  RunOnThreads(std::thread::hardware_concurrency() > 1 ? 2 : 1, [&] {
    std::vector<uint8_t> scratch;
    for (int n = next++; n < count && !failed; n = next++) {
      if (!work(n, scratch)) failed = true;
    }
  });
  return !failed;
}

// Verifies sector n's two CRCs and decompresses its data, at most its block's size, to `out`;
// the bytes produced, or nothing when the sector is not sound.
std::optional<size_t> DecompressSector(std::span<const uint8_t> input, Variant variant,
                                       const SectorPayloads& sectors, int n, uint8_t* out) {
  const auto& [sector_header, data] = sectors[static_cast<size_t>(n)];
  lzo_uint produced = BlockSize(variant, n);
  if (!CrcMatches(input, sector_header) || !CrcMatches(input, data) ||
      lzo1x_decompress_safe(&input[data.offset], data.size, out, &produced, nullptr) != LZO_E_OK)
    return std::nullopt;
  return produced;
}

// The fast path for a sound download file: the records are framed in one quick pass, then
// two threads verify and decompress the sectors side by side, each block limited to its own
// sector so that no two blocks can overlap. Returns false on anything unusual, leaving the
// image to be rebuilt by the sequential walk, which then finds and reports the fault exactly.
bool PlaceSectorsInParallel(std::span<const uint8_t> input, Variant variant,
                            std::vector<uint8_t>& image, size_t& placed_end) {
  const std::optional<SectorPayloads> sectors = FrameSectors(input, variant);
  if (!sectors) return false;
  std::vector<size_t> ends(sectors->size(), 0);
  const bool sound = ForEverySector(static_cast<int>(sectors->size()), [&](int n, auto&) {
    const size_t offset = static_cast<size_t>(BlockFileOffset(variant, static_cast<uint8_t>(n)));
    const std::optional<size_t> produced =
        DecompressSector(input, variant, *sectors, n, image.data() + offset);
    if (produced) ends[size_t(n)] = offset + *produced;
    return produced.has_value();
  });
  if (!sound) return false;
  placed_end = *std::max_element(ends.begin(), ends.end());
  return true;
}

// Whether a sound download file converts to exactly `image`, found without making the
// converted image: each sector is decompressed to a buffer of its thread's own and compared
// with its place in `image`, and every byte no sector covers must be erased. Nothing when a
// sector is not sound (the conversion would fail and say why).
std::optional<bool> SectorsMatchInParallel(std::span<const uint8_t> input, Variant variant,
                                           const SectorPayloads& sectors,
                                           std::span<const uint8_t> image) {
  std::vector<std::pair<size_t, size_t>> covered(sectors.size());  // each sector's offset, end
  std::atomic<bool> differs{false};
  const bool sound =
      ForEverySector(static_cast<int>(sectors.size()), [&](int n, std::vector<uint8_t>& scratch) {
        scratch.resize(kRecordLimit);
        uint8_t* out = scratch.data();
        const std::optional<size_t> produced = DecompressSector(input, variant, sectors, n, out);
        if (!produced) return false;
        const size_t offset =
            static_cast<size_t>(BlockFileOffset(variant, static_cast<uint8_t>(n)));
        covered[size_t(n)] = {offset, offset + *produced};
        if (offset + *produced > image.size() ||
            !std::equal(out, out + *produced, image.begin() + static_cast<std::ptrdiff_t>(offset)))
          differs = true;
        return true;
      });
  if (!sound) return std::nullopt;
  if (differs) return false;

  size_t placed_end = 0;
  for (const auto& range : covered)
    placed_end = std::max(placed_end, range.second);
  const size_t erased_length = size_t{ErasedBlockCount(variant)} * kBlockSize;
  if (image.size() != std::max(erased_length, placed_end)) return false;
  std::sort(covered.begin(), covered.end());
  size_t at = 0;
  auto erased = [&](size_t from, size_t to) {
    return std::all_of(image.begin() + static_cast<std::ptrdiff_t>(from),
                       image.begin() + static_cast<std::ptrdiff_t>(to),
                       [](uint8_t byte) { return byte == 0xFF; });
  };
  for (const auto& [offset, end] : covered) {
    if (offset > at && !erased(at, offset)) return false;
    at = std::max(at, end);
  }
  return erased(at, image.size());
}

// The record that belongs at `slot` of a download file's stream: slot 0 holds the download
// header record, slot 2n + 1 the sector header record of sector n, slot 2n + 2 its sector
// data record.
std::string SlotName(int slot) {
  if (slot == 0) return FormatOf(RecordType::kHeader).name;
  const RecordType type = slot % 2 == 1 ? RecordType::kSectorHeader : RecordType::kSectorData;
  return std::string(FormatOf(type).name) + " of sector " + std::to_string((slot - 1) / 2);
}

void AddProblem(DownloadRecord& record, const std::string& text) {
  if (!record.problem.empty()) record.problem += "; ";
  record.problem += text;
}

// Lists the records of one download file, framing each by its own tag and length field, so
// that a fault in one record hides nothing of those after it.
class RecordWalk {
 public:
  RecordWalk(std::span<const uint8_t> input, Variant variant, int64_t file_size)
      : input_(input),
        variant_(variant),
        file_size_(std::max<int64_t>(file_size, Size())),
        pairs_(BlockCount(variant)),
        stream_slots_(1 + 2 * pairs_),
        image_end_(int64_t{ErasedBlockCount(variant)} * kBlockSize),
        data_(kRecordLimit) {}

  DownloadListing Run() {
    EnsureLzoReady();
    int64_t position = 0;
    while (position < Size()) {
      const bool in_stream = slot_ < stream_slots_;
      if (listing_.records.size() >= size_t(stream_slots_ + kMostRecordsBeyondStream)) {
        Find(DownloadFindingKind::kTooManyRecords, position,
             "the walk stops after " + std::to_string(listing_.records.size()) +
                 " records, at offset " + Hex(position) + "; the " +
                 std::to_string(file_size_ - position) + " bytes from there are not listed");
        broken_ = true;
        break;
      }
      const RecordFormat* format = FormatOfTag(input_[position]);
      if (!format) {
        if (in_stream) {
          Find(DownloadFindingKind::kNoRecord, position,
               "the byte " + Hex(input_[position]) + " at offset " + Hex(position) +
                   " begins no record where the " + SlotName(slot_) + " should begin; the " +
                   std::to_string(file_size_ - position) + " bytes from there cannot be read");
          broken_ = true;
        }
        break;
      }
      std::optional<int64_t> next = Frame(*format, position, in_stream);
      if (!next) break;
      position = *next;
    }
    if (!broken_ && slot_ < stream_slots_) {
      Find(DownloadFindingKind::kCutShort, position,
           "the file ends at offset " + Hex(position) + " where the " + SlotName(slot_) +
               " should begin");
    }
    if (beyond_ > 0) {
      Find(DownloadFindingKind::kSectorsBeyondVariant, listing_.stream_end,
           std::to_string(beyond_) + " records follow the last of the variant's " +
               std::to_string(pairs_) + " sector pairs, from offset " + Hex(listing_.stream_end) +
               " to " + Hex(listing_.walk_end));
    }
    if (!broken_ && listing_.walk_end < file_size_) {
      Find(DownloadFindingKind::kDataAfterStream, listing_.walk_end,
           std::to_string(file_size_ - listing_.walk_end) +
               " bytes that are no record follow the last record, from offset " +
               Hex(listing_.walk_end));
    }
    CheckTotalSize();
    return std::move(listing_);
  }

 private:
  int64_t Size() const { return static_cast<int64_t>(input_.size()); }
  std::string End() const {
    return Size() < file_size_ ? "the end of the bytes a conversion looks at"
                               : "the end of the file";
  }

  void Find(DownloadFindingKind kind, int64_t offset, std::string text) {
    listing_.findings.push_back({kind, offset, std::move(text)});
  }

  // Frames the record at `position`, lists it, and returns where the next one begins; nothing
  // when the record is not all there, which ends the walk.
  std::optional<int64_t> Frame(const RecordFormat& format, int64_t position, bool in_stream) {
    const std::string which = std::string(format.name) + " at offset " + Hex(position);
    const int64_t payload_at = position + 1 + format.length_width;
    if (payload_at > Size()) {
      if (in_stream) Cut(position, End() + " lies inside the length field of the " + which);
      return std::nullopt;
    }
    const uint32_t length =
        static_cast<uint32_t>(ReadLe(&input_[position + 1], format.length_width));
    const int64_t end = payload_at + length;
    if (end > Size()) {
      if (in_stream) {
        Cut(position, "the " + which + " runs past " + End() + ": its length field gives " +
                          Hex(length) + " bytes, " + std::to_string(Size() - payload_at) +
                          " are left");
      }
      return std::nullopt;
    }

    DownloadRecord record{position, format.type, -1, length, false, std::nullopt, {}};
    TakeSlot(record);
    if (length < 4) {
      AddProblem(record, "its length field of " + std::to_string(length) +
                             " is below 4, which leaves no room for its CRC");
    } else {
      const std::span<const uint8_t> payload = input_.subspan(payload_at, length - 4);
      const uint32_t computed = Crc32Update(kCrc32Initial, payload);
      const uint32_t stored = ReadLe32(&input_[payload_at + length - 4]);
      record.crc_ok = computed == stored;
      if (!record.crc_ok) {
        AddProblem(record, "its CRC is " + Hex(stored) + " but its payload gives " + Hex(computed));
      }
      if (payload.size() > kRecordLimit) {
        AddProblem(record, "its payload of " + std::to_string(payload.size()) +
                               " bytes is more than the limit of " + std::to_string(kRecordLimit));
      } else if (format.type == RecordType::kHeader && payload.size() != kHeaderPayloadSize) {
        AddProblem(record, "its payload has " + std::to_string(payload.size()) + " bytes, not " +
                               std::to_string(kHeaderPayloadSize));
      } else if (format.type == RecordType::kSectorData && record.crc_ok) {
        Decompress(record, payload);
      }
    }
    listing_.records.push_back(std::move(record));
    if (in_stream) {
      listing_.stream_end = end;
    } else {
      ++beyond_;
    }
    listing_.walk_end = end;
    return end;
  }

  void Cut(int64_t offset, std::string text) {
    Find(DownloadFindingKind::kCutShort, offset, std::move(text));
    broken_ = true;
  }

  // Gives the record the place in the stream that its type takes next: a sector header record
  // opens the next sector pair, a sector data record completes the open one (or the next). A
  // record that skips a place, or a second download header record, is out of its order.
  void TakeSlot(DownloadRecord& record) {
    if (record.type == RecordType::kHeader) {
      if (slot_ == 0) {
        slot_ = 1;
      } else {
        AddProblem(record,
                   "a second download header record, where the " + SlotName(slot_) + " should be");
      }
      return;
    }
    const int parity = record.type == RecordType::kSectorHeader ? 1 : 0;
    int slot = std::max(slot_, 1);
    if (slot % 2 != parity) ++slot;
    if (slot != slot_) AddProblem(record, "it stands where the " + SlotName(slot_) + " should be");
    record.sector = (slot - 1) / 2;
    slot_ = slot + 1;
  }

  // Decompresses a sector data payload as a conversion would, to learn how far it reaches.
  void Decompress(DownloadRecord& record, std::span<const uint8_t> payload) {
    lzo_uint produced = kRecordLimit;
    const int status =
        lzo1x_decompress_safe(payload.data(), payload.size(), data_.data(), &produced, nullptr);
    if (status != LZO_E_OK) {
      AddProblem(record, DecompressionProblem(status));
      return;
    }
    record.data_size = static_cast<uint32_t>(produced);
    if (record.sector >= pairs_) return;
    const int64_t at = BlockFileOffset(variant_, static_cast<uint8_t>(record.sector));
    const uint32_t sector_size = BlockSize(variant_, record.sector);
    const std::string sector = "sector " + std::to_string(record.sector);
    if (at + static_cast<int64_t>(produced) > image_end_) {
      Find(DownloadFindingKind::kSectorPastImage, record.offset,
           "the data of " + sector + " decompresses to " + Hex(produced) +
               " bytes, which placed at file offset " + Hex(at) + " reach past the end of the " +
               Hex(image_end_) + "-byte image");
    } else if (produced > sector_size) {
      Find(DownloadFindingKind::kSectorPastItsSector, record.offset,
           "the data of " + sector + " decompresses to " + Hex(produced) +
               " bytes, more than the " + Hex(sector_size) +
               " bytes of its sector: the rest lands on the sector after it");
    }
  }

  // TRANS_TOTAL_SIZE of a sound download header record is the size of the whole file.
  void CheckTotalSize() {
    if (listing_.records.empty()) return;
    const DownloadRecord& header = listing_.records.front();
    if (header.type != RecordType::kHeader || !header.problem.empty()) return;
    const uint32_t total = ReadLe24(&input_[kTotalSizeOffset]);
    if (total != file_size_) {
      Find(DownloadFindingKind::kTotalSizeDiffers, kTotalSizeOffset,
           "the download header gives the file's size (TRANS_TOTAL_SIZE) as " + Hex(total) +
               "; the file has " + Hex(file_size_) + " bytes");
    }
  }

  std::span<const uint8_t> input_;
  Variant variant_;
  int64_t file_size_;
  int pairs_;
  int stream_slots_;
  int64_t image_end_;
  std::vector<uint8_t> data_;  // one sector's decompressed data
  int slot_ = 0;               // the place in the stream that the next record takes
  int beyond_ = 0;             // records listed past the variant's stream
  bool broken_ = false;        // the stream stopped before its end: cut short or not records
  DownloadListing listing_;
};

}  // namespace

bool DownloadListing::Sound() const {
  return findings.empty() && std::all_of(records.begin(), records.end(),
                                         [](const DownloadRecord& r) { return r.problem.empty(); });
}

DownloadListing ListDownloadRecords(std::span<const uint8_t> download, Variant variant,
                                    int64_t file_size) {
  return RecordWalk(download, variant, file_size).Run();
}

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

Result<bool> DownloadHoldsImage(std::span<const uint8_t> download, Variant variant,
                                std::span<const uint8_t> image) {
  EnsureLzoReady();
  if (std::optional<SectorPayloads> sectors = FrameSectors(download, variant)) {
    if (std::optional<bool> same = SectorsMatchInParallel(download, variant, *sectors, image))
      return *same;
  }
  std::vector<uint8_t> converted;
  if (Result<void> read = ConvertDownloadBytes(download, variant, converted); !read)
    return tl::unexpected(read.error());
  return std::ranges::equal(converted, image);
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
