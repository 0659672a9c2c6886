// Recorded outputs: every file the quorvane command leaves, for every kind of job the
// end-to-end tests know, compared byte for byte (by SHA-256) with a table recorded from an
// earlier build, so that a rework of the internals that changes any output shows up, naming
// the job and the file.
//
// Each job runs the real program once, in a fresh temporary directory that is both its
// current directory and (for `build`) its --workdir. The table (tests/cli/recorded_outputs.txt)
// holds one line per fact, fields separated by one space; empty lines and lines starting with
// '#' are ignored:
//
//   <job> exit <status>          exit status of the command (-1: did not start or timed out)
//   <job> output <sha256>        its standard output
//   <job> messages <sha256>      its standard error
//   <job> files <count>          how many entries it left in its directory (0: nothing)
//   <job> <file name> <sha256>   each of them, in name order ("directory" for a directory)
//
// Before standard output and standard error are hashed, the input directory is written as
// <inputs>, the job's directory as <work>, and the command's own temporary directories
// (<tmp>/quorvane-<word>-XXXXXX) as <tmp>, so that the digests do not depend on where the
// test ran.
//
// To record the table again deliberately, run the jobs with QV_RECORD_OUTPUTS set to the file
// to write; every job that runs puts its lines there (replacing its earlier lines, keeping
// those of the other jobs) instead of comparing:
//
//   export QV_RECORD_OUTPUTS=$PWD/tests/cli/recorded_outputs.txt
//   build/tests/cli_tests --gtest_filter='Jobs/RecordedOutputs.*'
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "image/partition_directory.h"
#include "platform/bitmap.h"
#include "platform/little_endian.h"
#include "tests/support/run_program.h"
#include "platform/sha256.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"
#include "tests/support/test_pictures.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// The input files of the jobs, made on first use in one directory per test program.

class Inputs {
 public:
  static Inputs& Get() {
    static Inputs inputs;
    return inputs;
  }
  const std::string& path() const { return directory_.path(); }

  // The sample image of the variant built from DefaultImageSpec, as box.bin or box.dld in a
  // folder of its own, so that every job's outputs are called box_Merge.*.
  std::string Image(Variant variant, const std::string& extension) {
    return Made(VariantLabel(variant) + "/box" + extension, [&] {
      std::vector<uint8_t> image = sample::BuildFlashImage(sample::DefaultImageSpec(variant));
      if (extension == ".dld")
        image = sample::BuildDownload(image,
                                      sample::DownloadSpecFor(sample::DefaultImageSpec(variant)));
      return image;
    });
  }

  // Boot: a 720 x 576 JPEG; menu: a 720 x 480 bitmap; radio: an 800 x 600 bitmap that the
  // tool cuts to 720 x 576 from the top left corner.
  std::string BootJpeg() {
    return Made("boot.jpg", [&] {
      WriteJpeg(MakePicture(PictureKind::kPhoto, 720, 576, 11), path() + "/boot.jpg", 90);
      return ReadBytes(path() + "/boot.jpg");
    });
  }
  std::string MenuBitmap() {
    return Made("menu.bmp",
                [] { return EncodeBitmap(MakePicture(PictureKind::kFlatLogo, 720, 480, 12)); });
  }
  std::string RadioBitmap() {
    return Made("radio.bmp",
                [] { return EncodeBitmap(MakePicture(PictureKind::kGradient, 800, 600, 13)); });
  }
  // A 720 x 576 picture of 8 bits per pixel with a grey colour table.
  std::string IndexedBitmap() {
    return Made("indexed.bmp", [] {
      Bitmap bitmap;
      bitmap.width = 720;
      bitmap.height = 576;
      bitmap.bits_per_pixel = 8;
      for (uint32_t grey = 0; grey < 256; ++grey)
        bitmap.palette.push_back(grey * 0x010101);
      bitmap.pixels.resize(bitmap.RowBytes() * 576);
      for (int y = 0; y < 576; ++y) {
        for (int x = 0; x < 720; ++x)
          bitmap.Row(y)[x] = static_cast<uint8_t>(x + y);
      }
      return EncodeBitmap(bitmap);
    });
  }

