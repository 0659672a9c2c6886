#pragma once

#include <ostream>
#include <string>

namespace qv::cli {

// Writes a synthetic, self-consistent image of the variant ("app", "all" or "full") to `out`:
// a download file when the name ends in .dld, a flash image otherwise. A file of that name is
// replaced only with `force`. 0 when written, 1 (with the reason on `errors`) when not.
int RunSample(const std::string& out, const std::string& variant_name, bool force,
              std::ostream& report, std::ostream& errors);

}  // namespace qv::cli
