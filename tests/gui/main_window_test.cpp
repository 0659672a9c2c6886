// The real window, driven with QTest on Qt's offscreen platform (or on a real X server under
// xvfb-run, where the test also saves screenshots of the three states).
#include "gui/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "app/job.h"
#include "download/download_file.h"
#include "formatswitch/converter.h"
#include "image/flash_image.h"
#include "image/settings.h"
#include "platform/file.h"
#include "platform/ini_profile.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"
#include "tests/support/test_pictures.h"
#include "workfiles/parameter_files.h"
#include "workfiles/still_decoder.h"

namespace qv {
namespace {

class Window : public ::testing::Test {
 protected:
  Window() {
    std::filesystem::create_directory(dir_.File("jobs"));
    JobOptions options;
    options.job_directory_parent = dir_.File("jobs");
    job_ = std::make_unique<Job>(options);
    window_ = std::make_unique<gui::MainWindow>(*job_);
    window_->dialog_hook = [this](const std::string&,
                                  const std::string& title) -> std::optional<std::string> {
      titles_.push_back(title);
      if (answers_.empty()) return std::nullopt;
      std::string answer = answers_.front();
      answers_.erase(answers_.begin());
      return answer;
    };
    window_->message_hook = [this](MessageKind kind, const std::string& text) {
      messages_.push_back({kind, text});
    };
    window_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }

  template <typename T = QWidget>
  T* Find(const char* name) {
    T* widget = window_->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void Click(const char* name) { QTest::mouseClick(Find<QToolButton>(name), Qt::LeftButton); }
  std::string Sample(Variant variant, const std::string& name) {
    sample::ImageSpec spec = sample::DefaultImageSpec(variant);
    std::vector<uint8_t> bytes = sample::BuildFlashImage(spec);
    if (name.ends_with(".dld")) bytes = sample::BuildDownload(bytes, sample::DownloadSpecFor(spec));
    WriteWholeFile(dir_.File(name), bytes);
    return dir_.File(name);
  }
  // The boot, menu and radio stills of LogoSample, made by the tool's still converter from
  // test pictures at both sizes; made once for all tests.
  static const std::array<std::vector<uint8_t>, 3>& LogoStills() {
    static const std::array<std::vector<uint8_t>, 3> stills = [] {
      testing::TempDir dir;
      WriteWholeFile(dir.File("PAL.par"),
                     std::vector<uint8_t>(kPalParContent.begin(), kPalParContent.end()));
      WriteWholeFile(dir.File("NTSC.par"),
                     std::vector<uint8_t>(kNtscParContent.begin(), kNtscParContent.end()));
      const std::pair<testing::PictureKind, int> pictures[] = {
          {testing::PictureKind::kPhoto, 576},
          {testing::PictureKind::kColourBars, 480},
          {testing::PictureKind::kFlatLogo, 576}};
      std::array<std::vector<uint8_t>, 3> made;
      for (size_t i = 0; i < made.size(); ++i) {
        SaveBitmap(testing::MakePicture(pictures[i].first, 720, pictures[i].second, 3),
                   dir.File("logo.bmp"));
        std::ostringstream messages;
        EXPECT_TRUE(formatswitch::ConvertPicture("logo.bmp", dir.path(), messages))
            << messages.str();
        made[i] = ReadWholeFile(dir.File("logo.m2v"));
      }
      return made;
    }();
    return stills;
  }
  // A sample image whose boot, menu and radio partitions hold `stills`, as `quorvane sample`
  // writes one.
  std::string LogoSample(const std::string& name,
                         const std::array<std::vector<uint8_t>, 3>& stills = LogoStills()) {
    sample::ImageSpec spec = sample::DefaultImageSpec(kAllImage);
    for (sample::PartitionSpec& partition : spec.partitions) {
      for (const LogoNames& logo : kLogos) {
        if (partition.name == logo.partition)
          partition.data = stills[static_cast<size_t>(logo.kind)];
      }
    }
    WriteWholeFile(dir_.File(name), sample::BuildFlashImage(spec));
    return dir_.File(name);
  }
  // What a preview shows: its picture as red, green and blue bytes, top row first; empty
  // when it shows nothing.
  std::vector<uint8_t> Shown(const char* preview) {
    const QImage image =
        Find<QLabel>(preview)->pixmap().toImage().convertToFormat(QImage::Format_RGB888);
    std::vector<uint8_t> rgb;
    for (int y = 0; y < image.height(); ++y) {
      const uint8_t* line = image.constScanLine(y);
      rgb.insert(rgb.end(), line, line + 3 * image.width());
    }
    return rgb;
  }
  // The same bytes of a 24-bit bitmap.
  static std::vector<uint8_t> RgbOf(const Bitmap& bitmap) {
    std::vector<uint8_t> rgb;
    for (int32_t y = 0; y < bitmap.height; ++y) {
      for (int32_t x = 0; x < bitmap.width; ++x) {
        const uint8_t* pixel = bitmap.Row(y) + 3 * x;
        rgb.insert(rgb.end(), {pixel[2], pixel[1], pixel[0]});
      }
    }
    return rgb;
  }
  static std::vector<uint8_t> DecodedRgb(const std::vector<uint8_t>& still) {
    Result<Bitmap> decoded = DecodeStill(still);
    EXPECT_TRUE(decoded) << decoded.error().text;
    return decoded ? RgbOf(*decoded) : std::vector<uint8_t>();
  }

  // Drags the file `path` over the middle of `target` and drops it there, as a file manager
  // would, then lets the queued command run; true when the window took the drop.
  bool Drop(const std::string& path, QWidget* target) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    const QPoint at = target->mapTo(window_.get(), target->rect().center());
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &move);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &drop);
    QApplication::processEvents();
    return move.isAccepted() && drop.isAccepted();
  }

