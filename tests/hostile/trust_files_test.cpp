// Files of the user's under the names a job gives its working files, links planted wherever the
// tool writes, converters and parameter files planted where a careless tool would look for them,
// and paths that pass through a link: a build uses and changes none of them, writes nothing
// through a link, and leaves no job directory behind.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "platform/bitmap.h"
#include "platform/file.h"
#include "platform/pending_file.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/form_driver.h"
#include "tests/support/run_program.h"
#include "tests/support/test_pictures.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;

// Every name a job of the tool, or an earlier version of it, gives a file in its working
// directory: a user may well keep files of these names beside an image or an output.
constexpr std::array<const char*, 20> kWorkingFileNames = {"manufacturer.cfg",
                                                           "app_710X.cfg",
                                                           "all_710X.cfg",
                                                           "flash_710X.cfg",
                                                           "NTSC.par",
                                                           "PAL.par",
                                                           "bintodld.exe",
                                                           "formatswitch.exe",
                                                           "httpcfg.ini",
                                                           "boot.bmp",
                                                           "boot.m2v",
                                                           "menu.bmp",
                                                           "menu.m2v",
                                                           "radio.bmp",
                                                           "radio.m2v",
                                                           "Temp_DldToBin.bin",
                                                           "Temp_DefDldToBin.bin",
                                                           "Temp_KeyToBin.bin",
                                                           "Temp_KeyCompress.bin",
                                                           "Quorvane_STi710X.exe"};

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// The names in a directory, links included and never followed.
std::set<std::string> Names(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory))
    names.insert(entry.path().filename().string());
  return names;
}

std::set<std::string> With(std::set<std::string> names, const std::set<std::string>& more) {
  names.insert(more.begin(), more.end());
  return names;
}

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() == fs::file_type::regular;
}

// A key file that does not ask to be compressed, and a default database.
std::vector<uint8_t> KeyBytes(uint32_t seed) {
  std::vector<uint8_t> key = sample::RandomBytes(0x10000, seed);
  key[80] = key[81] = key[82] = key[83] = 0xEE;
  return key;
}
std::vector<uint8_t> DatabaseBytes(uint32_t seed) {
  return sample::CodeLikeBytes(0x40000, seed);
}
std::vector<uint8_t> AsDownload(const std::vector<uint8_t>& bytes, Variant variant) {
  sample::DownloadSpec spec;
  spec.variant = variant;
  return sample::BuildDownload(bytes, spec);
}

// What a user might keep under a working file's name: pictures under the pictures' names, a key
// and a database under the converted sources' names, anything at all under the others.
std::vector<uint8_t> UserFile(const std::string& name, uint32_t seed) {
  if (name.ends_with(".bmp"))
    return EncodeBitmap(
        MakePicture(PictureKind::kFlatLogo, 720, name == "menu.bmp" ? 480 : 576, seed));
  if (name == "Temp_KeyToBin.bin") return KeyBytes(seed);
  if (name == "Temp_DefDldToBin.bin") return DatabaseBytes(seed);
  return sample::RandomBytes(300 + seed % 97, seed);
}

// Sets an environment variable, or removes it, while the object lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Takes the write permission from directories for a while (a planted program's directory), and
// gives it back so that they can be removed.
class ReadOnlyDirectories {
 public:
  explicit ReadOnlyDirectories(std::vector<std::string> directories)
      : directories_(std::move(directories)) {
    for (const std::string& directory : directories_)
      ::chmod(directory.c_str(), 0555);
  }
  ~ReadOnlyDirectories() {
    for (const std::string& directory : directories_)
      ::chmod(directory.c_str(), 0755);
  }

 private:
  std::vector<std::string> directories_;
};

enum class LinkKind { kToAFile, kDangling, kHard };
constexpr std::array<LinkKind, 3> kLinkKinds = {LinkKind::kToAFile, LinkKind::kDangling,
                                                LinkKind::kHard};

// What a case planted, to show afterwards that a build left all of it as it was: files with
// their bytes, links with what they point at, and the files those lead to with their bytes (or
// still missing, for a dangling link).
class Plants {
 public:
  void File(const std::string& path, const std::vector<uint8_t>& bytes) {
    WriteWholeFile(path, bytes);
    Keep(path);
  }
  // A file that is there already (an earlier output) and must stay as it is.
  void Keep(const std::string& path) { files_[path] = ReadWholeFile(path); }

