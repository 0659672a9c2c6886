#pragma once

#include <CLI/CLI.hpp>

#include <functional>

// The commands that take images apart and put them together, and compare them: extract, pack
// and diff.
namespace qv::cli {

// Adds the three commands to `app`; each, when given, sets `run` to what runs it, which returns
// the command's exit status.
void AddArchiveCommands(CLI::App& app, std::function<int()>& run);

}  // namespace qv::cli
