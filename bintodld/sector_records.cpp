#include "bintodld/sector_records.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

#include "bintodld/converter.h"
#include "download/crc32.h"
#include "download/record_format.h"
#include "platform/little_endian.h"
#include "platform/threads.h"

namespace qv::bintodld {

namespace {

constexpr int kDataHeadSize = 4;  // tag 51 and the 3-byte length
constexpr int kCrcSize = 4;

// Sector header payload offsets of the fields computed here.
constexpr int kSectorSizeOffset = 5;
constexpr int kSectorCrcOffset = 8;
constexpr int kCompressedLengthOffset = 12;
constexpr int kCompressedCrcOffset = 15;
constexpr int kTransferUnitsOffset = 19;
constexpr int kUncompressedUnitsOffset = 12;

// LZO1X-1's output for a sector of the largest size can exceed the sector by this much.
constexpr size_t kCompressedLimit = kSectorLimit + kSectorLimit / 16 + 64 + 3;

// The most one sector can add to the download: its header record, the data record's head,
// the data and its CRC.
constexpr size_t kSlotSize = kSectorRecordSize + kDataHeadSize + kCompressedLimit + kCrcSize;

constexpr unsigned kMostWorkers = 16;

// What one worker keeps from sector to sector.
struct WorkerBuffers {
  std::unique_ptr<uint8_t[]> sector = std::make_unique_for_overwrite<uint8_t[]>(kSectorLimit);
  // LZO1X_1_MEM_COMPRESS: 64 KiB in 32-bit builds, 128 KiB in 64-bit ones; written before read.
  std::unique_ptr<uint8_t[]> work = std::make_unique_for_overwrite<uint8_t[]>(LZO1X_1_MEM_COMPRESS);
};

// How much of its slot a converted sector fills, and its data record's data length.
struct SlotUse {
  size_t written = 0;
  uint32_t data_length = 0;
};

// Writes a sector's two records at `slot`.
SectorFault ConvertSector(SectorRecord& record, bool compressed, std::span<const uint8_t> data,
                          uint8_t* slot, SlotUse& use, WorkerBuffers& buffers) {
  uint8_t* payload = &record[kSectorPayloadStart];
  const auto size = static_cast<uint32_t>(data.size());
  const uint32_t sector_crc = Crc32Update(kCrc32Initial, data);
  WriteLe32(payload + kSectorCrcOffset, sector_crc);

  const int record_size = record[1] + 2;
  uint8_t* head_at = slot + record_size;
  uint8_t* data_at = head_at + kDataHeadSize;
  uint32_t data_length = size;
  uint32_t data_crc = sector_crc;
  if (compressed) {
    lzo_uint packed = 0;
    const int status = lzo1x_1_compress(data.data(), size, data_at, &packed, buffers.work.get());
    if (status != LZO_E_OK || packed > kCompressedLimit) return SectorFault::kCompressFailed;
    data_length = static_cast<uint32_t>(packed);
    data_crc = Crc32Update(kCrc32Initial, {data_at, data_length});
    WriteLe24(payload + kCompressedLengthOffset, data_length);
    WriteLe32(payload + kCompressedCrcOffset, data_crc);
    payload[kTransferUnitsOffset] = static_cast<uint8_t>(TransferUnits(data_length + 8));
  } else {
    std::memcpy(data_at, data.data(), size);
    payload[kUncompressedUnitsOffset] = static_cast<uint8_t>(TransferUnits(size + 8));
  }

  const int payload_length = record[1] - kCrcSize;
  WriteLe32(payload + payload_length, Crc32(payload, payload_length));
  std::memcpy(slot, record.data(), static_cast<size_t>(record_size));
  head_at[0] = kSectorDataTag;
  WriteLe24(head_at + 1, data_length + kCrcSize);
  WriteLe32(data_at + data_length, data_crc);
  use.written = static_cast<size_t>(record_size) + kDataHeadSize + data_length + kCrcSize;
  use.data_length = data_length;
  return SectorFault::kNone;
}

// The sectors' byte ranges in the image, which is consumed from offset 0 in sector order (the
// start addresses only describe where the loader puts each sector): n runs from offsets[n]
// to offsets[n + 1].
std::vector<int64_t> SectorOffsets(const CfgParser& parser) {
  const int count = SectorCount(parser);
  std::vector<int64_t> offsets(static_cast<size_t>(count) + 1, 0);
  for (int n = 0; n < count; ++n) {
    const SectorRecord& record = parser.sectors[static_cast<size_t>(n)];
    offsets[n + 1] = offsets[n] + ReadLe24(&record[kSectorPayloadStart + kSectorSizeOffset]);
  }
  return offsets;
}

}  // namespace

std::span<const uint8_t> MemoryImage::Read(int64_t offset, size_t size, uint8_t*) const {
  if (offset >= Size()) return {};
  return bytes_.subspan(static_cast<size_t>(offset),
                        std::min<size_t>(size, bytes_.size() - static_cast<size_t>(offset)));
}

std::span<const uint8_t> FileImage::Read(int64_t offset, size_t size, uint8_t* scratch) const {
  return {scratch, file_.ReadAt(offset, {scratch, size})};
}

void FileDownload::Append(std::span<const uint8_t> records) {
  file_.WriteAt(end_, records);
  end_ += static_cast<int64_t>(records.size());
}

void FileDownload::PutHeader(std::span<const uint8_t> header) {
  file_.WriteAt(0, header);
}

DownloadBytes::DownloadBytes(size_t header_size, size_t capacity)
    : data_(std::make_unique_for_overwrite<uint8_t[]>(capacity)), size_(header_size) {}

void DownloadBytes::Append(std::span<const uint8_t> records) {
  std::memcpy(data_.get() + size_, records.data(), records.size());
  size_ += records.size();
}

void DownloadBytes::PutHeader(std::span<const uint8_t> header) {
  std::memcpy(data_.get(), header.data(), header.size());
}

size_t LargestRecordsSize(int sector_count) {
  return static_cast<size_t>(sector_count) * kSlotSize;
}

SectorsConverted ConvertSectors(CfgParser& parser, const ImageSource& image, DownloadSink& sink) {
  const int count = SectorCount(parser);
  const std::vector<int64_t> offsets = SectorOffsets(parser);
  std::vector<SectorFault> faults(static_cast<size_t>(count), SectorFault::kNone);
  int first_fault = count;  // the first sector that cannot be converted
  for (int n = 0; n < count; ++n) {
    if (offsets[n + 1] > image.Size()) {
      faults[size_t(n)] = SectorFault::kImageEnds;
      first_fault = n;
      break;
    }
  }

  // Each sector is written at a slot of a ring, twice as many slots as workers, and goes to
  // the sink as soon as every sector before it has: a worker waits only when its slot still
  // holds a sector that has not gone yet.
  const unsigned workers = std::clamp<unsigned>(std::thread::hardware_concurrency(), 1,
                                                std::clamp<unsigned>(count, 1, kMostWorkers));
  const int ring_size = static_cast<int>(2 * workers);
  const auto ring = std::make_unique_for_overwrite<uint8_t[]>(size_t(ring_size) * kSlotSize);
  auto slot_of = [&](int n) { return ring.get() + size_t(n % ring_size) * kSlotSize; };
  std::vector<SlotUse> uses(static_cast<size_t>(count));
  std::vector<char> ready(static_cast<size_t>(count), 0);
  std::mutex mutex;
  std::condition_variable slot_freed;
  int next = 0;
  int appended = 0;
  std::exception_ptr sink_error;

  auto work = [&] {
    WorkerBuffers buffers;
    for (;;) {
      int n = 0;
      {
        std::unique_lock lock(mutex);
        n = next++;
        slot_freed.wait(lock,
                        [&] { return sink_error || n >= first_fault || n - appended < ring_size; });
        if (sink_error || n >= first_fault) return;
      }
      const auto size = static_cast<size_t>(offsets[n + 1] - offsets[n]);
      const std::span<const uint8_t> data = image.Read(offsets[n], size, buffers.sector.get());
      const SectorFault fault = data.size() != size
                                    ? SectorFault::kImageEnds
                                    : ConvertSector(parser.sectors[size_t(n)], parser.compressed,
                                                    data, slot_of(n), uses[size_t(n)], buffers);
      std::lock_guard lock(mutex);
      if (fault != SectorFault::kNone) {
        faults[size_t(n)] = fault;
        first_fault = std::min(first_fault, n);
      } else {
        ready[size_t(n)] = 1;
      }
      try {
        for (; !sink_error && appended < first_fault && ready[size_t(appended)]; ++appended)
          sink.Append({slot_of(appended), uses[size_t(appended)].written});
      } catch (...) {
        sink_error = std::current_exception();
      }
      slot_freed.notify_all();
    }
  };
  if (count > 0) RunOnThreads(workers, work);
  if (sink_error) std::rethrow_exception(sink_error);

  SectorsConverted result;
  result.converted = first_fault;
  if (first_fault < count) {
    result.fault = faults[size_t(first_fault)];
    result.fault_offset = offsets[first_fault];
  }
  for (int n = 0; n < first_fault; ++n) {
    result.data_lengths.push_back(uses[size_t(n)].data_length);
    result.bytes += uses[size_t(n)].written;
  }
  return result;
}

}  // namespace qv::bintodld
