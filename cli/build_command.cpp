#include "cli/build_command.h"

#include <filesystem>
#include <ostream>

#include "app/job.h"
#include "platform/io_error.h"

namespace qv::cli {

namespace {

// The name as given, made absolute: "link/.." is left for the system to resolve.
std::string Absolute(const std::string& path) {
  return std::filesystem::absolute(path).string();
}

// A message box as one line: "<caption>: <text>", carriage returns inside the text printed as
// line breaks.
void Print(std::ostream& out, const Message& message) {
  std::string shown = message.text;
  for (char& c : shown) {
    if (c == '\r') c = '\n';
  }
  out << CaptionOf(message.kind) << ": " << shown << std::endl;
}

// Prints what a workflow reports; true when it did what was asked.
bool Report(std::ostream& out, const Outcome& outcome) {
  for (const Message& message : outcome.messages)
    Print(out, message);
  return outcome.done();
}

// The choices in the order boot, menu, radio, default database, key; a refused choice stops
// the command before Start.
bool MakeChoices(Job& job, const BuildOptions& options, std::ostream& out) {
  const std::array<std::pair<const std::optional<std::string>*, LogoKind>, 3> logos = {
      {{&options.boot, LogoKind::kBoot},
       {&options.menu, LogoKind::kMenu},
       {&options.radio, LogoKind::kRadio}}};
  for (const auto& [chosen, kind] : logos) {
    if (*chosen && !Report(out, job.ChooseLogo(kind, Absolute(**chosen)))) return false;
  }
  const std::array<std::pair<const std::optional<std::string>*, SourceKind>, 2> sources = {
      {{&options.default_database, SourceKind::kDefaultDatabase},
       {&options.key, SourceKind::kKey}}};
  for (const auto& [chosen, kind] : sources) {
    if (*chosen && !Report(out, job.ChooseSource(kind, Absolute(**chosen)))) return false;
  }
  return true;
}

// The command's answers: what its options say, with the job's reason printed either way.
bool Answer(const BuildOptions& options, const Question& question, std::ostream& out) {
  const bool yes = question.kind == QuestionKind::kOpenDamagedImage ? options.allow_bad_checksums
                                                                    : options.force;
  const char* consequence =
      question.kind == QuestionKind::kOpenDamagedImage
          ? (yes ? "opened all the same (--allow-bad-checksums)"
                 : "not opened; --allow-bad-checksums opens it all the same")
          : (yes ? "replaced (--force)" : "not replaced; --force replaces them");
  Print(out, {yes ? MessageKind::kInformation : MessageKind::kError,
              question.text + "\r" + consequence});
  return yes;
}

}  // namespace

int RunBuild(const BuildOptions& options, std::ostream& messages) {
  std::string directory =
      Absolute(options.output_directory.empty() ? "." : options.output_directory);
  try {
    std::filesystem::create_directories(directory);
  } catch (const std::filesystem::filesystem_error& error) {
    Print(messages, {MessageKind::kRunTimeError, IoError::FromErrno(error.code().value()).what()});
    return 1;
  }
  if (directory.back() != '/') directory += '/';

  JobOptions job_options;
  job_options.answer = [&](const Question& question) {
    return Answer(options, question, messages);
  };
  Job job(job_options);
  // The command ends as the window's Cancel does: whatever it stops at, the working files go,
  // and so does the merged image of a job opened from a download file.
  struct CancelAtEnd {
    Job& job;
    ~CancelAtEnd() { job.Cancel(); }
  } cancel_at_end{job};

  job.JobReset();
  if (!Report(messages, job.Open(Absolute(options.image)))) return 1;
  if (!MakeChoices(job, options, messages)) return 1;
  for (size_t i = 0; i < options.settings.size(); ++i) {
    if (options.settings[i]) job.EditSetting(kSettingKinds[i], *options.settings[i]);
  }
  return Report(messages, job.Build(directory)) ? 0 : 1;
}

}  // namespace qv::cli
