// Times the two workflows a user waits for, through the form model as the window runs them:
// opening a full-image download file, and a Start with three logos, a key, a default database
// and all eight settings changed (the still converter runs three times, the bin-to-download
// converter once, each as a program of this build).
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

}  // namespace

int main() {
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
      7,
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
  std::printf("open of a full-image download file:              %7.1f ms\n", open * 1e3);
  std::printf("Start, 3 logos + key + database + 8 settings:    %7.1f ms   (goal < 250 ms)%s\n",
              start * 1e3, every_start_succeeded ? "" : "   START FAILED");
  return every_start_succeeded ? 0 : 1;
}