  void Screenshot(const char* state) {
    const char* directory = std::getenv("QUORVANE_SCREENSHOT_DIR");
    if (!directory || QGuiApplication::platformName() == "offscreen") return;
    QApplication::processEvents();
    QTest::qWait(200);
    QPixmap shot = window_->screen()->grabWindow(window_->winId());
    std::filesystem::create_directories(directory);
    shot.save(QString::fromStdString(std::string(directory) + "/" + state + ".png"));
  }

  testing::TempDir dir_;
  std::unique_ptr<Job> job_;
  std::unique_ptr<gui::MainWindow> window_;
  std::vector<std::string> answers_;
  std::vector<std::string> titles_;
  std::vector<std::pair<MessageKind, std::string>> messages_;
};

TEST_F(Window, StartsInTheResetState) {
  EXPECT_EQ(window_->windowTitle().toStdString(), "Quorvane[1.0.00] -- Mode: STi710X");
  for (const char* name : {"SB_Start", "SB_Boot", "SB_Menu", "SB_Radio", "SB_Default", "SB_Key"}) {
    EXPECT_FALSE(Find(name)->isEnabled()) << name;
  }
  for (const char* name : {"SB_OpenFile", "SB_Reset", "SB_Close"})
    EXPECT_TRUE(Find(name)->isEnabled()) << name;
  const QColor button_face = QApplication::palette().color(QPalette::Button);
  for (const char* name : {"E_ModeID", "E_HttpManuAddr", "E_HttpAutoAddr", "E_AppFile", "E_AllFile",
                           "E_DataFile", "E_DefaultFile", "E_KeyFile"}) {
    QLineEdit* edit = Find<QLineEdit>(name);
    EXPECT_TRUE(edit->isReadOnly()) << name;
    EXPECT_TRUE(edit->text().isEmpty()) << name;
    EXPECT_EQ(edit->palette().color(QPalette::Base), button_face) << name;
  }
  EXPECT_EQ(Find<QLineEdit>("E_ModeID")->maxLength(), 20);
  EXPECT_EQ(Find<QLineEdit>("E_KeyFile")->maxLength(), 255);
  Screenshot("1-reset");
}

