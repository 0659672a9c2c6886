#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

// "Did you mean" for a mistyped command or option: CLI11 reports what it did not expect, and
// this names what was probably meant.
namespace qv::cli {

// The edit distance between `a` and `b` counting an insertion, a deletion, a substitution and
// the exchange of two neighbouring characters as one edit each.
size_t EditDistance(const std::string& a, const std::string& b);

// The name of `names` that `typed` most likely misspells: the nearest within one edit (two for
// names of five characters or more), else the only name it begins; nothing when none is near,
// or when `typed` has fewer than three characters after its dashes.
std::optional<std::string> NearestName(const std::string& typed,
                                       const std::vector<std::string>& names);

// After a command line `app` refused (`arguments` without the program's name): a line naming
// the first command or option it does not know, with what was probably meant, e.g.
//   quorvane: unknown command 'buidl'; did you mean 'build'?
//   quorvane: unknown option '--forse' of build; did you mean '--force'?
// Empty when every command and option is known.
std::string UnknownNameLine(const CLI::App& app, const std::vector<std::string>& arguments);

}  // namespace qv::cli
