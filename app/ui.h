#pragma once

#include <optional>
#include <string>

// The one door between the workflows and a front end (the window, the command line, a test).
namespace qv {

inline constexpr char kApplicationTitle[] = "Quorvan[1.0.00]";
inline constexpr char kWindowCaption[] = "Quorvane[1.0.00] -- Mode: STi710X";

// Message boxes with one OK button: captioned "Error" (error icon), "Information"
// (information icon), or the application title (no icon).
enum class MessageKind { kError, kInformation, kPlain };

class Ui {
 public:
  virtual ~Ui() = default;

  // Shows the open dialog with a filter ("Name|*.a;*.b") and a title; the chosen path, or
  // nothing when the user cancels.
  virtual std::optional<std::string> ShowOpenDialog(const std::string& filter,
                                                    const std::string& title) = 0;
  // Shows a modal message box and returns when the user has acknowledged it.
  virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;
  // The wait banner "Create file...Please wait..." while a merged image is built.
  virtual void ShowWaitBanner() = 0;
  virtual void CloseWaitBanner() = 0;
  // Lets pending window events through during long loops.
  virtual void ProcessPendingEvents() = 0;
  // Ends the program at once with `exit_code`.
  virtual void EndProgram(int exit_code) = 0;
  // The controls of the form model changed: redraw them.
  virtual void ControlsChanged() = 0;
};

// The caption a message box of `kind` carries.
inline const char* CaptionOf(MessageKind kind) {
  switch (kind) {
    case MessageKind::kError:
      return "Error";
    case MessageKind::kInformation:
      return "Information";
    case MessageKind::kPlain:
      break;
  }
  return kApplicationTitle;
}

}  // namespace qv
