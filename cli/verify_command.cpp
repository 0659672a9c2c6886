#include "cli/verify_command.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace qv::cli {

void PrintVerifyReport(const VerifyReport& report, std::ostream& out) {
  char verdict[16];
  for (const VerifyCheck& check : report.checks) {
    std::snprintf(verdict, sizeof verdict, "%-8s ", VerdictName(check.verdict));
    out << verdict << check.name << ": " << check.detail << "\n";
  }
  const int damaged = report.Count(Verdict::kDamaged);
  out << "\n"
      << (damaged > 0 ? "damaged" : "sound") << ": " << report.checks.size()
      << (report.checks.size() == 1 ? " check, " : " checks, ") << report.Count(Verdict::kOk)
      << " ok, " << damaged << " damaged, " << report.Count(Verdict::kNote)
      << (report.Count(Verdict::kNote) == 1 ? " note\n" : " notes\n");
}

void PrintVerifyReportJson(const VerifyReport& report, std::ostream& out) {
  // Keys in the order a reader takes them in: the file and its verdict before the checks.
  using json = nlohmann::ordered_json;
  json checks = json::array();
  for (const VerifyCheck& check : report.checks) {
    checks.push_back(
        {{"name", check.name}, {"verdict", VerdictName(check.verdict)}, {"detail", check.detail}});
  }
  const json document = {
      {"file", report.path},
      {"sound", !report.Damaged()},
      {"counts",
       {{"ok", report.Count(Verdict::kOk)},
        {"damaged", report.Count(Verdict::kDamaged)},
        {"note", report.Count(Verdict::kNote)}}},
      {"checks", checks},
  };
  out << document.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

int RunVerify(const std::string& path, bool json, std::ostream& out) {
  const VerifyReport report = VerifyImageFile(path);
  if (json) {
    PrintVerifyReportJson(report, out);
  } else {
    PrintVerifyReport(report, out);
  }
  return report.Damaged() ? 1 : 0;
}

}  // namespace qv::cli
