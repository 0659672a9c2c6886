#pragma once

#include <ostream>
#include <string>

#include "app/verify.h"

// `quorvane verify`: the checks of an image file printed one line each, or as one JSON object.
namespace qv::cli {

// "ok       file: download file, all image (variant 6, 130 sectors), 3170338 bytes", one line
// per check, then a line with the counts.
void PrintVerifyReport(const VerifyReport& report, std::ostream& out);

// {"file": ..., "sound": ..., "counts": {"ok": ..., "damaged": ..., "note": ...},
//  "checks": [{"name": ..., "verdict": ..., "detail": ...}, ...]}
void PrintVerifyReportJson(const VerifyReport& report, std::ostream& out);

// Checks the image at `path` and prints the report. Returns the exit status: 0 when the image
// is sound, 1 when a check found damage. IoError passes through.
int RunVerify(const std::string& path, bool json, std::ostream& out);

}  // namespace qv::cli
