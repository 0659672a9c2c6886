#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "app/form_main.h"
#include "app/ui.h"

class QAbstractButton;
class QLabel;
class QLineEdit;

namespace qv::gui {

class WaitBanner;

// The main window: renders the form model's controls and forwards clicks to its handlers. It
// is the Ui of the workflows too: open dialog, message boxes, wait banner.
class MainWindow : public QWidget, public Ui {
 public:
  explicit MainWindow(Job& job);
  ~MainWindow() override;

  TFormMain& form() { return form_; }

  // Tests replace the modal parts: the open dialog, the message boxes and the program's end.
  std::function<std::optional<std::string>(const std::string& filter, const std::string& title)>
      dialog_hook;
  std::function<void(MessageKind kind, const std::string& text)> message_hook;
  std::function<bool(const std::string& text)> question_hook;
  std::function<std::optional<std::string>(const std::string& title)> folder_hook;
  std::function<void(int exit_code)> end_hook;

  // Ui
  std::optional<std::string> ShowOpenDialog(const std::string& filter,
                                            const std::string& title) override;
  void ShowMessage(MessageKind kind, const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  std::optional<std::string> ChooseFolder(const std::string& title) override;
  void ShowWaitBanner() override;
  void CloseWaitBanner() override;
  void ProcessPendingEvents() override;
  void EndProgram(int exit_code) override;
  void ControlsChanged() override;

 private:
  using Handler = void (TFormMain::*)(const Control*);

  void BuildControls();
  QLineEdit* AddRow(QWidget* panel, int top, const char* label, EditBox& box, Button* button,
                    Handler handler);
  QAbstractButton* AddCommandButton(QWidget* panel, int left, const char* caption,
                                    const char* colour, Button& button, Handler handler, int glyph);
  // Runs a handler as the application's top-level handler does: a run-time input/output error
  // ends the workflow and is shown in a box captioned with the application title.
  void Run(Handler handler, const Control* sender);
  void SyncFromModel();

  TFormMain form_;
  std::vector<std::pair<EditBox*, QLineEdit*>> edits_;
  std::vector<std::pair<Button*, QAbstractButton*>> buttons_;
  std::vector<std::pair<Preview*, QLabel*>> previews_;
  std::vector<std::string> shown_pictures_;  // what each preview shows (see SyncFromModel)
  std::unique_ptr<WaitBanner> banner_;
};

}  // namespace qv::gui
