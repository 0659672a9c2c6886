// bintodld: turns a flash image into a download file.
//   bintodld manufacturer.cfg <header cfg> <image>.bin
#include <iostream>
#include <string>
#include <vector>

#include "bintodld/converter.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  int status = qv::bintodld::RunBintodld(arguments, std::cout);
  std::cout.flush();
  return status;
}
