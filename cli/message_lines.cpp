#include "cli/message_lines.h"

#include <filesystem>
#include <ostream>

namespace qv::cli {

namespace {

std::string Shown(std::string text) {
  for (char& c : text) {
    if (c == '\r') c = '\n';
  }
  return text;
}

// Whether `text` names the file `about` already: its path as given, or its name.
bool Names(const std::string& text, const std::string& about) {
  const std::string name = std::filesystem::path(about).filename().string();
  return text.find(about) != std::string::npos ||
         (!name.empty() && text.find(name) != std::string::npos);
}

}  // namespace

void MessageLines::Print(const Message& message, bool done) {
  Message shown{message.kind, Shown(message.text)};
  if (!(quiet_ && done && message.kind == MessageKind::kInformation))
    out_ << CaptionOf(shown.kind) << ": " << shown.text << std::endl;
  messages_.push_back(std::move(shown));
}

bool MessageLines::Report(const Outcome& outcome, const std::string& about) {
  for (const Message& message : outcome.messages) {
    const bool error =
        message.kind == MessageKind::kError || message.kind == MessageKind::kRunTimeError;
    if (error && !about.empty() && !Names(message.text, about)) {
      Print({message.kind, message.text + " (" + about + ")"}, outcome.done());
    } else {
      Print(message, outcome.done());
    }
  }
  return outcome.done();
}

bool MessageLines::Answer(const Question& question, bool allow_bad_checksums, bool force) {
  const bool damaged = question.kind == QuestionKind::kOpenDamagedImage;
  const bool yes = damaged ? allow_bad_checksums : force;
  const char* consequence =
      damaged ? (yes ? "opened all the same (--allow-bad-checksums)"
                     : "not opened; --allow-bad-checksums opens it all the same")
              : (yes ? "replaced (--force)" : "not replaced; --force replaces them");
  Print(
      {yes ? MessageKind::kInformation : MessageKind::kError, question.text + "\r" + consequence});
  return yes;
}

void PrintMessage(std::ostream& out, const Message& message) {
  MessageLines(out).Print(message);
}

bool ReportOutcome(std::ostream& out, const Outcome& outcome) {
  return MessageLines(out).Report(outcome);
}

bool AnswerFromOptions(const Question& question, bool allow_bad_checksums, bool force,
                       std::ostream& out) {
  return MessageLines(out).Answer(question, allow_bad_checksums, force);
}

const char* KindName(MessageKind kind) {
  switch (kind) {
    case MessageKind::kError:
      return "error";
    case MessageKind::kInformation:
      return "information";
    case MessageKind::kPlain:
      return "plain";
    case MessageKind::kRunTimeError:
      break;
  }
  return "run-time error";
}

}  // namespace qv::cli
