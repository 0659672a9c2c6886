// quorvane: the command line of the Quorvane firmware tool. It drives the same job service as
// the window, printing every message box as one line.
#include <CLI/CLI.hpp>

#include <exception>
#include <functional>
#include <iostream>
#include <new>

#include "app/messages.h"
#include "cli/archive_commands.h"
#include "cli/build_command.h"
#include "cli/help_format.h"
#include "cli/image_info.h"
#include "cli/sample_command.h"
#include "cli/suggestions.h"
#include "cli/verify_command.h"
#include "image/settings.h"
#include "platform/io_error.h"
#include "platform/job_directory.h"
#include "platform/memory.h"

namespace {

int RunInfo(const std::string& path, bool json) {
  qv::Result<qv::cli::ImageInfo> info = qv::cli::GatherImageInfo(path);
  if (!info) {
    std::cerr << "quorvane: " << path << " is not an image this tool handles: " << info.error().text
              << "\n";
    return 1;
  }
  if (json) {
    qv::cli::PrintImageInfoJson(*info, std::cout);
  } else {
    qv::cli::PrintImageInfo(*info, std::cout);
  }
  return info->problem || info->damaged ? 1 : 0;
}

// A setting as its box accepts it: one line, at most `limit` characters.
CLI::Validator SettingText(size_t limit) {
  return CLI::Validator(
      [limit](std::string& value) -> std::string {
        if (value.find_first_of("\r\n") != std::string::npos) return "a setting is a single line";
        if (value.size() > limit) return "at most " + std::to_string(limit) + " characters";
        return {};
      },
      "TEXT (at most " + std::to_string(limit) + " characters)");
}

}  // namespace

