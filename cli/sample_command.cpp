#include "cli/sample_command.h"

#include <filesystem>
#include <sstream>

#include "app/image_file.h"
#include "cli/sample_pictures.h"
#include "formatswitch/converter.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/output_files.h"
#include "sample/image_builder.h"
#include "workfiles/parameter_files.h"

namespace qv::cli {

namespace {

// The three logo stills, encoded from the sample logos as the tool's still converter
// encodes a chosen picture.
std::vector<std::vector<uint8_t>> SampleStills() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "quorvane-sample-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw IoError("I/O error: no temporary directory");
  const std::string directory = pattern;
  std::vector<std::vector<uint8_t>> stills;
  try {
    WriteWholeFile(directory + "/PAL.par", BytesOf(kPalParContent));
    for (const LogoNames& logo : kLogos) {
      SaveBitmap(DrawSampleLogo(logo.kind), directory + "/" + std::string(logo.picture));
      std::ostringstream messages;
      if (!formatswitch::ConvertPicture(std::string(logo.picture), directory, messages)) {
        throw IoError("the sample logo could not be encoded: " + messages.str());
      }
      stills.push_back(ReadWholeFile(directory + "/" + std::string(logo.still)));
    }
  } catch (...) {
    std::filesystem::remove_all(directory);
    throw;
  }
  std::filesystem::remove_all(directory);
  return stills;
}

}  // namespace

int RunSample(const std::string& out, const std::string& variant_name, bool force,
              std::ostream& report, std::ostream& errors) {
  Variant variant = variant_name == "app"   ? kAppImage
                    : variant_name == "all" ? kAllImage
                                            : kFullImage;
  sample::ImageSpec spec = sample::DefaultImageSpec(variant);
  std::vector<std::vector<uint8_t>> stills = SampleStills();
  for (sample::PartitionSpec& partition : spec.partitions) {
    for (size_t i = 0; i < kLogos.size(); ++i) {
      if (partition.name == kLogos[i].partition) partition.data = stills[i];
    }
  }
  std::vector<uint8_t> image = sample::BuildFlashImage(spec);
  bool download = IsDownloadFileName(out);
  if (download) image = sample::BuildDownload(image, sample::DownloadSpecFor(spec));
  // Written as the outputs of a build are: under a name of its own first, never through a link,
  // and over an existing file only when asked to.
  const std::filesystem::path path = std::filesystem::absolute(out);
  const std::string directory = path.parent_path().string() + "/";
  const OutputFile file{path.filename().string(), image};
  Result<void> written =
      WriteOutputFiles(directory, std::span(&file, 1),
                       force ? PendingFile::Replace::kExisting : PendingFile::Replace::kNever);
  if (!written) {
    errors << "quorvane: " << written.error().text << (force ? "" : "; --force replaces it")
           << "\n";
    return 1;
  }
  report << "wrote " << out << " (" << (download ? "download file, " : "flash image, ")
         << variant_name << " variant, " << image.size() << " bytes, with MPEG-2 logo stills)\n";
  return 0;
}

}  // namespace qv::cli
