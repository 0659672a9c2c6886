#include "cli/scripted_ui.h"

#include <cstdlib>
#include <ostream>

namespace qv::cli {

std::optional<std::string> ScriptedUi::ShowOpenDialog(const std::string&, const std::string&) {
  if (answers_.empty()) return std::nullopt;
  std::string answer = std::move(answers_.front());
  answers_.pop_front();
  return answer;
}

void ScriptedUi::ShowMessage(MessageKind kind, const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (c == '\r') c = '\n';
  }
  out_ << CaptionOf(kind) << ": " << shown << std::endl;
  succeeded_ = kind == MessageKind::kInformation && text.rfind("Quorvanex: Succeed!", 0) == 0;
}

void ScriptedUi::EndProgram(int exit_code) {
  std::exit(exit_code);
}

}  // namespace qv::cli
