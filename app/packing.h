#pragma once

#include <functional>
#include <string>

#include "app/job.h"
#include "app/outcome.h"
#include "platform/pending_file.h"

// Putting an extracted image together again: unchanged, byte for byte the image it was; with
// changed logos, model id, httpcfg.ini, default database or key block, through the rules of
// Start.
namespace qv {

struct PackRequest {
  std::string directory;  // what an extraction wrote
  std::string out;        // the image to write
  PendingFile::Replace replace = PendingFile::Replace::kNever;
  // Answers the job's questions (a damaged image, an output in the way), as the build command
  // answers them from its options.
  std::function<bool(const Question&)> answer;
};

// `quorvane pack`.
Outcome PackImage(const PackRequest& request);

}  // namespace qv