  // A file outside the directories a build writes in, that a link leads to, or the name of one
  // that a dangling link leads to and that must not come to be.
  void Target(const std::string& path, std::optional<std::vector<uint8_t>> bytes) {
    if (bytes) WriteWholeFile(path, *bytes);
    targets_[path] = std::move(bytes);
  }

  // A link of the kind at `path`, to a target named after `target_stem` (made here).
  void Link(const std::string& path, LinkKind kind, const std::string& target_stem, uint32_t seed) {
    const std::string target = TargetOf(kind, target_stem, seed);
    if (kind == LinkKind::kHard) {
      fs::create_hard_link(target, path);
    } else {
      fs::create_symlink(target, path);
    }
    Record(path, kind, target);
  }
  // Makes the target of a link that something else will plant, and says what it will be.
  std::string TargetOf(LinkKind kind, const std::string& stem, uint32_t seed) {
    const std::string target = stem + (kind == LinkKind::kDangling ? ".absent" : ".target");
    Target(target, kind == LinkKind::kDangling
                       ? std::nullopt
                       : std::optional(sample::RandomBytes(64 + seed % 31, seed)));
    return target;
  }
  // The names of everything planted in `directory`.
  std::set<std::string> NamesIn(const std::string& directory) const {
    std::set<std::string> names;
    auto add = [&](const std::string& path) {
      if (fs::path(path).parent_path() == fs::path(directory))
        names.insert(fs::path(path).filename().string());
    };
    for (const auto& entry : files_)
      add(entry.first);
    for (const auto& entry : links_)
      add(entry.first);
    for (const auto& entry : targets_) {
      if (entry.second) add(entry.first);
    }
    return names;
  }
  // A link planted by something else.
  void Record(const std::string& path, LinkKind kind, const std::string& target) {
    links_[path] = {kind, target};
  }
  // A link the build was asked to replace: its target must stay as it was, the link may go.
  void Forget(const std::string& path) { links_.erase(path); }

  ::testing::AssertionResult Unchanged() const {
    for (const auto& [path, bytes] : files_) {
      if (!IsRegularFile(path)) return ::testing::AssertionFailure() << path << " is gone";
      if (ReadWholeFile(path) != bytes)
        return ::testing::AssertionFailure() << path << " was changed";
    }
    for (const auto& [path, link] : links_) {
      std::error_code error;
      const fs::file_type type = fs::symlink_status(path, error).type();
      if (link.kind == LinkKind::kHard) {
        if (type != fs::file_type::regular || !fs::equivalent(path, link.target, error))
          return ::testing::AssertionFailure() << "the hard link " << path << " was replaced";
      } else if (type != fs::file_type::symlink || fs::read_symlink(path, error) != link.target) {
        return ::testing::AssertionFailure() << "the link " << path << " was replaced";
      }
    }
    for (const auto& [path, bytes] : targets_) {
      std::error_code error;
      const bool there = fs::symlink_status(path, error).type() != fs::file_type::not_found;
      if (!bytes && there)
        return ::testing::AssertionFailure() << path << " was made through a dangling link";
      if (bytes && (!IsRegularFile(path) || ReadWholeFile(path) != *bytes))
        return ::testing::AssertionFailure() << path << " was written through a link";
    }
    return ::testing::AssertionSuccess();
  }

 private:
  struct PlantedLink {
    LinkKind kind;
    std::string target;
  };
  std::map<std::string, std::vector<uint8_t>> files_;
  std::map<std::string, PlantedLink> links_;
  std::map<std::string, std::optional<std::vector<uint8_t>>> targets_;
};

// A link to plant under "<prefix><process id>-<n>", the temporary name an output of the process
// tries n-th: PendingFile names them "<final path>.part<pid>-<counter>".
struct PatternLink {
  std::string prefix;  // "<directory>/<final name>.part"
  int n;
  LinkKind kind;
  std::string target;
};

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

class TrustFiles : public Hostile {
 protected:
  TrustFiles() : runtime_variable_("XDG_RUNTIME_DIR", runtime_.path()) {}

  // Runs build/bin/quorvane (or the program at `program`) in `directory`; afterwards no job
  // directory may be left where jobs are made ($XDG_RUNTIME_DIR; RunHostile checks $TMPDIR).
  HostileRun Run(const std::vector<std::string>& arguments, const std::string& directory,
                 const std::string& program = "quorvane") {
    HostileRun run = RunHostile(program, arguments, directory);
    EXPECT_EQ(Names(runtime_.path()), std::set<std::string>{}) << "a job directory was left";
    return run;
  }