  // A key copied as it is (its word at offset 80 is not 1).
  std::string Key() {
    return Made("key.bin", [] {
      std::vector<uint8_t> key = sample::RandomBytes(0x10000, 21);
      WriteLe32(&key[80], 0x12345678);
      return key;
    });
  }
  // A key whose word at offset 80 is 1: Start stores it as a compressed key block.
  std::string FlaggedKey() {
    return Made("flagged_key.bin", [] { return FlaggedKeyBytes(); });
  }
  // The same key as a key download file.
  std::string FlaggedKeyDownload() {
    return Made("flagged_key.dld", [] {
      sample::DownloadSpec spec;
      spec.variant = kKeyDownload;
      return sample::BuildDownload(FlaggedKeyBytes(), spec);
    });
  }
  // A key with the flag whose random bytes LZO1X-1 cannot fit into the key block.
  std::string IncompressibleFlaggedKey() {
    return Made("incompressible_key.bin", [] {
      std::vector<uint8_t> key = sample::RandomBytes(0x10000, 23);
      WriteLe32(&key[80], 1);
      return key;
    });
  }
  std::string ShortKey() {
    return Made("short_key.bin", [] { return std::vector<uint8_t>(100, 0x5A); });
  }

  std::string Database() {
    return Made("db.bin", [] { return sample::CodeLikeBytes(0x40000, 24); });
  }
  std::string DatabaseDownload() {
    return Made("db.dld", [] {
      sample::DownloadSpec spec;
      spec.variant = kDefaultDownload;
      return sample::BuildDownload(sample::CodeLikeBytes(0x40000, 25), spec);
    });
  }

  // An "all" image without its last 64 KiB block.
  std::string CutImage() {
    return Made("cut/box.bin", [] {
      std::vector<uint8_t> image = sample::BuildFlashImage(sample::DefaultImageSpec(kAllImage));
      image.resize(image.size() - 0x10000);
      return image;
    });
  }
  // An "all" download file with one byte of a sector record in its middle changed.
  std::string DamagedDownload() {
    return Made("damaged/box.dld", [] {
      sample::ImageSpec spec = sample::DefaultImageSpec(kAllImage);
      std::vector<uint8_t> download =
          sample::BuildDownload(sample::BuildFlashImage(spec), sample::DownloadSpecFor(spec));
      std::vector<RecordPlace> records = LocateRecords(download);
      const RecordPlace& record = records[records.size() / 2];
      download[record.payload_offset() + record.length / 2] ^= 0x40;
      return download;
    });
  }
  // An "all" image whose httpcfg.ini (a long comment added) nearly fills its partition.
  std::string FullHttpCfgImage() {
    return Made("full_httpcfg/box.bin", [] {
      sample::ImageSpec spec = sample::DefaultImageSpec(kAllImage);
      for (sample::PartitionSpec& partition : spec.partitions) {
        if (partition.name != "httpcfg") continue;
        // 100 bytes short of the slot: a 254-character address does not fit.
        std::string text = sample::SampleHttpCfg() + "; ";
        text += std::string(kSlotSize - 100 - text.size() - 2, 'n') + "\r\n";
        partition.data.assign(text.begin(), text.end());
      }
      return sample::BuildFlashImage(spec);
    });
  }
  // An "all" image without a "modelid" partition.
  std::string ImageWithoutModelId() {
    return Made("no_modelid/box.bin", [] {
      sample::ImageSpec spec = sample::DefaultImageSpec(kAllImage);
      std::erase_if(spec.partitions,
                    [](const sample::PartitionSpec& p) { return p.name == "modelid"; });
      return sample::BuildFlashImage(spec);
    });
  }

  // The merged download file of an "all" image with every setting typed, made by the command.
  std::string MergedDownload() {
    std::string merged = path() + "/merged/box_Merge.dld";
    if (fs::exists(merged)) return merged;
    std::vector<std::string> arguments = {ProgramPath("quorvane"), "build",
                                          Image(kAllImage, ".bin"), "--workdir",
                                          path() + "/merged"};
    for (const std::string& setting : Settings())
      arguments.push_back(setting);
    ProgramRun run = RunProgram(arguments, path());
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    return merged;
  }

  static std::vector<std::string> Settings() {
    return {"--model-id",         "QV7100-RT",
            "--http-manual-addr", "http://manual.example/fw/",
            "--http-auto-addr",   "http://auto.example/fw/",
            "--auto-app",         "app_7100.dld",
            "--auto-all",         "all_7100.dld",
            "--auto-data",        "data_7100.dld",
            "--auto-default",     "default_7100.dld",
            "--auto-key",         "key_7100.dld"};
  }

