#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/image_file.h"
#include "app/outcome.h"
#include "image/flash_image.h"
#include "image/settings.h"
#include "platform/bitmap.h"
#include "platform/job_directory.h"
#include "platform/pending_file.h"
#include "workfiles/logo_kind.h"
#include "workfiles/logo_picture.h"

// The job service: one job of the tool, from opening an image to Start. It holds the opened
// image and the user's choices, runs the workflows over them in a directory of the job's own,
// and tells its front end what to show. The window (through the form model) and the command
// line drive it alike.
namespace qv {

class PartitionEdits;
struct Replacements;

// The two replacement sources besides the logos.
enum class SourceKind { kDefaultDatabase, kKey };

// What a job asks its user before it goes on; the text says why.
enum class QuestionKind {
  kOpenDamagedImage,  // the image's region or block CRCs do not match its bytes
  kReplaceOutputs,    // an output of Start exists already in the output directory
};
struct Question {
  QuestionKind kind;
  std::string text;
};

struct JobOptions {
  // Where each job's own directory is made; empty: $XDG_RUNTIME_DIR, else the system's
  // temporary directory.
  std::string job_directory_parent;
  // A chosen picture of another size is scaled to the standard size keeping its aspect ratio,
  // centred on black, instead of being cut or extended with white.
  bool fit_pictures = false;
  // The standard size a fitted picture is scaled to: 720 x 576, or 720 x 480 for NTSC logos.
  // (Without fitting, the size follows each picture's own height.)
  FitStandard fit_standard = FitStandard::kPal;
  std::function<void()> let_events_through;  // called during long work, when set
  // Answers a question yes (true) or no; without it, every answer is no.
  std::function<bool(const Question&)> answer;
};

// An image already in memory, as packing an extraction opens it. Its checksums were checked
// when it was taken apart (the parts that changed since are placeholders here, which Start
// replaces): `damage` is what was found then, one entry per damaged region or block.
struct ImageInMemory {
  ImageFileKind kind;
  Variant variant;
  std::vector<uint8_t> flash_bytes;
  std::vector<std::string> damage;
};

// The names Start gives its outputs in the output directory; an empty name is not written.
struct OutputNames {
  std::string merged_image;
  std::string download_file;
};

enum class JobPhase {
  kReset,   // nothing open
  kOpened,  // an image is open: choices, edits and Start are possible
  kBuilt,   // Start ran to its end: the image must be opened again
};

class Job {
 public:
  explicit Job(JobOptions options);

  // Opens a flash image or download file, ending the job before it. The image is read once and
  // held, its checksums are checked, and the working files are written into a new directory of
  // the job's own.
  Outcome Open(const std::string& path);
  // Opens an image held in memory, ending the job before it; a damaged one is asked about as
  // opening its file would ask.
  Outcome Open(ImageInMemory image);
  // Chooses a picture for a logo, or the default database or key file.
  ChoiceOutcome ChooseLogo(LogoKind kind, const std::string& path);
  ChoiceOutcome ChooseSource(SourceKind kind, const std::string& path);
  // Chooses a logo's MPEG-2 still itself, which Start places instead of converting a picture.
  ChoiceOutcome ChooseStill(LogoKind kind, std::vector<uint8_t> still);
  // Takes `text` as the whole of httpcfg.ini, its seven settings as edits: Start writes them
  // into it and stores it, as it stores edited settings.
  void ReplaceHttpCfg(std::span<const uint8_t> text);
  // Records a setting's new text, which Start stores. Settings never edited keep the image's.
  void EditSetting(SettingKind kind, std::string text);
  // Start: builds the merged image and the download file, checks both as opening would, and
  // writes them into `output_directory`.
  Outcome Build(const std::string& output_directory);
  // Start with outputs of other names: only those named are written.
  Outcome Build(const std::string& output_directory, const OutputNames& names);
  // The job reset: every choice, edit and path forgotten, the opened image dropped.
  void JobReset();
  // The Reset command: the working files removed, then the job reset.
  void Reset();
  // The end of the job (the Cancel command, the end of a command): its directory removed.
  void Cancel();
  // Deletes the working files of the job: everything in its directory.
  void RemoveWorkingFiles();

