#include "app/packing.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "app/manifest.h"
#include "app/messages.h"
#include "bintodld/converter.h"
#include "download/download_file.h"
#include "image/manufacturer_block.h"
#include "image/settings.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/output_files.h"
#include "platform/sha256.h"
#include "workfiles/header_configs.h"
#include "workfiles/header_identity.h"
#include "workfiles/logo_kind.h"
#include "workfiles/working_files.h"

namespace qv {

namespace {

// No manifest comes near this; a larger file is none.
constexpr size_t kManifestLimit = 16u << 20;
// The most of an extracted file pack reads: more than any image holds, so a file cut off
// here has changed.
constexpr size_t kFileLimit = 16u << 20;

// What a changed file of an extraction changes, through the choice Start would be given.
enum class EditKind { kLogoStill, kModelId, kHttpCfg, kDefaultDatabase, kKey };
struct Edit {
  EditKind kind;
  LogoKind logo = LogoKind::kBoot;
};

bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// A plain file, not through a link: a planted link makes no part of an image.
bool IsPlainFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::regular;
}

std::string WithSeparator(std::string directory) {
  if (directory.empty() || directory.back() != '/') directory += '/';
  return directory;
}

// A model id as a text editor leaves it: one line end after the text is not part of it.
std::string ModelIdOf(const std::vector<uint8_t>& bytes) {
  std::string text(bytes.begin(), bytes.end());
  if (text.ends_with("\r\n")) {
    text.resize(text.size() - 2);
  } else if (text.ends_with('\n')) {
    text.pop_back();
  }
  return text;
}

// The model id as its setting box and the build command's --model-id take it: one line of at
// most 20 characters. Anything else would be written as it stands, lines and all.
std::optional<std::string> ModelIdProblem(const std::string& name,
                                          const std::vector<uint8_t>& bytes) {
  const std::string model_id = ModelIdOf(bytes);
  if (model_id.find_first_of("\r\n") != std::string::npos)
    return name + " holds more than one line, and a model id is a single line";
  if (model_id.size() > kModelIdMaxLength) {
    return name + " holds " + std::to_string(model_id.size()) +
           " characters, and a model id has at most " + std::to_string(kModelIdMaxLength);
  }
  return std::nullopt;
}

// httpcfg.ini as its setting boxes and the build command's options take its values: each of
// the seven at most 255 characters.
std::optional<std::string> HttpCfgProblem(const std::string& name,
                                          const std::vector<uint8_t>& bytes) {
  const HttpSettings settings = ReadHttpSettings(std::string(bytes.begin(), bytes.end()));
  for (const HttpSettingKey& key : kHttpSettingKeys) {
    const std::string& value = settings[static_cast<size_t>(IndexOf(key.kind) - 1)];
    if (value.size() > kHttpValueMaxLength) {
      return name + " gives " + key.key + " " + std::to_string(value.size()) +
             " characters, and an HTTP setting has at most " + std::to_string(kHttpValueMaxLength);
    }
  }
  return std::nullopt;
}

class Packing {
 public:
  explicit Packing(const PackRequest& request)
      : request_(request),
        directory_(WithSeparator(std::filesystem::absolute(request.directory).string())),
        out_(std::filesystem::absolute(request.out).lexically_normal()) {}

  Outcome Run() {
    if (std::optional<std::string> problem = ReadManifestFile()) return Refused(*problem);
    if (std::optional<Outcome> refused = CheckOut()) return *refused;
    if (std::optional<std::string> problem = ReadFiles()) return Refused(*problem);
    if (std::optional<std::string> problem = FindEdits()) return Refused(*problem);
    if (std::optional<std::string> problem = FindPictures()) return Refused(*problem);
    Result<std::vector<uint8_t>> image = Reconstruct();
    if (!image) return Refused(image.error().text);
    if (edits_.empty() && pictures_.empty()) return WriteUnchanged(*image);
    return BuildChanged(std::move(*image));
  }

 private:
  Outcome Refused(const std::string& problem) const {
    return {Status::kRefused, {{MessageKind::kError, text::CannotPack(directory_, problem)}}};
  }

