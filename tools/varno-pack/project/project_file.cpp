#include "project/project_file.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>

// The Windows compatibility layer of toml++ would bring <windows.h> into a tool source.
#define TOML_ENABLE_WINDOWS_COMPAT 0
#include <toml++/toml.h>

#include "base/ansi_text.h"
#include "host/host_text.h"

namespace varno::pack {
namespace {

constexpr char kCode[] = "project-invalid";

// Reads one table of the project, reporting each mistake with the key's dotted name.
class Reader {
 public:
  Reader(const std::string& file, Report& report) : file_(file), report_(report) {}

  void Fail(const toml::node& at, const std::string& key, const std::string& problem) {
    Fail(Line(at), key, problem);
  }
  void Fail(int line, const std::string& key, const std::string& problem) {
    report_.Fail(kCode, file_, line, "\"" + key + "\" " + problem);
    failed_ = true;
  }
  bool Failed() const { return failed_; }

  static int Line(const toml::node& node) { return static_cast<int>(node.source().begin.line); }

  // Keys the project does not know are refused, so that a misspelt one is not silently
  // left out of the package.
  void OnlyKeys(const toml::table& table, const std::string& prefix, std::initializer_list<const char*> known) {
    for (const auto& [key, node] : table) {
      bool found = false;
      for (const char* name : known) found = found || key.str() == name;
      if (!found) Fail(node, prefix + std::string(key.str()), "is not a key of the project file");
    }
  }

  // A text that must be a TOML string in Windows-1252, on one line, that the updater reads
  // back exactly (it trims blanks and control characters at both ends of every field).
  std::optional<std::string> Text(const toml::table& table, const std::string& prefix, const char* key,
                                  bool required, int tableLine) {
    const toml::node* node = table.get(key);
    const std::string name = prefix + key;
    if (!node) {
      if (required) Fail(tableLine, name, "is missing");
      return std::nullopt;
    }
    const auto* value = node->as_string();
    if (!value) {
      Fail(*node, name, "must be a text in quotes");
      return std::nullopt;
    }
    auto text = Utf8ToCp1252(value->get());
    if (!text) {
      Fail(*node, name, "holds characters that Windows-1252, the updater's code page, cannot write");
      return std::nullopt;
    }
    for (const char c : *text) {
      if (static_cast<unsigned char>(c) < 0x20) {
        Fail(*node, name, "holds a line break or a control character: a description line holds it on one line");
        return std::nullopt;
      }
    }
    if (TrimBlanks(*text) != *text) {
      Fail(*node, name, "starts or ends with a blank, which the updater drops");
      return std::nullopt;
    }
    return text;
  }

  std::optional<int64_t> Integer(const toml::table& table, const std::string& prefix, const char* key,
                                 bool required, int tableLine, int64_t lowest, int64_t highest) {
    const toml::node* node = table.get(key);
    const std::string name = prefix + key;
    if (!node) {
      if (required) Fail(tableLine, name, "is missing");
      return std::nullopt;
    }
    const auto* value = node->as_integer();
    if (!value) {
      Fail(*node, name, "must be a whole number without quotes");
      return std::nullopt;
    }
    if (value->get() < lowest || value->get() > highest) {
      Fail(*node, name, "must be from " + std::to_string(lowest) + " to " + std::to_string(highest));
      return std::nullopt;
    }
    return value->get();
  }

  // A field of a description line must not hold the separator that ends it, nor start the
  // line with "[", which would end the section.
  void NotHolding(const toml::table& table, const std::string& prefix, const char* key, const std::string& text,
                  std::string_view forbidden, const char* why) {
    for (const char c : forbidden) {
      if (text.find(c) != std::string::npos) {
        Fail(*table.get(key), prefix + key, std::string("holds \"") + c + "\": " + why);
        return;
      }
    }
  }

