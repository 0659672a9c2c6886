#include "workfiles/converter_runner.h"

#include <filesystem>

#include "app/job_state.h"
#include "image/merged_image.h"
#include "platform/file.h"
#include "workfiles/working_files.h"

namespace qv {

namespace {

size_t ArgumentCountOf(const std::string& program) {
  return program == kBinToDldProgram ? 3 : 2;
}

}  // namespace

ConverterCommand ParseConverterCommand(const std::string& command) {
  std::string rest = command.rfind("/c ", 0) == 0 ? command.substr(3) : command;
  ConverterCommand parsed;
  size_t blank = rest.find(' ');
  parsed.program = rest.substr(0, blank);
  rest = blank == std::string::npos ? "" : rest.substr(blank + 1);
  const size_t count = ArgumentCountOf(parsed.program);
  while (!rest.empty()) {
    if (parsed.arguments.size() + 1 == count) {
      parsed.arguments.push_back(rest);
      break;
    }
    blank = rest.find(' ');
    parsed.arguments.push_back(rest.substr(0, blank));
    rest = blank == std::string::npos ? "" : rest.substr(blank + 1);
  }
  return parsed;
}

std::optional<Process> RunConverter(const JobState& job, const std::string& command) {
  ConverterCommand parsed = ParseConverterCommand(command);
  if (parsed.program.empty() || parsed.program.find('/') != std::string::npos) return std::nullopt;
  return Process::Start(job.working_directory + parsed.program, parsed.arguments,
                        job.working_directory);
}

PlaceResult ConvertAndPlace(JobState& job, const std::string& command,
                            const std::string& output_path, std::chrono::milliseconds limit) {
  RemoveFile(output_path);
  std::optional<Process> converter = RunConverter(job, command);
  if (!converter) return PlaceResult::kNoOutput;
  std::optional<int> status = converter->WaitFor(limit);
  if (status != 0 || !FileExists(output_path)) return PlaceResult::kNoOutput;
  int32_t size = FileSize(output_path);
  if (size <= 0) return PlaceResult::kNoOutput;

  std::string name = std::filesystem::path(output_path).filename().string();
  switch (ReplacePartition(job, output_path, static_cast<uint32_t>(size), name)) {
    case ReplaceResult::kReplaced:
    case ReplaceResult::kAppended:
      return PlaceResult::kPlaced;
    case ReplaceResult::kDoesNotFit:
      return PlaceResult::kDoesNotFit;
    case ReplaceResult::kNoRoomToAppend:
      break;
  }
  return PlaceResult::kNoRoomToAppend;
}

}  // namespace qv