  std::optional<std::string> ReadManifestFile() {
    const std::string path = directory_ + kManifestName;
    if (!IsPlainFile(path))
      return std::string("it holds no ") + kManifestName + " (is it what extract wrote?)";
    std::vector<uint8_t> text = ReadFilePrefix(path, kManifestLimit + 1);
    if (text.size() > kManifestLimit) return std::string(kManifestName) + " is too large";
    Result<Manifest> manifest =
        ReadManifest(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
    if (!manifest) return manifest.error().text;
    manifest_ = std::move(*manifest);
    return std::nullopt;
  }

  // OUT is of the extracted file's kind, and no file of the extraction.
  std::optional<Outcome> CheckOut() const {
    const bool download = manifest_.kind == ImageFileKind::kDownloadFile;
    if (out_.filename().empty()) return Refused(out_.string() + " names no file");
    if (IsDownloadFileName(out_.string()) != download) {
      return Refused(std::string("it holds ") +
                     (download ? "a download file, which OUT must name with the extension .dld"
                               : "a flash image, which OUT must not name with the extension .dld"));
    }
    std::vector<std::string> names = {kManifestName};
    for (const auto& [name, digest] : manifest_.files)
      names.push_back(name);
    for (const std::string& name : names) {
      if (IsSameFile(directory_ + name, out_.string())) {
        return Outcome{Status::kRefused,
                       {{MessageKind::kError, text::InputInTheWay(directory_ + name)}}};
      }
    }
    return std::nullopt;
  }

  // Every file the manifest lists that is there, and whether it changed; a file that lays
  // bytes of the image must be there. The bytes are kept of those and of every changed file.
  std::optional<std::string> ReadFiles() {
    std::set<std::string> needed;
    for (const ManifestPart& part : manifest_.parts)
      needed.insert(part.file);
    if (manifest_.unused_file) needed.insert(*manifest_.unused_file);
    for (const auto& [name, digest] : manifest_.files) {
      const std::string path = directory_ + name;
      if (!IsPlainFile(path)) {
        if (needed.contains(name)) return name + " is missing (or not a plain file)";
        continue;
      }
      std::vector<uint8_t> bytes = ReadFilePrefix(path, kFileLimit + 1);
      const bool changed = Sha256Hex(bytes) != digest;
      if (changed) changed_.insert(name);
      if (needed.contains(name) || changed) files_[name] = std::move(bytes);
    }
    return std::nullopt;
  }

  // The files a user may change, and what each changes: the first partition of each logo,
  // "modelid" and "httpcfg" name, as Start replaces them; the default database; the key data
  // of a compressed key block, or else the key block itself.
  std::map<std::string, Edit> Editable() const {
    std::map<std::string, Edit> editable;
    auto first_partition = [&](std::string_view name, Edit edit) {
      for (const ManifestPart& part : manifest_.parts) {
        if (part.role == PartRole::kPartition && SameName(part.partition_name, name)) {
          editable.emplace(part.file, edit);
          return;
        }
      }
    };
    for (const LogoNames& logo : kLogos)
      first_partition(logo.partition, {EditKind::kLogoStill, logo.kind});
    first_partition("modelid", {EditKind::kModelId});
    first_partition("httpcfg", {EditKind::kHttpCfg});
    for (const ManifestPart& part : manifest_.parts) {
      if (part.role == PartRole::kDefaultDatabase)
        editable.emplace(part.file, Edit{EditKind::kDefaultDatabase});
      if (part.role == PartRole::kKeyBlock && !manifest_.key_compressed)
        editable.emplace(part.file, Edit{EditKind::kKey});
    }
    if (manifest_.key_compressed && manifest_.key_data_file)
      editable.emplace(*manifest_.key_data_file, Edit{EditKind::kKey});
    return editable;
  }

  std::optional<std::string> FindEdits() {
    const std::map<std::string, Edit> editable = Editable();
    for (const std::string& name : changed_) {
      if (auto found = editable.find(name); found != editable.end()) {
        std::optional<std::string> problem;
        if (found->second.kind == EditKind::kModelId)
          problem = ModelIdProblem(name, files_.at(name));
        if (found->second.kind == EditKind::kHttpCfg)
          problem = HttpCfgProblem(name, files_.at(name));
        if (problem) return problem;
        edits_.emplace(name, found->second);
        continue;
      }
      if (name.ends_with(".png")) {
        return name + " changed, but a logo's PNG is only a view of its still: give a new " +
               "picture as <logo>.jpg or <logo>.bmp, or a new still as <logo>.m2v";
      }
      for (const ManifestPart& part : manifest_.parts) {
        if (part.file == name && part.role == PartRole::kKeyBlock && manifest_.key_data_file) {
          return name + " changed, but it holds a compressed key block: change its key data, " +
                 *manifest_.key_data_file + ", instead";
        }
      }
      return name + " changed, and pack changes only a logo's .m2v, modelid, httpcfg.ini, " +
             "the default database and the key; put back the extracted " + name;
    }
    return std::nullopt;
  }

  // New pictures beside the extraction, named after their logo.
  std::optional<std::string> FindPictures() {
    for (const LogoNames& logo : kLogos) {
      std::vector<std::string> given;
      for (const char* extension : {".jpg", ".bmp"}) {
        const std::string name = std::string(logo.partition) + extension;
        if (!manifest_.files.contains(name) && FileExists(directory_ + name)) given.push_back(name);
      }
      for (const auto& [name, edit] : edits_) {
        if (edit.kind == EditKind::kLogoStill && edit.logo == logo.kind) given.push_back(name);
      }
      if (given.size() > 1) {
        return "both " + given[0] + " and " + given[1] + " give the " +
               std::string(logo.partition) + " logo; keep one";
      }
      if (!given.empty() && !edits_.contains(given[0])) pictures_.emplace(logo.kind, given[0]);
    }
    return std::nullopt;
  }

  // The image from its files: erased bytes where a changed file's part lies, which Start
  // replaces.
  Result<std::vector<uint8_t>> Reconstruct() const {
    std::vector<uint8_t> image(manifest_.image_size, 0xFF);
    for (const ManifestPart& part : manifest_.parts) {
      if (edits_.contains(part.file)) continue;
      const std::vector<uint8_t>& bytes = files_.at(part.file);
      if (bytes.size() != part.length) {
        return Fail("manifest", -1,
                    part.file + " holds " + std::to_string(bytes.size()) +
                        " bytes where the manifest places " + std::to_string(part.length));
      }
      std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<ptrdiff_t>(part.offset));
    }
    if (manifest_.unused_file) {
      const std::vector<uint8_t>& bytes = files_.at(*manifest_.unused_file);
      uint64_t total = 0;
      for (const ManifestRange& range : manifest_.unused)
        total += range.length;
      if (bytes.size() != total) {
        return Fail("manifest", -1,
                    *manifest_.unused_file + " holds " + std::to_string(bytes.size()) +
                        " bytes where the manifest places " + std::to_string(total));
      }
      auto from = bytes.begin();
      for (const ManifestRange& range : manifest_.unused) {
        std::copy_n(from, range.length, image.begin() + static_cast<ptrdiff_t>(range.offset));
        from += static_cast<ptrdiff_t>(range.length);
      }
    }
    return image;
  }

