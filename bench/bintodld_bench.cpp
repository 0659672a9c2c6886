// Times the whole bin-to-download conversion against lzop -1 compressing the same file.
//
// One 8 MiB full image of realistic content (code-like data, erased space, incompressible
// stretches) from the sample image builder; both programs run as processes on it, alternately,
// several times; the medians are compared. The goal is a conversion in at most 0.5 times
// lzop's time. The processor time of each run (user and system) is shown beside it: the
// converter spreads its sectors over every core, lzop uses one.
//
//   build/bin/bench_bintodld [repetitions]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/timing.h"
#include "download/download_file.h"
#include "image/flash_image.h"
#include "image/manufacturer_block.h"
#include "platform/file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"
#include "workfiles/header_configs.h"

namespace {

using qv::bench::LoadAverage;
using qv::bench::Median;
using qv::bench::ProcessRun;
using qv::bench::RunProcess;

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
  qv::testing::TempDir dir;
  const std::string image_path = dir.File("box_Merge.bin");
  const std::vector<uint8_t> image =
      qv::sample::BuildFlashImage(qv::sample::DefaultImageSpec(qv::kFullImage));
  qv::testing::WriteBytes(image_path, image);

  std::string manufacturer;
  for (const std::string& line : qv::ManufacturerCfgLines(
           qv::DecodeManufacturerBlockAt(image, *qv::LayoutOf(qv::kFullImage))))
    manufacturer += line + "\r\n";
  qv::testing::WriteBytes(dir.File("manufacturer.cfg"),
                          std::vector<uint8_t>(manufacturer.begin(), manufacturer.end()));
  const qv::HeaderConfig& config = *qv::HeaderConfigFor(qv::kFullImage);
  qv::WriteHeaderConfig(config, dir.File(std::string(config.name)));

  const std::vector<std::string> ours = {QV_BINTODLD_PROGRAM, dir.File("manufacturer.cfg"),
                                         dir.File(std::string(config.name)), image_path};
  const std::vector<std::string> peer = {"lzop",    "-1", "-f", "-o", dir.File("box_Merge.lzo"),
                                         image_path};

  // A warm-up run of each, which also shows that both work and that the download is right.
  const std::string load_before = LoadAverage();
  if (RunProcess(ours).wall_ms < 0) {
    std::fprintf(stderr, "bench_bintodld: %s failed\n", QV_BINTODLD_PROGRAM);
    return 1;
  }
  if (RunProcess(peer).wall_ms < 0) {
    std::fprintf(stderr,
                 "bench_bintodld: lzop is missing or failed (scripts/setup.sh installs it)\n");
    return 1;
  }
  std::vector<uint8_t> back;
  const qv::Result<void> result = qv::ConvertDownloadBytes(
      qv::testing::ReadBytes(dir.File("box_Merge.dld")), qv::kFullImage, back);
  if (!result || back != image) {
    std::fprintf(stderr, "bench_bintodld: the download does not convert back: %s\n",
                 result ? "the image differs" : result.error().text.c_str());
    return 1;
  }

  std::vector<ProcessRun> our_runs;
  std::vector<ProcessRun> peer_runs;
  for (int i = 0; i < repetitions; ++i) {
    // Alternate the order, so neither program always runs on a warmer machine.
    if (i % 2 == 0) {
      our_runs.push_back(RunProcess(ours));
      peer_runs.push_back(RunProcess(peer));
    } else {
      peer_runs.push_back(RunProcess(peer));
      our_runs.push_back(RunProcess(ours));
    }
  }
  auto wall = [](const std::vector<ProcessRun>& runs) {
    std::vector<double> times;
    for (const ProcessRun& run : runs)
      times.push_back(run.wall_ms);
    return times;
  };
  auto cpu = [](const std::vector<ProcessRun>& runs) {
    std::vector<double> times;
    for (const ProcessRun& run : runs)
      times.push_back(run.cpu_ms);
    return times;
  };
  const std::vector<double> our_times = wall(our_runs);
  const std::vector<double> peer_times = wall(peer_runs);
  const double our_median = Median(our_times);
  const double peer_median = Median(peer_times);
  const double ratio = our_median / peer_median;
  std::printf("image: %zu bytes (full image, code-like data, erased space, random stretches)\n",
              image.size());
  std::printf("outputs: download %d bytes, lzop -1 %d bytes\n",
              qv::FileSize(dir.File("box_Merge.dld")), qv::FileSize(dir.File("box_Merge.lzo")));
  std::printf("repetitions: %d each, alternating; %u cores; load average %s before, %s after\n",
              repetitions, std::thread::hardware_concurrency(), load_before.c_str(),
              LoadAverage().c_str());
  std::printf("            wall median   (min)     processor time median\n");
  std::printf("bintodld   %9.2f ms (%6.2f)   %9.2f ms\n", our_median,
              *std::min_element(our_times.begin(), our_times.end()), Median(cpu(our_runs)));
  std::printf("lzop -1    %9.2f ms (%6.2f)   %9.2f ms\n", peer_median,
              *std::min_element(peer_times.begin(), peer_times.end()), Median(cpu(peer_runs)));
  std::printf("ratio      %.2fx lzop's time (goal: at most 0.50x) %s\n", ratio,
              ratio <= 0.5 ? "met" : "NOT met");
  return 0;
}