TEST_F(Window, OpenTypeAndStartBuildTheDownloadFile) {
  answers_.push_back(LogoSample("box.bin"));
  Click("SB_OpenFile");
  EXPECT_EQ(titles_, std::vector<std::string>{"Open *.bin & *.dld file"});
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Find<QLineEdit>("E_OpenFile")->text().toStdString(), "box.bin");
  EXPECT_EQ(Find<QLineEdit>("E_ModeID")->text().toStdString(), "QV7100-S");
  EXPECT_EQ(Find<QLineEdit>("E_HttpManuAddr")->text().toStdString(),
            "http://update.example.com/manual/");
  EXPECT_TRUE(Find("SB_Start")->isEnabled());
  QLineEdit* address = Find<QLineEdit>("E_HttpAutoAddr");
  EXPECT_FALSE(address->isReadOnly());
  EXPECT_EQ(address->palette().color(QPalette::Base),
            QApplication::palette().color(QPalette::Base));
  Screenshot("2-opened");

  address->selectAll();
  QTest::keyClicks(address, "http://typed.example/");
  EXPECT_TRUE(window_->form().E_HttpAutoAddr.modified);
  EXPECT_EQ(window_->form().E_HttpAutoAddr.text, "http://typed.example/");
  Click("SB_Start");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].second,
            "Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]");

  std::vector<uint8_t> merged;
  ASSERT_TRUE(ConvertDownloadBytes(ReadWholeFile(dir_.File("box_Merge.dld")), kAllImage, merged));
  Result<FlashImage> reopened = FlashImage::Parse(std::move(merged), kAllImage);
  ASSERT_TRUE(reopened) << reopened.error().text;
  std::optional<std::span<const uint8_t>> httpcfg = reopened->HttpCfg();
  ASSERT_TRUE(httpcfg);
  EXPECT_EQ(ReadHttpSettings(std::string(httpcfg->begin(), httpcfg->end()))[1],
            "http://typed.example/");

  // The built state: texts stay, the job's commands are off, the boxes read-only again.
  EXPECT_FALSE(Find("SB_Start")->isEnabled());
  EXPECT_TRUE(address->isReadOnly());
  EXPECT_EQ(address->text().toStdString(), "http://typed.example/");
  Screenshot("3-built");
}

// The previews show the opened image's own logos, as the still decoder decodes them, until a
// picture is chosen; Reset clears them, and a new open shows the new image's, where they decode.
TEST_F(Window, PreviewsShowTheImagesOwnLogosUntilAPictureIsChosen) {
  answers_.push_back(LogoSample("logos.bin"));
  Click("SB_OpenFile");
  EXPECT_TRUE(messages_.empty());
  const char* previews[] = {"I_Boot", "I_Menu", "I_Radio"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(previews[i]);
    EXPECT_EQ(Find<QLabel>(previews[i])->pixmap().size(), QSize(720, i == 1 ? 480 : 576));
    const std::vector<uint8_t> shown = Shown(previews[i]);
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(shown == DecodedRgb(LogoStills()[i]));
  }

  // A chosen picture replaces the image's logo; the others stay.
  const Bitmap chosen = testing::MakePicture(testing::PictureKind::kGradient, 720, 576, 9);
  SaveBitmap(chosen, dir_.File("chosen.bmp"));
  answers_.push_back(dir_.File("chosen.bmp"));
  Click("SB_Menu");
  EXPECT_TRUE(Shown("I_Menu") == RgbOf(chosen));
  EXPECT_TRUE(Shown("I_Boot") == DecodedRgb(LogoStills()[0]));
  EXPECT_TRUE(Shown("I_Radio") == DecodedRgb(LogoStills()[2]));

  Click("SB_Reset");
  for (const char* preview : previews)
    EXPECT_TRUE(Shown(preview).empty()) << preview;

  // An image whose radio still is cut short and whose menu still is the boot one: the radio
  // preview shows nothing, the menu preview the boot still.
  std::array<std::vector<uint8_t>, 3> stills = LogoStills();
  stills[1] = stills[0];
  stills[2].resize(stills[2].size() / 2);
  answers_.push_back(LogoSample("logos.bin"));
  Click("SB_OpenFile");
  answers_.push_back(LogoSample("cut.bin", stills));
  Click("SB_OpenFile");
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(Shown("I_Boot") == DecodedRgb(stills[0]));
  EXPECT_TRUE(Shown("I_Menu") == DecodedRgb(stills[0]));
  EXPECT_TRUE(Shown("I_Radio").empty());
  // The sample builder's stand-ins for stills do not decode: nothing shows.
  answers_.push_back(Sample(kAllImage, "stand-ins.bin"));
  Click("SB_OpenFile");
  for (const char* preview : previews)
    EXPECT_TRUE(Shown(preview).empty()) << preview;
}

