#pragma once

#include <exception>
#include <optional>
#include <string>
#include <vector>

// What a workflow of the job service returns to its front end: how it ended, and the message
// boxes to show, in order.
namespace qv {

// Message boxes with one OK button: captioned "Error" (error icon), "Information"
// (information icon), or the application title (no icon; a stop icon for a run-time
// input/output error, which shows the system's text).
enum class MessageKind { kError, kInformation, kPlain, kRunTimeError };

struct Message {
  MessageKind kind;
  std::string text;
};

enum class Status {
  kDone,     // the workflow did what was asked
  kRefused,  // it stopped at a bad input or a failed step, or the user cancelled
  kFailed,   // it ran to its end without its result (Start: no sound download file)
};

struct Outcome {
  Status status = Status::kDone;
  std::vector<Message> messages;

  bool done() const { return status == Status::kDone; }
  void Show(MessageKind kind, std::string text) { messages.push_back({kind, std::move(text)}); }
};

// A workflow ended by a run-time input/output error: the system's text, in its own box.
inline Outcome RunTimeError(const std::exception& error) {
  return {Status::kRefused, {{MessageKind::kRunTimeError, error.what()}}};
}

// A choice of a logo picture, a default database or a key file: what the window shows of it
// afterwards besides the messages.
struct ChoiceOutcome : Outcome {
  bool preview_loaded = false;            // a logo's preview shows the chosen picture
  std::optional<std::string> path_shown;  // the choice's path box shows this; nothing: unchanged
};

// The caption a message box of `kind` carries.
const char* CaptionOf(MessageKind kind);

}  // namespace qv
