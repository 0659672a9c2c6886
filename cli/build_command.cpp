#include "cli/build_command.h"

#include <filesystem>
#include <ostream>

#include <nlohmann/json.hpp>

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
bool MakeChoices(Job& job, const BuildOptions& options, MessageLines& out) {
  const std::array<std::pair<const std::optional<std::string>*, LogoKind>, 3> logos = {
      {{&options.boot, LogoKind::kBoot},
       {&options.menu, LogoKind::kMenu},
       {&options.radio, LogoKind::kRadio}}};
  for (const auto& [chosen, kind] : logos) {
    if (*chosen && !out.Report(job.ChooseLogo(kind, Absolute(**chosen)), **chosen)) return false;
  }
  const std::array<std::pair<const std::optional<std::string>*, SourceKind>, 2> sources = {
      {{&options.default_database, SourceKind::kDefaultDatabase},
       {&options.key, SourceKind::kKey}}};
  for (const auto& [chosen, kind] : sources) {
    if (*chosen && !out.Report(job.ChooseSource(kind, Absolute(**chosen)), **chosen)) return false;
  }
  return true;
}

// The paths of the outputs a build wrote; none when it wrote nothing.
struct Written {
  std::optional<std::string> merged_image, download_file;
};

// `directory` (absolute, ending in '/') without its "." components, for the paths printed:
// ".." is kept, since it may follow a link.
std::string Printable(const std::string& directory) {
  std::filesystem::path printable;
  for (const std::filesystem::path& part : std::filesystem::path(directory)) {
    if (part != "." && !part.empty()) printable /= part;
  }
  std::string text = printable.string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

Written Build(const BuildOptions& options, MessageLines& lines) {
  std::string directory =
      Absolute(options.output_directory.empty() ? "." : options.output_directory);
  try {
    std::filesystem::create_directories(directory);
  } catch (const std::filesystem::filesystem_error& error) {
    lines.Print({MessageKind::kRunTimeError, IoError::FromErrno(error.code().value()).what()});
    return {};
  }
  if (directory.back() != '/') directory += '/';

  JobOptions job_options;
  job_options.fit_pictures = options.fit;
  job_options.fit_standard = options.ntsc ? FitStandard::kNtsc : FitStandard::kPal;
  job_options.answer = [&](const Question& question) {
    return lines.Answer(question, options.allow_bad_checksums, options.force);
  };
  Job job(job_options);
  // The command ends as the window's Cancel does: whatever it stops at, the working files go,
  // and so does the merged image of a job opened from a download file.
  struct CancelAtEnd {
    Job& job;
    ~CancelAtEnd() { job.Cancel(); }
  } cancel_at_end{job};

  job.JobReset();
  if (!lines.Report(job.Open(Absolute(options.image)), options.image)) return {};
  if (!MakeChoices(job, options, lines)) return {};
  for (size_t i = 0; i < options.settings.size(); ++i) {
    if (options.settings[i]) job.EditSetting(kSettingKinds[i], *options.settings[i]);
  }
  // The names Start gives its outputs; a job opened from a download file keeps no merged image.
  const std::string printable = Printable(directory);
  Written written;
  if (job.OpenedFlashImage()) written.merged_image = printable + job.merged_name();
  written.download_file = printable + job.download_name();
  if (!lines.Report(job.Build(directory))) return {};
  return written;
}

void PrintJson(const Written& written, const std::vector<Message>& messages, std::ostream& out) {
  using nlohmann::json;
  auto path = [](const std::optional<std::string>& p) { return p ? json(*p) : json(); };
  json shown = json::array();
  for (const Message& message : messages) {
    shown.push_back({{"kind", KindName(message.kind)},
                     {"caption", CaptionOf(message.kind)},
                     {"text", message.text}});
  }
  json document = {{"written", written.download_file.has_value()},
                   {"merged_image", path(written.merged_image)},
                   {"download_file", path(written.download_file)},
                   {"messages", shown}};
  out << document.dump(2, ' ', false, json::error_handler_t::replace) << std::endl;
}

}  // namespace

int RunBuild(const BuildOptions& options, std::ostream& out, std::ostream& messages) {
  MessageLines lines(messages, options.quiet);
  const Written written = Build(options, lines);
  if (options.json) {
    PrintJson(written, lines.messages(), out);
  } else {
    for (const std::optional<std::string>& path : {written.merged_image, written.download_file}) {
      if (path) out << *path << "\n";
    }
    out.flush();
  }
  return written.download_file ? 0 : 1;
}

}  // namespace qv::cli
