#include "cli/build_command.h"

#include <filesystem>
#include <ostream>

#include "app/job.h"
#include "cli/message_lines.h"
#include "platform/io_error.h"

namespace qv::cli {

namespace {

// The name as given, made absolute: "link/.." is left for the system to resolve.
std::string Absolute(const std::string& path) {
  return std::filesystem::absolute(path).string();
}

// The choices in the order boot, menu, radio, default database, key; a refused choice stops
// the command before Start.
bool MakeChoices(Job& job, const BuildOptions& options, std::ostream& out) {
  const std::array<std::pair<const std::optional<std::string>*, LogoKind>, 3> logos = {
      {{&options.boot, LogoKind::kBoot},
       {&options.menu, LogoKind::kMenu},
       {&options.radio, LogoKind::kRadio}}};
  for (const auto& [chosen, kind] : logos) {
    if (*chosen && !ReportOutcome(out, job.ChooseLogo(kind, Absolute(**chosen)))) return false;
  }
  const std::array<std::pair<const std::optional<std::string>*, SourceKind>, 2> sources = {
      {{&options.default_database, SourceKind::kDefaultDatabase},
       {&options.key, SourceKind::kKey}}};
  for (const auto& [chosen, kind] : sources) {
    if (*chosen && !ReportOutcome(out, job.ChooseSource(kind, Absolute(**chosen)))) return false;
  }
  return true;
}

}  // namespace

int RunBuild(const BuildOptions& options, std::ostream& messages) {
  std::string directory =
      Absolute(options.output_directory.empty() ? "." : options.output_directory);
  try {
    std::filesystem::create_directories(directory);
  } catch (const std::filesystem::filesystem_error& error) {
    PrintMessage(messages,
                 {MessageKind::kRunTimeError, IoError::FromErrno(error.code().value()).what()});
    return 1;
  }
  if (directory.back() != '/') directory += '/';

  JobOptions job_options;
  job_options.fit_pictures = options.fit;
  job_options.fit_standard = options.ntsc ? FitStandard::kNtsc : FitStandard::kPal;
  job_options.answer = [&](const Question& question) {
    return AnswerFromOptions(question, options.allow_bad_checksums, options.force, messages);
  };
  Job job(job_options);
  // The command ends as the window's Cancel does: whatever it stops at, the working files go,
  // and so does the merged image of a job opened from a download file.
  struct CancelAtEnd {
    Job& job;
    ~CancelAtEnd() { job.Cancel(); }
  } cancel_at_end{job};

  job.JobReset();
  if (!ReportOutcome(messages, job.Open(Absolute(options.image)))) return 1;
  if (!MakeChoices(job, options, messages)) return 1;
  for (size_t i = 0; i < options.settings.size(); ++i) {
    if (options.settings[i]) job.EditSetting(kSettingKinds[i], *options.settings[i]);
  }
  return ReportOutcome(messages, job.Build(directory)) ? 0 : 1;
}

}  // namespace qv::cli
