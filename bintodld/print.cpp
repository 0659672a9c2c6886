#include "bintodld/print.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace qv::bintodld {

void Print(std::ostream& out, const char* format, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  out.write(text, std::min<std::streamsize>(length, static_cast<std::streamsize>(sizeof text - 1)));
}

}  // namespace qv::bintodld
