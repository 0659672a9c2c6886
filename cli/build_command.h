#pragma once

#include <array>
#include <optional>
#include <string>

namespace qv::cli {

struct BuildOptions {
  std::string image;
  std::string working_directory;  // empty: the current directory
  std::optional<std::string> boot, menu, radio, default_database, key;
  // The texts of the eight setting boxes, model id first: given ones are typed in.
  std::array<std::optional<std::string>, 8> settings;
};

// Opens the image, makes the given choices, types the given settings and presses Start, as a
// user of the window would. 0 when Start reported success; 1 when a workflow stopped on an
// error (messages go to `messages`).
int RunBuild(const BuildOptions& options, std::ostream& messages);

}  // namespace qv::cli
