#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "app/job.h"
#include "app/outcome.h"

// How the commands that drive the job service show its message boxes and answer its questions:
// each box as one line on a stream.
namespace qv::cli {

// The message boxes of one command, printed as lines on one stream and kept in order (for a
// report of the whole command, such as build's JSON object). Quiet, it leaves out the
// information messages of workflows that did what was asked; errors, and every message of a
// workflow that stopped, are still printed.
class MessageLines {
 public:
  explicit MessageLines(std::ostream& out, bool quiet = false) : out_(out), quiet_(quiet) {}

  // Prints one message as "<caption>: <text>", carriage returns inside the text printed as
  // line breaks; `done`: the workflow it comes from did what was asked.
  void Print(const Message& message, bool done = true);
  // Prints what a workflow reports; true when it did what was asked. `about`, when not empty,
  // is the file the workflow was given as the user named it: an error whose text does not name
  // that file already is followed by it, " (<file>)".
  bool Report(const Outcome& outcome, const std::string& about = {});
  // The answer to a job's question from the command's options (--allow-bad-checksums for a
  // damaged image, --force for outputs in the way), printed with the job's reason and what
  // follows from the answer.
  bool Answer(const Question& question, bool allow_bad_checksums, bool force);

  // Every message given, printed or left out, with its text as printed.
  const std::vector<Message>& messages() const { return messages_; }

 private:
  std::ostream& out_;
  bool quiet_;
  std::vector<Message> messages_;
};

// A message box as one line: "<caption>: <text>", carriage returns inside the text printed as
// line breaks.
void PrintMessage(std::ostream& out, const Message& message);

// Prints what a workflow reports; true when it did what was asked.
bool ReportOutcome(std::ostream& out, const Outcome& outcome);

// The answer to a job's question from the command's options, printed on `out` (see
// MessageLines::Answer).
bool AnswerFromOptions(const Question& question, bool allow_bad_checksums, bool force,
                       std::ostream& out);

// The name of a message's kind in a JSON report: "error", "information", "plain" or
// "run-time error".
const char* KindName(MessageKind kind);

}  // namespace qv::cli