// A file named on the command line or dropped on the window opens as the Open button opens
// one; the title names the opened file until Reset or a failed open.
TEST_F(Window, OpensAFileFromItsCommandLineOrADropAndNamesItInTheTitle) {
  const std::string plain = "Quorvane[1.0.00] -- Mode: STi710X";
  window_->OpenFile(LogoSample("box.bin"));
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(titles_.empty());  // no dialog
  EXPECT_EQ(Find<QLineEdit>("E_OpenFile")->text().toStdString(), "box.bin");
  EXPECT_TRUE(Find("SB_Start")->isEnabled());
  EXPECT_EQ(window_->windowTitle().toStdString(), "box.bin - " + plain);
  Click("SB_Reset");
  EXPECT_EQ(window_->windowTitle().toStdString(), plain);

  EXPECT_TRUE(Drop(Sample(kAppImage, "other.dld"), Find("P_Main")));
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Find<QLineEdit>("E_OpenFile")->text().toStdString(), "other.dld");
  EXPECT_EQ(job_->phase(), JobPhase::kOpened);
  EXPECT_EQ(window_->windowTitle().toStdString(), "other.dld - " + plain);

  // A file that is no image: its message, as the dialog's choice would give, and the plain title.
  WriteWholeFile(dir_.File("short.bin"), std::vector<uint8_t>(100, 1));
  EXPECT_TRUE(Drop(dir_.File("short.bin"), Find("I_Boot")));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].second, "Quorvane: Open file type error!");
  EXPECT_EQ(window_->windowTitle().toStdString(), plain);
  // Files of other kinds are not taken at all.
  WriteWholeFile(dir_.File("notes.txt"), std::vector<uint8_t>(10, 'a'));
  EXPECT_FALSE(Drop(dir_.File("notes.txt"), Find("P_Main")));
}

// A picture dropped on a preview is chosen for that logo, in the opened state only, and only
// over a preview; the previews and every button say what they are.
TEST_F(Window, APictureDroppedOnAPreviewIsChosenForItsLogo) {
  const Bitmap picture = testing::MakePicture(testing::PictureKind::kGradient, 720, 576, 4);
  testing::WritePng(dir_.File("menu.png"), 720, 576, {2, 8, false, {}, {}},
                    [&picture](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
                      const uint32_t colour = PixelColour(picture, x, y);
                      return {static_cast<uint16_t>(colour >> 16),
                              static_cast<uint16_t>((colour >> 8) & 0xFF),
                              static_cast<uint16_t>(colour & 0xFF)};
                    });
  EXPECT_FALSE(Drop(dir_.File("menu.png"), Find("I_Menu")));  // nothing open
  window_->OpenFile(LogoSample("box.bin"));
  EXPECT_FALSE(Drop(dir_.File("menu.png"), Find("P_Main")));  // not over a preview
  EXPECT_FALSE(job_->Chosen(LogoKind::kMenu));

  EXPECT_TRUE(Drop(dir_.File("menu.png"), Find("I_Menu")));
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(job_->Chosen(LogoKind::kMenu));
  EXPECT_FALSE(job_->Chosen(LogoKind::kBoot));
  EXPECT_EQ(Find<QLineEdit>("E_Menu")->text().toStdString(), dir_.File("menu.png"));
  EXPECT_TRUE(Shown("I_Menu") == RgbOf(picture));
  EXPECT_TRUE(Shown("I_Boot") == DecodedRgb(LogoStills()[0]));

  const std::pair<const char*, const char*> previews[] = {
      {"I_Boot", "Boot logo"}, {"I_Menu", "Menu logo"}, {"I_Radio", "Radio logo"}};
  for (const auto& [name, tip] : previews)
    EXPECT_TRUE(Find(name)->toolTip().startsWith(tip)) << name;
  for (QToolButton* button : window_->findChildren<QToolButton*>())
    EXPECT_FALSE(button->toolTip().isEmpty()) << button->objectName().toStdString();
}

