// What a command found, kept apart from how it is shown: as lines for a person, or as one
// JSON document for a build pipeline. Every text in here is Windows-1252, like the package
// it speaks of; the conversion for the host happens only when it is printed.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace varno::pack {

enum class Severity { Warning, Error };

struct Finding {
  Severity severity = Severity::Warning;
  std::string code;     // stable, for scripts: "reg-value-rejected", "archive-malformed", ...
  std::string file;     // the file it is about, as the user named it or relative to the package
  int line = 0;         // counted from 1; 0 when it concerns the file as a whole
  std::string message;  // what is wrong and what the updater will do about it
  // file and message are the host's own text (UTF-8 on Linux), not Windows-1252: a name
  // that the code page cannot write is shown as the file system gave it.
  bool hostText = false;
};

// The exit status of every command: 0 clean, 1 warnings only, 2 errors (the tool's own
// failures included).
class Report {
 public:
  void Warn(std::string code, std::string file, int line, std::string message);
  void Fail(std::string code, std::string file, int line, std::string message);
  // An error whose file and message are in the host's text (see Finding::hostText).
  void FailInHostText(std::string code, std::string file, std::string message);

  // Groups the findings by file and orders each file's by line, keeping the order in which
  // they were found within a line.
  void SortByPlace();

  const std::vector<Finding>& Findings() const { return findings_; }
  size_t Count(Severity severity) const;
  bool HasErrors() const { return Count(Severity::Error) > 0; }
  int Status() const;

 private:
  std::vector<Finding> findings_;
};

using Json = nlohmann::ordered_json;

// A Windows-1252 text as a JSON string (JSON is UTF-8 on every host).
Json JsonText(std::string_view text);

// The document every command prints with --json: its name, the status, the counts and the
// findings, in that order; the command adds its own fields after them.
Json ReportJson(std::string_view command, const Report& report);

// "file:line: severity: message [code]", the form editors and CI logs link to.
std::string FindingLine(const Finding& finding);

// Writes a Windows-1252 text as the host shows it.
void PrintText(std::FILE* stream, std::string_view text);
void PrintJson(const Json& document);

// Each finding on its own line.
void PrintFindings(std::FILE* stream, const Report& report);

}  // namespace varno::pack
