// Times the whole bin-to-download conversion against lzop -1 compressing the same file.
//
// One 8 MiB full image of realistic content (code-like data, erased space, incompressible
// stretches) from the sample image builder; both programs run as processes on it, alternately,
// several times; the medians are compared. The goal is a conversion in at most 0.8 times
// lzop's time.
//
//   build/bin/bench_bintodld [repetitions]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "download/download_file.h"
#include "image/flash_image.h"
#include "image/manufacturer_block.h"
#include "platform/file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"
#include "workfiles/header_configs.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Runs a program (found on PATH when the name has no slash) with its output discarded;
// returns the wall time in milliseconds, or a negative number when it failed.
double TimeProcess(const std::vector<std::string>& command) {
  std::vector<std::string> words = command;
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

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
  if (TimeProcess(ours) < 0) {
    std::fprintf(stderr, "bench_bintodld: %s failed\n", QV_BINTODLD_PROGRAM);
    return 1;
  }
  if (TimeProcess(peer) < 0) {
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

  std::vector<double> our_times;
  std::vector<double> peer_times;
  for (int i = 0; i < repetitions; ++i) {
    // Alternate the order, so neither program always runs on a warmer machine.
    if (i % 2 == 0) {
      our_times.push_back(TimeProcess(ours));
      peer_times.push_back(TimeProcess(peer));
    } else {
      peer_times.push_back(TimeProcess(peer));
      our_times.push_back(TimeProcess(ours));
    }
  }

  const double our_median = Median(our_times);
  const double peer_median = Median(peer_times);
  std::printf("image: %zu bytes (full image, code-like data, erased space, random stretches)\n",
              image.size());
  std::printf("outputs: download %d bytes, lzop -1 %d bytes\n",
              qv::FileSize(dir.File("box_Merge.dld")), qv::FileSize(dir.File("box_Merge.lzo")));
  std::printf("repetitions: %d each, alternating\n", repetitions);
  std::printf("bintodld  median %7.2f ms  (min %7.2f)\n", our_median,
              *std::min_element(our_times.begin(), our_times.end()));
  std::printf("lzop -1   median %7.2f ms  (min %7.2f)\n", peer_median,
              *std::min_element(peer_times.begin(), peer_times.end()));
  std::printf("ratio     %.2fx lzop's time (goal: at most 0.80x)\n", our_median / peer_median);
  return 0;
}
