#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/ui.h"

namespace qv::testing {

// A Ui for tests: the open dialog answers from a queue, message boxes are recorded, and a
// test may run code while the workflow lets pending events through.
class FakeUi : public Ui {
 public:
  struct Message {
    MessageKind kind;
    std::string text;
  };

  std::deque<std::string> answers;
  std::deque<bool> yes_no_answers;  // a question with no answer queued is answered no
  std::vector<std::string> questions;
  std::deque<std::string> folders;  // the folder dialog's answers; none queued: cancelled
  std::vector<Message> messages;
  std::vector<std::string> dialog_titles;
  int banners_shown = 0;
  int banners_closed = 0;
  bool banner_up = false;
  std::optional<int> ended_with;
  std::function<void()> on_pending_events;

  std::optional<std::string> ShowOpenDialog(const std::string&, const std::string& title) override {
    dialog_titles.push_back(title);
    if (answers.empty()) return std::nullopt;
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ShowMessage(MessageKind kind, const std::string& text) override {
    messages.push_back({kind, text});
  }
  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    if (yes_no_answers.empty()) return false;
    bool yes = yes_no_answers.front();
    yes_no_answers.pop_front();
    return yes;
  }
  std::optional<std::string> ChooseFolder(const std::string&) override {
    if (folders.empty()) return std::nullopt;
    std::string folder = folders.front();
    folders.pop_front();
    return folder;
  }
  void ShowWaitBanner() override {
    ++banners_shown;
    banner_up = true;
  }
  void CloseWaitBanner() override {
    ++banners_closed;
    banner_up = false;
  }
  void ProcessPendingEvents() override {
    if (on_pending_events) on_pending_events();
  }
  void EndProgram(int exit_code) override { ended_with = exit_code; }
  void ControlsChanged() override {}

  // The texts of the messages shown so far, first line only, and forgets them.
  std::vector<std::string> TakeMessages() {
    std::vector<std::string> texts;
    for (const Message& message : messages)
      texts.push_back(message.text.substr(0, message.text.find('\r')));
    messages.clear();
    return texts;
  }
};

}  // namespace qv::testing