  // Nothing changed: the extracted image itself, or a download file of it.
  Outcome WriteUnchanged(const std::vector<uint8_t>& image) const {
    if (Sha256Hex(image) != manifest_.image_sha256)
      return Refused("its files no longer make the image they were taken from");
    std::vector<uint8_t> download;
    if (manifest_.kind == ImageFileKind::kDownloadFile) {
      Result<std::vector<uint8_t>> made = DownloadOf(image);
      if (!made) return Refused(made.error().text);
      download = std::move(*made);
    }
    const std::string directory = WithSeparator(out_.parent_path().string());
    const std::string name = out_.filename().string();
    PendingFile::Replace replace = request_.replace;
    if (replace == PendingFile::Replace::kNever && NameIsTaken(out_.string())) {
      if (!request_.answer ||
          !request_.answer({QuestionKind::kReplaceOutputs, text::OutputsExist({name}, directory)}))
        return {Status::kRefused, {}};
      replace = PendingFile::Replace::kExisting;
    }
    const std::vector<OutputFile> files = {
        {name, manifest_.kind == ImageFileKind::kDownloadFile ? download : image}};
    if (Result<void> written = WriteOutputFiles(directory, files, replace); !written) {
      return {Status::kRefused,
              {{MessageKind::kError, text::OutputNotWritten(written.error().text)}}};
    }
    return {Status::kDone, {{MessageKind::kInformation, text::Packed(out_.string())}}};
  }

