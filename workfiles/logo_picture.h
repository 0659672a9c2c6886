#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/bitmap.h"
#include "platform/result.h"
#include "workfiles/logo_kind.h"

namespace qv {

// What the kind's preview shows: the decoded JPEG or PNG picture, or the chosen bitmap file
// itself.
struct LogoPreview {
  std::optional<Bitmap> picture;
  std::string file;
  bool Loaded() const { return picture.has_value() || !file.empty(); }
};

struct PictureSize {
  int32_t width;
  int32_t height;
};

// Why a chosen picture was not taken as a logo picture.
enum class PictureRefusal {
  kNone,
  kNotJpegOrBmp,  // its name ends in none of .jpg, .bmp and .png
  kPixelDepth,    // saved, it does not have 24 bits per pixel
  kTooLarge,      // its file or its picture is larger than any logo picture
  kUnreadable,    // a PNG file that libpng cannot read whole
};

// The standard size a picture is scaled to when it is fitted rather than cut or extended.
enum class FitStandard { kPal, kNtsc };  // 720 x 576, 720 x 480

// The largest picture file and picture side a logo picture may come from. Anything larger is
// refused before it is copied or decoded.
inline constexpr int64_t kLargestPictureFile = int64_t{64} << 20;
inline constexpr uint32_t kLargestPictureSide = 16384;
// The most pixels a picture is decoded with; more are refused before any pixel memory is
// allocated.
inline constexpr uint64_t kLargestPicturePixels = uint64_t{64} << 20;

struct LogoPictureResult {
  PictureRefusal refusal = PictureRefusal::kNone;
  std::string too_large;   // for kTooLarge: what is too large
  std::string unreadable;  // for kUnreadable: why the PNG file cannot be read
  // The picture's own size, when it was cut or extended to a standard size, or scaled to fit
  // one (`fitted`, whose size is then `fitted_to`).
  std::optional<PictureSize> resized_from;
  bool fitted = false;
  PictureSize fitted_to{0, 0};
  LogoPreview preview;  // empty when nothing was loaded
  bool accepted() const { return refusal == PictureRefusal::kNone; }
};

// Builds the kind's logo picture in `working_directory` from the chosen JPEG, BMP or PNG file
// (told apart by the name's extension, in any letter case): decodes or copies it, saves it,
// checks the saved file's depth and normalises the size. A PNG of any colour type decodes to
// 24 bits, transparency composed over black (see DecodePng). The logo picture is replaced only
// by an accepted picture. A picture that cannot be read, decoded or saved raises IoError (a
// JPEG's error carries the decoder's own text); a PNG that libpng cannot read is refused as
// unreadable; a chosen file with none of the extensions is refused and nothing is loaded or
// written. With `fit`, a picture of another size than the standard one is scaled into it
// (FitPicture) instead of being cut or extended.
LogoPictureResult PrepareLogoPicture(const std::string& chosen_file, LogoKind kind,
                                     const std::string& working_directory,
                                     std::optional<FitStandard> fit = std::nullopt);

// The height a logo picture of `height` rows is brought to: 576 and 480 stay, a height above
// 528 becomes 576, any other 480.
int32_t StandardHeight(int32_t height);

// Tests the saved file's depth (the 16-bit bit count at byte offset 28 must be 24) and, when
// it passes, brings `picture` to 720 columns and 576 or 480 rows, keeping its top-left corner:
// a height above 528 becomes 576, any other off height 480. Returns the picture's former size
// when anything changed; fails, changing nothing, when the depth test fails.
[[nodiscard]] Result<std::optional<PictureSize>> CheckPicture(Bitmap& picture,
                                                              const std::string& saved_file);

}  // namespace qv