  // Replaces the options' hooks for letting pending events through and for questions.
  void LetEventsThroughWith(std::function<void()> hook) {
    options_.let_events_through = std::move(hook);
  }
  void AnswerWith(std::function<bool(const Question&)> answer) {
    options_.answer = std::move(answer);
  }

  JobPhase phase() const { return phase_; }
  const JobOptions& options() const { return options_; }
  // The opened image; nothing unless opened.
  const FlashImage* image() const { return image_ ? &*image_ : nullptr; }
  bool OpenedFlashImage() const { return opened_flash_image_; }
  // The opened file as it was chosen, made absolute.
  const std::string& opened_path() const { return opened_path_; }
  // The job's own directory, with its trailing separator; empty when no image is open.
  std::string working_directory() const { return directory_ ? directory_->path() : ""; }
  // The model id as its box shows it, and the image's seven HTTP settings.
  std::string ModelIdText() const;
  const HttpSettings& http_settings() const { return http_settings_; }
  bool Chosen(LogoKind kind) const { return logo_chosen_[static_cast<size_t>(kind)]; }
  bool Chosen(SourceKind kind) const { return SourceOf(kind).chosen; }
  // The logo the opened image itself carries for `kind` (the still of the first partition
  // that a picture chosen for it replaces), decoded when asked for; nothing when no image is
  // open, the image has no such partition, or its still does not decode.
  std::optional<Bitmap> ImageLogo(LogoKind kind) const;
  // The names Start gives its outputs: "<base>_Merge.bin" (kept for a flash image only) and
  // "<base>_Merge.dld".
  const std::string& merged_name() const { return merged_name_; }
  std::string download_name() const;

 private:
  struct Source {
    bool chosen = false;
    std::string path;  // what Start reads: the chosen file, or its converted image
  };
  const Source& SourceOf(SourceKind kind) const {
    return kind == SourceKind::kKey ? key_ : default_database_;
  }
  Source& SourceOf(SourceKind kind) { return kind == SourceKind::kKey ? key_ : default_database_; }
  // Every choice, edit and path forgotten, the opened image dropped, the job's directory gone.
  void ClearJob();
  bool Ask(QuestionKind kind, std::string text) const;
  void LetEventsThrough() const;
  Outcome OpenPicked(const std::string& path);
  Outcome OpenParsed(FlashImage image, bool flash_image, const std::vector<std::string>& damage);
  void WriteOpenedWorkingFiles(Outcome& outcome);
  std::string HttpCfgPath() const;
  std::string ConvertedPath(SourceKind kind) const;
  // The steps of Start; each gives the outcome of a build it stops, or nothing to go on.
  Outcome BuildOpened(const std::string& output_directory, const OutputNames& names);
  // How the outputs may be put in place: where none exists, or over the existing ones when the
  // user says so; nothing when the user says no.
  std::optional<PendingFile::Replace> OutputMode(const std::string& output_directory,
                                                 const OutputNames& names) const;
  std::optional<Outcome> PlaceRegions(Replacements& replacements) const;
  std::optional<Outcome> PlaceLogos(PartitionEdits& partitions);
  std::optional<Outcome> StoreSettings(PartitionEdits& partitions);
  Outcome WriteOutputs(const std::string& output_directory, const OutputNames& names,
                       std::span<const uint8_t> merged, std::span<const uint8_t> download,
                       PendingFile::Replace replace);

  JobOptions options_;
  JobPhase phase_ = JobPhase::kReset;
  std::optional<JobDirectory> directory_;
  std::optional<FlashImage> image_;
  bool opened_flash_image_ = false;  // a flash image was opened, not a download file
  std::string opened_path_;
  std::string merged_name_;
  HttpSettings http_settings_;
  std::array<bool, 3> logo_chosen_ = {};
  std::array<std::optional<std::vector<uint8_t>>, 3> chosen_stills_;  // placed as they are
  Source default_database_;
  Source key_;
  std::array<std::optional<std::string>, kSettingCount> edits_;
  // The files the user picked in this job (the opened file, chosen pictures and sources): no
  // output of the job may replace one.
  std::vector<std::string> picked_files_;
};

}  // namespace qv
