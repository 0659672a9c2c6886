#pragma once

#include <string>
#include <vector>

// The commands of the two converters of the working-file set. A converter command is a text
// of the form "/c <program> <arguments>" ("/c formatswitch.exe -c boot.bmp"); it is turned
// into an argument list by fixed rules.
namespace qv {

struct ConverterCommand {
  std::string program;  // a file name in the working directory
  std::vector<std::string> arguments;
};

// Splits a command: "/c " comes off, the first word is the program, and the rest is split at
// blanks into at most as many arguments as the program takes (two for formatswitch.exe,
// three for bintodld.exe, whose last argument, the image's name, may hold blanks).
ConverterCommand ParseConverterCommand(const std::string& command);

}  // namespace qv
