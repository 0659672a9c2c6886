// What a user must be able to trust whatever happens around a build: builds racing one another
// into one output directory, a build ended by SIGKILL anywhere, images whose checksums do not
// match their bytes, identity fields the download header cannot carry, and pictures far larger
// than a logo. Every case runs the real `quorvane` program (or the window's form model over a
// real job) and looks at the files left afterwards.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <latch>
#include <nlohmann/json.hpp>
#include <thread>

#include "download/download_file.h"
#include "image/flash_image.h"
#include "image/manufacturer_block.h"
#include "image/settings.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/form_driver.h"
#include "tests/support/run_program.h"
#include "tests/support/test_images.h"
#include "tests/support/test_pictures.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kMerged[] = "box_Merge.bin";
constexpr char kDownload[] = "box_Merge.dld";
constexpr char kJobDirectoryPrefix[] = "quorvane-job-";

// The arguments of /usr/bin/env that run `quorvane` with `arguments` and make its job
// directories in its temporary directory (`job_parent` when given), never in $XDG_RUNTIME_DIR,
// so that a job directory left behind is seen.
std::vector<std::string> QuorvaneCommand(const std::vector<std::string>& arguments,
                                         const std::string& job_parent = "") {
  std::vector<std::string> command = {"-u", "XDG_RUNTIME_DIR"};
  if (!job_parent.empty()) command.push_back("TMPDIR=" + job_parent);
  command.push_back(ProgramPath("quorvane"));
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

// `quorvane` with `arguments` in `directory`; a job directory it leaves counts as left in its
// temporary directory.
HostileRun Quorvane(const std::vector<std::string>& arguments, const std::string& directory) {
  return RunHostile("/usr/bin/env", QuorvaneCommand(arguments), directory);
}

// `quorvane` started and not waited for, its output going to `log`.
Process StartQuorvane(const std::vector<std::string>& arguments, const std::string& directory,
                      const std::string& job_parent, const std::string& log) {
  std::optional<Process> process =
      Process::Start("/usr/bin/env", QuorvaneCommand(arguments, job_parent), directory, log, log);
  if (!process) throw std::runtime_error("cannot start quorvane");
  return std::move(*process);
}

// The names in a directory, sorted.
std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> JobDirectoriesIn(const std::string& directory) {
  std::vector<std::string> found;
  for (const std::string& name : Entries(directory)) {
    if (name.starts_with(kJobDirectoryPrefix)) found.push_back(name);
  }
  return found;
}

std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// What one build chose, as its outputs must hold it.
struct Choices {
  std::string model_id;
  std::string http_address;  // httpManualAddr; not looked at when empty
};

::testing::AssertionResult Holds(std::vector<uint8_t> bytes, Variant variant,
                                 const Choices& choices) {
  Result<FlashImage> image = FlashImage::Parse(std::move(bytes), variant);
  if (!image) return ::testing::AssertionFailure() << "no sound image: " << image.error().text;
  const std::string model_id = ModelIdText(image->ModelId());
  if (model_id != choices.model_id) {
    return ::testing::AssertionFailure()
           << "model id " << model_id << " where the build chose " << choices.model_id;
  }
  if (!choices.http_address.empty()) {
    std::string ini;
    if (std::optional<std::span<const uint8_t>> httpcfg = image->HttpCfg())
      ini.assign(httpcfg->begin(), httpcfg->end());
    const std::string address = ReadHttpSettings(ini)[0];
    if (address != choices.http_address) {
      return ::testing::AssertionFailure()
             << "httpManualAddr " << address << " where the build chose " << choices.http_address;
    }
  }
  return ::testing::AssertionSuccess();
}

// The model id of an all image, and of the image of an all image's download file.
std::string ModelIdOf(std::vector<uint8_t> bytes) {
  Result<FlashImage> image = FlashImage::Parse(std::move(bytes), kAllImage);
  return image ? ModelIdText(image->ModelId()) : "no sound image";
}
std::string ModelIdOfDownload(const std::string& path) {
  std::vector<uint8_t> converted;
  if (!ConvertDownloadBytes(ReadWholeFile(path), kAllImage, converted)) return "no sound download";
  return ModelIdOf(std::move(converted));
}

::testing::AssertionResult InfoAccepts(const std::string& path) {
  HostileRun info = Quorvane({"info", path}, fs::path(path).parent_path().string());
  if (::testing::AssertionResult accepted = Succeeded(info); !accepted)
    return ::testing::AssertionFailure() << "quorvane info " << path << ": " << accepted.message();
  return ::testing::AssertionSuccess();
}

// The download output of an image opened from a download file: it converts, `quorvane info`
// accepts it, and its image holds `choices`.
::testing::AssertionResult SoundDownload(const std::string& path, Variant variant,
                                         const Choices& choices) {
  std::vector<uint8_t> converted;
  if (Result<void> read = ConvertDownloadBytes(ReadWholeFile(path), variant, converted); !read)
    return ::testing::AssertionFailure() << path << " does not convert: " << read.error().text;
  if (::testing::AssertionResult accepted = InfoAccepts(path); !accepted) return accepted;
  return Holds(std::move(converted), variant, choices);
}

// The two outputs of a flash image's build in `directory`: the download file converts back to
// the merged image, `quorvane info` accepts both, and they hold `choices`.
::testing::AssertionResult SoundPair(const std::string& directory, Variant variant,
                                     const Choices& choices) {
  const std::string merged_path = directory + "/" + kMerged;
  const std::string download_path = directory + "/" + kDownload;
  if (!FileExists(merged_path) || !FileExists(download_path))
    return ::testing::AssertionFailure() << "not both outputs in " << directory;
  std::vector<uint8_t> merged = ReadWholeFile(merged_path);
  std::vector<uint8_t> converted;
  if (Result<void> read = ConvertDownloadBytes(ReadWholeFile(download_path), variant, converted);
      !read) {
    return ::testing::AssertionFailure() << kDownload << " does not convert: " << read.error().text;
  }
  if (converted != merged) {
    return ::testing::AssertionFailure()
           << kDownload << " does not convert back to " << kMerged << " beside it";
  }
  if (::testing::AssertionResult accepted = InfoAccepts(merged_path); !accepted) return accepted;
  if (::testing::AssertionResult accepted = InfoAccepts(download_path); !accepted) return accepted;
  return Holds(std::move(merged), variant, choices);
}

void WriteSparseFile(const std::string& path, off_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
}

// A small JPEG whose frame header claims `width` x `height`.
std::vector<uint8_t> JpegClaiming(const std::string& scratch, uint16_t width, uint16_t height) {
  WriteJpeg(MakePicture(PictureKind::kFlatLogo, 16, 16), scratch);
  std::vector<uint8_t> jpeg = ReadWholeFile(scratch);
  for (size_t i = 0; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // SOF0: length, precision, height, width
      jpeg[i + 5] = static_cast<uint8_t>(height >> 8), jpeg[i + 6] = height & 0xFF;
      jpeg[i + 7] = static_cast<uint8_t>(width >> 8), jpeg[i + 8] = width & 0xFF;
      break;
    }
  }
  return jpeg;
}

