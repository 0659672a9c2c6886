#include "cli/suggestions.h"

#include <algorithm>
#include <numeric>

namespace qv::cli {

namespace {

// The names `app` takes as options, each with its dashes: "-q", "--quiet".
std::vector<std::string> OptionNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames())
      names.push_back("--" + name);
    for (const std::string& name : option->get_snames())
      names.push_back("-" + name);
  }
  return names;
}

std::vector<std::string> CommandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
    names.push_back(command->get_name());
  return names;
}

// "quorvane: unknown <kind> '<typed>'", the command it was given to when not empty, and the
// name meant when there is one.
std::string Line(const std::string& kind, const std::string& typed, const std::string& command,
                 const std::optional<std::string>& meant) {
  std::string line = "quorvane: unknown " + kind + " '" + typed + "'";
  if (!command.empty()) line += " of " + command;
  if (meant) line += "; did you mean '" + *meant + "'?";
  return line + "\n";
}

}  // namespace

size_t EditDistance(const std::string& a, const std::string& b) {
  // Rows i-2, i-1 and i of the table of distances between prefixes of a and b.
  std::vector<size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  std::iota(previous.begin(), previous.end(), size_t{0});
  for (size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t substitution = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        current[j] = std::min(current[j], before[j - 2] + 1);
    }
    before.swap(previous);
    previous.swap(current);
  }
  return previous[b.size()];
}

std::optional<std::string> NearestName(const std::string& typed,
                                       const std::vector<std::string>& names) {
  // A letter or two is near every short name: no guess for "-z".
  const size_t dashes = std::min(typed.find_first_not_of('-'), typed.size());
  if (typed.size() - dashes < 3) return std::nullopt;
  std::optional<std::string> nearest;
  size_t nearest_distance = 0;
  for (const std::string& name : names) {
    const size_t distance = EditDistance(typed, name);
    const size_t allowed = name.size() >= 5 ? 2 : 1;
    if (distance <= allowed && (!nearest || distance < nearest_distance)) {
      nearest = name;
      nearest_distance = distance;
    }
  }
  if (nearest) return nearest;
  // A name cut short: "--allow" for "--allow-bad-checksums".
  std::optional<std::string> begun;
  for (const std::string& name : names) {
    if (name.starts_with(typed)) {
      if (begun) return std::nullopt;  // more than one: no guess
      begun = name;
    }
  }
  return begun;
}

std::string UnknownNameLine(const CLI::App& app, const std::vector<std::string>& arguments) {
  const CLI::App* command = nullptr;  // the command chosen, once its name was seen
  for (const std::string& argument : arguments) {
    if (argument == "--") break;  // the rest are positional arguments
    const CLI::App& scope = command ? *command : app;
    if (argument.size() > 1 && argument[0] == '-') {
      // An option, its value after '=' left out; "-q" style names only one letter long.
      std::string name = argument.substr(0, argument.find('='));
      if (name.size() > 2 && name[1] != '-') name = name.substr(0, 2);
      const std::vector<std::string> known = OptionNames(scope);
      if (std::find(known.begin(), known.end(), name) == known.end()) {
        return Line("option", name, command ? command->get_name() : "", NearestName(name, known));
      }
      continue;
    }
    if (command) continue;  // an argument of the command, or an option's value
    const std::vector<std::string> commands = CommandNames(app);
    if (std::find(commands.begin(), commands.end(), argument) == commands.end())
      return Line("command", argument, "", NearestName(argument, commands));
    command = app.get_subcommand_ptr(argument).get();
  }
  return {};
}

}  // namespace qv::cli
