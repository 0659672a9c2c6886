#pragma once

#include <array>
#include <iosfwd>
#include <optional>
#include <string>

namespace qv::cli {

struct BuildOptions {
  std::string image;
  std::string working_directory;  // empty: the current directory
  std::optional<std::string> boot, menu, radio, default_database, key;
  // The eight settings, model id first: given ones are stored by Start.
  std::array<std::optional<std::string>, 8> settings;
};

// Opens the image, makes the given choices, edits the given settings and runs Start, as a user
// of the window would, printing every message as "<caption>: <text>" to `messages`. 0 when
// Start made its outputs; 1 when a workflow stopped or Start made no download file.
int RunBuild(const BuildOptions& options, std::ostream& messages);

}  // namespace qv::cli