// The 54-byte header of a 24-bit bitmap of `width` x `height`, and a few pixels: the header
// claims far more than the file holds.
std::vector<uint8_t> BitmapClaiming(int32_t width, int32_t height) {
  std::vector<uint8_t> file(54 + 64, 0x80);
  auto put32 = [&](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
      file[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  file[0] = 'B', file[1] = 'M';
  put32(2, static_cast<uint32_t>(file.size()));
  put32(6, 0);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  file[26] = 1, file[27] = 0;   // planes
  file[28] = 24, file[29] = 0;  // bits per pixel
  put32(30, 0);                 // no compression
  put32(34, 0);
  put32(38, 2835), put32(42, 2835), put32(46, 0), put32(50, 0);
  return file;
}

class TrustOutputs : public Hostile {
 protected:
  TempDir jobs_;  // the parent of the job directories of the builds started by hand
  TempDir logs_;  // their standard output and error
};

// Two builds of one image name started together into one output directory: the first rename
// wins; the other is refused naming the output that is in its way, and takes back any output it
// had already put in place. Builds of box.bin against box.dld share box_Merge.dld only.
TEST_F(TrustOutputs, BuildsStartedTogetherNeverMixTheirOutputs) {
  const std::string bin = WriteInput("box.bin", SampleImage(kAllImage));
  const std::string dld = WriteInput("box.dld", SampleDownload(kAllImage));
  const std::string logo = Input("logo.jpg");
  WriteJpeg(MakePicture(PictureKind::kFlatLogo, 720, 576), logo);

  struct Contender {
    std::string image;
    Choices choices;
    std::vector<std::string> options;
  };
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TempDir out;
    const std::string r = std::to_string(round);
    std::vector<Contender> contenders = {
        {bin, {"QV-FIRST-" + r, "http://first.example/" + r}, {}},
        {round % 3 == 2 ? dld : bin, {"QV-SECOND-" + r, "http://second.example/" + r}, {}},
    };
    // A logo makes one of the two the slower one, in turn.
    contenders[round % 2].options = {"--boot", logo};
    std::vector<Process> running;
    for (size_t i = 0; i < contenders.size(); ++i) {
      std::vector<std::string> arguments = {"build",
                                            contenders[i].image,
                                            "--output-dir",
                                            out.path(),
                                            "--model-id",
                                            contenders[i].choices.model_id,
                                            "--http-manual-addr",
                                            contenders[i].choices.http_address};
      arguments.insert(arguments.end(), contenders[i].options.begin(), contenders[i].options.end());
      running.push_back(
          StartQuorvane(arguments, Work(), jobs_.path(), logs_.File(std::to_string(i) + ".txt")));
    }
    int succeeded = 0;
    for (size_t i = 0; i < contenders.size(); ++i) {
      const int status = running[i].WaitFor(std::chrono::minutes(1)).value_or(-1);
      const std::string said = Text(ReadWholeFile(logs_.File(std::to_string(i) + ".txt")));
      SCOPED_TRACE(contenders[i].choices.model_id + ": " + said);
      if (status == 0) {
        ++succeeded;
        if (contenders[i].image == bin) {
          EXPECT_TRUE(SoundPair(out.path(), kAllImage, contenders[i].choices));
        } else {
          EXPECT_TRUE(SoundDownload(out.File(kDownload), kAllImage, contenders[i].choices));
          EXPECT_FALSE(FileExists(out.File(kMerged)));
        }
      } else {
        EXPECT_EQ(status, 1);
        EXPECT_NE(said.find("already"), std::string::npos);
        EXPECT_NE(said.find("box_Merge."), std::string::npos);
      }
    }
    EXPECT_EQ(succeeded, 1);
    // Nothing else in the output directory, and no job directory left.
    for (const std::string& name : Entries(out.path())) {
      EXPECT_TRUE(name == kMerged || name == kDownload) << name;
    }
    EXPECT_EQ(Entries(jobs_.path()), std::vector<std::string>{});
  }

  // Two windows whose images lie in one folder, pressing Start at the same moment: the outputs
  // go beside the images. A window that finds an output already there asks, and is answered no.
  FormDriver first;
  FormDriver second;
  const std::string window_bin = first.WriteInput("box.bin", SampleImage(kAllImage));
  const std::string window_dld = first.WriteInput("box.dld", SampleDownload(kAllImage));
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("window round " + std::to_string(round));
    RemoveFile(first.Output(kMerged));
    RemoveFile(first.Output(kDownload));
    const std::string r = std::to_string(round);
    const std::array<FormDriver*, 2> drivers = {&first, &second};
    const std::array<std::string, 2> opened = {window_bin, round % 2 ? window_dld : window_bin};
    const std::array<Choices, 2> choices = {Choices{"QV-WINDOW-A" + r, ""},
                                            Choices{"QV-WINDOW-B" + r, ""}};
    for (size_t i = 0; i < drivers.size(); ++i) {
      drivers[i]->ui().questions.clear();
      drivers[i]->Open(opened[i]);
      ASSERT_TRUE(drivers[i]->form().SB_Start.enabled);
      drivers[i]->form().E_ModeID.Type(choices[i].model_id);
    }
    std::array<std::vector<std::string>, 2> said;
    std::latch together(2);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < drivers.size(); ++i) {
      threads.emplace_back([&, i] {
        together.arrive_and_wait();
        said[i] = drivers[i]->Start();
      });
    }
    for (std::thread& thread : threads)
      thread.join();
    int succeeded = 0;
    for (size_t i = 0; i < drivers.size(); ++i) {
      const bool success = std::any_of(said[i].begin(), said[i].end(), [](const std::string& s) {
        return s.starts_with("Quorvanex: Succeed!");
      });
      if (success) {
        ++succeeded;
        if (opened[i] == window_bin) {
          EXPECT_TRUE(SoundPair(first.inputs(), kAllImage, choices[i])) << i;
        } else {
          EXPECT_TRUE(SoundDownload(first.Output(kDownload), kAllImage, choices[i])) << i;
          EXPECT_FALSE(FileExists(first.Output(kMerged)));
        }
        continue;
      }
      // Refused: asked about the output in its way (answered no), or told it is there.
      std::string told;
      for (const std::string& text : said[i])
        told += text + "\n";
      for (const std::string& text : drivers[i]->ui().questions)
        told += text + "\n";
      EXPECT_NE(told.find("already"), std::string::npos) << i << ": " << told;
      EXPECT_NE(told.find("box_Merge."), std::string::npos) << i << ": " << told;
    }
    EXPECT_EQ(succeeded, 1);
    for (const std::string& name : Entries(first.inputs())) {
      EXPECT_TRUE(name == "box.bin" || name == "box.dld" || name == kMerged || name == kDownload)
          << name;
    }
  }
}

