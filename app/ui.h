#pragma once

#include <optional>
#include <string>

#include "app/outcome.h"

// The one door between the form model and a front end (the window, a test).
namespace qv {

class Ui {
 public:
  virtual ~Ui() = default;

  // Shows the open dialog with a filter ("Name|*.a;*.b") and a title; the chosen path, or
  // nothing when the user cancels.
  virtual std::optional<std::string> ShowOpenDialog(const std::string& filter,
                                                    const std::string& title) = 0;
  // Shows a modal message box and returns when the user has acknowledged it.
  virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;
  // Asks a question in a modal box with Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // Lets the user pick a folder; nothing when the user cancels.
  virtual std::optional<std::string> ChooseFolder(const std::string& title) = 0;
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

}  // namespace qv