  // A JPEG or BMP picture of the given size, watched as an input.
  std::string Picture(const std::string& path, int height, uint32_t seed) {
    Bitmap picture = MakePicture(PictureKind::kFlatLogo, 720, height, seed);
    if (path.ends_with(".bmp")) {
      SaveBitmap(picture, path);
    } else {
      WriteJpeg(picture, path);
    }
    watched_.Watch(path);
    return path;
  }

  // A program that plants `links` under the temporary names the outputs of the quorvane it then
  // becomes (keeping its process id) will try, and writes that id into `pid_file`.
  std::string PlantingQuorvane(const std::vector<PatternLink>& links, const std::string& pid_file) {
    std::string script = "#!/bin/sh\n";
    for (const PatternLink& link : links) {
      script += std::string(link.kind == LinkKind::kHard ? "ln " : "ln -s ") + Quoted(link.target) +
                " " + Quoted(link.prefix) + "$$-" + std::to_string(link.n) + " || exit 99\n";
    }
    script +=
        "echo $$ > " + Quoted(pid_file) + "\nexec " + Quoted(ProgramPath("quorvane")) + " \"$@\"\n";
    const std::string path = scratch_.File("planting-quorvane");
    WriteWholeFile(path, Bytes(script));
    ::chmod(path.c_str(), 0755);
    return path;
  }

  // Links under the temporary names of `final_name` in `directory`, n = 0 .. count - 1, of
  // every kind in turn, with their targets made in the directory elsewhere.
  void PlanPatternLinks(std::vector<PatternLink>& links, Plants& plants,
                        const std::string& directory, const std::string& final_name, int count) {
    for (int n = 0; n < count; ++n) {
      const LinkKind kind = kLinkKinds[n % 3];
      const std::string stem = elsewhere_.File(fs::path(directory).filename().string() + "-" +
                                               final_name + "-" + std::to_string(n));
      links.push_back({directory + "/" + final_name + ".part", n, kind,
                       plants.TargetOf(kind, stem, static_cast<uint32_t>(links.size()))});
    }
  }

  // Records the links a planting program made, now that its process id is known.
  void RecordPatternLinks(const std::vector<PatternLink>& links, Plants& plants,
                          const std::string& pid_file) {
    const std::vector<uint8_t> bytes = ReadWholeFile(pid_file);
    std::string pid(bytes.begin(), bytes.end());
    while (!pid.empty() && pid.back() == '\n')
      pid.pop_back();
    for (const PatternLink& link : links)
      plants.Record(link.prefix + pid + "-" + std::to_string(link.n), link.kind, link.target);
  }

  TempDir runtime_;  // $XDG_RUNTIME_DIR of the runs: where their job directories are made
  ScopedVariable runtime_variable_;
  TempDir current_;    // the current directory of the runs
  TempDir elsewhere_;  // where planted links lead
  TempDir scratch_;
};

