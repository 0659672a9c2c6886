// Opening an image: the chosen flash image or download file becomes the job's working image,
// its partitions and settings are read into the job, and the working files are written.
#include <filesystem>

#include "app/form_main.h"
#include "app/remove_working_files.h"
#include "app/working_directory.h"
#include "download/download_file.h"
#include "image/manufacturer_block.h"
#include "image/partitions.h"
#include "image/settings.h"
#include "image/variant.h"
#include "platform/file.h"
#include "workfiles/working_files.h"

namespace qv {

namespace {

constexpr char kOpenFilter[] = "Open bin file(*.bin&*.dld)|*.bin;*.dld";
constexpr char kOpenTitle[] = "Open *.bin & *.dld file";
constexpr char kTypeError[] = "Quorvane: Open file type error!";
constexpr char kDldError[] = "Quorvane: Open File Error: dld to bin wrong!";

// The name without its directory, and without its extension (the last full stop and what
// follows it); empty when the name has no extension.
std::string BaseNameOf(const std::string& file_name) {
  const std::string extension = ExtensionOf(file_name);
  return extension.empty() ? std::string()
                           : file_name.substr(0, file_name.size() - extension.size());
}

}  // namespace

void TFormMain::OpenImage() {
  std::optional<std::string> chosen = ui_.ShowOpenDialog(kOpenFilter, kOpenTitle);
  if (!chosen) return;
  const std::string path = std::filesystem::absolute(*chosen).lexically_normal().string();

  // End the previous job; the file just chosen is never removed with it.
  job_.picked_files.push_back(path);
  RemoveWorkingFiles(job_);
  ResetCommand();
  job_.picked_files.push_back(path);
  ui_.ControlsChanged();

  const std::string file_name = std::filesystem::path(path).filename().string();
  E_OpenFile.SetText(file_name);
  const std::string& directory = job_.working_directory;
  job_.merged_image_path = directory + BaseNameOf(file_name) + "_Merge.bin";
  job_.converted_image_path = directory + kConvertedImage;
  job_.converted_default_path = directory + kConvertedDefault;
  job_.converted_key_path = directory + kConvertedKey;
  job_.compressed_key_path = directory + kCompressedKey;

  if (EqualsIgnoringCase(ExtensionOf(file_name), ".dld")) {
    std::optional<uint8_t> count = ReadPartitionCountByte(path);
    job_.partition_count = count.value_or(0);
    Variant variant = VariantFromPartitionCount(job_.partition_count);
    if (variant == kUnrecognised) return ShowError(kTypeError);
    ConversionResult converted = ConvertDownload(path, variant, job_.converted_image_path);
    if (!converted) return ShowError(std::string(kDldError) + "\r\r" + converted.problem + ".");
    job_.working_image_path = job_.converted_image_path;
    job_.opened_image_flag = 0;
  } else {
    Variant variant = VariantFromImageSize(FileSize(path));
    if (variant == kUnrecognised) return ShowError(kTypeError);
    job_.partition_count = PartitionCountOfVariant(variant);
    job_.working_image_path = path;
    job_.opened_image_flag = 1;
  }

  const std::string& image = job_.working_image_path;
  ReadBootArea(job_, image);
  ReadPartitionDirectory(job_, image);
  if (std::optional<std::string> problem = FindDirectoryProblem(job_, FileSize(image))) {
    // The refused job ends here, and so does the image converted from its download file: the
    // reset forgets its path, so no later removal of working files would find it.
    if (job_.opened_image_flag == 0 && !IsSameFile(image, path)) RemoveFile(image);
    ResetJobData(job_);
    job_.picked_files.push_back(path);
    return ShowError("Quorvane: Open File Error: " + *problem + ".");
  }
  ReadPartitions(job_, image);
  ui_.ProcessPendingEvents();
  ReadManufacturerBlock(job_, image);
  BuildManufacturerCfgLines(job_);

  CheckWorkingDirectory(directory);
  if (!WriteWorkingFiles(job_)) ShowInformation("Quorvane: Create temp file !");

  std::string model_id = ReadModelId(job_, image);
  E_ModeID.SetText(model_id.substr(0, model_id.find('\0')));
  ExtractHttpCfg(job_);
  LoadHttpSettings(job_);
  std::array<EditBox*, 8> boxes = SettingBoxes();
  for (int kind = 1; kind < 8; ++kind)
    boxes[kind]->SetText(job_.http_settings[kind - 1]);
  EnterOpenedState();
}

}  // namespace qv
