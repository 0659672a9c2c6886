#include "tests/hostile/hostile_support.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/file.h"
#include "platform/process.h"
#include "tests/support/run_program.h"
#include "tests/support/test_images.h"

namespace qv::testing {

namespace {

namespace fs = std::filesystem;

// Sets environment variables for the programs started while it lives.
class ScopedEnvironment {
 public:
  void Set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first, it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first);
      }
    }
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

std::string WithOption(const char* variable, const std::string& option) {
  const char* old = std::getenv(variable);
  return old && *old ? std::string(old) + ":" + option : option;
}

std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

::testing::AssertionResult Clean(const HostileRun& run) {
  if (run.status == -1)
    return ::testing::AssertionFailure() << "ran past its time limit:\n" << run.output;
  if (run.status >= 128) {
    return ::testing::AssertionFailure() << "ended by signal " << run.status - 128 << ":\n"
                                         << run.output;
  }
  if (!run.sanitizer_report.empty()) {
    return ::testing::AssertionFailure() << "sanitizer report:\n"
                                         << run.sanitizer_report << "\noutput:\n"
                                         << run.output;
  }
  if (!run.temporary_left.empty()) {
    return ::testing::AssertionFailure()
           << "left in its temporary directory: " << run.temporary_left;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

HostileRun RunHostile(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& directory) {
  TempDir scratch;
  const std::string temporary = scratch.File("tmp");
  fs::create_directory(temporary);
  const std::string reports = scratch.File("sanitizer");
  HostileRun run;
  {
    ScopedEnvironment environment;
    environment.Set("TMPDIR", temporary);
    environment.Set("ASAN_OPTIONS", WithOption("ASAN_OPTIONS", "log_path=" + reports));
    environment.Set("UBSAN_OPTIONS", WithOption("UBSAN_OPTIONS", "log_path=" + reports));
    const std::string path =
        program.find('/') == std::string::npos ? ProgramPath(program) : program;
    const std::string output = scratch.File("output");  // standard output and error together
    std::optional<Process> process = Process::Start(path, arguments, directory, output, output);
    if (!process) {
      run.output = "could not start " + path;
      return run;
    }
    run.status = process->WaitFor(std::chrono::minutes(2)).value_or(-1);
  }
  run.output = Text(ReadWholeFile(scratch.File("output")));
  for (const auto& entry : fs::directory_iterator(scratch.path())) {
    if (entry.path().filename().string().starts_with("sanitizer"))
      run.sanitizer_report += Text(ReadWholeFile(entry.path().string()));
  }
  for (const auto& entry : fs::directory_iterator(temporary)) {
    run.temporary_left += entry.path().filename().string() + " ";
  }
  return run;
}

::testing::AssertionResult Refused(const HostileRun& run, std::string_view message) {
  if (::testing::AssertionResult clean = Clean(run); !clean) return clean;
  if (run.status != 1) {
    return ::testing::AssertionFailure() << "exit status " << run.status << " instead of 1:\n"
                                         << run.output;
  }
  if (run.output.find(message) == std::string::npos) {
    return ::testing::AssertionFailure() << "no \"" << message << "\" in:\n" << run.output;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult Succeeded(const HostileRun& run) {
  if (::testing::AssertionResult clean = Clean(run); !clean) return clean;
  if (run.status != 0) {
    return ::testing::AssertionFailure() << "exit status " << run.status << ":\n" << run.output;
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> ResultLikeFiles(const std::string& directory) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(directory, error)) {
    std::string name = entry.path().filename().string();
    if (name.ends_with(".dld") || name.ends_with("_Merge.bin") ||
        name.find(".part") != std::string::npos || name.starts_with("Temp_")) {
      found.push_back(name);
    }
  }
  return found;
}

void InputFiles::Watch(const std::string& path) {
  bytes_[path] = ReadWholeFile(path);
}

::testing::AssertionResult InputFiles::Unchanged() const {
  for (const auto& [path, bytes] : bytes_) {
    if (!FileExists(path)) return ::testing::AssertionFailure() << path << " is gone";
    if (ReadWholeFile(path) != bytes)
      return ::testing::AssertionFailure() << path << " was changed";
  }
  return ::testing::AssertionSuccess();
}

const std::vector<uint8_t>& SampleImage(Variant variant) {
  static std::map<Variant, std::vector<uint8_t>> images;
  std::vector<uint8_t>& image = images[variant];
  if (image.empty()) image = sample::BuildFlashImage(sample::DefaultImageSpec(variant));
  return image;
}

const std::vector<uint8_t>& SampleDownload(Variant variant) {
  static std::map<Variant, std::vector<uint8_t>> downloads;
  std::vector<uint8_t>& download = downloads[variant];
  if (download.empty())
    download = sample::BuildDownload(SampleImage(variant),
                                     sample::DownloadSpecFor(sample::DefaultImageSpec(variant)));
  return download;
}

Hostile::Hostile() = default;
Hostile::~Hostile() = default;

std::string Hostile::WriteInput(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = Input(name);
  WriteWholeFile(path, bytes);
  watched_.Watch(path);
  return path;
}

HostileRun Hostile::Info(const std::string& image) {
  return RunHostile("quorvane", {"info", image}, Work());
}

HostileRun Hostile::Build(const std::string& image, const std::vector<std::string>& options) {
  std::vector<std::string> arguments = {"build", image, "--workdir", Work()};
  arguments.insert(arguments.end(), options.begin(), options.end());
  return RunHostile("quorvane", arguments, Work());
}

void Hostile::ExpectNoResult() {
  EXPECT_EQ(ResultLikeFiles(Work()), std::vector<std::string>{});
  EXPECT_TRUE(watched_.Unchanged());
}

}  // namespace qv::testing
