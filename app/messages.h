#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "workfiles/logo_kind.h"

// Every text the tool shows its user: titles, captions, dialog filters and the messages of
// the workflows. They are kept byte for byte as the box's users know them, odd spellings,
// spaces and punctuation included ("Faild", "overtop", "Quorvan[1.0.00]", the space before
// "!"): change none of them.
namespace qv::text {

inline constexpr char kApplicationTitle[] = "Quorvan[1.0.00]";
inline constexpr char kWindowCaption[] = "Quorvane[1.0.00] -- Mode: STi710X";
inline constexpr char kWaitBanner[] = "Create file...Please wait...";

// The open dialog, as each workflow sets it up.
inline constexpr char kOpenImageFilter[] = "Open bin file(*.bin&*.dld)|*.bin;*.dld";
inline constexpr char kOpenImageTitle[] = "Open *.bin & *.dld file";
inline constexpr char kOpenPictureFilter[] = "Open file(*.jpg&*.bmp)|*.jpg;*.bmp";
inline constexpr char kOpenPictureTitle[] = "Open *.jpg & *.bmp file";
inline constexpr char kOpenSourceFilter[] = "Open bin file(*.bin&*.dld)|*.bin;*.dld";
inline constexpr char kOpenSourceTitle[] = "Open default dbase file *.bin & *.dld file";

// Questions and the folder dialog (the window adds the question to the job's statement).
inline constexpr char kOpenAnyway[] = "Open it anyway?";
inline constexpr char kReplaceThem[] = "Replace them?";
inline constexpr char kChooseOutputFolder[] = "Choose the folder for the new files";

// Opening an image.
inline constexpr char kOpenTypeError[] = "Quorvane: Open file type error!";
inline constexpr char kDldToBinWrong[] = "Quorvane: Open File Error: dld to bin wrong!";
inline constexpr char kCreateTempFile[] = "Quorvane: Create temp file !";

// Choosing pictures and sources.
inline constexpr char kPixelDepth[] = "Quorvane: Open File Error: File pixel wrong, pixel is 24!";
inline constexpr char kPictureType[] =
    "Quorvane: Open File Error: The picture must be a *.jpg or *.bmp file!";
inline constexpr char kPartitionNumberWrong[] =
    "Quorvane: Open File Error: partition number wrong!";
inline constexpr char kFileOvertop[] = "Quorvane: Open File Error: file overtop!";

// Start.
inline constexpr char kCompressKeyFailed[] = "Quorvanex: Compress key file failed...";
inline constexpr char kTimeOut[] = "File Error: Time out!";
inline constexpr char kNoRoomForNewPartition[] = "Quorvane: The file is overflow!";
inline constexpr char kNewFileOverflow[] = "The new file is overflow!";
inline constexpr char kModelIdTooLong[] = "Quorvane: The model id does not fit its partition!";
inline constexpr char kCreateFileFailed[] = "Quorvane: Create file failed!";

// "Quorvane: Open File Error: " followed by what is wrong and a full stop: an image the
// tool refuses to open.
std::string OpenFileError(std::string_view problem);
// The conversion of a download file failed, and why.
std::string DldToBinWrong(std::string_view problem);
// A picture of W x H is cut or extended to a standard size.
std::string PictureSize(int32_t width, int32_t height);
// A chosen picture that is the kind's own logo picture in the working directory.
std::string PictureIsWorkingFile(LogoKind kind);
// The still of a logo could not be made or placed.
std::string PictureInvalid(LogoKind kind);
// An input of the build that an output would replace, or that can no longer be read.
std::string InputInTheWay(std::string_view path);
std::string SourceUnreadable(std::string_view what, std::string_view path);
std::string HttpCfgTooLarge(uint32_t limit);
std::string PartitionsDoNotFit(std::string_view problem);
// The image's checksums do not match its bytes: one part per damaged region or block.
std::string DamagedImage(const std::vector<std::string>& damage);
// Outputs of Start that exist already in the output directory.
std::string OutputsExist(const std::vector<std::string>& names, std::string_view directory);
// An identity field that manufacturer.cfg cannot carry into the download header whole.
std::string IdentityNotCarried(std::string_view field);
// Start made no output the tool would open as sound, and why.
std::string CreateFileFailed(std::string_view reason);
// A checked output that could not be put into the output directory.
std::string OutputNotWritten(std::string_view reason);
// A key block or default database (`what`) chosen for an app image, whose download file ends
// before their regions: it goes into the merged image only, or, in a job opened from a download
// file, which keeps no merged image, it would be lost.
std::string RegionOnlyInMergedImage(std::string_view what, std::string_view merged_name);
std::string RegionWouldBeLost(std::string_view what);
// A chosen picture larger than any logo.
std::string PictureTooLarge(std::string_view reason);

// Texts of this release's additions, not among the texts the box's users know: worded freely.
// The open dialog for a logo picture, PNG pictures included.
inline constexpr char kOpenLogoPictureFilter[] = "Open file(*.jpg&*.bmp&*.png)|*.jpg;*.bmp;*.png";
inline constexpr char kOpenLogoPictureTitle[] = "Open *.jpg & *.bmp & *.png file";
// A chosen PNG file that cannot be read whole, and why.
std::string PictureUnreadable(std::string_view reason);
// A picture of W x H scaled to fit the standard size NW x NH (`quorvane build --fit`).
std::string PictureFitted(int32_t width, int32_t height, int32_t new_width, int32_t new_height);
// The window's caption while the file `file_name` is open.
std::string WindowCaptionFor(std::string_view file_name);
// A logo's still, given as it is, that does not decode.
std::string StillRefused(LogoKind kind, std::string_view reason);

// The commands that look into images and take them apart.
std::string NotAnImage(std::string_view path, std::string_view reason);
std::string NamesTaken(const std::vector<std::string>& names, std::string_view directory);
std::string Extracted(size_t count, std::string_view directory);
// An extraction that pack cannot put together, and why.
std::string CannotPack(std::string_view directory, std::string_view problem);
// Pack wrote the extracted image again, unchanged.
std::string Packed(std::string_view out);

// Start made both files (a job opened from a flash image) or the download file alone.
std::string Succeeded(std::string_view merged_name, std::string_view download_name);
std::string Succeeded(std::string_view download_name);

}  // namespace qv::text
