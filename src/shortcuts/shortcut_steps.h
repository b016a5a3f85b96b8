// The two shortcut steps of the update run: MjaShellLink gives the product's existing
// shortcuts the package's version label; AddShellLink creates the shortcuts that the
// package description lists under "[desk]" and "[programs]" and records each one it creates.
#pragma once

#include <string>
#include <string_view>

#include "base/run_state.h"
#include "platform/platform.h"
#include "shortcuts/shell_link.h"
#include "steps/uninstall_record.h"

namespace varno {

// One "[desk]" line, "target: name", or "[programs]" line, "target: name; group", each
// field trimmed. Without ":" the target is empty and the name starts the line; without ";"
// a program entry has an empty name and the whole line as its group.
struct LinkEntry {
  std::string target;
  std::string name;
  std::string group;
};
LinkEntry ParseDeskEntry(std::string_view line);
LinkEntry ParseProgramsEntry(std::string_view line);

// Four renames to "Varnolith " + the version label, their results not looked at: the
// all-users desktop shortcut to InstallDir\Varnolith.exe, the first shortcut named
// "Varnolith*" of the all-users program group "Tolmerik", then the same two for the current
// user (which fall back to the all-users folders when the user has none of their own).
void MjaShellLink(Platform& platform, const RunState& state, WriteLogList& record, ShellLink& shellLink);

// For every entry of "[desk]", unless a shortcut to InstallDir\target is found on the
// user's or the all-users desktop, creates one on the all-users desktop; then for every
// entry of "[programs]", unless the user's or the all-users group holds a shortcut whose
// name starts with the entry's name, creates one in the all-users group. Each shortcut saved
// is recorded under "[SurDeskLink]" or "[SurProgramsLink]" by the name it took. Without a
// "[desk]" section, or without a description, nothing is done, "[programs]" included. A
// description that cannot be read raises "Impossible d'ouvrir le fichier %s"; an error of the
// link object propagates.
void AddShellLink(Platform& platform, const RunState& state, WriteLogList& record, ShellLink& shellLink);

}  // namespace varno
