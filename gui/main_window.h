#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/form_main.h"
#include "app/ui.h"

class QAbstractButton;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QMimeData;

namespace qv::gui {

class WaitBanner;

// The main window: renders the form model's controls and forwards clicks to its handlers. It
// is the Ui of the workflows too: open dialog, message boxes, wait banner.
class MainWindow : public QWidget, public Ui {
 public:
  explicit MainWindow(Job& job);
  ~MainWindow() override;

  TFormMain& form() { return form_; }

  // Opens `path` as the Open button opens the file its dialog gives (the file named on the
  // command line).
  void OpenFile(const std::string& path);

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

 protected:
  // A dropped image file (.bin, .dld) is opened; a dropped picture (.jpg, .jpeg, .bmp, .png)
  // on a preview is chosen for its logo, in the opened state only.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

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
  void Run(const std::function<void()>& command);
  // What a drop of `data` at `position` does: open the file it carries, choose it for the
  // preview's logo, or nothing.
  struct DropAction {
    std::string path;
    std::optional<LogoKind> logo;  // nothing: open the file
  };
  std::optional<DropAction> DropActionFor(const QMimeData* data, QPoint position);
  void SyncFromModel();

  TFormMain form_;
  std::vector<std::pair<EditBox*, QLineEdit*>> edits_;
  std::vector<std::pair<Button*, QAbstractButton*>> buttons_;
  std::vector<std::pair<Preview*, QLabel*>> previews_;
  std::vector<std::string> shown_pictures_;  // what each preview shows (see SyncFromModel)
  std::unique_ptr<WaitBanner> banner_;
};

}  // namespace qv::gui