 private:
  const std::string& file_;
  Report& report_;
  bool failed_ = false;
};

constexpr std::string_view kFileNameForbidden = "<>:\"/\\|?*";

std::string Backslashed(std::string text) {
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

std::string EntryPrefix(const char* array, size_t index) {
  return std::string(array) + "[" + std::to_string(index) + "].";
}

const toml::table* EntryTable(Reader& reader, const toml::node& item, const std::string& name) {
  const toml::table* table = item.as_table();
  if (!table) reader.Fail(item, name, "must be a table ([[...]])");
  return table;
}

void ReadShortcuts(Reader& reader, const toml::table& root, const char* array, bool withGroup,
                   std::vector<ShortcutEntry>& out) {
  const toml::node* node = root.get(array);
  if (!node) return;
  const toml::array* items = node->as_array();
  if (!items) {
    reader.Fail(*node, array, "must be a list of tables ([[" + std::string(array) + "]])");
    return;
  }
  for (size_t i = 0; i < items->size(); ++i) {
    const std::string prefix = EntryPrefix(array, i);
    const toml::table* table = EntryTable(reader, (*items)[i], prefix.substr(0, prefix.size() - 1));
    if (!table) continue;
    const int line = Reader::Line(*table);
    if (withGroup) {
      reader.OnlyKeys(*table, prefix, {"target", "name", "group"});
    } else {
      reader.OnlyKeys(*table, prefix, {"target", "name"});
    }
    ShortcutEntry entry;
    entry.line = line;
    const auto target = reader.Text(*table, prefix, "target", true, line);
    const auto name = reader.Text(*table, prefix, "name", true, line);
    const auto group = withGroup ? reader.Text(*table, prefix, "group", true, line) : std::optional<std::string>("");
    if (!target || !name || !group) continue;
    reader.NotHolding(*table, prefix, "target", *target, ":", "the target ends at the first colon of the line");
    if (target->starts_with('[')) reader.Fail(*table->get("target"), prefix + "target", "starts with \"[\", which would end the section");
    if (name->empty()) reader.Fail(*table->get("name"), prefix + "name", "is empty");
    reader.NotHolding(*table, prefix, "name", *name, withGroup ? "<>:\"/\\|?*;" : kFileNameForbidden,
                      withGroup ? "a shortcut's name is a file name, and in \"[programs]\" it ends at the first \";\""
                                : "a shortcut's name is a file name");
    if (withGroup) {
      if (group->empty()) reader.Fail(*table->get("group"), prefix + "group", "is empty");
      reader.NotHolding(*table, prefix, "group", *group, "<>:\"|?*", "the group is a folder below the Programs folder");
    }
    entry.target = Backslashed(*target);
    entry.name = *name;
    entry.group = Backslashed(*group);
    out.push_back(std::move(entry));
  }
}

// The value text of a registry entry, in the form the updater converts.
std::optional<std::string> RegistryValue(Reader& reader, const toml::node& node, const std::string& key,
                                         const std::string& type) {
  if (type == "integer" && node.is_integer()) {
    const int64_t value = node.as_integer()->get();
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<uint32_t>::max()) {
      reader.Fail(node, key, "does not fit in the 32 bits of a REG_DWORD");
      return std::nullopt;
    }
    return std::to_string(value);
  }
  if (type == "bool" && node.is_boolean()) return node.as_boolean()->get() ? "True" : "False";
  if (type == "float" && (node.is_floating_point() || node.is_integer())) {
    const double value = node.is_integer() ? static_cast<double>(node.as_integer()->get()) : node.as_floating_point()->get();
    if (!std::isfinite(value)) {
      reader.Fail(node, key, "must be a finite number");
      return std::nullopt;
    }
    // The shortest text that reads back as the same double: the same on every build.
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
  }
  if (node.is_string()) return std::nullopt;  // read as text by the caller
  const char* expected = type == "integer" ? "a whole number or a text"
                         : type == "bool"  ? "true, false or a text"
                         : type == "float" ? "a number or a text"
                                           : "a text in quotes, as the machines' regional settings read it";
  reader.Fail(node, key, std::string("must be ") + expected + " for the type \"" + type + "\"");
  return std::nullopt;
}

void ReadRegistry(Reader& reader, const toml::table& root, std::vector<RegistryEntry>& out) {
  static constexpr std::array<const char*, 7> kTypes = {"string", "integer", "bool", "float", "date", "datetime", "time"};
  const toml::node* node = root.get("reg");
  if (!node) return;
  const toml::array* items = node->as_array();
  if (!items) {
    reader.Fail(*node, "reg", "must be a list of tables ([[reg]])");
    return;
  }
  for (size_t i = 0; i < items->size(); ++i) {
    const std::string prefix = EntryPrefix("reg", i);
    const toml::table* table = EntryTable(reader, (*items)[i], prefix.substr(0, prefix.size() - 1));
    if (!table) continue;
    const int line = Reader::Line(*table);
    reader.OnlyKeys(*table, prefix, {"name", "type", "value"});
    RegistryEntry entry;
    entry.line = line;
    const auto name = reader.Text(*table, prefix, "name", true, line);
    const auto type = reader.Text(*table, prefix, "type", true, line);
    const toml::node* valueNode = table->get("value");
    if (!valueNode) reader.Fail(line, prefix + "value", "is missing");
    if (!name || !type || !valueNode) continue;
    if (name->empty()) reader.Fail(*table->get("name"), prefix + "name", "is empty");
    reader.NotHolding(*table, prefix, "name", *name, ":", "the value's name ends at the first colon of the line");
    if (name->starts_with('[')) reader.Fail(*table->get("name"), prefix + "name", "starts with \"[\", which would end the section");
    const std::string word = AnsiLowerCase(*type);
    bool known = false;
    for (const char* candidate : kTypes) known = known || word == candidate;
    if (!known) {
      reader.Fail(*table->get("type"), prefix + "type",
                  "must be one of string, integer, bool, float, date, datetime, time");
      continue;
    }
    auto value = RegistryValue(reader, *valueNode, prefix + "value", word);
    if (!value) {
      if (!valueNode->is_string()) continue;
      value = reader.Text(*table, prefix, "value", true, line);
      if (!value) continue;
    }
    entry.name = *name;
    entry.type = word;
    entry.value = *value;
    out.push_back(std::move(entry));
  }
}

}  // namespace

std::optional<Project> ParseProject(std::string_view bytes, const std::string& fileShown, Report& report) {
  toml::table root;
  try {
    root = toml::parse(bytes, std::string_view(Cp1252ToUtf8(fileShown)));
  } catch (const toml::parse_error& error) {
    report.Fail(kCode, fileShown, static_cast<int>(error.source().begin.line),
                "not a valid TOML file: " + Utf8ToCp1252(error.description()).value_or("syntax error"));
    return std::nullopt;
  }
  Reader reader(fileShown, report);
  Project project;
  reader.OnlyKeys(root, "", {"package", "files", "desk", "programs", "reg"});

  const toml::table* package = root.get_as<toml::table>("package");
  if (!package) {
    reader.Fail(1, "package", "is missing (a [package] table with version and label)");
  } else {
    const int line = Reader::Line(*package);
    reader.OnlyKeys(*package, "package.",
                    {"title", "version", "label", "min-file-version", "min-installed-version", "install-dir-length"});
    project.title = reader.Text(*package, "package.", "title", false, line).value_or("");
    constexpr int64_t kLowest = std::numeric_limits<int32_t>::min(), kHighest = std::numeric_limits<int32_t>::max();
    if (auto v = reader.Integer(*package, "package.", "version", true, line, kLowest, kHighest)) {
      project.version = static_cast<int32_t>(*v);
    }
    project.label = reader.Text(*package, "package.", "label", true, line).value_or("");
    // The section lookup starts at the top of the file, header included.
    for (const char* key : {"title", "label"}) {
      const std::string& text = std::string_view(key) == "title" ? project.title : project.label;
      if (text.starts_with('[')) reader.Fail(*package->get(key), std::string("package.") + key, "starts with \"[\", which the updater would take for a section");
    }
    if (auto v = reader.Integer(*package, "package.", "min-file-version", false, line, 1, 255)) {
      project.minFileVersion = static_cast<int>(*v);
    }
    if (auto v = reader.Integer(*package, "package.", "min-installed-version", false, line, kLowest, kHighest)) {
      project.minInstalledVersion = static_cast<int32_t>(*v);
    }
    if (auto v = reader.Integer(*package, "package.", "install-dir-length", false, line, 3, 240)) {
      project.installDirLength = static_cast<int>(*v);
    }
  }

  const toml::table* files = root.get_as<toml::table>("files");
  if (!files) {
    reader.Fail(1, "files", "is missing (a [files] table with staging and updater)");
  } else {
    const int line = Reader::Line(*files);
    reader.OnlyKeys(*files, "files.", {"staging", "updater", "control", "exclude"});
    project.staging = reader.Text(*files, "files.", "staging", true, line).value_or("");
    project.updater = reader.Text(*files, "files.", "updater", true, line).value_or("");
    project.control = reader.Text(*files, "files.", "control", false, line).value_or("");
    project.exclude = DefaultExclusions();
    if (const toml::node* exclude = files->get("exclude")) {
      project.exclude.clear();
      const toml::array* patterns = exclude->as_array();
      if (!patterns) reader.Fail(*exclude, "files.exclude", "must be a list of texts in quotes ([\".git\", \"*.bak\"])");
      for (size_t i = 0; patterns && i < patterns->size(); ++i) {
        const toml::node& item = (*patterns)[i];
        const std::string key = "files.exclude[" + std::to_string(i) + "]";
        const auto* value = item.as_string();
        const auto text = value ? Utf8ToCp1252(value->get()) : std::nullopt;
        if (!text || text->empty()) {
          reader.Fail(item, key, "must be a non-empty text in Windows-1252");
        } else {
          std::string pattern = *text;
          for (char& c : pattern) c = c == '/' ? '\\' : c;
          project.exclude.push_back(std::move(pattern));
        }
      }
    }
    if (files->get("staging") && project.staging.empty() && !reader.Failed()) {
      reader.Fail(*files->get("staging"), "files.staging", "is empty");
    }
  }

  ReadShortcuts(reader, root, "desk", false, project.desk);
  ReadShortcuts(reader, root, "programs", true, project.programs);
  ReadRegistry(reader, root, project.registry);
  if (reader.Failed()) return std::nullopt;
  return project;
}

std::vector<std::string> DefaultExclusions() { return {".git", ".svn", "Thumbs.db", "desktop.ini", ".DS_Store"}; }

std::string ProjectTemplate() {
  return R"(# Varnolith update package project. Build the package with:
#   varno-pack build varno-package.toml -o PACKAGE_DIR
# Paths are relative to this file. Texts are written as they will appear; they may use any
# character of Windows-1252 (accented letters included).

[package]
# Free text on the description's first line; the updater does not read it.
title = "Mise a jour de Varnolith"
# The version number the package brings: an installation at this version or above is
# asked before it is updated again.
version = 2816090
# Appended to "Varnolith " in the names of the product's shortcuts.
label = "2.9"
# The lowest file version number of the installed Varnolith.exe that may be updated (1 to 255).
min-file-version = 28
# The lowest installed version number that may be updated.
min-installed-version = 2816000
# The length of the longest installation directory's path the package must work in: a file
# whose whole path would pass Windows' 260 characters is refused. The default is that of
# C:\Program Files (x86)\Tolmerik\Varnolith.
# install-dir-length = 41

[files]
# The directory that mirrors the installation: its top-level files go into sor_ti1.slp, each
# sub-directory is made by the update and receives its own files.
staging = "staging"
# The updater program, copied into the package.
updater = "Varnolith_MAJ_Solo.exe"
# The product's control, copied into the package and, when the staging directory has none,
# installed with the top-level files. Leave it out to ship the staging directory's own.
# control = "Varxxlith.ocx"
# What the staging directory holds but the package must not ship: "*" and "?" wildcards,
# case ignored; a pattern without "/" matches a name at any depth, one with "/" a path from
# the top of the staging directory. Without this key, the list below applies; with it,
# only what it lists (so keep these).
exclude = [".git", ".svn", "Thumbs.db", "desktop.ini", ".DS_Store"]

# Desktop shortcuts for all users: target relative to the installation, and name.
# [[desk]]
# target = "Lisezmoi.txt"
# name = "Lisez-moi de Varnolith"

# Start-menu shortcuts; the group is a folder below the Programs folder that already exists.
# [[programs]]
# target = "AdminVarnolith.exe"
# name = "Administration de Varnolith"
# group = "Tolmerik"

# Values written under HKEY_LOCAL_MACHINE\SOFTWARE\Tolmerik\Varnolith. Types: string,
# integer, bool, float, date, datetime, time. Dates and times are texts, read with the
# regional settings of the machine being updated ("05/02/2024", "8h30").
# [[reg]]
# name = "Edition"
# type = "string"
# value = "2.9"
)";
}

}  // namespace varno::pack
