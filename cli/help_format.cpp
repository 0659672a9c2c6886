#include "cli/help_format.h"

#include <sstream>

namespace qv::cli {

namespace {

constexpr size_t kLineWidth = 79;

}  // namespace

std::string Wrap(const std::string& text, size_t width) {
  std::string wrapped;
  size_t line_start = 0;  // where the current line begins in `wrapped`
  std::istringstream paragraphs(text);
  bool first_paragraph = true;
  for (std::string paragraph; std::getline(paragraphs, paragraph);) {
    if (!first_paragraph) wrapped += '\n';
    first_paragraph = false;
    line_start = wrapped.size();
    std::istringstream words(paragraph);
    bool first_word = true;
    for (std::string word; words >> word;) {
      if (!first_word && wrapped.size() - line_start + 1 + word.size() > width) {
        wrapped += '\n';
        line_start = wrapped.size();
      } else if (!first_word) {
        wrapped += ' ';
      }
      wrapped += word;
      first_word = false;
    }
  }
  return wrapped;
}

std::string HelpFormatter::make_footer(const CLI::App* app) const {
  std::istringstream lines(app->get_footer());
  std::string footer, paragraph;
  auto end_paragraph = [&] {
    if (!paragraph.empty()) footer += Wrap(paragraph, kLineWidth) + "\n";
    paragraph.clear();
  };
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) {
      end_paragraph();
      footer += "\n";
      continue;
    }
    if (line.starts_with("Exit status:")) end_paragraph();
    paragraph += (paragraph.empty() ? "" : " ") + line;
  }
  end_paragraph();
  return footer;
}

std::string HelpFormatter::make_help(const CLI::App* app, std::string name,
                                     CLI::AppFormatMode mode) const {
  if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
  std::ostringstream out;
  out << make_usage(app, name);
  std::string description = app->get_description();
  if (!description.empty()) out << Wrap(description, kLineWidth) << "\n";
  out << make_positionals(app);
  out << make_groups(app, mode);
  out << make_subcommands(app, mode);
  out << '\n' << make_footer(app);
  return out.str();
}

std::string HelpFormatter::make_option_name(const CLI::Option* option, bool is_positional) const {
  if (is_positional) return CLI::Formatter::make_option_name(option, is_positional);
  std::string names;
  for (const std::string& name : option->get_snames())
    names += (names.empty() ? "-" : ", -") + name;
  for (const std::string& name : option->get_lnames())
    names += (names.empty() ? "--" : ", --") + name;
  return names;
}

std::string HelpFormatter::make_option_desc(const CLI::Option* option) const {
  return Wrap(option->get_description(), kLineWidth - get_column_width());
}

std::string HelpFormatter::make_subcommand(const CLI::App* sub) const {
  std::ostringstream out;
  CLI::detail::format_help(out, sub->get_display_name(true),
                           Wrap(sub->get_description(), kLineWidth - get_column_width()),
                           get_column_width());
  return out.str();
}

}  // namespace qv::cli