 private:
  static std::vector<uint8_t> FlaggedKeyBytes() {
    std::vector<uint8_t> key = sample::CodeLikeBytes(0x10000, 22);
    WriteLe32(&key[80], 1);
    return key;
  }

  std::string Made(const std::string& name, const std::function<std::vector<uint8_t>()>& make) {
    std::string file = path() + "/" + name;
    if (!fs::exists(file)) {
      fs::create_directories(fs::path(file).parent_path());
      std::vector<uint8_t> bytes = make();
      WriteBytes(file, bytes);
    }
    return file;
  }

  TempDir directory_;
};

// ---------------------------------------------------------------------------------------------
// The jobs.

struct Job {
  std::string name;
  // The command's arguments (without the program), given the job's directory.
  std::function<std::vector<std::string>(Inputs&, const std::string& work)> arguments;
};

// Tests are named by the job; this keeps gtest from printing the job's bytes.
void PrintTo(const Job& job, std::ostream* out) {
  *out << job.name;
}

using Arguments = std::vector<std::string>;

void Append(Arguments& to, const Arguments& more) {
  to.insert(to.end(), more.begin(), more.end());
}

Arguments Logos(Inputs& in) {
  return {"--boot", in.BootJpeg(), "--menu", in.MenuBitmap(), "--radio", in.RadioBitmap()};
}

struct ChoiceSet {
  const char* name;
  std::function<Arguments(Inputs&)> arguments;
};

std::vector<ChoiceSet> ChoiceSets() {
  return {
      {"nothing", [](Inputs&) { return Arguments{}; }},
      {"logos", Logos},
      {"key_db",
       [](Inputs& in) {
         return Arguments{"--key", in.Key(), "--default-db", in.Database()};
       }},
      {"flagged_key",
       [](Inputs& in) {
         return Arguments{"--key", in.FlaggedKey()};
       }},
      {"key_db_dld",
       [](Inputs& in) {
         return Arguments{"--key", in.FlaggedKeyDownload(), "--default-db", in.DatabaseDownload()};
       }},
      {"settings", [](Inputs&) { return Inputs::Settings(); }},
      {"everything",
       [](Inputs& in) {
         Arguments arguments = Logos(in);
         Append(arguments, {"--key", in.FlaggedKey(), "--default-db", in.DatabaseDownload()});
         Append(arguments, Inputs::Settings());
         return arguments;
       }},
  };
}

Job BuildJob(const std::string& name, std::function<std::string(Inputs&)> image,
             std::function<Arguments(Inputs&)> choices) {
  return {name, [image, choices](Inputs& in, const std::string& work) {
            Arguments arguments = {"build", image(in), "--workdir", work};
            Append(arguments, choices(in));
            return arguments;
          }};
}

