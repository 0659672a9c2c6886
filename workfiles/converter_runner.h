#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"

// Running the two converter programs of the working-file set. A converter command is a text of
// the form "/c <program> <arguments>" ("/c formatswitch.exe -c boot.bmp"); it is turned into
// an argument list by fixed rules and the program is started directly from the working
// directory, never through a command interpreter.
namespace qv {

struct ConverterCommand {
  std::string program;  // a file name in the working directory
  std::vector<std::string> arguments;
};

// Splits a command: "/c " comes off, the first word is the program, and the rest is split at
// blanks into at most as many arguments as the program takes (two for formatswitch.exe,
// three for bintodld.exe, whose last argument, the image's name, may hold blanks).
ConverterCommand ParseConverterCommand(const std::string& command);

// Starts the command's program in `working_directory` (with its trailing separator). Nothing
// when it cannot start.
std::optional<Process> RunConverter(const std::string& working_directory,
                                    const std::string& command);

// Runs a converter command, waits for the program to end (ended by force after `limit`), and
// reads the file it was to make at `output_path`, at most `max_bytes` of it. An output left
// from an earlier run is removed first, so only what this run wrote can be taken. Nothing when
// the program did not start, failed, ran past its time, or made no output or an empty one.
std::optional<std::vector<uint8_t>> ConvertAndRead(const std::string& working_directory,
                                                   const std::string& command,
                                                   const std::string& output_path,
                                                   std::chrono::milliseconds limit,
                                                   size_t max_bytes);

}  // namespace qv
