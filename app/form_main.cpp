#include "app/form_main.h"

#include <unistd.h>

#include <filesystem>

#include "app/messages.h"

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

namespace {

// Shows the wait banner for as long as it lives, so it also goes when an error ends the build;
// `up` tells the form that it is on screen.
class WaitBanner {
 public:
  WaitBanner(Ui& ui, bool& up) : ui_(ui), up_(up) {
    ui_.ShowWaitBanner();
    up_ = true;
  }
  ~WaitBanner() {
    ui_.CloseWaitBanner();
    up_ = false;
  }
  WaitBanner(const WaitBanner&) = delete;
  WaitBanner& operator=(const WaitBanner&) = delete;

 private:
  Ui& ui_;
  bool& up_;
};

}  // namespace

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

TFormMain::TFormMain(Ui& ui, Job& job) : ui_(ui), job_(job) {
  job_.LetEventsThroughWith([this] { ui_.ProcessPendingEvents(); });
  job_.AnswerWith([this](const Question& question) {
    // A question is never hidden behind the wait banner.
    if (banner_up_) ui_.CloseWaitBanner();
    const bool yes =
        ui_.AskYesNo(question.text + "\r\r" +
                     (question.kind == QuestionKind::kOpenDamagedImage ? text::kOpenAnyway
                                                                       : text::kReplaceThem));
    if (banner_up_) ui_.ShowWaitBanner();
    return yes;
  });
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

std::array<Preview*, 3> TFormMain::Previews() {
  return {&I_Boot, &I_Menu, &I_Radio};
}

void TFormMain::ShowResetState() {
  for (Button* button : JobButtons())
    button->enabled = false;
  for (EditBox* box : PathBoxes())
    box->SetText("");
  for (EditBox* box : SettingBoxes()) {
    box->SetText("");
    box->colour = BoxColour::kButtonFace;
    box->read_only = true;
  }
  for (Preview* preview : Previews()) {
    preview->picture_path.clear();
    preview->image_logo.reset();
  }
  Caption = text::kWindowCaption;
}

void TFormMain::ShowOpenedState() {
  E_ModeID.SetText(job_.ModelIdText());
  const std::array<EditBox*, 8> boxes = SettingBoxes();
  for (int i = 0; i < kHttpSettingCount; ++i)
    boxes[static_cast<size_t>(i) + 1]->SetText(job_.http_settings()[static_cast<size_t>(i)]);
  for (Button* button : JobButtons())
    button->enabled = true;
  for (EditBox* box : SettingBoxes()) {
    box->colour = BoxColour::kWindow;
    box->read_only = false;
  }
  // The previews show the image's own logos until a picture is chosen.
  for (const LogoNames& logo : kLogos)
    Previews()[static_cast<size_t>(logo.kind)]->image_logo = job_.ImageLogo(logo.kind);
}

void TFormMain::ShowBuiltState() {
  for (EditBox* box : SettingBoxes()) {
    box->modified = false;
    box->colour = BoxColour::kButtonFace;
    box->read_only = true;
  }
  for (Button* button : JobButtons())
    button->enabled = false;
}

void TFormMain::ShowMessages(const Outcome& outcome) {
  for (const Message& message : outcome.messages)
    ui_.ShowMessage(message.kind, message.text);
}

void TFormMain::OpenImage() {
  std::optional<std::string> chosen =
      ui_.ShowOpenDialog(text::kOpenImageFilter, text::kOpenImageTitle);
  if (chosen) OpenImageFile(*chosen);
}

void TFormMain::OpenImageFile(const std::string& chosen) {
  // The window shows the reset state, with the file's name, while the image is read.
  ShowResetState();
  const std::string name = std::filesystem::absolute(chosen).filename().string();
  E_OpenFile.SetText(name);
  ui_.ControlsChanged();
  Outcome outcome = job_.Open(chosen);
  if (outcome.done()) {
    ShowOpenedState();
    Caption = text::WindowCaptionFor(name);
  }
  ShowMessages(outcome);
}

void TFormMain::ChooseLogo(LogoKind kind) {
  std::optional<std::string> chosen =
      ui_.ShowOpenDialog(text::kOpenLogoPictureFilter, text::kOpenLogoPictureTitle);
  if (chosen) ChooseLogoFile(kind, *chosen);
}

void TFormMain::ChooseLogoFile(LogoKind kind, const std::string& chosen) {
  const size_t index = static_cast<size_t>(kind);
  ChoiceOutcome outcome = job_.ChooseLogo(kind, chosen);
  if (outcome.preview_loaded)
    Previews()[index]->picture_path = std::filesystem::absolute(chosen).string();
  ui_.ControlsChanged();
  ShowMessages(outcome);
  if (outcome.path_shown)
    std::array{&E_Boot, &E_Menu, &E_Radio}[index]->SetText(*outcome.path_shown);
}

void TFormMain::ChooseSource(SourceKind kind) {
  std::optional<std::string> chosen =
      ui_.ShowOpenDialog(text::kOpenSourceFilter, text::kOpenSourceTitle);
  if (!chosen) return;
  EditBox& box = kind == SourceKind::kKey ? E_Key : E_Default;
  ChoiceOutcome outcome = job_.ChooseSource(kind, *chosen);
  if (outcome.path_shown) box.SetText(*outcome.path_shown);
  ShowMessages(outcome);
}

std::optional<std::string> TFormMain::OutputDirectory() {
  const std::filesystem::path folder = std::filesystem::path(job_.opened_path()).parent_path();
  if (::access(folder.c_str(), W_OK | X_OK) == 0) return folder.string();
  return ui_.ChooseFolder(text::kChooseOutputFolder);
}

void TFormMain::BuildMergedImageAndDownload() {
  const std::array<EditBox*, 8> boxes = SettingBoxes();
  for (size_t i = 0; i < boxes.size(); ++i) {
    if (boxes[i]->modified) job_.EditSetting(kSettingKinds[i], boxes[i]->text);
  }
  // The outputs go beside the opened image, or where the user says when that cannot be.
  std::optional<std::string> output_directory = OutputDirectory();
  if (!output_directory) return;
  Outcome outcome;
  {
    WaitBanner banner(ui_, banner_up_);
    outcome = job_.Build(*output_directory);
  }
  if (job_.phase() == JobPhase::kBuilt) {
    ShowBuiltState();
    ui_.ControlsChanged();
  }
  ShowMessages(outcome);
}

void TFormMain::FormCreate(const Control*) {
  BusyGuard guard(*this);
  if (!guard.entered()) return;
  job_.JobReset();
  ShowResetState();
}

void TFormMain::SB_OpenFileClick(const Control*) {
  BusyGuard guard(*this);
  if (guard.entered()) OpenImage();
}

void TFormMain::SB_BootClick(const Control* sender) {
  BusyGuard guard(*this);
  if (!guard.entered() || !SB_Boot.enabled) return;
  ChooseLogo(sender == &SB_Menu    ? LogoKind::kMenu
             : sender == &SB_Radio ? LogoKind::kRadio
                                   : LogoKind::kBoot);
}

void TFormMain::OpenNamedFile(const std::string& path) {
  BusyGuard guard(*this);
  if (guard.entered()) OpenImageFile(path);
}

void TFormMain::ChooseNamedPicture(LogoKind kind, const std::string& path) {
  BusyGuard guard(*this);
  if (!guard.entered() || !SB_Boot.enabled) return;
  ChooseLogoFile(kind, path);
}

void TFormMain::SB_DefaultClick(const Control* sender) {
  BusyGuard guard(*this);
  if (!guard.entered() || !SB_Default.enabled) return;
  ChooseSource(sender == &SB_Default ? SourceKind::kDefaultDatabase : SourceKind::kKey);
}

void TFormMain::SB_StartClick(const Control*) {
  BusyGuard guard(*this);
  if (guard.entered() && SB_Start.enabled) BuildMergedImageAndDownload();
}

void TFormMain::SB_ResetClick(const Control*) {
  BusyGuard guard(*this);
  if (!guard.entered()) return;
  job_.Reset();
  ShowResetState();
}

void TFormMain::SB_CloseClick(const Control*) {
  BusyGuard guard(*this);
  if (!guard.entered()) return;
  job_.Cancel();
  ui_.EndProgram(0);
}

}  // namespace qv