// 1. A user's files under every working-file name, in the current directory, the output
// directory and the image's directory, survive builds of a flash image and of a download file
// with all three logos, the key and the database, in the window too. Outputs go only where they
// are asked to go; without --output-dir that is the current directory, where an existing output
// is refused, not replaced.
TEST_F(TrustFiles, UserFilesUnderWorkingFileNamesSurviveBuilds) {
  const std::string out = Work(), here = current_.path(), images = inputs_.path();
  Plants plants;
  std::set<std::string> planted;
  uint32_t seed = 100;
  for (const char* name : kWorkingFileNames) {
    planted.insert(name);
    for (const std::string& directory : {out, here, images})
      plants.File(directory + "/" + name, UserFile(name, seed++));
  }
  const std::string bin = WriteInput("box.bin", SampleImage(kAllImage));
  const std::string dld = WriteInput("box.dld", SampleDownload(kAllImage));
  const std::string key = WriteInput("key.dld", AsDownload(KeyBytes(7), kKeyDownload));
  const std::string database = WriteInput("db.dld", AsDownload(DatabaseBytes(8), kDefaultDownload));
  const std::set<std::string> inputs = With(Names(images), {"boot.jpg", "menu.jpg", "radio.jpg"});
  const std::string boot = Picture(Input("boot.jpg"), 576, 11);
  const std::string menu = Picture(Input("menu.jpg"), 480, 12);
  const std::string radio = Picture(Input("radio.jpg"), 576, 13);

  // The user's own boot.bmp, menu.bmp, radio.bmp, key and database in the current directory
  // chosen by their names, which are the names of working files.
  EXPECT_TRUE(Succeeded(
      Run({"build", bin, "--output-dir", out, "--boot", "boot.bmp", "--menu", "menu.bmp", "--radio",
           "radio.bmp", "--default-db", "Temp_DefDldToBin.bin", "--key", "Temp_KeyToBin.bin",
           "--model-id", "QV-TRUST", "--http-manual-addr", "http://trust.example/"},
          here)));
  EXPECT_TRUE(plants.Unchanged());
  EXPECT_EQ(Names(out), With(planted, {"box_Merge.bin", "box_Merge.dld"}));
  EXPECT_EQ(Names(here), planted);
  EXPECT_EQ(Names(images), inputs);

  // An earlier job's box_Merge.bin beside a build of box.dld, whose one output is box_Merge.dld;
  // the key and database come as download files, converted under the names of files of the
  // user's.
  fs::remove(out + "/box_Merge.dld");
  plants.Keep(out + "/box_Merge.bin");
  EXPECT_TRUE(Succeeded(Run({"build", dld, "--output-dir", out, "--boot", boot, "--menu", menu,
                             "--radio", radio, "--default-db", database, "--key", key, "--model-id",
                             "QV-TRUST", "--http-auto-addr", "http://auto.example/"},
                            here)));
  EXPECT_TRUE(plants.Unchanged());
  EXPECT_EQ(Names(out), With(planted, {"box_Merge.bin", "box_Merge.dld"}));
  EXPECT_EQ(Names(here), planted);

  // No --output-dir: the outputs go into the current directory, once.
  EXPECT_TRUE(Succeeded(Run({"build", dld, "--boot", "boot.bmp"}, here)));
  EXPECT_EQ(Names(here), With(planted, {"box_Merge.dld"}));
  plants.Keep(here + "/box_Merge.dld");
  EXPECT_TRUE(Refused(Run({"build", dld, "--boot", "boot.bmp"}, here),
                      "Quorvane: box_Merge.dld exists already in " + here + "/."));
  EXPECT_EQ(Names(here), With(planted, {"box_Merge.dld"}));
  EXPECT_TRUE(plants.Unchanged());
  EXPECT_EQ(Names(images), inputs);
  EXPECT_TRUE(watched_.Unchanged());

  // The window puts its outputs beside the opened image, among the user's files there, one of
  // which is the boot logo chosen.
  FormDriver driver;
  for (const char* name : kWorkingFileNames)
    plants.File(driver.Input(name), UserFile(name, seed++));
  driver.Open(driver.WriteInput("box.bin", SampleImage(kAllImage)));
  driver.Choose(driver.form().SB_Boot, driver.Input("boot.bmp"));
  driver.Choose(driver.form().SB_Menu, driver.Input("menu.bmp"));
  driver.Choose(driver.form().SB_Key, driver.Input("Temp_KeyToBin.bin"));
  EXPECT_EQ(driver.Start(),
            std::vector<std::string>{
                "Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]"});
  EXPECT_TRUE(plants.Unchanged());
  EXPECT_EQ(Names(driver.inputs()), With(planted, {"box.bin", "box_Merge.bin", "box_Merge.dld"}));
  EXPECT_EQ(Names(driver.job_directories()), std::set<std::string>{});
}

