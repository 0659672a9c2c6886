// formatswitch: the still converter. "formatswitch -c boot.bmp" writes boot.m2v beside the
// picture, in the directory that holds this program.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "formatswitch/converter.h"

namespace {

// What --help prints. Every other argument list goes to the converter as it stands, so its
// messages and exit statuses stay those of the converter.
constexpr char kHelp[] =
    "Usage: formatswitch -c PICTURE.bmp [PICTURE.bmp...]\n"
    "  or:  formatswitch -c PICTURE.bmp -o OUT\n"
    "  or:  formatswitch --help | --version\n"
    "Encodes each 24-bit 720 x 576 (PAL) or 720 x 480 (NTSC) Windows bitmap into an MPEG-2\n"
    "still PICTURE.m2v beside it: one intra-coded picture (ISO/IEC 13818-2, Main profile at\n"
    "Main level, 4:2:0, interlaced) of at most 30,592 bytes.\n"
    "\n"
    "A relative PICTURE is looked up in the directory that holds this program and, when it\n"
    "is not there, in the current directory; names match whatever their letter case. The\n"
    "encoder's settings come from PAL.par (576 rows) or NTSC.par (480 rows) beside the\n"
    "program; when there is none, from the built-in PAL.par or NTSC.par, which are the files\n"
    "the tool writes there.\n"
    "\n"
    "Options:\n"
    "  -c PICTURE.bmp  the pictures to encode\n"
    "  -o OUT          write the still of the one picture to OUT instead of PICTURE.m2v\n"
    "  -h, --help      print this help and exit\n"
    "      --version   print the program's version and exit\n"
    "\n"
    "The still is written under a temporary name and renamed into place.\n"
    "\n"
    "Exit status:\n"
    "  0  every picture was encoded\n"
    "  1  a picture was not (the reason on standard error, e.g. \"Error: bitmap size error!\")\n"
    "  2  a command line the program does not understand\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
    std::cout << kHelp << std::flush;
    return 0;
  }
  if (arguments.size() == 1 && arguments[0] == "--version") {
    std::cout << "formatswitch " QUORVANE_VERSION "\n" << std::flush;
    return 0;
  }
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) self = std::filesystem::absolute(argv[0], error);
  return qv::formatswitch::RunFormatSwitch(arguments, self.parent_path().string(), std::cerr);
}
