// Times the two workflows a user waits for, through the form model as the window runs them:
// opening a full-image download file, and a Start with three logos, a key, a default database
// and all eight settings changed (the three stills encoded side by side, then the merged image,
// the download file and their check). Then the memory a build of the same job takes as the
// command line runs it: `quorvane build` of the download file as a process, its peak resident
// set as /usr/bin/time reports it (the "time" package).
//
//   build/bin/bench_workflows
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "platform/bitmap.h"
#include "platform/little_endian.h"
#include "tests/support/form_driver.h"
#include "tests/support/test_pictures.h"

namespace {

using qv::bench::MedianSeconds;

constexpr double kStartGoalMs = 100;
constexpr long kMemoryGoalKib = 32 * 1024;
constexpr int kMemoryRuns = 5;

const char* Verdict(bool met) {
  return met ? "met" : "NOT met";
}

}  // namespace

int main() {
  const std::string load_before = qv::bench::LoadAverage();
  qv::testing::FormDriver driver;
  qv::TFormMain& form = driver.form();
  const std::string image =
      driver.WriteImage(qv::sample::DefaultImageSpec(qv::kFullImage), "box.dld");
  using qv::testing::PictureKind;
  const PictureKind kinds[] = {PictureKind::kPhoto, PictureKind::kFlatLogo, PictureKind::kText};
  std::vector<std::string> logos;
  for (int i = 0; i < 3; ++i) {
    logos.push_back(driver.Input("logo" + std::to_string(i) + ".bmp"));
    qv::SaveBitmap(qv::testing::MakePicture(kinds[i], 720, 576, 7 + i), logos.back());
  }
  std::vector<uint8_t> key(0x10000, 0);
  qv::WriteLe32(&key[80], 1);
  const std::string key_path = driver.WriteInput("key.bin", key);
  const std::string database_path =
      driver.WriteInput("db.bin", qv::sample::CodeLikeBytes(0x40000, 5));

  double open = MedianSeconds(11, [&] { driver.Open(image); });
  bool every_start_succeeded = true;
  double start = MedianSeconds(
      11,
      [&] {
        driver.Open(image);
        driver.Choose(form.SB_Boot, logos[0]);
        driver.Choose(form.SB_Menu, logos[1]);
        driver.Choose(form.SB_Radio, logos[2]);
        driver.Choose(form.SB_Key, key_path);
        driver.Choose(form.SB_Default, database_path);
        for (qv::EditBox* box : form.SettingBoxes())
          box->Type(box == &form.E_ModeID ? "QV-BENCH" : "http://bench/");
        driver.ui().TakeMessages();
        // The last run's output goes, so that Start writes its own without being asked.
        std::filesystem::remove(driver.Output("box_Merge.dld"));
      },
      [&] {
        std::vector<std::string> messages = driver.Start();
        every_start_succeeded = every_start_succeeded && messages.size() == 1 &&
                                messages[0].rfind("Quorvanex: Succeed!", 0) == 0;
      });

  // The same job on the command line, as a process of its own.
  std::vector<std::string> build = {QV_QUORVANE_PROGRAM,
                                    "build",
                                    image,
                                    "--output-dir",
                                    driver.Output("cli"),
                                    "--force",
                                    "--quiet",
                                    "--boot",
                                    logos[0],
                                    "--menu",
                                    logos[1],
                                    "--radio",
                                    logos[2],
                                    "--key",
                                    key_path,
                                    "--default-db",
                                    database_path,
                                    "--model-id",
                                    "QV-BENCH"};
  for (const char* option : {"--http-manual-addr", "--http-auto-addr", "--auto-app", "--auto-all",
                             "--auto-data", "--auto-default", "--auto-key"}) {
    build.push_back(option);
    build.push_back("http://bench/");
  }
  // Through /usr/bin/time, as a user would measure it: a child spawned straight from this
  // process would have this process's own peak counted as its own when it starts.
  const std::string peak_file = driver.Output("peak.txt");
  build.insert(build.begin(), {"/usr/bin/time", "-f", "%M", "-o", peak_file});
  long peak_kib = 0;
  std::vector<double> build_ms;
  for (int run = 0; run < kMemoryRuns; ++run) {
    const qv::bench::ProcessRun measured = qv::bench::RunProcess(build);
    every_start_succeeded = every_start_succeeded && measured.wall_ms >= 0;
    if (FILE* file = std::fopen(peak_file.c_str(), "r")) {
      long kib = 0;
      if (std::fscanf(file, "%ld", &kib) == 1) peak_kib = std::max(peak_kib, kib);
      std::fclose(file);
    }
    build_ms.push_back(measured.wall_ms);
  }

  std::printf("load average %s before, %s after\n", load_before.c_str(),
              qv::bench::LoadAverage().c_str());
  std::printf("open of a full-image download file:              %7.1f ms\n", open * 1e3);
  std::printf("Start, 3 logos + key + database + 8 settings:    %7.1f ms   (goal <= %.0f ms) %s\n",
              start * 1e3, kStartGoalMs, Verdict(start * 1e3 <= kStartGoalMs));
  std::printf("quorvane build of the same job (whole process):  %7.1f ms\n",
              qv::bench::Median(build_ms));
  std::printf("  its peak resident set, largest of %d runs:      %7.1f MiB (goal < 32 MiB) %s\n",
              kMemoryRuns, peak_kib / 1024.0, Verdict(peak_kib < kMemoryGoalKib));
  if (!every_start_succeeded) std::printf("A START OR BUILD FAILED\n");
  return every_start_succeeded ? 0 : 1;
}
