#include "cli/build_command.h"

#include <filesystem>
#include <ostream>

#include "app/form_main.h"
#include "app/remove_working_files.h"
#include "cli/scripted_ui.h"
#include "platform/io_error.h"

namespace qv::cli {

namespace {

std::string Absolute(const std::string& path) {
  return std::filesystem::absolute(path).lexically_normal().string();
}

}  // namespace

int RunBuild(const BuildOptions& options, std::ostream& messages) {
  std::string directory =
      Absolute(options.working_directory.empty() ? "." : options.working_directory);
  ScriptedUi ui(messages);
  try {
    std::filesystem::create_directories(directory);
  } catch (const std::filesystem::filesystem_error& error) {
    ui.ShowRunTimeError(IoError::FromErrno(error.code().value()).what());
    return 1;
  }
  if (directory.back() != '/') directory += '/';

  auto job = std::make_unique<JobState>();
  TFormMain form(ui, *job, FormOptions{directory, "", 120000});
  // The command ends as the window's Cancel does: whatever it stops at, the working files go,
  // and so does the merged image of a job opened from a download file.
  struct RemoveAtEnd {
    JobState& job;
    ~RemoveAtEnd() { RemoveWorkingFiles(job); }
  } remove_at_end{*job};
  try {
    form.FormCreate(nullptr);
    ui.QueueDialogAnswer(Absolute(options.image));
    form.SB_OpenFileClick(&form.SB_OpenFile);
    if (!form.SB_Start.enabled) return 1;

    // The choices in the order boot, menu, radio, default database, key; a refused choice
    // stops the command before Start.
    const std::array<std::pair<const std::optional<std::string>*, Button*>, 5> choices = {
        {{&options.boot, &form.SB_Boot},
         {&options.menu, &form.SB_Menu},
         {&options.radio, &form.SB_Radio},
         {&options.default_database, &form.SB_Default},
         {&options.key, &form.SB_Key}}};
    for (size_t i = 0; i < choices.size(); ++i) {
      const auto& [chosen, button] = choices[i];
      if (!*chosen) continue;
      ui.QueueDialogAnswer(Absolute(**chosen));
      if (i < 3) {
        form.SB_BootClick(button);
      } else {
        form.SB_DefaultClick(button);
      }
      if (!job->choice_flags[kBootChosen + i]) return 1;
    }

    std::array<EditBox*, 8> boxes = form.SettingBoxes();
    for (size_t kind = 0; kind < boxes.size(); ++kind) {
      if (options.settings[kind]) boxes[kind]->Type(*options.settings[kind]);
    }
    form.SB_StartClick(&form.SB_Start);
  } catch (const IoError& error) {
    ui.ShowRunTimeError(error.what());
    return 1;
  }
  return ui.Succeeded() ? 0 : 1;
}

}  // namespace qv::cli
