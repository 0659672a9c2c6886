// quorvane: the command line of the Quorvane firmware tool.
#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/image_info.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "tests/support/image_builder.h"

namespace {

int RunInfo(const std::string& path) {
  std::string error;
  std::optional<qv::cli::ImageInfo> info = qv::cli::GatherImageInfo(path, error);
  if (!info) {
    std::cerr << "quorvane: " << path << " is not an image this tool handles: " << error << "\n";
    return 1;
  }
  qv::cli::PrintImageInfo(*info, std::cout);
  return info->problem ? 1 : 0;
}

int RunSample(const std::string& out, const std::string& variant_name) {
  qv::Variant variant = variant_name == "app"   ? qv::kAppImage
                        : variant_name == "all" ? qv::kAllImage
                                                : qv::kFullImage;
  qv::testing::ImageSpec spec = qv::testing::DefaultImageSpec(variant);
  std::vector<uint8_t> image = qv::testing::BuildFlashImage(spec);
  bool download = out.size() >= 4 && qv::EqualsIgnoringCase(out.substr(out.size() - 4), ".dld");
  if (download) image = qv::testing::BuildDownload(image, qv::testing::DownloadSpecFor(spec));
  qv::WriteFileAtomically(out, image);
  std::cout << "wrote " << out << " (" << (download ? "download file, " : "flash image, ")
            << variant_name << " variant, " << image.size() << " bytes)\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Quorvane: customises the firmware of STi710X set-top boxes."};
  app.require_subcommand(1);

  std::string info_path;
  CLI::App* info = app.add_subcommand(
      "info", "Show the variant, partition directory and manufacturer block of an image");
  info->add_option("IMAGE", info_path, "flash image (.bin) or download file (.dld)")->required();

  std::string sample_out;
  std::string sample_variant = "all";
  CLI::App* sample =
      app.add_subcommand("sample", "Write a synthetic, self-consistent image to try the tool on");
  sample->add_option("OUT", sample_out, "output file; a download file when it ends in .dld")
      ->required();
  sample->add_option("--variant", sample_variant, "app, all or full")
      ->check(CLI::IsMember({"app", "all", "full"}))
      ->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : 2;
  }

  try {
    if (*info) return RunInfo(info_path);
    if (*sample) return RunSample(sample_out, sample_variant);
  } catch (const qv::IoError& error) {
    std::cerr << "quorvane: " << error.what() << "\n";
    return 1;
  }
  return 2;
}
