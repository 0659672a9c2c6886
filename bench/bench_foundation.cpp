// Measures the foundation's two hot paths and prints them beside their baselines:
//   Crc32 (carry-less folding where the processor has it, slicing-by-8 otherwise) against the
//   byte-at-a-time table CRC, over 8 MiB;
//   ConvertDownload of a full-image download (file to file) against bare LZO1X
//   decompression of the same sector payloads in memory.
#include <lzo/lzo1x.h>

#include <cstdio>
#include <vector>

#include "bench/timing.h"
#include "download/crc32.h"
#include "download/crc32_fold.h"
#include "download/download_file.h"
#include "platform/file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"

namespace {

using qv::bench::MedianSeconds;

volatile uint32_t sink;

void BenchCrc() {
  std::vector<uint8_t> data = qv::sample::RandomBytes(8 << 20, 42);
  double sliced = MedianSeconds(15, [&] { sink = qv::Crc32Update(qv::kCrc32Initial, data); });
  double bytewise = MedianSeconds(5, [&] { sink = qv::Crc32Bytewise(qv::kCrc32Initial, data); });
  double mib = data.size() / double(1 << 20);
  std::printf(
      "Crc32 over 8 MiB: %9.1f MiB/s (%s)   byte-at-a-time %7.1f MiB/s   speed-up %.1fx (goal >= "
      "4x)\n",
      mib / sliced, qv::crc32_fold::Available() ? "carry-less folding" : "slicing-by-8",
      mib / bytewise, bytewise / sliced);
}

void BenchConvert() {
  qv::sample::ImageSpec spec = qv::sample::DefaultImageSpec(qv::kFullImage);
  std::vector<uint8_t> image = qv::sample::BuildFlashImage(spec);
  std::vector<uint8_t> download =
      qv::sample::BuildDownload(image, qv::sample::DownloadSpecFor(spec));
  qv::testing::TempDir dir;
  std::string input = dir.File("box.dld");
  std::string output = dir.File("Temp_DldToBin.bin");
  qv::WriteWholeFile(input, download);

  // The sector data payloads, for the bare decompression baseline.
  std::vector<std::pair<size_t, size_t>> payloads;
  for (const qv::testing::RecordPlace& place : qv::testing::LocateRecords(download)) {
    if (place.tag == qv::kSectorDataTag)
      payloads.emplace_back(place.payload_offset(), place.length - 4);
  }
  qv::EnsureLzoReady();
  std::vector<uint8_t> block(qv::kRecordLimit);
  double bare = MedianSeconds(21, [&] {
    for (auto [offset, size] : payloads) {
      lzo_uint produced = block.size();
      lzo1x_decompress_safe(&download[offset], size, block.data(), &produced, nullptr);
    }
  });
  bool ok = true;
  // Opening a download file removes the previous job's working files first, so each
  // conversion writes a new file, as it does in the tool.
  double convert = MedianSeconds(
      21, [&] { qv::RemoveFile(output); },
      [&] { ok = ok && qv::ConvertDownload(input, qv::kFullImage, output).has_value(); });
  std::printf("full-image download: %zu bytes, %zu sectors -> 0x%X-byte image%s\n", download.size(),
              payloads.size(), 0x800000, ok ? "" : "  (CONVERSION FAILED)");
  std::printf("  bare LZO1X decompression  %7.2f ms\n", bare * 1e3);
  std::printf("  ConvertDownload (files)   %7.2f ms   ratio %.2fx (goal <= 1.0x) %s\n",
              convert * 1e3, convert / bare, convert / bare <= 1.0 ? "met" : "NOT met");
}

}  // namespace

int main() {
  BenchCrc();
  BenchConvert();
  return 0;
}