// 2. Links, symbolic and hard, to files elsewhere and dangling, at every working-file name, at
// the temporary names the outputs are first written under and at the outputs' own names, in
// the output directory and the current directory: nothing is written through any of them. An
// output name that is taken, even by a dangling link, is refused without --force; with it the
// link itself is replaced by the output, and what it led to stays as it was.
TEST_F(TrustFiles, NothingIsWrittenThroughALinkWhereTheToolWrites) {
  const std::string out = Work(), here = current_.path(), images = inputs_.path();
  Plants plants;
  uint32_t seed = 200;
  const std::vector<std::string> output_names = {"box_Merge.bin", "box_Merge.dld",
                                                 "other_Merge.dld"};
  std::vector<std::string> names(kWorkingFileNames.begin(), kWorkingFileNames.end());
  for (size_t i = 0; i < names.size(); ++i) {
    const std::array<std::string, 3> directories = {out, here, images};
    for (size_t d = 0; d < directories.size(); ++d) {
      plants.Link(directories[d] + "/" + names[i], kLinkKinds[(i + d) % 3],
                  elsewhere_.File(std::to_string(d) + "-" + names[i]), seed++);
    }
  }
  // The outputs' names in the current directory, which is not the output directory.
  for (size_t i = 0; i < output_names.size(); ++i)
    plants.Link(here + "/" + output_names[i], kLinkKinds[i],
                elsewhere_.File("here-" + output_names[i]), seed++);
  const std::string bin = WriteInput("box.bin", SampleImage(kAllImage));
  const std::string other = WriteInput("other.dld", SampleDownload(kAllImage));
  const std::string key = WriteInput("key.dld", AsDownload(KeyBytes(9), kKeyDownload));
  const std::string database =
      WriteInput("db.dld", AsDownload(DatabaseBytes(10), kDefaultDownload));
  const std::string boot = Picture(Input("boot.jpg"), 576, 21);
  const std::string menu = Picture(Input("menu.jpg"), 480, 22);
  const std::string radio = Picture(Input("radio.jpg"), 576, 23);

  // The flash image's job makes five temporary files (three pictures, two converted sources)
  // before its outputs: the merged image tries its temporary names up to n = 39, all taken, and
  // the download from 41 up to 79.
  std::vector<PatternLink> links;
  for (const std::string& directory : {out, here}) {
    PlanPatternLinks(links, plants, directory, "box_Merge.bin", 40);
    PlanPatternLinks(links, plants, directory, "box_Merge.dld", 80);
  }
  const std::set<std::string> elsewhere_before = Names(elsewhere_.path());
  const std::string pid_file = scratch_.File("pid");
  HostileRun run = Run({"build", bin, "--output-dir", out, "--boot", boot, "--menu", menu,
                        "--radio", radio, "--default-db", database, "--key", key, "--model-id",
                        "QV-LINKS", "--http-manual-addr", "http://links.example/"},
                       here, PlantingQuorvane(links, pid_file));
  EXPECT_TRUE(Succeeded(run));
  RecordPatternLinks(links, plants, pid_file);
  EXPECT_TRUE(plants.Unchanged());
  EXPECT_TRUE(IsRegularFile(out + "/box_Merge.bin"));
  EXPECT_TRUE(IsRegularFile(out + "/box_Merge.dld"));
  EXPECT_EQ(Names(out), With(plants.NamesIn(out), {"box_Merge.bin", "box_Merge.dld"}));
  EXPECT_EQ(Names(here), plants.NamesIn(here));
  EXPECT_EQ(Names(elsewhere_.path()), elsewhere_before);

  // A download file's job: its one output first, at n = 0.
  links.clear();
  for (const std::string& directory : {out, here})
    PlanPatternLinks(links, plants, directory, "other_Merge.dld", 60);
  run = Run({"build", other, "--output-dir", out}, here, PlantingQuorvane(links, pid_file));
  EXPECT_TRUE(Succeeded(run));
  RecordPatternLinks(links, plants, pid_file);
  EXPECT_TRUE(plants.Unchanged());
  const std::string clean = out + "/other_Merge.dld";
  ASSERT_TRUE(IsRegularFile(clean));
  EXPECT_EQ(Names(out),
            With(plants.NamesIn(out), {"box_Merge.bin", "box_Merge.dld", "other_Merge.dld"}));
  EXPECT_EQ(Names(here), plants.NamesIn(here));

  // Every temporary name taken: no output, and still nothing written through.
  {
    TempDir crowded;
    Plants crowded_plants;
    links.clear();
    PlanPatternLinks(links, crowded_plants, crowded.path(), "other_Merge.dld", 100);
    EXPECT_TRUE(Refused(Run({"build", other, "--output-dir", crowded.path()}, here,
                            PlantingQuorvane(links, pid_file)),
                        "other_Merge.dld has every temporary name beside it taken"));
    RecordPatternLinks(links, crowded_plants, pid_file);
    EXPECT_TRUE(crowded_plants.Unchanged());
    EXPECT_EQ(Names(crowded.path()).size(), 100u);
  }

  // A link of each kind at the output's own name: refused without --force, naming it; with
  // --force the link is replaced by the output.
  for (LinkKind kind : kLinkKinds) {
    TempDir taken;
    const std::string output = taken.File("other_Merge.dld");
    plants.Link(output, kind, elsewhere_.File("output-" + std::to_string(seed)), seed);
    ++seed;
    EXPECT_TRUE(Refused(Run({"build", other, "--output-dir", taken.path()}, here),
                        "Quorvane: other_Merge.dld exists already in " + taken.path() + "/."));
    EXPECT_EQ(Names(taken.path()), std::set<std::string>{"other_Merge.dld"});
    EXPECT_TRUE(plants.Unchanged());
    EXPECT_TRUE(Succeeded(Run({"build", other, "--output-dir", taken.path(), "--force"}, here)));
    plants.Forget(output);
    EXPECT_TRUE(plants.Unchanged());
    EXPECT_TRUE(IsRegularFile(output));
    EXPECT_EQ(ReadWholeFile(output), ReadWholeFile(clean));
    EXPECT_EQ(Names(taken.path()), std::set<std::string>{"other_Merge.dld"});
  }
  EXPECT_TRUE(watched_.Unchanged());

  // The window, whose outputs go beside the image: a link at an output's name is named in the
  // question; "no" writes nothing, "yes" replaces the link. The temporary names its outputs
  // will try next are taken by links too (this process's id, its next counter values).
  FormDriver driver;
  const std::string image = driver.WriteInput("box.bin", SampleImage(kAllImage));
  const std::string output = driver.Output("box_Merge.dld");
  plants.Link(output, LinkKind::kToAFile, elsewhere_.File("window-output"), seed++);
  driver.Open(image);
  EXPECT_EQ(driver.Start(), std::vector<std::string>{});
  ASSERT_EQ(driver.ui().questions.size(), 1u);
  EXPECT_NE(driver.ui().questions[0].find("Quorvane: box_Merge.dld exists already in"),
            std::string::npos);
  EXPECT_EQ(Names(driver.inputs()), (std::set<std::string>{"box.bin", "box_Merge.dld"}));
  EXPECT_TRUE(plants.Unchanged());

  int next = 0;
  {
    std::optional<PendingFile> probe = PendingFile::Create(scratch_.File("probe"));
    ASSERT_TRUE(probe);
    next = std::stoi(probe->temporary_path().substr(probe->temporary_path().rfind('-') + 1)) + 1;
  }
  links.clear();
  const std::string pid = std::to_string(::getpid());
  for (int n = next; n < next + 80; ++n) {
    for (const char* name : {"box_Merge.bin", "box_Merge.dld"}) {
      if (n >= next + 40 && std::string(name) == "box_Merge.bin") continue;
      const std::string path = driver.Output(name) + ".part" + pid + "-" + std::to_string(n);
      plants.Link(path, kLinkKinds[n % 3],
                  elsewhere_.File("window-" + std::string(name) + "-" + std::to_string(n)), seed++);
    }
  }
  driver.ui().yes_no_answers.push_back(true);
  EXPECT_EQ(driver.Start(),
            std::vector<std::string>{
                "Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]"});
  plants.Forget(output);
  EXPECT_TRUE(plants.Unchanged());
  EXPECT_TRUE(IsRegularFile(output));
  EXPECT_TRUE(IsRegularFile(driver.Output("box_Merge.bin")));
  EXPECT_EQ(Names(driver.job_directories()), std::set<std::string>{});
}

