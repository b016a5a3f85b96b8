// project/: what a package is made from: the project file, the staging tree, its plan, the names it may carry.
// The package project file, varno-package.toml: everything a package author decides, by name
// instead of by line number. Reading it refuses, with the file, line and key, whatever the
// updater would read differently from how it looks, so that the description written from it
// says exactly what the author wrote.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks/report.h"

namespace varno::pack {

inline constexpr char kProjectFileName[] = "varno-package.toml";

struct ShortcutEntry {
  std::string target;  // relative to the installation directory, "\" separated
  std::string name;
  std::string group;   // "[programs]" only
  int line = 0;        // in the project file
};

struct RegistryEntry {
  std::string name;
  std::string type;   // the type word as the updater knows it, in lower case
  std::string value;  // as it will stand in the description
  int line = 0;
};

// Texts are Windows-1252; paths are as written in the file (host paths, relative to the
// project file's directory unless absolute).
struct Project {
  std::string title;  // header line 1, which the updater does not read
  int32_t version = 0;
  std::string label;
  int minFileVersion = 28;
  int32_t minInstalledVersion = 2816080;
  // The length of the longest installation directory's path the package must work in.
  int installDirLength = 41;
  std::string staging;
  std::string updater;
  std::string control;  // empty: the staging tree's own, if it has one
  // Patterns of what the staging tree holds but the package must not ship ("*" and "?"
  // wildcards, case ignored): a pattern without "/" matches a name at any depth, one with
  // "/" a path from the top of the tree. Without the key, DefaultExclusions().
  std::vector<std::string> exclude;
  std::vector<ShortcutEntry> desk;
  std::vector<ShortcutEntry> programs;
  std::vector<RegistryEntry> registry;
};

// What a version-control checkout or a desktop leaves in a tree and no installation wants.
std::vector<std::string> DefaultExclusions();

// The project read from the file's UTF-8 bytes, or nothing after reporting each mistake
// (code "project-invalid", the file as shown, the line) with the key at fault.
std::optional<Project> ParseProject(std::string_view bytes, const std::string& fileShown, Report& report);

// The commented project file that "init" writes, in UTF-8; it parses as it stands.
std::string ProjectTemplate();

}  // namespace varno::pack
