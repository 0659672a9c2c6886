#include "app/form_main.h"

#include <filesystem>

#include "app/remove_working_files.h"

namespace qv {

// Marks the form busy while a handler runs, so a command that arrives meanwhile (a click let
// through by a long loop) is ignored, and tells the front end to redraw when it ends.
class BusyGuard {
 public:
  explicit BusyGuard(TFormMain& form) : form_(form), entered_(!form.busy_) { form_.busy_ = true; }
  ~BusyGuard() {
    if (!entered_) return;
    form_.busy_ = false;
    form_.ui_.ControlsChanged();
  }
  bool entered() const { return entered_; }

 private:
  TFormMain& form_;
  bool entered_;
};

void EditBox::SetText(std::string value) {
  text = std::move(value);
  modified = false;
}

void EditBox::Type(const std::string& value) {
  if (read_only) return;
  std::string line = value.substr(0, value.find_first_of("\r\n"));
  if (max_length > 0 && line.size() > static_cast<size_t>(max_length)) line.resize(max_length);
  text = std::move(line);
  modified = true;
}

TFormMain::TFormMain(Ui& ui, JobState& job, FormOptions options)
    : ui_(ui), job_(job), options_(std::move(options)) {
  job_.working_directory = options_.working_directory;
}

std::array<EditBox*, 8> TFormMain::SettingBoxes() {
  return {&E_ModeID,  &E_HttpManuAddr, &E_HttpAutoAddr, &E_AppFile,
          &E_AllFile, &E_DataFile,     &E_DefaultFile,  &E_KeyFile};
}

std::array<EditBox*, 6> TFormMain::PathBoxes() {
  return {&E_OpenFile, &E_Boot, &E_Menu, &E_Radio, &E_Default, &E_Key};
}

std::array<Button*, 6> TFormMain::JobButtons() {
  return {&SB_Start, &SB_Boot, &SB_Menu, &SB_Radio, &SB_Default, &SB_Key};
}

void TFormMain::JobReset() {
  ResetJobData(job_);
  for (Button* button : JobButtons())
    button->enabled = false;
  for (EditBox* box : PathBoxes())
    box->SetText("");
  E_ModeID.SetText("");
  for (EditBox* box : SettingBoxes()) {
    box->colour = BoxColour::kButtonFace;
    box->read_only = true;
  }
  for (EditBox* box : SettingBoxes()) {
    if (box != &E_ModeID) box->SetText("");
  }
  for (Preview* preview : {&I_Boot, &I_Menu, &I_Radio})
    preview->picture_path.clear();
  Caption = kWindowCaption;

  // A copy of the tool's own program beside its working files; whether it works is not
  // examined (copying onto itself fails quietly).
  if (!options_.executable_path.empty()) {
    std::error_code ignored;
    std::filesystem::copy_file(options_.executable_path,
                               options_.working_directory + "Quorvane_STi710X.exe",
                               std::filesystem::copy_options::overwrite_existing, ignored);
  }
}

void TFormMain::ResetCommand() {
  RemoveWorkingFiles(job_);
  JobReset();
}

void TFormMain::EnterOpenedState() {
  for (Button* button : JobButtons())
    button->enabled = true;
  for (EditBox* box : SettingBoxes()) {
    box->colour = BoxColour::kWindow;
    box->read_only = false;
  }
}

void TFormMain::EnterBuiltState() {
  job_.choice_flags.fill(0);
  for (EditBox* box : SettingBoxes()) {
    box->modified = false;
    box->colour = BoxColour::kButtonFace;
  }
  for (Button* button : JobButtons())
    button->enabled = false;
  for (EditBox* box : SettingBoxes())
    box->read_only = true;
}

void TFormMain::FormCreate(const Control*) {
  BusyGuard guard(*this);
  if (guard.entered()) JobReset();
}

void TFormMain::SB_OpenFileClick(const Control*) {
  BusyGuard guard(*this);
  if (guard.entered()) OpenImage();
}

void TFormMain::SB_BootClick(const Control* sender) {
  BusyGuard guard(*this);
  if (!guard.entered() || !SB_Boot.enabled) return;
  ChooseLogo(sender == &SB_Menu ? 1 : sender == &SB_Radio ? 2 : 0);
}

void TFormMain::SB_DefaultClick(const Control* sender) {
  BusyGuard guard(*this);
  if (!guard.entered() || !SB_Default.enabled) return;
  ChooseDefaultOrKey(sender != &SB_Default);
}

void TFormMain::SB_StartClick(const Control*) {
  BusyGuard guard(*this);
  if (guard.entered() && SB_Start.enabled) BuildMergedImageAndDownload();
}

void TFormMain::SB_ResetClick(const Control*) {
  BusyGuard guard(*this);
  if (guard.entered()) ResetCommand();
}

void TFormMain::SB_CloseClick(const Control*) {
  BusyGuard guard(*this);
  if (!guard.entered()) return;
  RemoveWorkingFiles(job_);
  ui_.EndProgram(0);
}

}  // namespace qv
