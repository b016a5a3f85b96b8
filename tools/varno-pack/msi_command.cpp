#include "msi_command.h"

#include <spawn.h>
#include <sys/personality.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/ansi_text.h"
#include "host_text.h"
#include "msi_summary.h"
#include "platform/portable_sha256.h"

namespace varno::pack {
namespace {

namespace fs = std::filesystem;

constexpr char kProductName[] = "Tolmerik Varnolith";
constexpr char kDescriptionName[] = "MjaIni.ini";
constexpr char kUpdaterName[] = "Varnolith_MAJ_Solo.exe";
// What the package code is made of changes with this tag when the MSI's layout does, so that
// two different MSIs of one package never share a package code.
constexpr char kLayoutTag[] = "varno-msi 1";
// 2000-01-01 00:00 UTC, for every date the MSI holds: the summary's and the cabinet's.
constexpr uint64_t kFixedFileTime = 125911584000000000ull;
constexpr time_t kFixedUnixTime = 946684800;

std::string Hex(std::string_view bytes) { return HexDigest(bytes); }

std::string Sha256Of(std::string_view bytes) {
  auto sha = StartPortableSha256();
  sha->Add(bytes.data(), bytes.size());
  return sha->Finish().value_or(std::string(32, '\0'));
}

std::optional<std::string> FileSha256(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  auto sha = StartPortableSha256();
  std::vector<char> buffer(1 << 16);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    sha->Add(buffer.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) return std::nullopt;
  const auto digest = sha->Finish();
  return digest ? std::optional<std::string>(Hex(*digest)) : std::nullopt;
}

// The description is UTF-8, as the host's file names are.
std::string Xml(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A Windows-1252 text (this program's literals, the description's label) in the description.
std::string Text(std::string_view text) { return Xml(Cp1252ToUtf8(text)); }

// The header lines of the description, without their line ends.
std::vector<std::string> DescriptionLines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// wixl orders some of its tables by where their strings lie in its memory: with the addresses
// randomised, two runs give two MSIs. It runs here with the addresses fixed (a personality
// its program inherits), the same arguments and environment wherever the package lies, so
// that the same package gives the same bytes.
bool RunWixl(const std::string& wixl, const fs::path& directory) {
  std::vector<std::string> arguments = {wixl, "-o", "paquet.msi", "paquet.wxs"};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // The cabinet's dates are the files' (fixed here) in local time: UTC keeps them fixed.
  const char* path = std::getenv("PATH");
  std::vector<std::string> environment = {"PATH=" + std::string(path ? path : "/usr/bin:/bin"), "TZ=UTC",
                                          "LC_ALL=C.UTF-8"};
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  // wixl takes the files' sources only as paths relative to its current directory.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  const int persona = personality(0xFFFFFFFF);
  if (persona != -1) personality(static_cast<unsigned long>(persona) | ADDR_NO_RANDOMIZE);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, wixl.c_str(), &actions, nullptr, argv.data(), envp.data());
  if (persona != -1) personality(static_cast<unsigned long>(persona));
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct PackageFile {
  std::string relative;  // with "/" separators, as the host names it
  uintmax_t size = 0;
  std::string digest;
};

}  // namespace

std::optional<std::string> MsiProductVersion(std::string_view packageVersion) {
  const std::string text = TrimBlanks(packageVersion);
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const uint64_t version = std::stoull(text);
  if (version == 0 || version > 0x7FFFFFFF) return std::nullopt;
  return std::to_string(version >> 24) + "." + std::to_string((version >> 16) & 0xFF) + "." +
         std::to_string(version & 0xFFFF);
}

std::string NameGuid(std::string_view name) {
  std::string bytes = Sha256Of(name).substr(0, 16);
  bytes[6] = static_cast<char>((bytes[6] & 0x0F) | 0x80);
  bytes[8] = static_cast<char>((bytes[8] & 0x3F) | 0x80);
  const std::string hex = AnsiUpperCase(Hex(bytes));
  return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20) + "}";
}

MsiResult BuildMsi(const MsiRequest& request, Report& report) {
  MsiResult result;
  const fs::path root(request.packageDir);
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    report.Fail("msi-no-package", request.packageDir, 0, "not a directory");
    return result;
  }
  // Every file of the package, as it is: the updater checks them (and their signature) itself.
  std::vector<PackageFile> files;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const std::string relative = fs::relative(it->path(), root).generic_string();
    if (it->is_symlink()) {
      report.Fail("msi-link", relative, 0, "a link: the MSI carries files only, copy what it points to");
      continue;
    }
    if (!it->is_regular_file()) continue;
    const auto digest = FileSha256(it->path());
    if (!digest) {
      report.Fail("msi-unreadable", relative, 0, "cannot be read");
      continue;
    }
    files.push_back({relative, it->file_size(), *digest});
  }
  if (error) report.Fail("msi-unreadable", request.packageDir, 0, "cannot be listed: " + error.message());
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.relative < b.relative; });
  const auto has = [&files](const char* name) {
    return std::any_of(files.begin(), files.end(), [name](const auto& f) { return f.relative == name; });
  };
  for (const char* name : {kDescriptionName, kUpdaterName}) {
    if (!has(name)) report.Fail("msi-incomplete", name, 0, "missing at the top of the package directory");
  }
  if (report.HasErrors()) return result;

  const std::vector<std::string> header = DescriptionLines(root / kDescriptionName);
  const std::string version = header.size() >= 2 ? TrimBlanks(header[1]) : "";
  const std::string label = header.size() >= 21 ? TrimBlanks(header[20]) : "";
  const auto productVersion = MsiProductVersion(version);
  if (!productVersion) {
    report.Fail("msi-version", kDescriptionName, 2, "the version \"" + version + "\" is not a positive number below 2^31");
    return result;
  }
  std::string content = std::string(kLayoutTag) + "\n";
  for (const PackageFile& file : files) {
    content += file.relative + '\0' + std::to_string(file.size) + '\0' + file.digest + "\n";
  }
  result.productVersion = *productVersion;
  result.upgradeCode = NameGuid(std::string(kProductName) + " update MSI, upgrade code");
  // One product code a version: a package of that version built again with other files is
  // refused by Windows Installer (another version of the product) rather than installed
  // beside the first.
  result.productCode = NameGuid(std::string(kProductName) + " update MSI, product code of " + version);
  result.packageCode = NameGuid(std::string(kProductName) + " update MSI, package code of " + Hex(Sha256Of(content)));

  // The files are copied with one fixed date, which the cabinet keeps.
  const fs::path output = fs::absolute(request.output, error);
  std::string pattern = (output.parent_path() / ("." + output.filename().string() + ".XXXXXX")).string();
  if (!mkdtemp(pattern.data())) {
    report.Fail("msi-write", request.output, 0, "cannot make a working directory beside it");
    return result;
  }
  const fs::path staging(pattern);
  const fs::path staged = staging / "paquet";
  for (const PackageFile& file : files) {
    const fs::path to = staged / file.relative;
    fs::create_directories(to.parent_path(), error);
    if (error || !fs::copy_file(root / file.relative, to, error)) break;
    fs::last_write_time(to, fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(kFixedUnixTime)),
                        error);
    if (error) break;
  }

  std::ostringstream wxs;
  wxs << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      << "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
      << "  <Product Id=\"" << result.productCode << "\" Name=\"" << Text("Mise à jour Varnolith " + label + " (" + version + ")")
      << "\" Language=\"1036\" Codepage=\"1252\" Version=\"" << result.productVersion
      << "\" Manufacturer=\"Tolmerik\" UpgradeCode=\"" << result.upgradeCode << "\">\n"
      << "    <Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"perMachine\" Languages=\"1036\""
      << " SummaryCodepage=\"1252\" Manufacturer=\"Tolmerik\" Description=\"" << Text("Mise à jour Varnolith " + label)
      << "\"/>\n"
      << "    <Media Id=\"1\" Cabinet=\"paquet.cab\" EmbedCab=\"yes\"/>\n"
      << "    <Property Id=\"ARPSYSTEMCOMPONENT\" Value=\"1\"/>\n"
      << "    <MajorUpgrade DowngradeErrorMessage=\"" << Text("Une mise à jour plus récente de Varnolith est déjà installée.")
      << "\"/>\n"
      << "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n"
      << "      <Directory Id=\"CommonAppDataFolder\">\n"
      << "        <Directory Id=\"VARNOVENDOR\" Name=\"Tolmerik\">\n"
      << "          <Directory Id=\"VARNOPRODUCT\" Name=\"Varnolith\">\n"
      << "            <Directory Id=\"VARNOMSI\" Name=\"MSI\">\n"
      << "              <Directory Id=\"PACKAGEDIR\" Name=\"" << version << "\">\n";
  // Directories in the order of the sorted files; each file a component of its own.
  std::vector<std::string> open;
  int directoryNumber = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    std::vector<std::string> parts;
    for (const auto& part : fs::path(files[i].relative)) parts.push_back(part.string());
    const std::string name = parts.back();
    parts.pop_back();
    size_t common = 0;
    while (common < open.size() && common < parts.size() && open[common] == parts[common]) ++common;
    for (size_t j = open.size(); j > common; --j) wxs << std::string(14 + 2 * j, ' ') << "</Directory>\n";
    open.resize(common);
    for (size_t j = common; j < parts.size(); ++j) {
      open.push_back(parts[j]);
      wxs << std::string(14 + 2 * open.size(), ' ') << "<Directory Id=\"d" << ++directoryNumber << "\" Name=\""
          << Xml(parts[j]) << "\">\n";
    }
    const std::string indent(16 + 2 * open.size(), ' ');
    wxs << indent << "<Component Id=\"c" << i << "\" Guid=\""
        << NameGuid(result.productCode + " component " + files[i].relative) << "\">\n"
        << indent << "  <File Id=\"f" << i << "\" Name=\"" << Xml(name) << "\" Source=\""
        << Xml((fs::path("paquet") / files[i].relative).string()) << "\" KeyPath=\"yes\"/>\n"
        << indent << "</Component>\n";
  }
  for (size_t j = open.size(); j > 0; --j) wxs << std::string(14 + 2 * j, ' ') << "</Directory>\n";
  wxs << "              </Directory>\n            </Directory>\n          </Directory>\n        </Directory>\n"
      << "      </Directory>\n    </Directory>\n"
      << "    <Feature Id=\"Paquet\" Level=\"1\">\n";
  for (size_t i = 0; i < files.size(); ++i) wxs << "      <ComponentRef Id=\"c" << i << "\"/>\n";
  // The updater takes the package from its current directory; an installed file's action
  // would start it elsewhere, so cmd starts it from the copy and waits for it (a GUI
  // program), and its exit status is the updater's. The log goes beside the copy, which a
  // failed installation removes.
  wxs << "    </Feature>\n"
      << "    <CustomAction Id=\"VarnoFindCmd\" Property=\"VARNOCMD\" Value=\"[SystemFolder]cmd.exe\" Execute=\"immediate\"/>\n"
      << "    <CustomAction Id=\"VarnoRunUpdater\" Property=\"VARNOCMD\" ExeCommand=\"/d /c cd /d &quot;[PACKAGEDIR]&quot; &amp;&amp; "
      << "start &quot;&quot; /wait " << kUpdaterName << " /quiet &quot;/log=[VARNOMSI]" << version
      << ".log&quot;\" Execute=\"deferred\" Impersonate=\"no\" Return=\"check\"/>\n"
      << "    <InstallExecuteSequence>\n"
      << "      <Custom Action=\"VarnoFindCmd\" Before=\"InstallInitialize\">NOT Installed</Custom>\n"
      << "      <Custom Action=\"VarnoRunUpdater\" After=\"InstallFiles\">NOT Installed</Custom>\n"
      << "    </InstallExecuteSequence>\n"
      << "  </Product>\n</Wix>\n";

  const fs::path source = staging / "paquet.wxs";
  const fs::path built = staging / "paquet.msi";
  std::string msi;
  if (error) {
    report.Fail("msi-write", request.output, 0, "cannot copy the package beside it: " + error.message());
  } else if (!(std::ofstream(source, std::ios::binary) << wxs.str())) {
    report.Fail("msi-write", request.output, 0, "cannot write the MSI's description beside it");
  } else if (!RunWixl(request.wixl, staging)) {
    report.Fail("msi-wixl", request.output, 0, "wixl failed (is the package wixl, from msitools, installed?)");
  } else {
    std::ifstream in(built, std::ios::binary);
    msi.assign(std::istreambuf_iterator<char>(in), {});
    if (!FixSummaryInformation(msi, result.packageCode, kFixedFileTime)) {
      report.Fail("msi-summary", request.output, 0, "wixl's summary information was not where it was expected");
    } else if (!(std::ofstream(built, std::ios::binary) << msi)) {
      report.Fail("msi-write", request.output, 0, "cannot write the MSI");
    } else {
      fs::rename(built, output, error);
      if (error) report.Fail("msi-write", request.output, 0, "cannot be replaced: " + error.message());
      result.written = !error;
    }
  }
  fs::remove_all(staging, error);
  return result;
}

}  // namespace varno::pack
