#pragma once

#include <array>
#include <iosfwd>
#include <optional>
#include <string>

namespace qv::cli {

struct BuildOptions {
  std::string image;
  std::string output_directory;      // empty: the current directory
  bool force = false;                // replace outputs that exist already
  bool allow_bad_checksums = false;  // open an image whose checksums do not match
  bool fit = false;                  // scale chosen pictures of another size to the standard size
  bool ntsc = false;                 // with `fit`: to 720 x 480 rather than 720 x 576
  bool json = false;                 // what was written as one JSON object
  bool quiet = false;                // no information messages of what went well
  std::optional<std::string> boot, menu, radio, default_database, key;
  // The eight settings, model id first: given ones are stored by Start.
  std::array<std::optional<std::string>, 8> settings;
};

// Opens the image, makes the given choices, edits the given settings and runs Start, as a user
// of the window would, printing every message as "<caption>: <text>" to `messages`. The outputs
// go into the output directory (made when missing). `out` gets the absolute path of each output
// written, one a line (the merged image first), or with `json` one object:
//   {"written": bool, "merged_image": path or null, "download_file": path or null,
//    "messages": [{"kind", "caption", "text"}, ...]}
// (the messages as printed, those that `quiet` leaves out included). 0 when Start wrote its
// outputs; 1 when a workflow stopped, Start made no sound download file, an output exists
// already (without `force`) or the image's checksums do not match (without
// `allow_bad_checksums`).
int RunBuild(const BuildOptions& options, std::ostream& out, std::ostream& messages);

}  // namespace qv::cli