// 3. Converter programs (that would leave a marker when run) and parameter files planted in the
// output directory, the current directory, the image's directory and a directory early on PATH,
// unwritable where that can be arranged: never run, never read. The outputs are those of a
// clean build, and no marker appears. The job directories go into $TMPDIR here.
TEST_F(TrustFiles, PlantedConvertersAndParameterFilesAreNeverUsed) {
  ScopedVariable no_runtime_directory("XDG_RUNTIME_DIR", std::nullopt);
  TempDir programs, markers;
  TempDir clean_images, clean_out;
  const std::string out = Work(), here = current_.path(), images = inputs_.path();

  auto write_inputs = [&](const std::string& directory) {
    WriteWholeFile(directory + "/box.bin", SampleImage(kAllImage));
    watched_.Watch(directory + "/box.bin");
    Picture(directory + "/boot.jpg", 576, 31);
    Picture(directory + "/menu.jpg", 480, 32);
    Picture(directory + "/radio.bmp", 576, 33);
  };
  auto build = [&](const std::string& directory, const std::string& output) {
    return std::vector<std::string>{
        "build",   directory + "/box.bin",  "--output-dir", output,
        "--boot",  directory + "/boot.jpg", "--menu",       directory + "/menu.jpg",
        "--radio", directory + "/radio.bmp"};
  };
  write_inputs(clean_images.path());
  ASSERT_TRUE(Succeeded(Run(build(clean_images.path(), clean_out.path()), clean_out.path())));
  write_inputs(images);

  Plants plants;
  int count = 0;
  for (const std::string& directory : {out, here, images, programs.path()}) {
    for (const char* name : {"bintodld.exe", "formatswitch.exe", "bintodld", "formatswitch"}) {
      const std::string marker = markers.File(std::to_string(count++) + "-" + name);
      plants.File(directory + "/" + name, Bytes("#!/bin/sh\n: > " + Quoted(marker) + "\nexit 0\n"));
      ::chmod((directory + "/" + name).c_str(), 0555);
    }
    // Parameter files that no encoder accepts: a build that read one would fail.
    plants.File(directory + "/PAL.par", Bytes("not a parameter file\n"));
    plants.File(directory + "/NTSC.par", Bytes("0\n0\n0\n"));
  }
  ReadOnlyDirectories read_only({here, images, programs.path()});
  const char* path = std::getenv("PATH");
  ScopedVariable planted_path("PATH", programs.path() + ":" + (path ? path : "/usr/bin:/bin"));

  EXPECT_TRUE(Succeeded(Run(build(images, out), here)));
  EXPECT_EQ(ReadWholeFile(out + "/box_Merge.bin"), ReadWholeFile(clean_out.File("box_Merge.bin")));
  EXPECT_EQ(ReadWholeFile(out + "/box_Merge.dld"), ReadWholeFile(clean_out.File("box_Merge.dld")));
  EXPECT_EQ(Names(markers.path()), std::set<std::string>{});
  EXPECT_TRUE(plants.Unchanged());

  // The window, with the programs and parameter files beside the opened image, where its
  // outputs go.
  FormDriver driver;
  for (const char* name : {"bintodld.exe", "formatswitch.exe"}) {
    plants.File(driver.Input(name),
                Bytes("#!/bin/sh\n: > " + Quoted(markers.File(name)) + "\nexit 0\n"));
    ::chmod(driver.Input(name).c_str(), 0555);
  }
  plants.File(driver.Input("PAL.par"), Bytes("not a parameter file\n"));
  plants.File(driver.Input("NTSC.par"), Bytes("0\n0\n0\n"));
  write_inputs(driver.inputs());
  driver.Open(driver.Input("box.bin"));
  driver.Choose(driver.form().SB_Boot, driver.Input("boot.jpg"));
  driver.Choose(driver.form().SB_Menu, driver.Input("menu.jpg"));
  driver.Choose(driver.form().SB_Radio, driver.Input("radio.bmp"));
  EXPECT_EQ(driver.Start(),
            std::vector<std::string>{
                "Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]"});
  EXPECT_EQ(ReadWholeFile(driver.Output("box_Merge.bin")),
            ReadWholeFile(clean_out.File("box_Merge.bin")));
  EXPECT_EQ(ReadWholeFile(driver.Output("box_Merge.dld")),
            ReadWholeFile(clean_out.File("box_Merge.dld")));
  EXPECT_EQ(Names(markers.path()), std::set<std::string>{});
  EXPECT_TRUE(plants.Unchanged());
  EXPECT_TRUE(watched_.Unchanged());
  EXPECT_EQ(Names(driver.job_directories()), std::set<std::string>{});
}

