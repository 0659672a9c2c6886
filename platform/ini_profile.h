#pragma once

#include <string>
#include <string_view>

// INI profile files, read and written the way the desktop platform's profile functions do it
// for the files this tool meets:
//  - "[name]" lines open sections; "key=value" lines inside a section are keys; lines that
//    start with ';' are comments;
//  - sections and keys are matched without regard to the case of ASCII letters, and the
//    first matching section and key win;
//  - a value is read trimmed of surrounding blanks and tabs, and of one pair of matching
//    surrounding quotes; a missing file, section or key reads as the empty string;
//  - writing replaces the value where the key stands, adds a missing key at the end of its
//    section and a missing section at the end of the file, and creates a missing file; every
//    line it does not touch keeps its bytes, and the lines it writes end with CR LF.
namespace qv {

std::string ReadProfileString(std::string_view text, std::string_view section,
                              std::string_view key);
std::string WriteProfileString(std::string_view text, std::string_view section,
                               std::string_view key, std::string_view value);

// A profile file's whole text (empty when it cannot be read), and writing a whole text back
// (IoError when it cannot be written): for several reads or writes with one file access.
std::string ReadProfileText(const std::string& path);
void WriteProfileText(const std::string& path, std::string_view text);

// The same on files. Reading a file that cannot be read gives the empty string; writing
// raises IoError when the file cannot be written.
std::string ReadProfileFile(const std::string& path, std::string_view section,
                            std::string_view key);
void WriteProfileFile(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view value);

}  // namespace qv