// A build ended by SIGKILL after 0, 1, 2, 4 ... ms, until one runs to its end: under the output
// names there is nothing or a sound pair, whatever else is left has other names, and a later
// build among the leftovers neither reads nor reuses any of them.
//
// A killed process cannot remove its job directory: those of the builds killed after the job
// opened stay in the job directories' parent (and a converter it had started may still finish
// in it). Leftovers planted there and in the output directory show that no later job takes them
// for its own.
TEST_F(TrustOutputs, ABuildKilledAnywhereLeavesNothingOrASoundPair) {
  const std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  const std::string logo = Input("logo.jpg");
  WriteJpeg(MakePicture(PictureKind::kPhoto, 720, 576), logo);
  const std::string out = Work() + "/out";
  fs::create_directory(out);

  // A job directory of the name mkdtemp could give, whose converters would leave a mark, and a
  // piece of a download file under a temporary output name.
  const std::string planted = jobs_.File(std::string(kJobDirectoryPrefix) + "AAAAAA");
  fs::create_directory(planted);
  const std::string mark = Input("mark");
  for (const char* converter : {"bintodld.exe", "formatswitch.exe"}) {
    WriteWholeFile(planted + "/" + converter, BytesOf("#!/bin/sh\ntouch " + mark + "\n"));
    ::chmod((planted + "/" + converter).c_str(), 0755);
  }
  WriteWholeFile(planted + "/manufacturer.cfg", BytesOf("[Manufacturer_Data]\r\n"));
  WriteWholeFile(out + "/" + kDownload + ".part1-0", sample::RandomBytes(4096, 5));
  InputFiles leftovers;
  leftovers.Watch(planted + "/bintodld.exe");
  leftovers.Watch(out + "/" + kDownload + ".part1-0");

  int killed = 0, left_nothing = 0, left_pair = 0;
  std::optional<int> finished;
  for (int ms :
       {0,  1,  2,   4,   6,   8,   10,  13,  16,  20,  25,  30,  35,   40,   50,   60,   70,
        80, 90, 100, 115, 130, 150, 175, 200, 250, 300, 400, 600, 1000, 2000, 5000, 20000}) {
    SCOPED_TRACE("killed after " + std::to_string(ms) + " ms");
    const Choices choices{"QV-KILL-" + std::to_string(ms), ""};
    const std::vector<std::string> job_directories_before = JobDirectoriesIn(jobs_.path());
    Process build = StartQuorvane(
        {"build", image, "--output-dir", out, "--boot", logo, "--model-id", choices.model_id},
        Work(), jobs_.path(), logs_.File("kill.txt"));
    finished = build.WaitFor(std::chrono::milliseconds(ms));  // SIGKILL when the time is up
    if (finished) {
      // This one ran to its end among the leftovers of all the others.
      EXPECT_EQ(*finished, 0) << Text(ReadWholeFile(logs_.File("kill.txt")));
      EXPECT_TRUE(SoundPair(out, kAllImage, choices));
      EXPECT_EQ(JobDirectoriesIn(jobs_.path()), job_directories_before);
      break;
    }
    ++killed;
    const bool merged = FileExists(out + "/" + kMerged);
    const bool download = FileExists(out + "/" + kDownload);
    if (merged || download) {
      ++left_pair;
      EXPECT_TRUE(SoundPair(out, kAllImage, choices));
      // Taken away, as the user takes outputs away; the leftovers stay for the next builds.
      RemoveFile(out + "/" + kMerged);
      RemoveFile(out + "/" + kDownload);
    } else {
      ++left_nothing;
    }
    for (const std::string& name : Entries(out)) {
      EXPECT_NE(name.find(".part"), std::string::npos) << name;
      EXPECT_FALSE(name.ends_with(".dld") || name.ends_with("_Merge.bin")) << name;
    }
  }
  ASSERT_TRUE(finished) << "no build ran to its end";
  EXPECT_FALSE(FileExists(mark)) << "a later job ran a converter of a job directory left behind";
  EXPECT_TRUE(leftovers.Unchanged());
  // Only the killed builds' job directories (and the planted one) are left.
  const std::vector<std::string> job_directories = JobDirectoriesIn(jobs_.path());
  EXPECT_LE(job_directories.size(), static_cast<size_t>(killed) + 1);
  std::vector<std::string> parts;
  for (const std::string& name : Entries(out)) {
    if (name.find(".part") != std::string::npos) parts.push_back(name);
  }
  std::printf(
      "[          ] killed at %d points: %d left nothing under the output names, %d a sound pair; "
      "%zu job directories (1 planted) and %zu temporary outputs (1 planted) left\n",
      killed, left_nothing, left_pair, job_directories.size(), parts.size());
}

