#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "image/variant.h"
#include "tests/support/temp_dir.h"

// What every hostile case checks, and the runs of the programs of this build it is made of.
// A program handed hostile input must give a clear message and exit status 1 (or a correct
// result), never a signal, a hang or a sanitizer report; it must change none of its inputs and
// leave nothing that could pass for a result.
namespace qv::testing {

struct HostileRun {
  int status = -1;               // exit status; 128 + n after signal n; -1 after the time limit
  std::string output;            // standard output and error together
  std::string sanitizer_report;  // what a sanitizer wrote, from the program or one it started
  std::string temporary_left;    // files it left in its temporary directory
};

// Runs build/bin/<program> (or the program at a path) with `arguments` in `directory` (at
// most two minutes), with a
// private temporary directory and sanitizer reports collected from every process it starts.
HostileRun RunHostile(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& directory);

// Exit status 1 with `message` in the output, and nothing worse.
::testing::AssertionResult Refused(const HostileRun& run, std::string_view message);
// Exit status 0, and nothing worse.
::testing::AssertionResult Succeeded(const HostileRun& run);

// The files of `directory` that could pass for the result of a build: download files, merged
// images and their pieces under temporary names.
std::vector<std::string> ResultLikeFiles(const std::string& directory);

// The bytes of the files a case hands a program, to show afterwards that none changed.
class InputFiles {
 public:
  void Watch(const std::string& path);
  ::testing::AssertionResult Unchanged() const;

 private:
  std::map<std::string, std::vector<uint8_t>> bytes_;
};

// A sample flash image of the variant, and its download file.
const std::vector<uint8_t>& SampleImage(Variant variant);
const std::vector<uint8_t>& SampleDownload(Variant variant);

// A fixture with a directory for the inputs, a working directory, and the usual runs.
class Hostile : public ::testing::Test {
 protected:
  Hostile();
  ~Hostile() override;

  std::string Input(const std::string& name) const { return inputs_.File(name); }
  std::string Work() const { return work_.path(); }
  // Writes an input file and watches it.
  std::string WriteInput(const std::string& name, const std::vector<uint8_t>& bytes);

  HostileRun Info(const std::string& image);
  // `quorvane build IMAGE --workdir <work> <options>`.
  HostileRun Build(const std::string& image, const std::vector<std::string>& options = {});

  // After a refused build: no result in the working directory, and no input changed.
  void ExpectNoResult();

  TempDir inputs_;
  TempDir work_;
  InputFiles watched_;
};

}  // namespace qv::testing
