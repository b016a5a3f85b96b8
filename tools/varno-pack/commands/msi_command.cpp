#include "commands/msi_command.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <vector>

#include "base/ansi_text.h"
#include "host/host_text.h"
#include "msi/msi_database.h"
#include "platform/portable_sha256.h"

namespace varno::pack {
namespace {

namespace fs = std::filesystem;

constexpr char kProductName[] = "Tolmerik Varnolith";
constexpr char kDescriptionName[] = "MjaIni.ini";
constexpr char kUpdaterName[] = "Varnolith_MAJ_Solo.exe";
// What the package code is made of changes with this tag when the MSI's layout does, so that
// two different MSIs of one package never share a package code.
constexpr char kLayoutTag[] = "varno-msi 2";
// 2000-01-01 00:00 UTC, for every date the MSI holds: the summary's and the cabinet's.
constexpr uint64_t kFixedFileTime = 125911584000000000ull;

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

// The MSI's strings are UTF-8 until the backend writes them; this program's literals and the
// description's label are Windows-1252.
std::string Text(std::string_view text) { return Cp1252ToUtf8(text); }

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

// A host path's name in UTF-8, whatever the host's own encoding.
std::string Utf8Name(const fs::path& path) {
  const std::u8string name = path.generic_u8string();
  return std::string(name.begin(), name.end());
}

// A path the user gave, in the host's encoding: UTF-8 on Linux, the ANSI code page on Windows
// (where the standard library reads a narrow path as UTF-8).
fs::path HostPath(const std::string& text) {
#ifdef _WIN32
  const std::string utf8 = Cp1252ToUtf8(text);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
#else
  return fs::path(text);
#endif
}

struct PackageFile {
  fs::path source;
  std::string relative;  // in UTF-8, with "/" separators
  uintmax_t size = 0;
  std::string digest;
};

// A name Windows can use where long names are not: the name itself when it is already 8.3,
// otherwise a made-up "NAME~N.EXT" unique (in any case) among the directory's other entries.
std::string ShortName(const std::string& name, std::set<std::string>& used) {
  const auto allowed = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view("_-!#$%&'()@^`{}~").find(c) != std::string_view::npos;
  };
  const size_t dot = name.rfind('.');
  const std::string base = name.substr(0, dot), extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  const bool isShort = !base.empty() && base.size() <= 8 && extension.size() <= 3 &&
                       std::all_of(base.begin(), base.end(), allowed) &&
                       std::all_of(extension.begin(), extension.end(), allowed);
  if (isShort && used.insert(AnsiUpperCase(name)).second) return name;
  const auto letters = [&allowed](const std::string& text, size_t most) {
    std::string kept;
    for (const char c : text) {
      if (allowed(c) && c != '~' && kept.size() < most) kept += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return kept;
  };
  const std::string shortExtension = letters(extension, 3);
  for (int number = 1;; ++number) {
    const std::string tail = "~" + std::to_string(number);
    std::string candidate = letters(base, 8 - tail.size());
    if (candidate.empty()) candidate = "F";
    candidate += tail + (shortExtension.empty() ? "" : "." + shortExtension);
    if (used.insert(candidate).second) return candidate;
  }
}

// "short|long", or the name alone when it is its own short name.
std::string MsiFileName(const std::string& name, std::set<std::string>& used) {
  const std::string shortName = ShortName(name, used);
  return shortName == name ? name : shortName + "|" + name;
}

MsiTable Table(std::string name, std::vector<std::string> columns, std::string keys) {
  return {std::move(name), std::move(columns), std::move(keys), {}};
}

// The MSI's tables: the package's files under
// CommonAppDataFolder\Tolmerik\Varnolith\MSI\VERSION, one component each, and the updater
// started from there once they are installed.
MsiDescription DescribeMsi(const std::vector<PackageFile>& files, const MsiResult& codes, const std::string& version,
                           const std::string& label) {
  MsiDescription msi;
  msi.cabinetStream = "paquet.cab";
  msi.cabinetTime = kFixedFileTime;
  const std::string productName = Text("Mise à jour Varnolith " + label + " (" + version + ")");

  MsiTable property = Table("Property", {"`Property` CHAR(72) NOT NULL", "`Value` LONGCHAR NOT NULL LOCALIZABLE"},
                            "`Property`");
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"ALLUSERS", "1"},
           {"ARPSYSTEMCOMPONENT", "1"},
           {"Manufacturer", "Tolmerik"},
           {"ProductLanguage", "1036"},
           {"ProductCode", codes.productCode},
           {"ProductName", productName},
           {"ProductVersion", codes.productVersion},
           {"UpgradeCode", codes.upgradeCode},
           {"SecureCustomProperties", "VARNOLATER;VARNOEARLIER"}}) {
    property.rows.push_back({name, value});
  }

  MsiTable directory = Table(
      "Directory", {"`Directory` CHAR(72) NOT NULL", "`Directory_Parent` CHAR(72)", "`DefaultDir` CHAR(255) NOT NULL LOCALIZABLE"},
      "`Directory`");
  directory.rows = {{"TARGETDIR", {}, "SourceDir"},
                    {"CommonAppDataFolder", "TARGETDIR", "."},
                    {"VARNOVENDOR", "CommonAppDataFolder", "Tolmerik"},
                    {"VARNOPRODUCT", "VARNOVENDOR", "Varnolith"},
                    {"VARNOMSI", "VARNOPRODUCT", "MSI"},
                    {"PACKAGEDIR", "VARNOMSI", version}};
  MsiTable component = Table("Component",
                             {"`Component` CHAR(72) NOT NULL", "`ComponentId` CHAR(38)", "`Directory_` CHAR(72) NOT NULL",
                              "`Attributes` SHORT NOT NULL", "`Condition` CHAR(255)", "`KeyPath` CHAR(72)"},
                             "`Component`");
  MsiTable file = Table("File",
                        {"`File` CHAR(72) NOT NULL", "`Component_` CHAR(72) NOT NULL",
                         "`FileName` CHAR(255) NOT NULL LOCALIZABLE", "`FileSize` LONG NOT NULL", "`Version` CHAR(72)",
                         "`Language` CHAR(20)", "`Attributes` SHORT", "`Sequence` LONG NOT NULL"},
                        "`File`");
  MsiTable featureComponents =
      Table("FeatureComponents", {"`Feature_` CHAR(38) NOT NULL", "`Component_` CHAR(72) NOT NULL"},
            "`Feature_`, `Component_`");
  // Each directory of the package by its path, and the short names taken in each.
  std::map<std::string, std::string> directoryKeys = {{"", "PACKAGEDIR"}};
  std::map<std::string, std::set<std::string>> shortNames;
  const auto directoryOf = [&](const std::string& path, const auto& self) -> std::string {
    if (const auto found = directoryKeys.find(path); found != directoryKeys.end()) return found->second;
    const size_t slash = path.rfind('/');
    const std::string parentPath = slash == std::string::npos ? "" : path.substr(0, slash);
    const std::string parent = self(parentPath, self);
    const std::string key = "d" + std::to_string(directoryKeys.size());
    directory.rows.push_back({key, parent, MsiFileName(path.substr(slash + 1), shortNames[parentPath])});
    return directoryKeys[path] = key;
  };
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& relative = files[i].relative;
    const size_t slash = relative.rfind('/');
    const std::string parentPath = slash == std::string::npos ? "" : relative.substr(0, slash);
    const std::string parent = directoryOf(parentPath, directoryOf);
    const std::string componentKey = "c" + std::to_string(i), fileKey = "f" + std::to_string(i);
    component.rows.push_back(
        {componentKey, NameGuid(codes.productCode + " component " + relative), parent, 0, {}, fileKey});
    // 512: vital, the installation fails rather than go on without the file.
    file.rows.push_back({fileKey, componentKey, MsiFileName(relative.substr(slash + 1), shortNames[parentPath]),
                         static_cast<int>(files[i].size), {}, {}, 512, static_cast<int>(i + 1)});
    featureComponents.rows.push_back({"Paquet", componentKey});
    msi.cabinet.push_back({fileKey, files[i].source});
  }

  MsiTable feature = Table("Feature",
                           {"`Feature` CHAR(38) NOT NULL", "`Feature_Parent` CHAR(38)", "`Title` CHAR(64) LOCALIZABLE",
                            "`Description` CHAR(255) LOCALIZABLE", "`Display` SHORT", "`Level` SHORT NOT NULL",
                            "`Directory_` CHAR(72)", "`Attributes` SHORT NOT NULL"},
                           "`Feature`");
  feature.rows = {{"Paquet", {}, {}, {}, 2, 1, {}, 0}};
  MsiTable media = Table("Media",
                         {"`DiskId` SHORT NOT NULL", "`LastSequence` LONG NOT NULL", "`DiskPrompt` CHAR(64) LOCALIZABLE",
                          "`Cabinet` CHAR(255)", "`VolumeLabel` CHAR(32)", "`Source` CHAR(72)"},
                         "`DiskId`");
  media.rows = {{1, static_cast<int>(files.size()), {}, "#" + msi.cabinetStream, {}, {}}};

  // An earlier update's MSI is removed once this one is installed; a later one's refuses this.
  MsiTable upgrade = Table("Upgrade",
                           {"`UpgradeCode` CHAR(38) NOT NULL", "`VersionMin` CHAR(20)", "`VersionMax` CHAR(20)",
                            "`Language` CHAR(255)", "`Attributes` LONG NOT NULL", "`Remove` CHAR(255)",
                            "`ActionProperty` CHAR(72) NOT NULL"},
                           "`UpgradeCode`, `VersionMin`, `VersionMax`, `Language`, `Attributes`");
  // 1: the features migrate; 2: detected only.
  upgrade.rows = {{codes.upgradeCode, {}, codes.productVersion, {}, 1, {}, "VARNOEARLIER"},
                  {codes.upgradeCode, codes.productVersion, {}, {}, 2, {}, "VARNOLATER"}};
  MsiTable launch = Table("LaunchCondition", {"`Condition` CHAR(255) NOT NULL", "`Description` CHAR(255) NOT NULL LOCALIZABLE"},
                          "`Condition`");
  launch.rows = {{"NOT VARNOLATER", Text("Une mise à jour plus récente de Varnolith est déjà installée.")}};

  // The updater takes the package from its current directory: a type-34 action (an
  // executable in a directory) starts it there, once the files are installed, waits for it
  // and fails the installation, which then rolls back, when it fails. Deferred and not
  // impersonated (34 + 1024 + 2048), it runs with the installer's rights. Its log goes
  // beside the copy, which a failed installation removes.
  MsiTable action = Table("CustomAction",
                          {"`Action` CHAR(72) NOT NULL", "`Type` SHORT NOT NULL", "`Source` CHAR(72)", "`Target` CHAR(255)",
                           "`ExtendedType` LONG"},
                          "`Action`");
  action.rows = {{"VarnoRunUpdater", 34 + 1024 + 2048, "PACKAGEDIR",
                  "\"[PACKAGEDIR]" + std::string(kUpdaterName) + "\" /quiet \"/log=[VARNOMSI]" + version + ".log\"", {}}};

  const std::vector<std::string> sequenceColumns = {"`Action` CHAR(72) NOT NULL", "`Condition` CHAR(255)",
                                                    "`Sequence` SHORT"};
  MsiTable execute = Table("InstallExecuteSequence", sequenceColumns, "`Action`");
  for (const auto& [name, number] : std::vector<std::pair<const char*, int>>{
           {"FindRelatedProducts", 25}, {"LaunchConditions", 100}, {"ValidateProductID", 700},
           {"CostInitialize", 800}, {"FileCost", 900}, {"CostFinalize", 1000}, {"MigrateFeatureStates", 1200},
           {"InstallValidate", 1400}, {"InstallInitialize", 1500}, {"ProcessComponents", 1600},
           {"UnpublishFeatures", 1800}, {"RemoveFiles", 3500}, {"InstallFiles", 4000}, {"RegisterUser", 6000},
           {"RegisterProduct", 6100}, {"PublishFeatures", 6300}, {"PublishProduct", 6400},
           {"InstallFinalize", 6600}, {"RemoveExistingProducts", 6601}}) {
    execute.rows.push_back({name, {}, number});
  }
  execute.rows.push_back({"VarnoRunUpdater", "NOT Installed", 4001});
  MsiTable ui = Table("InstallUISequence", sequenceColumns, "`Action`");
  for (const auto& [name, number] : std::vector<std::pair<const char*, int>>{
           {"FindRelatedProducts", 25}, {"LaunchConditions", 100}, {"ValidateProductID", 700},
           {"CostInitialize", 800}, {"FileCost", 900}, {"CostFinalize", 1000}, {"MigrateFeatureStates", 1200},
           {"ExecuteAction", 1300}}) {
    ui.rows.push_back({name, {}, number});
  }
  msi.tables = {property, directory, component, file, feature, featureComponents, media,
                upgrade,  launch,    action,    execute, ui};

  MsiSummary& summary = msi.summary;
  summary.title = "Installation Database";
  summary.subject = Text("Mise à jour Varnolith " + label);
  summary.author = "Tolmerik";
  summary.keywords = "Installer";
  summary.comments = productName;
  summary.platformAndLanguages = "Intel;1036";
  summary.revision = codes.packageCode;
  summary.application = "varno-pack";
  summary.fileTime = kFixedFileTime;
  return msi;
}

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
  const fs::path root = HostPath(request.packageDir);
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    report.Fail("msi-no-package", request.packageDir, 0, "not a directory");
    return result;
  }
  // Every file of the package, as it is: the updater checks them (and their signature) itself.
  std::vector<PackageFile> files;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const std::string relative = Utf8Name(fs::relative(it->path(), root));
    if (it->is_symlink()) {
      report.FailInHostText("msi-link", relative, "a link: the MSI carries files only, copy what it points to");
      continue;
    }
    // The MSI's strings are in Windows-1252, the updater's code page: a name that is not
    // UTF-8, or holds a character that code page lacks, could not be installed as it is.
    if (!Utf8ToCp1252(relative)) {
      report.FailInHostText("msi-name-refused", relative, "cannot be written in the MSI: " + UnwritableCharacter(relative));
      continue;
    }
    if (!it->is_regular_file()) continue;
    const auto digest = FileSha256(it->path());
    if (!digest) {
      report.FailInHostText("msi-unreadable", relative, "cannot be read");
      continue;
    }
    // A cabinet and the File table count sizes in 31 bits.
    if (it->file_size() > 0x7FFFFFFF) {
      report.FailInHostText("msi-too-large", relative, "larger than an MSI's cabinet can carry (2 GB)");
      continue;
    }
    files.push_back({it->path(), relative, it->file_size(), *digest});
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

  const std::vector<std::string> header = DescriptionLines(root / fs::path(kDescriptionName));
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

  const MsiDescription description = DescribeMsi(files, result, version, label);

  // The cabinet is made beside the MSI, which replaces the output only once whole.
  const fs::path output = fs::absolute(HostPath(request.output), error);
  fs::path work;
  for (int attempt = 0; attempt < 100 && work.empty(); ++attempt) {
    fs::path name(".");
    name += output.filename();
    name += ".work" + std::to_string(attempt);
    const fs::path candidate = output.parent_path() / name;
    if (fs::create_directory(candidate, error)) work = candidate;
  }
  if (work.empty()) {
    report.Fail("msi-write", request.output, 0, "cannot make a working directory beside it");
    return result;
  }
  const fs::path built = work / "paquet.msi";
  if (const std::string failed = WriteMsiDatabase(description, work, built); !failed.empty()) {
    report.Fail("msi-write", request.output, 0, failed);
  } else {
    fs::rename(built, output, error);
    if (error) report.Fail("msi-write", request.output, 0, "cannot be replaced: " + error.message());
    result.written = !error;
  }
  fs::remove_all(work, error);
  return result;
}

}  // namespace varno::pack
