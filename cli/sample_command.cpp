#include "cli/sample_command.h"

#include "image/partition_directory.h"
#include "platform/file.h"
#include "tests/support/image_builder.h"

namespace qv::cli {

int RunSample(const std::string& out, const std::string& variant_name, std::ostream& report) {
  Variant variant = variant_name == "app" ? kAppImage : variant_name == "all" ? kAllImage : kFullImage;
  testing::ImageSpec spec = testing::DefaultImageSpec(variant);
  std::vector<uint8_t> image = testing::BuildFlashImage(spec);
  bool download = out.size() >= 4 && EqualsIgnoringCase(out.substr(out.size() - 4), ".dld");
  if (download) image = testing::BuildDownload(image, testing::DownloadSpecFor(spec));
  WriteFileAtomically(out, image);
  report << "wrote " << out << " (" << (download ? "download file, " : "flash image, ") << variant_name
         << " variant, " << image.size() << " bytes)\n";
  return 0;
}

}  // namespace qv::cli