// Whether strace can trace a program here (it is installed, and tracing is allowed).
bool CanTrace() {
  if (!FileExists("/usr/bin/strace")) return false;
  TempDir scratch;
  return RunHostile("/usr/bin/strace", {"-o", "/dev/null", "/bin/true"}, scratch.path()).status ==
         0;
}

// `quorvane` with `arguments` under strace, which tampers with its own calls (not those of the
// converters it starts) as `injection` says.
Process StartTampered(const std::string& injection, const std::vector<std::string>& arguments,
                      const std::string& directory, const std::string& job_parent,
                      const std::string& log) {
  std::vector<std::string> command = {"-qq", "-o", "/dev/null", "-e", injection, "/usr/bin/env"};
  for (const std::string& argument : QuorvaneCommand(arguments, job_parent))
    command.push_back(argument);
  std::optional<Process> process = Process::Start("/usr/bin/strace", command, directory, log, log);
  if (!process) throw std::runtime_error("cannot start strace");
  return std::move(*process);
}

// The two outputs are renamed into place one after the other, each only once it was checked and
// put on the disk: a build killed between the two renames leaves box_Merge.bin alone, complete
// and sound as an image to open, never a part of a file (and a later build tells the user it is
// there rather than replacing it).
TEST_F(TrustOutputs, AKillBetweenTheTwoRenamesLeavesOnlyCompleteSoundFiles) {
  if (!CanTrace()) GTEST_SKIP() << "strace cannot trace here";
  const std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  Process build = StartTampered("inject=renameat2:signal=KILL:when=2",
                                {"build", image, "--output-dir", Work(), "--model-id", "QV-TWO"},
                                Work(), jobs_.path(), logs_.File("tampered.txt"));
  ASSERT_EQ(build.WaitFor(std::chrono::minutes(1)), 128 + SIGKILL);
  const bool merged = FileExists(Work() + "/" + kMerged);
  const bool download = FileExists(Work() + "/" + kDownload);
  EXPECT_TRUE(merged);  // the first rename was let through
  EXPECT_FALSE(download && !merged);
  if (merged && download) {
    EXPECT_TRUE(SoundPair(Work(), kAllImage, {"QV-TWO", ""}));
  } else if (merged) {
    EXPECT_TRUE(Succeeded(Quorvane({"info", Work() + "/" + kMerged}, Work())));
    EXPECT_EQ(ModelIdOf(ReadWholeFile(Work() + "/" + kMerged)), "QV-TWO");
    EXPECT_TRUE(Refused(Quorvane({"build", image, "--output-dir", Work()}, Work()),
                        "box_Merge.bin exists already"));
  }
}

