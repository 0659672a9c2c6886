#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "workfiles/logo_kind.h"

namespace qv {

// A message box the front end shows while a logo picture is prepared.
struct LogoMessage {
  enum class Kind { kInformation, kError };
  Kind kind;
  std::string text;
};

// What the kind's preview shows: the decoded JPEG picture, or the chosen bitmap file itself.
struct LogoPreview {
  std::optional<Bitmap> picture;
  std::string file;
};

struct LogoPictureResult {
  bool accepted = false;              // the caller records the choice only when true
  std::vector<LogoMessage> messages;  // to show in this order
  LogoPreview preview;                // empty when nothing was loaded
};

inline constexpr std::string_view kPixelDepthMessage =
    "Quorvane: Open File Error: File pixel wrong, pixel is 24!";
inline constexpr std::string_view kPictureTypeMessage =
    "Quorvane: Open File Error: The picture must be a *.jpg or *.bmp file!";

// The information text shown when a picture of W x H is cut or extended to a standard size.
std::string PictureSizeMessage(int32_t width, int32_t height);

// Builds the kind's logo picture in `working_directory` from the chosen JPEG or BMP file:
// decodes or copies it, saves it, checks the saved file's depth and normalises the size. The
// logo picture is replaced only by an accepted picture. A picture that cannot be read,
// decoded or saved raises IoError (a JPEG's error carries the decoder's own text); a chosen
// file with neither extension is refused with kPictureTypeMessage and nothing is loaded or
// written.
LogoPictureResult PrepareLogoPicture(const std::string& chosen_file, LogoKind kind,
                                     const std::string& working_directory);

// Tests the saved file's depth (the 16-bit bit count at byte offset 28 must be 24) and, when
// it passes, brings `picture` to 720 columns and 576 or 480 rows, keeping its top-left corner:
// a height above 528 becomes 576, any other off height 480. Appends the size message when
// anything changed. Returns false, changing nothing, when the depth test fails.
bool CheckPicture(Bitmap& picture, const std::string& saved_file,
                  std::vector<LogoMessage>& messages);

}  // namespace qv
