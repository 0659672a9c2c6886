// Choosing what Start puts into the merged image: the three logos, the default database and
// the key block. Choosing only checks and records; nothing is written into an image here.
#include <filesystem>

#include "app/form_main.h"
#include "download/download_file.h"
#include "image/variant.h"
#include "platform/file.h"
#include "workfiles/logo_picture.h"

namespace qv {

namespace {

constexpr char kPictureFilter[] = "Open file(*.jpg&*.bmp)|*.jpg;*.bmp";
constexpr char kPictureTitle[] = "Open *.jpg & *.bmp file";
constexpr char kSourceFilter[] = "Open bin file(*.bin&*.dld)|*.bin;*.dld";
constexpr char kSourceTitle[] = "Open default dbase file *.bin & *.dld file";

std::string Absolute(const std::string& path) {
  return std::filesystem::absolute(path).lexically_normal().string();
}

}  // namespace

void TFormMain::ChooseLogo(int kind_index) {
  std::optional<std::string> chosen = ui_.ShowOpenDialog(kPictureFilter, kPictureTitle);
  if (!chosen) return;
  const std::string path = Absolute(*chosen);
  const LogoKind kind = static_cast<LogoKind>(kind_index);
  EditBox& box = *std::array{&E_Boot, &E_Menu, &E_Radio}[kind_index];
  Preview& preview = *std::array{&I_Boot, &I_Menu, &I_Radio}[kind_index];

  // The logo picture is written over the kind's working file; a picture chosen from that
  // very file would be overwritten by its own converted form.
  if (IsSameFile(path, job_.working_directory + std::string(LogoPictureName(kind)))) {
    return ShowError("Quorvane: Open File Error: " + std::string(LogoPictureName(kind)) +
                     " is the tool's own working file; choose a picture from another directory!");
  }
  job_.picked_files.push_back(path);
  LogoPictureResult result = PrepareLogoPicture(path, kind, job_.working_directory);
  if (result.preview.picture || !result.preview.file.empty()) preview.picture_path = path;
  ui_.ControlsChanged();
  for (const LogoMessage& message : result.messages) {
    ui_.ShowMessage(
        message.kind == LogoMessage::Kind::kError ? MessageKind::kError : MessageKind::kInformation,
        message.text);
  }
  if (!result.accepted) return;
  job_.choice_flags[kBootChosen + kind_index] = 1;
  job_.logo_commands[kind_index] = std::string(ConverterCommand(kind));
  box.SetText(path);
}

void TFormMain::ChooseDefaultOrKey(bool key) {
  std::optional<std::string> chosen = ui_.ShowOpenDialog(kSourceFilter, kSourceTitle);
  if (!chosen) return;
  const std::string path = Absolute(*chosen);
  EditBox& box = key ? E_Key : E_Default;
  const uint8_t required_count = key ? 1 : 4;
  const int32_t required_size = key ? 0x10000 : 0x40000;
  box.SetText(path);
  job_.picked_files.push_back(path);

  std::string source = path;
  if (EqualsIgnoringCase(ExtensionOf(path), ".dld")) {
    std::optional<uint8_t> count = ReadPartitionCountByte(path);
    if (count != required_count) {
      box.SetText("");
      return ShowError("Quorvane: Open File Error: partition number wrong!");
    }
    source = key ? job_.converted_key_path : job_.converted_default_path;
    // Converted beside the image of an earlier accepted choice, which it replaces only when the
    // conversion succeeds: a rejected download must not leave erased bytes where that choice's
    // key or database was, for Start to write into the box.
    const std::string candidate = source + ".new";
    ConversionResult converted =
        ConvertDownload(path, key ? kKeyDownload : kDefaultDownload, candidate);
    if (!converted) {
      RemoveFile(candidate);
      return ShowError("Quorvane: Open File Error: dld to bin wrong!\r\r" + converted.problem +
                       ".");
    }
    ReplaceFile(candidate, source);
  } else if (FileSize(path) != required_size) {
    return ShowError("Quorvane: Open File Error: file overtop!");
  }
  job_.choice_flags[key ? kKeyChosen : kDefaultChosen] = 1;
  (key ? job_.key_source_path : job_.default_source_path) = source;
}

}  // namespace qv
