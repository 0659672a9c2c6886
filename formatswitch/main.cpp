// formatswitch: the still converter. "formatswitch -c boot.bmp" writes boot.m2v beside the
// picture, in the directory that holds this program.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "formatswitch/converter.h"

int main(int argc, char** argv) {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) self = std::filesystem::absolute(argv[0], error);
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return qv::formatswitch::RunFormatSwitch(arguments, self.parent_path().string(), std::cerr);
}