// With --force (or the window's "replace them?" answered yes) each output is renamed over the
// one standing there, one after the other; builds hold the output directory locked while they
// do, so two at once never leave the merged image of one beside the download file of the
// other. Here the first build is held for two seconds before its second rename while the second
// runs to its end.
TEST_F(TrustOutputs, ReplacingBuildsTogetherNeverMixThePair) {
  if (!CanTrace()) GTEST_SKIP() << "strace cannot trace here";
  const std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  ASSERT_TRUE(Succeeded(
      Quorvane({"build", image, "--output-dir", Work(), "--model-id", "QV-EARLIER"}, Work())));
  struct stat earlier {};
  ASSERT_EQ(::stat((Work() + "/" + kMerged).c_str(), &earlier), 0);

  const Choices first{"QV-FIRST", ""};
  const Choices second{"QV-SECOND", ""};
  Process held = StartTampered(
      "inject=rename:delay_enter=2s:when=2",
      {"build", image, "--output-dir", Work(), "--model-id", first.model_id, "--force"}, Work(),
      jobs_.path(), logs_.File("held.txt"));
  // Until the first build's merged image stands in place of the earlier one.
  for (int i = 0; i < 6000; ++i) {
    struct stat now {};
    if (::stat((Work() + "/" + kMerged).c_str(), &now) == 0 && now.st_ino != earlier.st_ino) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  HostileRun other = Quorvane(
      {"build", image, "--output-dir", Work(), "--model-id", second.model_id, "--force"}, Work());
  const std::optional<int> held_status = held.WaitFor(std::chrono::minutes(1));
  ASSERT_TRUE(held_status);
  const std::string held_said = Text(ReadWholeFile(logs_.File("held.txt")));
  if (*held_status == 0 && other.status == 0) {
    // Both said they wrote box_Merge.bin and box_Merge.dld: the pair must be one of theirs.
    EXPECT_TRUE(SoundPair(Work(), kAllImage, first) || SoundPair(Work(), kAllImage, second))
        << "box_Merge.bin holds " << ModelIdOf(ReadWholeFile(Work() + "/" + kMerged))
        << ", box_Merge.dld holds " << ModelIdOfDownload(Work() + "/" + kDownload) << "\n"
        << held_said << other.output;
  }
}

// An image whose checksums do not match its bytes is damaged or was edited by hand: the build
// stops listing what differs, unless told to go on; `quorvane info` shows the state of every
// region and fails only for damage; the window asks, and opens only on yes.
TEST_F(TrustOutputs, ChecksumsThatDoNotMatchStopTheBuildUnlessAllowed) {
  const Variant variant = kAllImage;
  sample::ImageSpec spec = sample::DefaultImageSpec(variant);
  const std::vector<uint8_t>& sound = SampleImage(variant);
  const sample::RegionSpec& checked = spec.manufacturer.regions[0];
  ASSERT_EQ(checked.check_flag, 1);
  const size_t region_offset = checked.start - sample::WindowAddress(variant, 0);
  std::vector<uint8_t> region_damaged = sound;
  for (size_t i = 0; i < 4; ++i)
    region_damaged[region_offset + 0x1234 + i] ^= 0x5A;
  std::vector<uint8_t> block_damaged = sound;
  const size_t block_crc = LayoutOf(variant)->manufacturer_offset + kBlockCrcOffset;
  block_damaged[block_crc] ^= 0x01;

  char region_text[64];
  std::snprintf(region_text, sizeof region_text, "region 0 (flash 0x%08X, 0x%X bytes)",
                checked.start, checked.length);
  char block_text[64];
  std::snprintf(block_text, sizeof block_text, "the manufacturer block at file offset 0x%X",
                LayoutOf(variant)->manufacturer_offset);
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {region_damaged, region_text}, {block_damaged, block_text}};
  for (const auto& [bytes, listed] : cases) {
    for (const std::string name : {"damaged.bin", "damaged.dld"}) {
      SCOPED_TRACE(name + ": " + listed);
      const std::string path = WriteInput(
          name, name.ends_with(".dld") ? sample::BuildDownload(bytes, sample::DownloadSpecFor(spec))
                                       : bytes);
      HostileRun refused = Quorvane({"build", path, "--output-dir", Work()}, Work());
      EXPECT_TRUE(Refused(refused, "The image's checksums do not match its contents"));
      EXPECT_NE(refused.output.find(listed), std::string::npos) << refused.output;
      EXPECT_NE(refused.output.find("--allow-bad-checksums"), std::string::npos);
      EXPECT_EQ(Entries(Work()), std::vector<std::string>{});

      HostileRun info = Quorvane({"info", path}, Work());
      EXPECT_TRUE(Refused(info, "error: the image's checksums do not match its contents"));
      EXPECT_NE(info.output.find(listed.starts_with("region") ? "(differs from the image)"
                                                              : "(differs from the block)"),
                std::string::npos)
          << info.output;

      // Allowed: the outputs carry checksums of their own bytes again.
      ASSERT_TRUE(Succeeded(Quorvane({"build", path, "--output-dir", Work(), "--model-id",
                                      "QV-DAMAGED", "--allow-bad-checksums"},
                                     Work())));
      const std::string download = Work() + "/damaged_Merge.dld";
      EXPECT_TRUE(SoundDownload(download, variant, {"QV-DAMAGED", ""}));
      if (name.ends_with(".bin")) {
        EXPECT_TRUE(InfoAccepts(Work() + "/damaged_Merge.bin"));
        RemoveFile(Work() + "/damaged_Merge.bin");
      }
      RemoveFile(download);
    }
  }
  EXPECT_TRUE(watched_.Unchanged());

  // The region states: in an app image, a region past its end is outside it whatever its CRC;
  // a region of check flag 2 is never compared; the same records in an all image are checked.
  for (Variant shown : {kAppImage, kAllImage}) {
    SCOPED_TRACE(VariantLabel(shown));
    sample::ImageSpec marked = sample::DefaultImageSpec(shown);
    marked.manufacturer.regions.push_back(
        {9, sample::WindowAddress(kAppImage, 0x660000), 0x1000, 1, 0xDEADBEEF});
    marked.manufacturer.regions.push_back(
        {10, sample::WindowAddress(shown, 0x100000), 0x1000, 2, 0xDEADBEEF});
    const std::string path = WriteInput("marked.bin", sample::BuildFlashImage(marked));
    HostileRun info = Quorvane({"info", path, "--json"}, Work());
    ASSERT_TRUE(info.status == 0 || info.status == 1) << info.output;
    nlohmann::json document = nlohmann::json::parse(info.output, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << info.output;
    const nlohmann::json& regions = document["manufacturer"]["regions"];
    ASSERT_EQ(regions.size(), marked.manufacturer.regions.size());
    for (size_t i = 0; i + 2 < regions.size(); ++i) {
      EXPECT_EQ(regions[i]["state"],
                marked.manufacturer.regions[i].check_flag == 1 ? "matches" : "not checked")
          << i;
    }
    EXPECT_EQ(regions[regions.size() - 1]["state"], "not checked");
    if (shown == kAppImage) {
      EXPECT_EQ(regions[regions.size() - 2]["state"], "outside this image");
      EXPECT_EQ(document["damaged"], false);
      EXPECT_TRUE(Succeeded(info));
      HostileRun text = Quorvane({"info", path}, Work());
      EXPECT_TRUE(Succeeded(text));
      EXPECT_NE(text.output.find("crc 0xDEADBEEF (outside this image)"), std::string::npos);
      EXPECT_NE(text.output.find("crc 0xDEADBEEF (not checked)"), std::string::npos);
      // Such an image builds without being asked about, and its outputs are sound.
      ASSERT_TRUE(Succeeded(
          Quorvane({"build", path, "--output-dir", Work(), "--model-id", "QV-MARKED"}, Work())));
      EXPECT_TRUE(InfoAccepts(Work() + "/marked_Merge.bin"));
      EXPECT_TRUE(SoundDownload(Work() + "/marked_Merge.dld", kAppImage, {"QV-MARKED", ""}));
      RemoveFile(Work() + "/marked_Merge.bin");
      RemoveFile(Work() + "/marked_Merge.dld");
    } else {
      EXPECT_EQ(regions[regions.size() - 2]["state"], "differs from the image");
      EXPECT_EQ(document["damaged"], true);
      EXPECT_EQ(info.status, 1);
    }
  }

  // The window asks about a damaged image and opens it only when the answer is yes.
  FormDriver driver;
  const std::string path = driver.WriteInput("damaged.bin", region_damaged);
  driver.Open(path);  // no answer queued: no
  ASSERT_EQ(driver.ui().questions.size(), 1u);
  EXPECT_NE(driver.ui().questions[0].find(region_text), std::string::npos)
      << driver.ui().questions[0];
  EXPECT_FALSE(driver.form().SB_Start.enabled);
  EXPECT_NE(driver.job().phase(), JobPhase::kOpened);
  driver.ui().yes_no_answers.push_back(false);
  driver.Open(path);
  EXPECT_EQ(driver.ui().questions.size(), 2u);
  EXPECT_FALSE(driver.form().SB_Start.enabled);
  driver.ui().yes_no_answers.push_back(true);
  driver.Open(path);
  EXPECT_EQ(driver.ui().questions.size(), 3u);
  ASSERT_TRUE(driver.form().SB_Start.enabled);
  driver.form().E_ModeID.Type("QV-ANSWERED");
  std::vector<std::string> said = driver.Start();
  ASSERT_FALSE(said.empty());
  EXPECT_TRUE(said.back().starts_with("Quorvanex: Succeed!")) << said.back();
  std::vector<uint8_t> converted;
  ASSERT_TRUE(
      ConvertDownloadBytes(ReadWholeFile(driver.Output("damaged_Merge.dld")), variant, converted));
  EXPECT_EQ(converted, ReadWholeFile(driver.Output("damaged_Merge.bin")));
  EXPECT_TRUE(InfoAccepts(driver.Output("damaged_Merge.bin")));
}

// Identity fields that manufacturer.cfg cannot carry whole stop Start before anything is
// written, naming the field; a field that fills its width without a zero byte goes into the
// download header as it stands.
TEST_F(TrustOutputs, IdentityFieldsTheHeaderCannotCarryStopStart) {
  const std::vector<std::string> uncarried = {"AB\r\nCD", "AB CD", "AB\tCD", "AB]CD",
                                              "AB[CD",    "AB=CD", "",       " "};
  for (const char* field : {"MANUFACTURE_IDENT", "HARDWARE_VERSION"}) {
    for (const std::string& value : uncarried) {
      SCOPED_TRACE(std::string(field) + " \"" + value + "\"");
      sample::ImageSpec spec = sample::DefaultImageSpec(kAppImage);
      (std::string_view(field) == "MANUFACTURE_IDENT" ? spec.manufacturer.manufacture_ident
                                                      : spec.manufacturer.hardware_version) = value;
      std::vector<uint8_t> bytes = sample::BuildFlashImage(spec);
      for (const std::string name : {"odd.bin", "odd.dld"}) {
        const std::string path =
            WriteInput(name, name.ends_with(".dld")
                                 ? sample::BuildDownload(bytes, sample::DownloadSpecFor(spec))
                                 : bytes);
        HostileRun run =
            Quorvane({"build", path, "--output-dir", Work(), "--model-id", "QV-ODD"}, Work());
        EXPECT_TRUE(Refused(run, "Quorvane: The manufacturer block's " + std::string(field) +
                                     " cannot go into the download header as it stands"))
            << name;
        EXPECT_EQ(Entries(Work()), std::vector<std::string>{}) << name;
      }
    }
  }
  EXPECT_TRUE(watched_.Unchanged());

  // Bytes no line break or syntax of manufacturer.cfg: carried exactly, or refused by name.
  for (const std::string value :
       {"A;B", "A#B", "A\"B", "A\x7F", "A\xFF", "A\x01", "A\vB", "A\fB", "A/B\\C", "'AB'"}) {
    SCOPED_TRACE("MANUFACTURE_IDENT \"" + value + "\"");
    sample::ImageSpec spec = sample::DefaultImageSpec(kAppImage);
    spec.manufacturer.manufacture_ident = value;
    const std::string path = WriteInput("odd.bin", sample::BuildFlashImage(spec));
    HostileRun run = Quorvane({"build", path, "--output-dir", Work()}, Work());
    if (run.status == 0) {
      std::vector<uint8_t> header = ReadWholeFile(Work() + "/odd_Merge.dld");
      ASSERT_GE(header.size(), 19u);
      std::string ident(header.begin() + 4, header.begin() + 19);
      EXPECT_EQ(ident, value + std::string(15 - value.size(), '\0'));
      RemoveFile(Work() + "/odd_Merge.dld");
      RemoveFile(Work() + "/odd_Merge.bin");
    } else {
      EXPECT_TRUE(Refused(run, "The manufacturer block's MANUFACTURE_IDENT cannot go"));
    }
    EXPECT_EQ(Entries(Work()), std::vector<std::string>{});
  }

  // Fifteen printable characters with no zero byte after them, and a full HARDWARE_VERSION.
  sample::ImageSpec spec = sample::DefaultImageSpec(kAppImage);
  spec.manufacturer.manufacture_ident = "QUORVANE-LABS-X";
  spec.manufacturer.hardware_version = "HW1.20.7";
  const std::string path = WriteInput("full.bin", sample::BuildFlashImage(spec));
  ASSERT_TRUE(Succeeded(Quorvane({"build", path, "--output-dir", Work()}, Work())));
  std::vector<uint8_t> download = ReadWholeFile(Work() + "/full_Merge.dld");
  ASSERT_GE(download.size(), 35u);
  // The header payload starts at file offset 3; the fields at payload offsets 1 and 24.
  EXPECT_EQ(std::string(download.begin() + 4, download.begin() + 19), "QUORVANE-LABS-X");
  EXPECT_EQ(std::string(download.begin() + 27, download.begin() + 35), "HW1.20.7");
  EXPECT_TRUE(InfoAccepts(Work() + "/full_Merge.dld"));
  std::vector<uint8_t> converted;
  ASSERT_TRUE(ConvertDownloadBytes(download, kAppImage, converted));
  EXPECT_EQ(converted, ReadWholeFile(Work() + "/full_Merge.bin"));
}

// A picture file of 1 GiB (sparse: it takes no room) is refused from its size, before a byte of
// it is read; a bitmap or JPEG whose header claims 20000 x 20000 is refused from the header.
// The program's peak memory stays small either way.
TEST_F(TrustOutputs, PicturesFarLargerThanALogoAreRefusedFromTheirSize) {
  const std::string image = WriteInput("box.bin", SampleImage(kAppImage));
  const std::string memory = logs_.File("memory.txt");
  auto build_with_boot = [&](const std::string& picture) {
    std::vector<std::string> arguments = {"-f", "%M", "-o", memory, "/usr/bin/env"};
    for (const std::string& argument :
         QuorvaneCommand({"build", image, "--output-dir", Work(), "--boot", picture}))
      arguments.push_back(argument);
    return RunHostile("/usr/bin/time", arguments, Work());
  };
  // /usr/bin/time writes the peak resident size in KiB as its last line.
  auto peak_kib = [&] {
    std::string text = Text(ReadWholeFile(memory));
    while (!text.empty() && text.back() == '\n')
      text.pop_back();
    return std::stol(text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1));
  };
  for (const char* name : {"huge.bmp", "huge.jpg"}) {
    SCOPED_TRACE(name);
    WriteSparseFile(Input(name), off_t{1} << 30);
    HostileRun run = build_with_boot(Input(name));
    EXPECT_TRUE(Refused(run, std::string("the picture ") + name +
                                 " has 1073741824 bytes, more than the 64 MiB a logo picture "
                                 "may come from"));
    EXPECT_LT(peak_kib(), 200 * 1024);
    EXPECT_EQ(Entries(Work()), std::vector<std::string>{});
    RemoveFile(Input(name));
  }
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> claims = {
      {"claims.bmp", BitmapClaiming(20000, 20000)},
      {"claims.jpg", JpegClaiming(logs_.File("small.jpg"), 20000, 20000)},
      {"tall.bmp", BitmapClaiming(720, -20000)},
  };
  for (const auto& [name, bytes] : claims) {
    SCOPED_TRACE(name);
    HostileRun run = build_with_boot(WriteInput(name, bytes));
    EXPECT_TRUE(Refused(run, "more than the 16384 a side a logo picture may have"));
    EXPECT_LT(peak_kib(), 200 * 1024);
    EXPECT_EQ(Entries(Work()), std::vector<std::string>{});
  }
  EXPECT_TRUE(watched_.Unchanged());
}

}  // namespace
}  // namespace qv::testing