int main(int argc, char** argv) {
  qv::RemoveJobDirectoriesOnSignal();
  qv::ReturnLargeBlocksWhenFreed();
  CLI::App app{"Quorvane: customises the firmware of STi710X set-top boxes.", "quorvane"};
  app.formatter(std::make_shared<qv::cli::HelpFormatter>());
  app.set_help_flag("-h,--help", "print this help and exit");
  app.require_subcommand(1);
  app.footer(
      "Each command's --help names its arguments and options and gives its exit statuses.\n"
      "\n"
      "Exit status: 0 when the command did what was asked; 1 when it could not (the reason\n"
      "on standard error) or found damage or a difference (info, verify, diff); 2 for a\n"
      "usage error: an unknown command or option, a missing or wrong argument.");
  app.set_version_flag("--version", std::string("quorvane ") + QUORVANE_VERSION,
                       "print the program's version and exit");

  qv::cli::BuildOptions build_options;
  CLI::App* build = app.add_subcommand("build",
                                       "Open an image, replace logos, database and key, edit "
                                       "settings, and write the merged image and download file");
  build
      ->add_option("IMAGE", build_options.image,
                   "flash image (.bin) or download file (.dld) to customise")
      ->required();
  build->add_option("--output-dir,--workdir", build_options.output_directory,
                    "directory for the outputs <name>_Merge.dld and, for a flash image, "
                    "<name>_Merge.bin (created when missing; default: the current directory). "
                    "Working files never go there: each job has a private directory of its own");
  build->add_flag("--force", build_options.force, "replace outputs that exist already");
  build->add_flag("--allow-bad-checksums", build_options.allow_bad_checksums,
                  "open an image whose region or block CRCs do not match its bytes");
  build->add_flag("--json", build_options.json,
                  "print what was written as one JSON object: {\"written\", \"merged_image\", "
                  "\"download_file\" (absolute paths, or null), \"messages\": [{\"kind\", "
                  "\"caption\", \"text\"}]}, also when nothing was written");
  build->add_flag("--quiet,-q", build_options.quiet,
                  "print no information messages (errors are still printed)");
  build->footer(
      "The absolute path of each output written is printed on standard output, one a line (the\n"
      "merged image first); the messages go to standard error as \"<caption>: <text>\".\n"
      "\n"
      "Exit status: 0 when both outputs (the download file alone for a download file) were made,\n"
      "checked as opening them would check them, and written; 1 when a workflow stopped on an\n"
      "error, an output exists already (without --force), the image's checksums do not match\n"
      "(without --allow-bad-checksums) or Start made no sound output; 2 for a usage error.");
  build->add_option("--boot", build_options.boot, "boot logo picture (.jpg, .bmp or .png)");
  build->add_option("--menu", build_options.menu, "menu logo picture (.jpg, .bmp or .png)");
  build->add_option("--radio", build_options.radio, "radio logo picture (.jpg, .bmp or .png)");
  CLI::Option* fit = build->add_flag(
      "--fit", build_options.fit,
      "scale a logo picture of another size to 720 x 576, keeping its aspect ratio, centred on "
      "black (instead of cutting it or extending it with white from its top-left corner)");
  build->add_flag("--ntsc", build_options.ntsc, "with --fit: scale to 720 x 480 instead")
      ->needs(fit);
  build->add_option("--default-db", build_options.default_database,
                    "default channel database (262,144-byte .bin, or .dld of 4 sectors)");
  build->add_option("--key", build_options.key,
                    "key block (65,536-byte .bin, or .dld of 1 sector)");
  const std::array<std::pair<const char*, const char*>, 8> settings = {{
      {"--model-id", "model id"},
      {"--http-manual-addr", "httpManualAddr: manual HTTP update address"},
      {"--http-auto-addr", "httpAutoAddr: automatic HTTP update address"},
      {"--auto-app", "AutoApp: file name of the automatic app download"},
      {"--auto-all", "AutoAll: file name of the automatic all download"},
      {"--auto-data", "AutoData: file name of the automatic data download"},
      {"--auto-default", "AutoDefault: file name of the automatic default database download"},
      {"--auto-key", "AutoKey: file name of the automatic key download"},
  }};
  for (size_t kind = 0; kind < settings.size(); ++kind) {
    build->add_option(settings[kind].first, build_options.settings[kind], settings[kind].second)
        ->check(SettingText(kind == 0 ? qv::kModelIdMaxLength : qv::kHttpValueMaxLength));
  }

  std::string info_path;
  bool info_json = false;
  CLI::App* info =
      app.add_subcommand("info", "Show what an image holds (reads only; writes nothing)");
  info->add_option("IMAGE", info_path, "flash image (.bin) or download file (.dld)")->required();
  info->add_flag("--json", info_json, "print one JSON object");
  info->footer(
      "Exit status: 0 when the image was shown and is sound; 1 when the file is not an image\n"
      "the tool handles, its partition directory is unsafe to work with, or a region CRC or the\n"
      "block CRC does not match its bytes (all shown as far as they can be); 2 for a usage error.");

  std::string verify_path;
  bool verify_json = false;
  CLI::App* verify = app.add_subcommand(
      "verify",
      "Run every check the tool knows on an image, one line each with its verdict: ok, damaged "
      "or note (reads only; writes nothing)");
  verify->add_option("IMAGE", verify_path, "flash image (.bin) or download file (.dld)")
      ->required();
  verify->add_flag("--json", verify_json,
                   "print one JSON object: the file, whether it is sound, the counts, and the "
                   "checks with name, verdict and detail");
  verify->footer(
      "Checks, in order: the file's kind and variant; for a download file each record (type,\n"
      "length, CRC), the end of its record stream, data after it, sector pairs beyond the\n"
      "variant, sectors that decompress past their sector or the image, the header's total\n"
      "size; the partition directory; each partition's place; each region CRC and the block\n"
      "CRC; the boot, menu and radio stills; httpcfg.ini and its seven keys; the model id; the\n"
      "key block's flag and, when it is 1, its compressed stream.\n"
      "\n"
      "Exit status: 0 when no check found damage (notes, such as a region outside the image or\n"
      "a missing setting, are not damage); 1 when a check found damage, the file is not an\n"
      "image the tool handles, or it cannot be read; 2 for a usage error.");

  std::string sample_out;
  std::string sample_variant = "all";
  CLI::App* sample =
      app.add_subcommand("sample", "Write a synthetic, self-consistent image to try the tool on");
  sample->add_option("OUT", sample_out, "output file; a download file when it ends in .dld")
      ->required();
  sample->add_option("--variant", sample_variant, "app, all or full")
      ->check(CLI::IsMember({"app", "all", "full"}))
      ->capture_default_str();
  bool sample_force = false;
  sample->add_flag("--force", sample_force, "replace OUT when it exists");
  bool sample_quiet = false;
  sample->add_flag("--quiet,-q", sample_quiet,
                   "print nothing when OUT was written (errors are still printed)");
  sample->footer(
      "Exit status: 0 when OUT was written; 1 when it exists already (without --force) or\n"
      "cannot be written; 2 for a usage error.");

  // extract, pack and diff set the command to run when they are given.
  std::function<int()> run;
  qv::cli::AddArchiveCommands(app, run);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (app.exit(error) == 0) return 0;
    std::cerr << qv::cli::UnknownNameLine(app, std::vector<std::string>(argv + 1, argv + argc));
    return 2;
  }

  try {
    if (*build) return qv::cli::RunBuild(build_options, std::cout, std::cerr);
    if (*info) return RunInfo(info_path, info_json);
    if (*verify) return qv::cli::RunVerify(verify_path, verify_json, std::cout);
    if (*sample) {
      std::ostream nowhere(nullptr);  // --quiet: the report of what was written goes nowhere
      return qv::cli::RunSample(sample_out, sample_variant, sample_force,
                                sample_quiet ? nowhere : std::cout, std::cerr);
    }
    if (run) return run();
  } catch (const qv::IoError& error) {
    std::cerr << qv::text::kApplicationTitle << ": " << error.what() << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    std::cerr << qv::text::kApplicationTitle << ": Out of memory\n";
    return 1;
  } catch (const std::exception& error) {
    // Anything else the system reports (a current directory that is gone, say) ends the
    // command with its text, like a run-time error, instead of aborting it.
    std::cerr << qv::text::kApplicationTitle << ": " << error.what() << "\n";
    return 1;
  }
  return 2;
}
