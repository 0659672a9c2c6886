#pragma once

#include <deque>
#include <iosfwd>
#include <string>

#include "app/ui.h"

namespace qv::cli {

// The Ui of the command line: the open dialog answers from a queue of paths, and every message
// box is printed as one line "<caption>: <text>", carriage returns inside the text printed as
// line breaks.
class ScriptedUi : public Ui {
 public:
  explicit ScriptedUi(std::ostream& out) : out_(out) {}

  void QueueDialogAnswer(std::string path) { answers_.push_back(std::move(path)); }

  std::optional<std::string> ShowOpenDialog(const std::string& filter,
                                            const std::string& title) override;
  void ShowMessage(MessageKind kind, const std::string& text) override;
  void ShowWaitBanner() override {}
  void CloseWaitBanner() override {}
  void ProcessPendingEvents() override {}
  void EndProgram(int exit_code) override;
  void ControlsChanged() override {}

  // Shows a run-time input/output error as the window's top-level handler does.
  void ShowRunTimeError(const std::string& text) { ShowMessage(MessageKind::kPlain, text); }

  bool Succeeded() const { return succeeded_; }

 private:
  std::ostream& out_;
  std::deque<std::string> answers_;
  bool succeeded_ = false;
};

}  // namespace qv::cli
