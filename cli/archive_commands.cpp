#include "cli/archive_commands.h"

#include <filesystem>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "app/extraction.h"
#include "app/image_diff.h"
#include "app/messages.h"
#include "app/packing.h"
#include "cli/message_lines.h"
#include "platform/hex.h"
#include "platform/io_error.h"

namespace qv::cli {

namespace {

struct ExtractOptions {
  std::string image, directory;
  bool force = false;
  bool quiet = false;
};

struct PackOptions {
  std::string directory, out;
  bool force = false;
  bool allow_bad_checksums = false;
  bool quiet = false;
};

struct DiffOptions {
  std::string a, b;
  bool json = false;
};

int RunExtract(const ExtractOptions& options) {
  MessageLines lines(std::cerr, options.quiet);
  return lines.Report(ExtractImage(
             options.image, options.directory,
             options.force ? PendingFile::Replace::kExisting : PendingFile::Replace::kNever))
             ? 0
             : 1;
}

int RunPack(const PackOptions& options) {
  PackRequest request;
  request.directory = options.directory;
  request.out = options.out;
  request.replace = options.force ? PendingFile::Replace::kExisting : PendingFile::Replace::kNever;
  MessageLines lines(std::cerr, options.quiet);
  request.answer = [&options, &lines](const Question& question) {
    return lines.Answer(question, options.allow_bad_checksums, options.force);
  };
  return lines.Report(PackImage(request)) ? 0 : 1;
}

const char* ChangeName(PartChange change) {
  switch (change) {
    case PartChange::kUnchanged:
      return "unchanged";
    case PartChange::kChanged:
      return "changed";
    case PartChange::kAdded:
      return "added";
    case PartChange::kRemoved:
      break;
  }
  return "removed";
}

std::string LengthAndCrc(const std::optional<uint32_t>& length,
                         const std::optional<uint32_t>& crc) {
  return length ? Hex(*length) + " bytes, crc " + Hex(*crc, 8) : std::string("-");
}

void PrintDifference(const ImageDifference& difference, std::ostream& out) {
  for (const PartitionDifference& partition : difference.partitions) {
    out << "partition " << PrintableText(partition.name) << ": " << ChangeName(partition.change);
    if (partition.change == PartChange::kChanged) {
      out << " (" << LengthAndCrc(partition.old_length, partition.old_crc) << " -> "
          << LengthAndCrc(partition.new_length, partition.new_crc) << ")";
    } else if (partition.change == PartChange::kAdded) {
      out << " (" << LengthAndCrc(partition.new_length, partition.new_crc) << ")";
    } else if (partition.change == PartChange::kRemoved) {
      out << " (" << LengthAndCrc(partition.old_length, partition.old_crc) << ")";
    }
    out << "\n";
  }
  for (const TextDifference& text : difference.texts) {
    out << text.what << ": \"" << PrintableText(text.old_text) << "\" -> \""
        << PrintableText(text.new_text) << "\"\n";
  }
  if (difference.region_count_differs) out << "region count differs\n";
  for (const RegionDifference& region : difference.regions) {
    out << "region " << region.index << ": "
        << (region.old_record.empty() ? "-" : region.old_record) << " -> "
        << (region.new_record.empty() ? "-" : region.new_record) << "\n";
  }
  for (const AreaDifference& area : difference.areas) {
    out << area.name << ": changed (" << Hex(area.length) << " bytes at file offset "
        << Hex(area.offset) << ", crc " << Hex(area.old_crc, 8) << " -> " << Hex(area.new_crc, 8)
        << ")\n";
  }
  if (difference.other_bytes_differ_at) {
    out << "other bytes: the images first differ at file offset "
        << Hex(*difference.other_bytes_differ_at) << "\n";
  }
  out << (difference.Equal() ? "the images are equal\n" : "the images differ\n");
}

void PrintDifferenceJson(const ImageDifference& difference, std::ostream& out) {
  using nlohmann::json;
  json partitions = json::array();
  for (const PartitionDifference& partition : difference.partitions) {
    json described = {{"name", partition.name}, {"change", ChangeName(partition.change)}};
    if (partition.old_length) {
      described["old"] = {{"length", *partition.old_length}, {"crc", *partition.old_crc}};
    }
    if (partition.new_length) {
      described["new"] = {{"length", *partition.new_length}, {"crc", *partition.new_crc}};
    }
    partitions.push_back(described);
  }
  json texts = json::array();
  for (const TextDifference& text : difference.texts)
    texts.push_back({{"what", text.what}, {"old", text.old_text}, {"new", text.new_text}});
  json regions = json::array();
  for (const RegionDifference& region : difference.regions) {
    regions.push_back(
        {{"index", region.index}, {"old", region.old_record}, {"new", region.new_record}});
  }
  json areas = json::array();
  for (const AreaDifference& area : difference.areas) {
    areas.push_back({{"name", area.name},
                     {"offset", area.offset},
                     {"length", area.length},
                     {"old_crc", area.old_crc},
                     {"new_crc", area.new_crc}});
  }
  json document = {
      {"equal", difference.Equal()},
      {"variant", static_cast<int>(difference.variant)},
      {"partitions", partitions},
      {"texts", texts},
      {"region_count_differs", difference.region_count_differs},
      {"regions", regions},
      {"areas", areas},
      {"other_bytes_differ_at",
       difference.other_bytes_differ_at ? json(*difference.other_bytes_differ_at) : json()}};
  out << document.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

// 0 when the images are equal, 1 when they differ, 2 when they cannot be compared.
int RunDiff(const DiffOptions& options) {
  std::vector<LoadedImage> images;
  for (const std::string* path : {&options.a, &options.b}) {
    try {
      Result<LoadedImage> loaded = LoadImage(*path);
      if (!loaded) {
        std::cerr << "quorvane: " << *path
                  << " is not an image this tool handles: " << loaded.error().text << "\n";
        return 2;
      }
      images.push_back(std::move(*loaded));
    } catch (const IoError& error) {
      std::cerr << "quorvane: " << *path << ": " << error.what() << "\n";
      return 2;
    }
  }
  Result<ImageDifference> difference = CompareImages(images[0].image, images[1].image);
  if (!difference) {
    std::cerr << "quorvane: " << difference.error().text << "\n";
    return 2;
  }
  if (options.json) {
    PrintDifferenceJson(*difference, std::cout);
  } else {
    PrintDifference(*difference, std::cout);
  }
  return difference->Equal() ? 0 : 1;
}

}  // namespace

void AddArchiveCommands(CLI::App& app, std::function<int()>& run) {
  auto extract_options = std::make_shared<ExtractOptions>();
  CLI::App* extract = app.add_subcommand(
      "extract",
      "Take an image apart: every partition, logo picture, region and the identity as "
      "files, with a manifest.json of the layout and the SHA-256 of every file");
  extract->add_option("IMAGE", extract_options->image, "flash image (.bin) or download file (.dld)")
      ->required();
  extract
      ->add_option("DIR", extract_options->directory, "directory for the files (made when missing)")
      ->required();
  extract->add_flag("--force", extract_options->force, "replace files of the same names in DIR");
  extract->add_flag("--quiet,-q", extract_options->quiet,
                    "print no information messages (errors are still printed)");
  extract->footer(
      "Exit status: 0 when every file was written; 1 when IMAGE is not an image the tool handles\n"
      "(or its directory is unsafe), DIR holds files of the same names (without --force) or a\n"
      "file cannot be written, in which case none is; 2 for a usage error.");
  extract->callback([&run, extract_options] {
    run = [extract_options] { return RunExtract(*extract_options); };
  });

  auto pack_options = std::make_shared<PackOptions>();
  CLI::App* pack = app.add_subcommand(
      "pack", "Put an extracted image together again, with the changes made to its files");
  pack->add_option("DIR", pack_options->directory, "directory an extraction wrote")->required();
  pack->add_option("OUT", pack_options->out,
                   "the image to write: a flash image when the extracted file was one, a "
                   "download file when it was a download file")
      ->required();
  pack->add_flag("--force", pack_options->force, "replace OUT when it exists");
  pack->add_flag("--allow-bad-checksums", pack_options->allow_bad_checksums,
                 "pack an image whose checksums did not match it when it was extracted");
  pack->add_flag("--quiet,-q", pack_options->quiet,
                 "print no information messages (errors are still printed)");
  pack->footer(
      "Files that may change: a logo's .m2v (or a new picture <logo>.jpg or <logo>.bmp beside\n"
      "it), modelid, httpcfg.ini, default-database.bin and the key (key.bin of a compressed key\n"
      "block, key-block.bin otherwise); the changes go through the rules of Start. Unchanged,\n"
      "OUT is the extracted image byte for byte (for a download file: a download file of that\n"
      "image).\n"
      "Exit status: 0 when OUT was written; 1 when DIR is no sound extraction, a file changed\n"
      "that cannot, a change is refused as Start refuses it, or OUT exists (without --force);\n"
      "2 for a usage error.");
  pack->callback([&run, pack_options] { run = [pack_options] { return RunPack(*pack_options); }; });

  auto diff_options = std::make_shared<DiffOptions>();
  CLI::App* diff = app.add_subcommand(
      "diff", "Show what differs between two images of one variant (.bin or .dld in any mix)");
  diff->add_option("A", diff_options->a, "the first image")->required();
  diff->add_option("B", diff_options->b, "the second image")->required();
  diff->add_flag("--json", diff_options->json, "print one JSON object");
  diff->footer(
      "Exit status: 0 when the images are equal; 1 when they differ; 2 for a usage error or an\n"
      "image that cannot be compared (not an image the tool handles, another variant).");
  diff->callback([&run, diff_options] { run = [diff_options] { return RunDiff(*diff_options); }; });
}

}  // namespace qv::cli
