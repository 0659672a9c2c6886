#pragma once

#include <string>
#include <vector>

// What `quorvane verify` finds in an image file: every check the tool knows of a flash image or
// a download file, one after the other, each with its verdict. It reads the file and writes
// nothing.
namespace qv {

enum class Verdict {
  kOk,       // the check found what a sound image holds
  kDamaged,  // the check found damage: the image is not fit to be used or built from
  kNote,     // worth knowing, not damage (a region outside the image, a missing setting, ...)
};

// "ok", "damaged", "note".
const char* VerdictName(Verdict verdict);

struct VerifyCheck {
  std::string name;    // what was checked: "file", "sector 5 data record", "region 2", ...
  Verdict verdict;     //
  std::string detail;  // what the check found, without a full stop
};

struct VerifyReport {
  std::string path;
  std::vector<VerifyCheck> checks;

  // Some check found damage.
  bool Damaged() const;
  int Count(Verdict verdict) const;
};

// Reads the image file at `path` and checks, in this order: the file's kind and variant; for
// a download file every record (type, length, CRC), where its record stream ends, what follows
// it, sector pairs past the variant's, sectors whose data decompresses past their sector or the
// image, and the header's total size, and then whether it converts into an image; the partition
// directory's safety; each partition inside the partition space and its class's capacity, over
// no other; each region record's CRC and the block CRC; each logo partition an MPEG-2 still;
// httpcfg.ini with its seven keys; the model id in printable ASCII; and the key block's flag
// and, when it is 1, its stream. A file of no image variant gets the first check alone, a
// download file that does not convert no check of its image, and an image whose directory is
// unsafe no check of what its partitions hold (a note says so). Raises IoError when the file
// cannot be read.
VerifyReport VerifyImageFile(const std::string& path);

}  // namespace qv