// 4. "link/../box.dld" with `link` leading into another directory names the box.dld the system
// finds there (in the parent of the link's target), not the one beside `link`: for info, for a
// build (its image, its logo, its output directory) and for the window's Open and Start.
TEST_F(TrustFiles, APathThroughALinkIsTheFileTheSystemFinds) {
  const std::string base = current_.path();
  fs::create_directories(base + "/far/sub");
  fs::create_directory_symlink("far/sub", base + "/link");
  // Told apart by their variant: the one the system finds is an all image.
  WriteWholeFile(base + "/far/box.dld", SampleDownload(kAllImage));
  WriteWholeFile(base + "/box.dld", SampleDownload(kAppImage));
  Picture(base + "/far/boot.jpg", 576, 41);
  WriteWholeFile(base + "/boot.jpg", Bytes("not a picture"));

  for (const std::string& image : {std::string("link/../box.dld"), base + "/link/../box.dld"}) {
    HostileRun run = Run({"info", image}, base);
    EXPECT_TRUE(Succeeded(run));
    EXPECT_NE(run.output.find("(all image)"), std::string::npos) << run.output;
  }

  EXPECT_TRUE(Succeeded(
      Run({"build", "link/../box.dld", "--boot", "link/../boot.jpg", "--output-dir", "link/.."},
          base)));
  EXPECT_TRUE(IsRegularFile(base + "/far/box_Merge.dld"));
  EXPECT_FALSE(fs::exists(base + "/box_Merge.dld"));
  EXPECT_FALSE(fs::exists(base + "/far/sub/box_Merge.dld"));
  HostileRun built = Run({"info", "far/box_Merge.dld"}, base);
  EXPECT_TRUE(Succeeded(built));
  EXPECT_NE(built.output.find("(all image)"), std::string::npos) << built.output;
  EXPECT_EQ(Names(base), (std::set<std::string>{"box.dld", "boot.jpg", "far", "link"}));

  FormDriver driver;
  fs::create_directories(driver.inputs() + "/far/sub");
  fs::create_directory_symlink(driver.inputs() + "/far/sub", driver.Input("link"));
  driver.WriteInput("far/box.dld", SampleDownload(kAllImage));
  driver.WriteInput("box.dld", SampleDownload(kAppImage));
  driver.Open(driver.Input("link/../box.dld"));
  ASSERT_TRUE(driver.job().image());
  EXPECT_EQ(driver.job().image()->variant(), kAllImage);
  EXPECT_EQ(driver.Start(),
            std::vector<std::string>{"Quorvanex: Succeed!  [ Create File: box_Merge.dld]"});
  EXPECT_TRUE(IsRegularFile(driver.Input("far/box_Merge.dld")));
  EXPECT_FALSE(fs::exists(driver.Output("box_Merge.dld")));
  EXPECT_EQ(Names(driver.job_directories()), std::set<std::string>{});
}

