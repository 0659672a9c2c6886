#include "workfiles/converter_runner.h"

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

}  // namespace qv
