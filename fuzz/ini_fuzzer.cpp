// The INI reader and writer of httpcfg.ini. The input gives a section, a key and a value, each
// ended by a zero byte, and then the file's text. Reading never fails; writing a key and
// reading it back gives the value written, and every other key of the tool keeps the value it
// had.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "image/settings.h"
#include "platform/ini_profile.h"

namespace {

using namespace qv;

bool Trimmed(std::string_view text) {
  return !text.empty() && text.front() != ' ' && text.front() != '\t' && text.back() != ' ' &&
         text.back() != '\t';
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Names and values as the tool writes them: one line each, no surrounding blanks, a section
// name without "]", a key without "=" that does not look like a comment or a section, and a
// value that is not wrapped in quotes.
bool Writable(std::string_view section, std::string_view key, std::string_view value) {
  auto one_line = [](std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
  };
  if (!one_line(section) || !one_line(key) || !one_line(value)) return false;
  if (!Trimmed(section) || section.find(']') != std::string_view::npos) return false;
  if (!Trimmed(key) || key.find('=') != std::string_view::npos || key.front() == ';' ||
      key.front() == '[') {
    return false;
  }
  if (!value.empty() && !Trimmed(value)) return false;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto next = [&input] {
    size_t end = input.find('\0');
    std::string_view part = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    return std::string(part);
  };
  std::string section = next();
  std::string key = next();
  std::string value = next();
  std::string text(input);

  std::string read = ReadProfileString(text, section, key);
  std::string written = WriteProfileString(text, section, key, value);
  if (!Writable(section, key, value)) return static_cast<int>(read.size() & 0);

  if (ReadProfileString(written, section, key) != value) __builtin_trap();
  for (const HttpSettingKey& other : kHttpSettingKeys) {
    if (SameName(other.section, section) && SameName(other.key, key)) continue;
    if (ReadProfileString(written, other.section, other.key) !=
        ReadProfileString(text, other.section, other.key)) {
      __builtin_trap();
    }
  }
  return 0;
}
