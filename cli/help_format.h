#pragma once

#include <CLI/CLI.hpp>

#include <string>

// The layout of quorvane's --help texts: the usage line first and the description after it,
// each option as "  -q, --quiet   text" with its text wrapped beside the names, as manual page
// generators such as help2man read them.
namespace qv::cli {

class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() { column_width(32); }

  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override;
  std::string make_option_name(const CLI::Option* option, bool is_positional) const override;
  std::string make_option_desc(const CLI::Option* option) const override;
  std::string make_subcommand(const CLI::App* sub) const override;
  // The footer's paragraphs (parted by empty lines, and before "Exit status:") filled anew.
  std::string make_footer(const CLI::App* app) const override;
};

// `text` broken into lines of at most `width` characters at spaces (a longer word stays whole);
// line breaks it holds are kept.
std::string Wrap(const std::string& text, size_t width);

}  // namespace qv::cli