  // The download file the converter makes of `image`, in memory, checked to hold `image`
  // again.
  Result<std::vector<uint8_t>> DownloadOf(const std::vector<uint8_t>& image) const {
    Result<FlashImage> parsed = FlashImage::Parse(image, manifest_.variant);
    if (!parsed) return tl::unexpected(parsed.error());
    if (std::optional<std::string> field = FieldTheHeaderCannotCarry(parsed->manufacturer()))
      return Fail("manufacturer", -1, "the download header cannot carry its " + *field + " whole");
    std::ostringstream trace;
    const std::optional<bintodld::DownloadBytes> download =
        bintodld::MakeDownload(ManufacturerCfgText(ManufacturerCfgLines(parsed->manufacturer())),
                               HeaderConfigFor(manifest_.variant)->text, image, trace);
    if (!download) return Fail("download", -1, "the converter made no download file of it");
    const Result<bool> holds = DownloadHoldsImage(download->bytes(), manifest_.variant, image);
    if (!holds || !*holds)
      return Fail("download", -1, "the download file made of it does not hold it again");
    return std::vector<uint8_t>(download->bytes().begin(), download->bytes().end());
  }

  // Something changed: the image opened as it was extracted and the changes chosen, as a
  // user would choose them, then Start.
  Outcome BuildChanged(std::vector<uint8_t> image) const {
    JobOptions options;
    options.answer = request_.answer;
    Job job(options);
    Outcome outcome = job.Open(ImageInMemory{.kind = manifest_.kind,
                                             .variant = manifest_.variant,
                                             .flash_bytes = std::move(image),
                                             .damage = manifest_.damage});
    if (!outcome.done()) return outcome;
    for (const auto& [name, edit] : edits_) {
      if (std::optional<Outcome> refused = Choose(job, name, edit, outcome)) {
        job.Cancel();
        return *refused;
      }
    }
    for (const auto& [logo, name] : pictures_) {
      ChoiceOutcome chosen = job.ChooseLogo(logo, directory_ + name);
      outcome.messages.insert(outcome.messages.end(), chosen.messages.begin(),
                              chosen.messages.end());
      if (!chosen.done()) {
        job.Cancel();
        return {chosen.status, outcome.messages};
      }
    }
    const bool flash = manifest_.kind == ImageFileKind::kFlashImage;
    const std::string name = out_.filename().string();
    Outcome built = job.Build(out_.parent_path().string(), {.merged_image = flash ? name : "",
                                                            .download_file = flash ? "" : name});
    job.Cancel();
    outcome.status = built.status;
    outcome.messages.insert(outcome.messages.end(), built.messages.begin(), built.messages.end());
    return outcome;
  }

  // Gives the job one changed file; the outcome of a refused choice, with `shown` before it.
  std::optional<Outcome> Choose(Job& job, const std::string& name, const Edit& edit,
                                Outcome& shown) const {
    const std::vector<uint8_t>& bytes = files_.at(name);
    ChoiceOutcome chosen;
    switch (edit.kind) {
      case EditKind::kLogoStill:
        chosen = job.ChooseStill(edit.logo, bytes);
        break;
      case EditKind::kModelId:
        job.EditSetting(SettingKind::kModelId, ModelIdOf(bytes));
        return std::nullopt;
      case EditKind::kHttpCfg:
        job.ReplaceHttpCfg(bytes);
        return std::nullopt;
      case EditKind::kDefaultDatabase:
        chosen = job.ChooseSource(SourceKind::kDefaultDatabase, directory_ + name);
        break;
      case EditKind::kKey:
        chosen = job.ChooseSource(SourceKind::kKey, directory_ + name);
        break;
    }
    shown.messages.insert(shown.messages.end(), chosen.messages.begin(), chosen.messages.end());
    if (chosen.done()) return std::nullopt;
    return Outcome{chosen.status, shown.messages};
  }

  const PackRequest& request_;
  const std::string directory_;
  const std::filesystem::path out_;
  Manifest manifest_;
  std::map<std::string, std::vector<uint8_t>> files_;  // those that lay bytes of the image
  std::set<std::string> changed_;
  std::map<std::string, Edit> edits_;
  std::map<LogoKind, std::string> pictures_;
};

}  // namespace

Outcome PackImage(const PackRequest& request) {
  try {
    return Packing(request).Run();
  } catch (const IoError& error) {
    return RunTimeError(error);
  } catch (const std::filesystem::filesystem_error& error) {
    return RunTimeError(IoError::FromErrno(error.code().value()));
  }
}

}  // namespace qv