const std::vector<Job>& AllJobs() {
  static const std::vector<Job> jobs = [] {
    std::vector<Job> jobs;
    const Variant variants[] = {kAppImage, kAllImage, kFullImage};
    for (Variant variant : variants) {
      for (std::string extension : {".bin", ".dld"}) {
        for (const ChoiceSet& set : ChoiceSets()) {
          jobs.push_back(BuildJob(
              VariantLabel(variant) + "_" + extension.substr(1) + "_" + set.name,
              [=](Inputs& in) { return in.Image(variant, extension); }, set.arguments));
        }
      }
    }

    // Jobs that stop before or at Start, on the "all" image.
    auto all_bin = [](Inputs& in) { return in.Image(kAllImage, ".bin"); };
    auto just = [](Arguments arguments) { return [arguments](Inputs&) { return arguments; }; };
    jobs.push_back(BuildJob(
        "stop_image_cut_short", [](Inputs& in) { return in.CutImage(); }, just({})));
    jobs.push_back(BuildJob(
        "stop_download_damaged", [](Inputs& in) { return in.DamagedDownload(); }, just({})));
    jobs.push_back(BuildJob(
        "stop_image_missing", [](Inputs& in) { return in.path() + "/absent.bin"; }, just({})));
    jobs.push_back(BuildJob("stop_boot_8_bits", all_bin, [](Inputs& in) {
      return Arguments{"--boot", in.IndexedBitmap()};
    }));
    jobs.push_back(BuildJob("stop_key_too_short", all_bin, [](Inputs& in) {
      return Arguments{"--key", in.ShortKey()};
    }));
    jobs.push_back(BuildJob("stop_key_download_as_database", all_bin, [](Inputs& in) {
      return Arguments{"--default-db", in.FlaggedKeyDownload()};
    }));
    jobs.push_back(BuildJob("stop_flagged_key_incompressible", all_bin, [](Inputs& in) {
      return Arguments{"--key", in.IncompressibleFlaggedKey()};
    }));
    jobs.push_back(
        BuildJob("stop_model_id_too_long", all_bin, just({"--model-id", std::string(21, 'M')})));
    jobs.push_back(BuildJob(
        "stop_httpcfg_outgrows_partition", [](Inputs& in) { return in.FullHttpCfgImage(); },
        just({"--http-manual-addr", "http://" + std::string(238, 'h') + ".example/"})));
    jobs.push_back(BuildJob(
        "model_id_without_modelid_partition", [](Inputs& in) { return in.ImageWithoutModelId(); },
        just({"--model-id", "QV7100-NEW"})));

    for (bool json : {false, true}) {
      std::string prefix = json ? "info_json_" : "info_";
      for (Variant variant : variants) {
        for (std::string extension : {".bin", ".dld"}) {
          jobs.push_back({prefix + VariantLabel(variant) + "_" + extension.substr(1),
                          [=](Inputs& in, const std::string&) {
                            Arguments arguments = {"info", in.Image(variant, extension)};
                            if (json) arguments.push_back("--json");
                            return arguments;
                          }});
        }
      }
      jobs.push_back({prefix + "merged_dld", [=](Inputs& in, const std::string&) {
                        Arguments arguments = {"info", in.MergedDownload()};
                        if (json) arguments.push_back("--json");
                        return arguments;
                      }});
    }

    for (Variant variant : variants) {
      for (std::string extension : {".bin", ".dld"}) {
        jobs.push_back(
            {"sample_" + VariantLabel(variant) + "_" + extension.substr(1),
             [=](Inputs&, const std::string&) {
               return Arguments{"sample", "box" + extension, "--variant", VariantLabel(variant)};
             }});
      }
    }
    return jobs;
  }();
  return jobs;
}

// ---------------------------------------------------------------------------------------------
// Running a job and the table.

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// `text` with the test's and the command's temporary directories written as fixed tokens.
std::string WithoutTemporaryPaths(std::string text, const std::string& work) {
  ReplaceAll(text, Inputs::Get().path(), "<inputs>");
  ReplaceAll(text, work, "<work>");
  const std::string prefix = (fs::temp_directory_path() / "quorvane-").string();
  for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at)) {
    size_t end = at + prefix.size();
    while (end < text.size() && std::islower(static_cast<unsigned char>(text[end])))
      ++end;
    if (end < text.size() && text[end] == '-') end = std::min(text.size(), end + 7);
    text.replace(at, end - at, "<tmp>");
  }
  return text;
}

// One fact of a job: its key (exit, output, messages, files or a file name) and its value.
using Facts = std::vector<std::pair<std::string, std::string>>;

Facts RunJob(const Job& job, std::string& messages) {
  Inputs& inputs = Inputs::Get();
  TempDir work;
  Arguments arguments = job.arguments(inputs, work.path());
  arguments.insert(arguments.begin(), ProgramPath("quorvane"));
  ProgramRun run = RunProgram(arguments, work.path());
  messages = WithoutTemporaryPaths(run.errors, work.path());

  Facts facts = {{"exit", std::to_string(run.exit_status)},
                 {"output", Sha256Hex(WithoutTemporaryPaths(run.output, work.path()))},
                 {"messages", Sha256Hex(messages)}};
  Facts files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(work.path())) {
    std::string name = fs::relative(entry.path(), work.path()).generic_string();
    files.emplace_back(name, entry.is_regular_file() ? Sha256Hex(ReadBytes(entry.path()))
                             : entry.is_directory()  ? "directory"
                                                     : "other");
  }
  std::sort(files.begin(), files.end());
  facts.emplace_back("files", std::to_string(files.size()));
  facts.insert(facts.end(), files.begin(), files.end());
  return facts;
}