TEST_F(Window, SettingBoxesKeepEveryByteOfTheirText) {
  // A model id with a byte past ASCII: shown as one character, and typed after, it stays.
  sample::ImageSpec spec = sample::DefaultImageSpec(kAppImage);
  for (sample::PartitionSpec& partition : spec.partitions) {
    if (partition.name == "modelid") partition.data = {'Q', 'V', 0xE9};
  }
  WriteWholeFile(dir_.File("accent.bin"), sample::BuildFlashImage(spec));
  answers_.push_back(dir_.File("accent.bin"));
  Click("SB_OpenFile");
  QLineEdit* model_id = Find<QLineEdit>("E_ModeID");
  EXPECT_EQ(model_id->text(), QString::fromUtf8("QV\u00E9"));
  model_id->end(false);
  QTest::keyClicks(model_id, "7");
  EXPECT_EQ(window_->form().E_ModeID.text,
            "QV\xE9"
            "7");
  EXPECT_TRUE(window_->form().E_ModeID.modified);

  // A model id longer than the box takes by typing is still shown whole.
  const std::string long_id = "QV7100-S-LONGER-THAN-20";
  for (sample::PartitionSpec& partition : spec.partitions) {
    if (partition.name == "modelid") partition.data.assign(long_id.begin(), long_id.end());
  }
  WriteWholeFile(dir_.File("long.bin"), sample::BuildFlashImage(spec));
  answers_.push_back(dir_.File("long.bin"));
  Click("SB_OpenFile");
  EXPECT_EQ(model_id->text().toStdString(), long_id);
}

TEST_F(Window, AFailedOpenShowsItsMessage) {
  WriteWholeFile(dir_.File("odd.bin"), std::vector<uint8_t>(1000, 0));
  answers_.push_back(dir_.File("odd.bin"));
  Click("SB_OpenFile");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, MessageKind::kError);
  EXPECT_EQ(messages_[0].second, "Quorvane: Open file type error!");
  EXPECT_EQ(Find<QLineEdit>("E_OpenFile")->text().toStdString(), "odd.bin");
  EXPECT_FALSE(Find("SB_Start")->isEnabled());

  // A run-time input/output error ends the workflow and shows the system's text in a box
  // captioned with the application title.
  answers_.push_back(dir_.File("absent.bin"));
  Click("SB_OpenFile");
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[1].first, MessageKind::kRunTimeError);
  EXPECT_STREQ(CaptionOf(messages_[1].first), "Quorvan[1.0.00]");
  EXPECT_EQ(messages_[1].second, "File not found");
}

TEST_F(Window, TheWindowAsksBeforeItOpensADamagedImageOrReplacesAnOutput) {
  std::vector<uint8_t> image = sample::BuildFlashImage(sample::DefaultImageSpec(kAllImage));
  image[0x1000] ^= 0x5A;  // inside the application code, whose region has check flag 1
  WriteWholeFile(dir_.File("damaged.bin"), image);
  std::vector<std::string> questions;
  std::vector<bool> replies = {false, true, true};
  window_->question_hook = [&](const std::string& text) {
    questions.push_back(text);
    const bool yes = replies[questions.size() - 1];
    return yes;
  };
  answers_.push_back(dir_.File("damaged.bin"));
  Click("SB_OpenFile");
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_NE(questions[0].find("region 0 (flash 0xA0050000"), std::string::npos) << questions[0];
  EXPECT_TRUE(questions[0].ends_with("Open it anyway?")) << questions[0];
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(Find("SB_Start")->isEnabled());  // declined: nothing opened

  answers_.push_back(dir_.File("damaged.bin"));
  Click("SB_OpenFile");
  EXPECT_TRUE(Find("SB_Start")->isEnabled());
  WriteWholeFile(dir_.File("damaged_Merge.dld"), std::vector<uint8_t>{1, 2, 3});
  Click("SB_Start");
  ASSERT_EQ(questions.size(), 3u);
  EXPECT_NE(questions[2].find("damaged_Merge.dld exists already"), std::string::npos)
      << questions[2];
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].second,
            "Quorvanex: Succeed!  [ Create File: damaged_Merge.bin, damaged_Merge.dld]");
  std::vector<uint8_t> converted;
  ASSERT_TRUE(
      ConvertDownloadBytes(ReadWholeFile(dir_.File("damaged_Merge.dld")), kAllImage, converted));
  EXPECT_TRUE(converted == ReadWholeFile(dir_.File("damaged_Merge.bin")));
}

