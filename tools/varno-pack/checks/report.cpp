#include "checks/report.h"

#include <algorithm>

#include "host/host_text.h"

namespace varno::pack {

void Report::Warn(std::string code, std::string file, int line, std::string message) {
  findings_.push_back({Severity::Warning, std::move(code), std::move(file), line, std::move(message)});
}

void Report::Fail(std::string code, std::string file, int line, std::string message) {
  findings_.push_back({Severity::Error, std::move(code), std::move(file), line, std::move(message)});
}

void Report::FailInHostText(std::string code, std::string file, std::string message) {
  findings_.push_back({Severity::Error, std::move(code), std::move(file), 0, std::move(message), true});
}

void Report::SortByPlace() {
  std::stable_sort(findings_.begin(), findings_.end(), [](const Finding& a, const Finding& b) {
    return a.file != b.file ? a.file < b.file : a.line < b.line;
  });
}

size_t Report::Count(Severity severity) const {
  size_t count = 0;
  for (const Finding& finding : findings_) count += finding.severity == severity ? 1 : 0;
  return count;
}

int Report::Status() const {
  if (Count(Severity::Error) > 0) return 2;
  return Count(Severity::Warning) > 0 ? 1 : 0;
}

Json JsonText(std::string_view text) { return Json(Cp1252ToUtf8(text)); }

Json ReportJson(std::string_view command, const Report& report) {
  Json document;
  document["command"] = std::string(command);
  document["status"] = report.Status();
  document["errors"] = report.Count(Severity::Error);
  document["warnings"] = report.Count(Severity::Warning);
  Json findings = Json::array();
  for (const Finding& finding : report.Findings()) {
    Json item;
    item["severity"] = finding.severity == Severity::Error ? "error" : "warning";
    item["code"] = finding.code;
    item["file"] = finding.hostText ? Json(ValidUtf8(finding.file)) : JsonText(finding.file);
    if (finding.line > 0) {
      item["line"] = finding.line;
    } else {
      item["line"] = nullptr;
    }
    item["message"] = finding.hostText ? Json(ValidUtf8(finding.message)) : JsonText(finding.message);
    findings.push_back(std::move(item));
  }
  document["findings"] = std::move(findings);
  return document;
}

std::string FindingLine(const Finding& finding) {
  std::string line = finding.file;
  if (finding.line > 0) line += ":" + std::to_string(finding.line);
  if (!line.empty()) line += ": ";
  line += finding.severity == Severity::Error ? "error: " : "warning: ";
  return line + finding.message + " [" + finding.code + "]";
}

void PrintText(std::FILE* stream, std::string_view text) {
  const std::string shown = HostText(text);
  std::fwrite(shown.data(), 1, shown.size(), stream);
}

void PrintJson(const Json& document) {
  const std::string text = document.dump(2) + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void PrintFindings(std::FILE* stream, const Report& report) {
  for (const Finding& finding : report.Findings()) {
    const std::string line = FindingLine(finding) + "\n";
    if (finding.hostText) {
      std::fwrite(line.data(), 1, line.size(), stream);
    } else {
      PrintText(stream, line);
    }
  }
}

}  // namespace varno::pack
