#include "shortcuts/shortcut_steps.h"

#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/update_error.h"
#include "package/section_lookup.h"

namespace varno {
namespace {

constexpr char kDeskSection[] = "[desk]";
constexpr char kProgramsSection[] = "[programs]";
constexpr char kProductShortcutPrefix[] = "Varnolith";
constexpr char kProductGroup[] = "Tolmerik";

// A line of blanks says nothing more than an empty one; as an entry it would make a
// shortcut named after nothing, to the installation directory.
bool IsBlank(std::string_view line) { return TrimBlanks(line).empty(); }

}  // namespace

LinkEntry ParseDeskEntry(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {"", TrimBlanks(line), ""};
  return {TrimBlanks(line.substr(0, colon)), TrimBlanks(line.substr(colon + 1)), ""};
}

LinkEntry ParseProgramsEntry(std::string_view line) {
  const size_t colon = line.find(':');
  const size_t semicolon = line.find(';');
  LinkEntry entry;
  const size_t nameStart = colon == std::string_view::npos ? 0 : colon + 1;
  if (colon != std::string_view::npos) entry.target = TrimBlanks(line.substr(0, colon));
  // The name runs from after the ":" to the ";": none when the ";" is missing or comes first.
  if (semicolon != std::string_view::npos && semicolon > nameStart) {
    entry.name = TrimBlanks(line.substr(nameStart, semicolon - nameStart));
  }
  entry.group = TrimBlanks(semicolon == std::string_view::npos ? line : line.substr(semicolon + 1));
  return entry;
}

void MjaShellLink(Platform&, const RunState& state, WriteLogList&, ShellLink& shellLink) {
  const std::string product = JoinPath(state.installDir, text::kProgramFile);
  const std::string newName = std::string(kProductShortcutPrefix) + " " + state.versionLabel;

  shellLink.SetCommonDesktop();
  shellLink.RenameLinkOnDesktop(product, newName);
  shellLink.SetCommonPrograms();
  shellLink.RenameLinkInPrograms(kProductGroup, kProductShortcutPrefix, newName);
  shellLink.SetUserDesktop();
  shellLink.RenameLinkOnDesktop(product, newName);
  shellLink.SetUserPrograms();
  shellLink.RenameLinkInPrograms(kProductGroup, kProductShortcutPrefix, newName);
}

void AddShellLink(Platform& platform, const RunState& state, WriteLogList& record, ShellLink& shellLink) {
  const auto lines = LoadDescriptionForStep(platform.files, state.packageDescriptionPath);
  if (!lines) return;
  const auto desk = FindSection(*lines, kDeskSection);
  if (!desk) return;

  const size_t deskHeader = record.EnsureSection(record::kSurDeskLink, Placement::End);
  for (const std::string& line : desk->entries) {
    if (IsBlank(line)) continue;
    const LinkEntry entry = ParseDeskEntry(line);
    const std::string target = JoinPath(state.installDir, entry.target);
    // Both searches are made, so both can show the messages of an odd desktop entry.
    std::string found;
    shellLink.SetUserDesktop();
    const bool onUserDesktop = shellLink.FindDesktopLink(target, &found);
    shellLink.SetCommonDesktop();
    const bool onCommonDesktop = shellLink.FindDesktopLink(target, &found);
    if (onUserDesktop || onCommonDesktop) continue;
    // The record names the file the shortcut got, so that the uninstaller can remove a
    // shortcut that took its default name too.
    if (shellLink.CreateDesktopLink(target, "", entry.name)) {
      record.RecordEntry(deskHeader, DesktopLinkName(target, entry.name));
    }
  }

  const auto programs = FindSection(*lines, kProgramsSection);
  if (!programs) return;
  const size_t programsHeader = record.EnsureSection(record::kSurProgramsLink, Placement::End);
  for (const std::string& line : programs->entries) {
    if (IsBlank(line)) continue;
    const LinkEntry entry = ParseProgramsEntry(line);
    const std::string target = JoinPath(state.installDir, entry.target);
    shellLink.SetUserPrograms();
    const bool forUser = shellLink.ProgramsLinkExists(entry.group, entry.name);
    shellLink.SetCommonPrograms();
    const bool forAllUsers = shellLink.ProgramsLinkExists(entry.group, entry.name);
    if (forUser || forAllUsers) continue;
    if (shellLink.CreateProgramsLink(target, "", entry.name, entry.group)) {
      record.RecordEntry(programsHeader, ProgramsLinkName(target, entry.name));
    }
  }
}

}  // namespace varno
