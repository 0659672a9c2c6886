#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include <tl/expected.hpp>

// The one way the readers and writers report a fault in outside data (an image, a download
// file, a picture, a configuration text): a result that holds either the value or an Error,
// and that the caller must look at. IoError stays for what the file system raises.
namespace qv {

// What was wrong, and where: the field and its offset in the input, and the whole sentence a
// message shows.
struct Error {
  std::string field;    // "entry count", "second length", "sector data record", ...
  int64_t offset = -1;  // where the field lies in its input; -1 when no one place is at fault
  std::string text;     // the sentence, without a full stop at its end
};

template <typename T>
using Result = tl::expected<T, Error>;

// The failed form of any Result: `return Fail("entry count", 0x65EF00, "...");`.
inline tl::unexpected<Error> Fail(std::string field, int64_t offset, std::string text) {
  return tl::unexpected<Error>(Error{std::move(field), offset, std::move(text)});
}

}  // namespace qv