TEST_F(Window, ControlsSitWhereTheLayoutPutsThem) {
  EXPECT_EQ(window_->size(), QSize(766, 530));
  auto geometry = [this](const char* name) {
    QWidget* widget = Find(name);
    return QRect(widget->mapTo(window_.get(), QPoint(0, 0)), widget->size());
  };
  EXPECT_EQ(geometry("Panel1"), QRect(0, 0, 766, 110));
  EXPECT_EQ(geometry("P_Main"), QRect(0, 110, 602, 372));
  EXPECT_EQ(geometry("P_Picture"), QRect(602, 110, 164, 372));
  EXPECT_EQ(geometry("P_Button"), QRect(0, 482, 766, 48));
  EXPECT_EQ(geometry("P_Menu"), QRect(602, 110, 164, 124));
  EXPECT_EQ(geometry("P_Boot"), QRect(602, 234, 164, 124));
  EXPECT_EQ(geometry("P_Radio"), QRect(602, 358, 164, 124));
  EXPECT_EQ(geometry("I_Boot").size(), QSize(160, 120));
  EXPECT_EQ(Find("I_Boot")->parentWidget()->objectName(), "P_Menu");
  EXPECT_EQ(Find("I_Menu")->parentWidget()->objectName(), "P_Boot");
  EXPECT_EQ(Find("I_Radio")->parentWidget()->objectName(), "P_Radio");
  const char* boxes[] = {"E_OpenFile",     "E_Boot",    "E_Menu",    "E_Radio",
                         "E_Default",      "E_Key",     "E_ModeID",  "E_HttpManuAddr",
                         "E_HttpAutoAddr", "E_AppFile", "E_AllFile", "E_DataFile",
                         "E_DefaultFile",  "E_KeyFile"};
  for (int row = 0; row < 14; ++row) {
    EXPECT_EQ(geometry(boxes[row]), QRect(165, 110 + 7 + 25 * row, 404, 22)) << boxes[row];
  }
  const char* buttons[] = {"SB_OpenFile", "SB_Boot", "SB_Menu", "SB_Radio", "SB_Default", "SB_Key"};
  for (int row = 0; row < 6; ++row) {
    EXPECT_EQ(geometry(buttons[row]), QRect(572, 110 + 7 + 25 * row, 25, 22)) << buttons[row];
  }
  EXPECT_EQ(geometry("SB_Reset"), QRect(300, 486, 100, 40));
  EXPECT_EQ(geometry("SB_Start"), QRect(470, 486, 100, 40));
  EXPECT_EQ(geometry("SB_Close"), QRect(640, 486, 100, 40));
  EXPECT_EQ(Find<QToolButton>("SB_Close")->text().toStdString(), "Cancel");
  // Labels: at x 12, three pixels below their box, inside the panel.
  QLabel* label = Find<QLabel>("L_ModeID");
  EXPECT_EQ(label->text().toStdString(), "ModeID:");
  EXPECT_EQ(label->mapTo(window_.get(), QPoint(0, 0)), QPoint(12, 110 + 157 + 3));
  EXPECT_LE(label->mapTo(window_.get(), QPoint(label->width(), 0)).x(), 165);
}

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
