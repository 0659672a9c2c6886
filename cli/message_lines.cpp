#include "cli/message_lines.h"

#include <ostream>

namespace qv::cli {

void PrintMessage(std::ostream& out, const Message& message) {
  std::string shown = message.text;
  for (char& c : shown) {
    if (c == '\r') c = '\n';
  }
  out << CaptionOf(message.kind) << ": " << shown << std::endl;
}

bool ReportOutcome(std::ostream& out, const Outcome& outcome) {
  for (const Message& message : outcome.messages)
    PrintMessage(out, message);
  return outcome.done();
}

bool AnswerFromOptions(const Question& question, bool allow_bad_checksums, bool force,
                       std::ostream& out) {
  const bool damaged = question.kind == QuestionKind::kOpenDamagedImage;
  const bool yes = damaged ? allow_bad_checksums : force;
  const char* consequence =
      damaged ? (yes ? "opened all the same (--allow-bad-checksums)"
                     : "not opened; --allow-bad-checksums opens it all the same")
              : (yes ? "replaced (--force)" : "not replaced; --force replaces them");
  PrintMessage(out, {yes ? MessageKind::kInformation : MessageKind::kError,
                     question.text + "\r" + consequence});
  return yes;
}

}  // namespace qv::cli
