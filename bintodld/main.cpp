// bintodld: turns a flash image into a download file.
//   bintodld manufacturer.cfg <header cfg> <image>.bin
#include <iostream>
#include <string>
#include <vector>

#include "bintodld/converter.h"

namespace {

// What --help prints. Every other argument list goes to the converter as it stands, so its
// messages ("Wrong format!" for a wrong count) and exit statuses stay those of the converter.
constexpr char kHelp[] =
    "Usage: bintodld manufacturer.cfg CONFIG IMAGE.bin\n"
    "  or:  bintodld --help | --version\n"
    "Turns the flash image IMAGE.bin into a download file beside it, named after the image\n"
    "with its last three characters replaced by \"dld\" (IMAGE.dld), and prints a trace of\n"
    "its work on standard output.\n"
    "\n"
    "Arguments:\n"
    "  manufacturer.cfg  the box's identity: the download header fields and the sectors\n"
    "                    (the tool writes it from the image's manufacturer block)\n"
    "  CONFIG            the download header configuration of the image's variant:\n"
    "                    app_710X.cfg, all_710X.cfg or flash_710X.cfg\n"
    "  IMAGE.bin         the flash image; each sector is compressed with LZO1X-1\n"
    "\n"
    "Options:\n"
    "  -h, --help        print this help and exit\n"
    "      --version     print the program's version and exit\n"
    "\n"
    "The download file is written under a temporary name and renamed only when it is\n"
    "complete.\n"
    "\n"
    "Exit status:\n"
    "  0  the download file is complete\n"
    "  1  any failure (another argument count, an input that cannot be opened, an output that\n"
    "     cannot be created, an image shorter than its sectors, a configuration beyond the\n"
    "     converter's limits); no download file is left\n";

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
    std::cout << kHelp << std::flush;
    return 0;
  }
  if (arguments.size() == 1 && arguments[0] == "--version") {
    std::cout << "bintodld " QUORVANE_VERSION "\n" << std::flush;
    return 0;
  }
  int status = qv::bintodld::RunBintodld(arguments, std::cout);
  std::cout.flush();
  return status;
}
