#pragma once

#include <ostream>

namespace qv::bintodld {

// Writes a printf-style message to `out`: the converter's trace and the parser's warnings.
void Print(std::ostream& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace qv::bintodld
