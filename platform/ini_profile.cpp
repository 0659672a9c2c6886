#include "platform/ini_profile.h"

#include <optional>
#include <vector>

#include "platform/file.h"

namespace qv {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// One line of the file: where it lies (line end included) and what it is.
struct Line {
  size_t begin;
  size_t content_end;  // before the line end
  size_t end;          // after the line end
  enum Kind { kOther, kSection, kKey } kind;
  std::string_view name;   // the section's or key's name, trimmed
  std::string_view value;  // a key's value, trimmed
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t newline = text.find('\n', at);
    size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
    size_t content_end = newline == std::string_view::npos ? text.size() : newline;
    if (content_end > at && text[content_end - 1] == '\r') --content_end;
    Line line{at, content_end, end, Line::kOther, {}, {}};
    std::string_view content = Trim(text.substr(at, content_end - at));
    if (!content.empty() && content.front() == '[') {
      size_t close = content.find(']');
      line.kind = Line::kSection;
      line.name = Trim(
          content.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    } else if (!content.empty() && content.front() != ';') {
      size_t equals = content.find('=');
      if (equals != std::string_view::npos) {
        line.kind = Line::kKey;
        line.name = Trim(content.substr(0, equals));
        line.value = Trim(content.substr(equals + 1));
      }
    }
    lines.push_back(line);
    at = end;
  }
  return lines;
}

// Index of the first section line named `section`, if any.
std::optional<size_t> FindSection(const std::vector<Line>& lines, std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == Line::kSection && SameName(lines[i].name, section)) return i;
  }
  return std::nullopt;
}

bool IsBlank(std::string_view text, const Line& line) {
  return Trim(text.substr(line.begin, line.content_end - line.begin)).empty();
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// What completes the line end of a text whose last line has none (the file's last line, or
// one cut off after its CR), so that a line added after it stands on a line of its own.
std::string_view LineEndToComplete(std::string_view text) {
  if (text.empty() || text.back() == '\n') return "";
  return text.back() == '\r' ? "\n" : "\r\n";
}

}  // namespace

std::string ReadProfileString(std::string_view text, std::string_view section,
                              std::string_view key) {
  std::vector<Line> lines = SplitLines(text);
  std::optional<size_t> start = FindSection(lines, section);
  if (!start) return {};
  for (size_t i = *start + 1; i < lines.size() && lines[i].kind != Line::kSection; ++i) {
    if (lines[i].kind == Line::kKey && SameName(lines[i].name, key))
      return std::string(StripQuotes(lines[i].value));
  }
  return {};
}

std::string WriteProfileString(std::string_view text, std::string_view section,
                               std::string_view key, std::string_view value) {
  std::vector<Line> lines = SplitLines(text);
  std::optional<size_t> start = FindSection(lines, section);
  std::string result(text);
  if (!start) {
    // A new section at the end of the file, set off by a blank line.
    if (!lines.empty()) {
      result += LineEndToComplete(text);
      if (!IsBlank(text, lines.back())) result += "\r\n";
    }
    // Appended piece by piece: GCC 12's -Wrestrict misreads the chain of temporaries at -O3.
    result.append("[").append(section).append("]\r\n");
    result.append(key).append("=").append(value).append("\r\n");
    return result;
  }

  size_t last_filled = *start;  // the section's last line that is not blank
  for (size_t i = *start + 1; i < lines.size() && lines[i].kind != Line::kSection; ++i) {
    const Line& line = lines[i];
    if (line.kind == Line::kKey && SameName(line.name, key)) {
      // Replace the line's text, keeping the key as the file spells it and the line's end.
      std::string replacement = std::string(line.name) + "=" + std::string(value);
      result.replace(line.begin, line.content_end - line.begin, replacement);
      return result;
    }
    if (!IsBlank(text, line)) last_filled = i;
  }
  const Line& after = lines[last_filled];
  std::string insertion = std::string(LineEndToComplete(text.substr(0, after.end))) +
                          std::string(key) + "=" + std::string(value) + "\r\n";
  result.insert(after.end, insertion);
  return result;
}

std::string ReadProfileText(const std::string& path) {
  std::string text;
  if (std::optional<File> file = File::TryOpen(path, File::Mode::kRead)) {
    text.resize(static_cast<size_t>(file->Size()));
    text.resize(file->ReadAt(0, {reinterpret_cast<uint8_t*>(text.data()), text.size()}));
  }
  return text;
}

void WriteProfileText(const std::string& path, std::string_view text) {
  WriteWholeFile(path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

std::string ReadProfileFile(const std::string& path, std::string_view section,
                            std::string_view key) {
  return ReadProfileString(ReadProfileText(path), section, key);
}

void WriteProfileFile(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view value) {
  WriteProfileText(path, WriteProfileString(ReadProfileText(path), section, key, value));
}

}  // namespace qv
