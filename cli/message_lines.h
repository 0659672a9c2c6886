#pragma once

#include <iosfwd>

#include "app/job.h"
#include "app/outcome.h"

// How the commands that drive the job service show its message boxes and answer its questions:
// each box as one line on a stream.
namespace qv::cli {

// A message box as one line: "<caption>: <text>", carriage returns inside the text printed as
// line breaks.
void PrintMessage(std::ostream& out, const Message& message);

// Prints what a workflow reports; true when it did what was asked.
bool ReportOutcome(std::ostream& out, const Outcome& outcome);

// The answer to a job's question from the command's options (--allow-bad-checksums for a
// damaged image, --force for outputs in the way), printed with the job's reason and what
// follows from the answer.
bool AnswerFromOptions(const Question& question, bool allow_bad_checksums, bool force,
                       std::ostream& out);

}  // namespace qv::cli
