#pragma once

#include <ostream>
#include <string>

namespace qv::cli {

// Writes a synthetic, self-consistent image of the variant ("app", "all" or "full") to `out`:
// a download file when the name ends in .dld, a flash image otherwise.
int RunSample(const std::string& out, const std::string& variant_name, std::ostream& report);

}  // namespace qv::cli