// The table: jobs in the order of their first line, each with its facts.
struct Table {
  std::vector<std::string> order;
  std::map<std::string, Facts> jobs;
};

Table ReadTable(const std::string& path) {
  Table table;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t first = line.find(' ');
    size_t last = line.rfind(' ');
    if (first == std::string::npos || last == first) {
      ADD_FAILURE() << path << ": a line that is not <job> <what> <value>: " << line;
      continue;
    }
    std::string job = line.substr(0, first);
    if (!table.jobs.contains(job)) table.order.push_back(job);
    table.jobs[job].emplace_back(line.substr(first + 1, last - first - 1), line.substr(last + 1));
  }
  return table;
}

void WriteTable(const std::string& path, const Table& table) {
  std::ostringstream out;
  out << "# Outputs of the quorvane command, one job at a time; written by\n"
         "# tests/cli/recorded_outputs_test.cpp, which describes the lines.\n";
  for (const Job& job : AllJobs()) {
    auto found = table.jobs.find(job.name);
    if (found == table.jobs.end()) continue;
    for (const auto& [what, value] : found->second)
      out << job.name << " " << what << " " << value << "\n";
  }
  std::string text = out.str();
  WriteBytes(path,
             std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

const Table& RecordedTable() {
  static const Table table = ReadTable(QV_RECORDED_OUTPUTS_TABLE);
  return table;
}

const char* RecordingPath() {
  const char* path = std::getenv("QV_RECORD_OUTPUTS");
  return path && *path ? path : nullptr;
}

// What differs between the recorded facts of a job and the new ones, one line each.
std::string Differences(const Facts& recorded, const Facts& now) {
  std::map<std::string, std::string> before(recorded.begin(), recorded.end());
  std::map<std::string, std::string> after(now.begin(), now.end());
  std::ostringstream out;
  for (const auto& [what, value] : before) {
    auto found = after.find(what);
    bool fact = what == "exit" || what == "output" || what == "messages" || what == "files";
    if (found == after.end()) {
      out << "  " << (fact ? "" : "file ") << what << ": recorded " << value << ", now not there\n";
    } else if (found->second != value) {
      out << "  " << (fact ? "" : "file ") << what << " differs: recorded " << value << ", now "
          << found->second << "\n";
    }
  }
  for (const auto& [what, value] : after) {
    if (!before.contains(what)) out << "  file " << what << " is new: " << value << "\n";
  }
  return out.str();
}

class RecordedOutputs : public ::testing::TestWithParam<Job> {};

TEST_P(RecordedOutputs, MatchTheTable) {
  const Job& job = GetParam();
  std::string messages;
  Facts facts = RunJob(job, messages);

  if (const char* path = RecordingPath()) {
    Table table = ReadTable(path);
    table.jobs[job.name] = facts;
    WriteTable(path, table);
    // What the job said, for whoever records to look over.
    std::cout << job.name << ": exit " << facts[0].second << ", " << facts[3].second
              << " file(s) left\n"
              << messages;
    return;
  }
  auto recorded = RecordedTable().jobs.find(job.name);
  ASSERT_NE(recorded, RecordedTable().jobs.end())
      << job.name << " is not in " << QV_RECORDED_OUTPUTS_TABLE
      << "; record it with QV_RECORD_OUTPUTS";
  std::string differences = Differences(recorded->second, facts);
  EXPECT_TRUE(differences.empty()) << job.name << " wrote something else:\n"
                                   << differences << "its messages now:\n"
                                   << messages;
}

INSTANTIATE_TEST_SUITE_P(Jobs, RecordedOutputs, ::testing::ValuesIn(AllJobs()),
                         [](const ::testing::TestParamInfo<Job>& info) { return info.param.name; });

// A job that is gone from the test but still in the table is a recording that no longer
// guards anything.
TEST(RecordedOutputsTable, NamesOnlyJobsThatRun) {
  if (RecordingPath()) GTEST_SKIP() << "recording";
  std::set<std::string> known;
  for (const Job& job : AllJobs())
    known.insert(job.name);
  for (const std::string& name : RecordedTable().order) {
    EXPECT_TRUE(known.contains(name)) << name << " is recorded but no such job runs";
  }
  EXPECT_FALSE(RecordedTable().order.empty()) << QV_RECORDED_OUTPUTS_TABLE;
}

}  // namespace
}  // namespace qv::testing
