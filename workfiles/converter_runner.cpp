#include "workfiles/converter_runner.h"

#include "platform/file.h"
#include "platform/io_error.h"
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

std::optional<Process> RunConverter(const std::string& working_directory,
                                    const std::string& command) {
  ConverterCommand parsed = ParseConverterCommand(command);
  if (parsed.program.empty() || parsed.program.find('/') != std::string::npos) return std::nullopt;
  return Process::Start(working_directory + parsed.program, parsed.arguments, working_directory);
}

std::optional<std::vector<uint8_t>> ConvertAndRead(const std::string& working_directory,
                                                   const std::string& command,
                                                   const std::string& output_path,
                                                   std::chrono::milliseconds limit,
                                                   size_t max_bytes) {
  RemoveFile(output_path);
  std::optional<Process> converter = RunConverter(working_directory, command);
  if (!converter) return std::nullopt;
  std::optional<int> status = converter->WaitFor(limit);
  if (status != 0 || !FileExists(output_path)) return std::nullopt;
  std::vector<uint8_t> output = ReadFilePrefix(output_path, max_bytes);
  if (output.empty()) return std::nullopt;
  return output;
}

}  // namespace qv
