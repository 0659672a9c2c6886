#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/outcome.h"
#include "image/flash_image.h"
#include "image/settings.h"
#include "workfiles/logo_kind.h"

// The job service: one job of the tool, from opening an image to Start. It holds the opened
// image and the user's choices, runs the workflows over them and their working files, and
// tells its front end what to show. The window (through the form model) and the command line
// drive it alike.
namespace qv {

class PartitionEdits;
struct Replacements;

// The two replacement sources besides the logos.
enum class SourceKind { kDefaultDatabase, kKey };

struct JobOptions {
  std::string working_directory;  // with its trailing separator
  std::string executable_path;    // copied beside the working files by every job reset, if set
  std::chrono::milliseconds converter_time_limit{120000};
  std::function<void()> let_events_through;  // called during long work, when set
};

enum class JobPhase {
  kReset,   // nothing open
  kOpened,  // an image is open: choices, edits and Start are possible
  kBuilt,   // Start ran to its end: the image must be opened again
};

class Job {
 public:
  explicit Job(JobOptions options);

  // Opens a flash image or download file, ending the job before it (Reset command). The image
  // is read once and held; the working files are written.
  Outcome Open(const std::string& path);
  // Chooses a picture for a logo, or the default database or key file.
  ChoiceOutcome ChooseLogo(LogoKind kind, const std::string& path);
  ChoiceOutcome ChooseSource(SourceKind kind, const std::string& path);
  // Records a setting's new text, which Start stores. Settings never edited keep the image's.
  void EditSetting(SettingKind kind, std::string text);
  // Start: writes the merged image and turns it into the download file.
  Outcome Build();
  // The job reset: every choice, edit and path forgotten, the opened image dropped, the tool's
  // own program copied beside the working files.
  void JobReset();
  // The Reset command: the working files removed, then the job reset.
  void Reset();
  // The end of the job (the Cancel command): the working files removed.
  void Cancel();
  // Deletes every working file of the job that exists, never one the user picked in this job.
  void RemoveWorkingFiles();

  // Replaces the options' hook for letting pending events through during long work.
  void LetEventsThroughWith(std::function<void()> hook) {
    options_.let_events_through = std::move(hook);
  }

  JobPhase phase() const { return phase_; }
  const JobOptions& options() const { return options_; }
  // The opened image; nothing unless opened.
  const FlashImage* image() const { return image_ ? &*image_ : nullptr; }
  bool OpenedFlashImage() const { return opened_flash_image_; }
  // The model id as its box shows it, and the image's seven HTTP settings.
  std::string ModelIdText() const;
  const HttpSettings& http_settings() const { return http_settings_; }
  bool Chosen(LogoKind kind) const { return logo_chosen_[static_cast<size_t>(kind)]; }
  bool Chosen(SourceKind kind) const { return SourceOf(kind).chosen; }
  const std::string& merged_image_path() const { return merged_image_path_; }

 private:
  struct Source {
    bool chosen = false;
    std::string path;            // what Start reads: the chosen file, or its converted image
    std::string converted_path;  // Temp_DefDldToBin.bin or Temp_KeyToBin.bin
  };
  const Source& SourceOf(SourceKind kind) const {
    return kind == SourceKind::kKey ? key_ : default_database_;
  }
  Source& SourceOf(SourceKind kind) { return kind == SourceKind::kKey ? key_ : default_database_; }
  // Every choice, edit and path forgotten, the opened image dropped.
  void ClearJob();
  void LetEventsThrough() const;
  Outcome OpenPicked(const std::string& path);
  // The steps of Start; each gives the outcome of a build it stops, or nothing to go on.
  Outcome BuildOpened();
  std::optional<std::string> InputInTheWay(const std::string& download_path) const;
  std::optional<Outcome> PlaceRegions(Replacements& replacements) const;
  std::optional<Outcome> PlaceLogos(PartitionEdits& partitions);
  std::optional<Outcome> StoreSettings(PartitionEdits& partitions);
  void WriteOpenedWorkingFiles(Outcome& outcome);
  std::string HttpCfgPath() const;
  bool Picked(const std::string& path) const;

  JobOptions options_;
  JobPhase phase_ = JobPhase::kReset;
  std::optional<FlashImage> image_;
  bool opened_flash_image_ = false;  // a flash image was opened, not a download file
  HttpSettings http_settings_;
  std::array<bool, 3> logo_chosen_ = {};
  Source default_database_;
  Source key_;
  std::array<std::optional<std::string>, kSettingCount> edits_;

  std::string merged_image_path_;
  // The files the user picked in this job (the opened file, chosen pictures and sources). They
  // are never removed as working files, whatever their names.
  std::vector<std::string> picked_files_;
  // Set when a Start of this job has written the merged image. Only then is the merged image of
  // a job opened from a download file this job's working file: a file of that name that this
  // job never wrote (the product of an earlier build of a flash image of the same name) is not
  // removed with the working files.
  bool merged_image_written_ = false;
};

}  // namespace qv
