#pragma once

#include <array>
#include <optional>
#include <string>

#include "app/job.h"
#include "app/ui.h"
#include "platform/bitmap.h"

// The form model: every control of the main window as plain state, and the seven handlers,
// which call the job service and show what it reports. A front end renders the controls and
// forwards clicks; nothing here knows a window exists.
namespace qv {

enum class BoxColour { kButtonFace, kWindow };

struct Control {
  const char* name;
};

// A single-line edit box.
struct EditBox : Control {
  explicit EditBox(const char* box_name, int limit = 0) : Control{box_name}, max_length(limit) {}

  int max_length;  // 0: no limit
  std::string text;
  bool read_only = true;
  BoxColour colour = BoxColour::kButtonFace;
  bool modified = false;  // the user has changed the text since it was last set

  // The program sets the text: the modified mark goes.
  void SetText(std::string value);
  // The user types or pastes: a single line, cut to the maximum length, marked modified.
  // Ignored while the box is read-only.
  void Type(const std::string& value);
};

struct Button : Control {
  explicit Button(const char* button_name) : Control{button_name} {}
  bool enabled = true;
};

// A preview of a logo: the picture file chosen for it, or else the logo the opened image
// carries, or nothing.
struct Preview : Control {
  explicit Preview(const char* preview_name) : Control{preview_name} {}
  std::string picture_path;
  std::optional<Bitmap> image_logo;  // shown while no picture is chosen
};

class TFormMain {
 public:
  // The form lets the window's pending events through whenever the job does long work.
  TFormMain(Ui& ui, Job& job);

  EditBox E_OpenFile{"E_OpenFile"};
  EditBox E_Boot{"E_Boot"};
  EditBox E_Menu{"E_Menu"};
  EditBox E_Radio{"E_Radio"};
  EditBox E_Default{"E_Default"};
  EditBox E_Key{"E_Key"};
  EditBox E_ModeID{"E_ModeID", 20};
  EditBox E_HttpManuAddr{"E_HttpManuAddr", 255};
  EditBox E_HttpAutoAddr{"E_HttpAutoAddr", 255};
  EditBox E_AppFile{"E_AppFile", 255};
  EditBox E_AllFile{"E_AllFile", 255};
  EditBox E_DataFile{"E_DataFile", 255};
  EditBox E_DefaultFile{"E_DefaultFile", 255};
  EditBox E_KeyFile{"E_KeyFile", 255};

  Button SB_OpenFile{"SB_OpenFile"};
  Button SB_Boot{"SB_Boot"};
  Button SB_Menu{"SB_Menu"};
  Button SB_Radio{"SB_Radio"};
  Button SB_Default{"SB_Default"};
  Button SB_Key{"SB_Key"};
  Button SB_Reset{"SB_Reset"};
  Button SB_Start{"SB_Start"};
  Button SB_Close{"SB_Close"};

  Preview I_Boot{"I_Boot"};
  Preview I_Menu{"I_Menu"};
  Preview I_Radio{"I_Radio"};

  std::string Caption;

  // The handlers. A command that arrives while another one runs is ignored.
  void FormCreate(const Control* sender);
  void SB_OpenFileClick(const Control* sender);
  void SB_BootClick(const Control* sender);     // SB_Boot, SB_Menu, SB_Radio
  void SB_DefaultClick(const Control* sender);  // SB_Default, SB_Key
  void SB_StartClick(const Control* sender);
  void SB_ResetClick(const Control* sender);
  void SB_CloseClick(const Control* sender);
  // A file named without the open dialog (on the window's command line, dropped on it) opened
  // as SB_OpenFileClick opens the file the dialog gives.
  void OpenNamedFile(const std::string& path);
  // A picture named without the open dialog (dropped on a preview) chosen for `kind`, as
  // SB_BootClick chooses the dialog's; only in the opened state, as the buttons.
  void ChooseNamedPicture(LogoKind kind, const std::string& path);

  bool Busy() const { return busy_; }
  // The eight setting boxes, model id first, then the HTTP settings of kinds 1 to 7.
  std::array<EditBox*, 8> SettingBoxes();
  std::array<EditBox*, 6> PathBoxes();
  std::array<Button*, 6> JobButtons();  // enabled only in the opened state
  std::array<Preview*, 3> Previews();   // boot, menu, radio

  const Job& job() const { return job_; }

 private:
  friend class BusyGuard;

  // The controls in the reset, opened and built states.
  void ShowResetState();
  void ShowOpenedState();
  void ShowBuiltState();
  void ShowMessages(const Outcome& outcome);

  void OpenImage();
  void OpenImageFile(const std::string& chosen);
  void ChooseLogo(LogoKind kind);
  void ChooseLogoFile(LogoKind kind, const std::string& chosen);
  void ChooseSource(SourceKind kind);
  void BuildMergedImageAndDownload();
  std::optional<std::string> OutputDirectory();

  Ui& ui_;
  Job& job_;
  bool busy_ = false;
  bool banner_up_ = false;
};

}  // namespace qv