// A command ended by a signal (Ctrl-C in a terminal, a hang-up, a plain kill) removes its job
// directory, with the converter programs, manufacturer.cfg and the chosen pictures, before it
// ends, as a finished job does.
TEST_F(TrustFiles, AnInterruptedBuildLeavesNoJobDirectory) {
  const std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  const std::string boot = Picture(Input("boot.jpg"), 576, 51);
  const std::string program = ProgramPath("quorvane");
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    TempDir out;
    std::vector<std::string> arguments = {program,    "build",   image, "--output-dir",
                                          out.path(), "--boot",  boot,  "--menu",
                                          boot,       "--radio", boot};
    std::vector<char*> argv;
    for (std::string& argument : arguments)
      argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0);
    // Signalled as soon as its job directory is there: while it works.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Names(runtime_.path()).empty() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    ::kill(pid, signal_number);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(Names(runtime_.path()), std::set<std::string>{})
        << "left after signal " << signal_number;
    for (const std::string& left : Names(runtime_.path()))
      fs::remove_all(runtime_.File(left));
  }
}

// With --force, an output that cannot be put in place (a directory under the download file's
// name) makes the build take back the merged image it had already put over the earlier
// box_Merge.bin: the earlier file is back where it was, and the message says the outputs were
// not written.
TEST_F(TrustFiles, AForcedBuildThatFailsKeepsTheEarlierOutputs) {
  const std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  Plants plants;
  plants.File(Work() + "/box_Merge.bin", SampleImage(kAllImage));
  fs::create_directory(Work() + "/box_Merge.dld");
  EXPECT_TRUE(Refused(Run({"build", image, "--output-dir", Work(), "--force"}, current_.path()),
                      "Quorvane: The outputs were not written: box_Merge.dld"));
  EXPECT_TRUE(plants.Unchanged());
}

// A relative $TMPDIR (and no $XDG_RUNTIME_DIR): the job directory is made there all the same,
// and its path is made absolute, so that it still names the directory from a converter started
// inside it.
TEST_F(TrustFiles, ARelativeTemporaryDirectoryStillBuilds) {
  ScopedVariable no_runtime_directory("XDG_RUNTIME_DIR", std::nullopt);
  const std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  fs::create_directory(current_.File("tmp"));
  const std::string program = scratch_.File("quorvane-relative-tmpdir");
  WriteWholeFile(program, Bytes("#!/bin/sh\nTMPDIR=tmp exec " + Quoted(ProgramPath("quorvane")) +
                                " \"$@\"\n"));
  ::chmod(program.c_str(), 0755);
  EXPECT_TRUE(Succeeded(Run({"build", image, "--output-dir", Work()}, current_.path(), program)));
  EXPECT_TRUE(IsRegularFile(Work() + "/box_Merge.dld"));
  EXPECT_EQ(Names(current_.File("tmp")), std::set<std::string>{});
}

}  // namespace
}  // namespace qv::testing
