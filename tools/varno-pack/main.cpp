// varno-pack: builds, lists, unpacks and checks update packages with the updater's own code.
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "base/ansi_text.h"
#include "checks/report.h"
#include "commands/build_command.h"
#include "commands/check_command.h"
#include "commands/create_command.h"
#include "commands/extract_command.h"
#include "commands/list_command.h"
#include "commands/msi_command.h"
#include "host/host_disk.h"
#include "host/host_text.h"
#include "host/progress.h"
#include "signing/signing.h"

namespace {

using namespace varno::pack;

constexpr int kToolFailure = 2;
constexpr int kInterrupted = 128 + 2;

int CurrentYear() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return local ? local->tm_year + 1900 : 2000;
}

// The command line's texts in the updater's code page; a text that cannot be written there
// is refused before anything is done.
class Arguments {
 public:
  std::string operator()(const std::string& argument) {
    auto text = ArgumentText(argument);
    if (!text) {
      refused_.push_back(argument);
      return {};
    }
    return *text;
  }
  bool Refuse() const {
    for (const std::string& argument : refused_) {
      std::cerr << "varno-pack: \"" << argument << "\": its " << UnwritableCharacter(argument)
                << ", the updater's code page\n";
    }
    return !refused_.empty();
  }

 private:
  std::vector<std::string> refused_;
};

// --pkcs11-module, --key-label and --pin-env: the signing key kept on a token.
void AddTokenOptions(CLI::App& command, TokenKey& token) {
  command.add_option("--pkcs11-module", token.module, "the token's PKCS#11 library: the key is used there, never read");
  command.add_option("--key-label", token.label, "with --pkcs11-module: the key's label on the token");
  command.add_option("--pin-env", token.pinEnv,
                     "with --pkcs11-module: the environment variable that holds the PIN (otherwise it is asked once)");
}

// Which key a command signs with: a key file or a key on a token, not both; nothing (said)
// when the options do not name exactly one.
std::optional<SigningKey> ChosenKey(const std::string& keyFile, const std::string& passphraseEnv, const TokenKey& token,
                                    const char* keyOption, Report& report) {
  if (!token.module.empty() == !keyFile.empty() || (!token.module.empty() && token.label.empty())) {
    std::cerr << "varno-pack: give " << keyOption << " KEY_FILE, or --pkcs11-module LIB with --key-label NAME\n";
    return std::nullopt;
  }
  return token.module.empty() ? LoadSigningKey(keyFile, passphraseEnv, report) : LoadTokenKey(token, report);
}

std::optional<char> Separator(const std::string& text, const char* option) {
  if (text.size() == 1) return text[0];
  std::cerr << "varno-pack: " << option << " takes one character\n";
  return std::nullopt;
}

// The regional settings of the machines a package is for, as options: check and build
// take the same ones, with the same French defaults, so that a value build accepts is one
// check accepts.
struct Regional {
  std::string decimal, date, time, format;
  int year = CurrentYear();
  Regional() {
    const varno::RegionalSettings french = FrenchRegionalSettings();
    decimal = std::string(1, french.decimalSeparator);
    date = std::string(1, french.dateSeparator);
    time = std::string(1, french.timeSeparator);
    format = french.shortDateFormat;
  }
};

void AddRegionalOptions(CLI::App& command, Regional& regional) {
  command.add_option("--decimal-separator", regional.decimal, "regional decimal separator")->capture_default_str();
  command.add_option("--date-separator", regional.date, "regional date separator")->capture_default_str();
  command.add_option("--time-separator", regional.time, "regional time separator")->capture_default_str();
  command.add_option("--date-format", regional.format, "regional short date format (its order of d, M, y counts)")
      ->capture_default_str();
  command.add_option("--year", regional.year, "the current year, for dates with a short or no year")
      ->capture_default_str();
}

// The settings in the updater's code page; nothing after saying what is wrong.
std::optional<varno::RegionalSettings> SettingsOf(const Regional& regional, Arguments& text) {
  const std::string decimal = text(regional.decimal), date = text(regional.date), time = text(regional.time);
  varno::RegionalSettings settings;
  settings.shortDateFormat = text(regional.format);
  if (text.Refuse()) return std::nullopt;
  const auto decimalSeparator = Separator(decimal, "--decimal-separator");
  const auto dateSeparator = Separator(date, "--date-separator");
  const auto timeSeparator = Separator(time, "--time-separator");
  if (!decimalSeparator || !dateSeparator || !timeSeparator) return std::nullopt;
  settings.decimalSeparator = *decimalSeparator;
  settings.dateSeparator = *dateSeparator;
  settings.timeSeparator = *timeSeparator;
  return settings;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Builds, lists, unpacks and checks Varnolith update packages."};
  app.set_version_flag("--version", "varno-pack " VARNO_PACK_VERSION);
  app.require_subcommand(1);
  app.fallthrough(false);
  // Each help ends with one command line that works, in the names of the authors' tutorial;
  // the command-line test runs every one of them.
  app.footer("Example: varno-pack build projet/varno-package.toml -o paquet-2.9");

  struct {
    std::string archive, base;
    std::vector<std::string> members;
    bool json = false, quiet = false, noCompress = false;
  } create;
  CLI::App* createCommand = app.add_subcommand("create", "Write a package archive from files.");
  createCommand->add_option("ARCHIVE", create.archive, "the archive to write (replaced as a whole)")->required();
  createCommand
      ->add_option("MEMBER", create.members,
                   "PATH, named in the archive by that path as written (sub-path included), or NAME=PATH")
      ->required();
  createCommand->add_option("-C,--directory", create.base, "read relative PATHs from this directory");
  createCommand->add_flag("--json", create.json, "print the result as JSON");
  createCommand->add_flag("-q,--quiet", create.quiet, "no progress line, even on a terminal");
  createCommand->add_flag("--no-compress", create.noCompress,
                          "store every member as it is (an SG1 archive, which older updaters read too)");
  createCommand->footer(
      "Member names are relative paths inside the directory the updater unpacks into; \"/\" and \"\\\" both\n"
      "separate levels, and the archive stores \"\\\". The updater refuses an archive with more than 128\n"
      "members or a name that is empty, longer than 254 bytes, holds \"#\", \":\" or a control character, or\n"
      "is absolute or climbs with \"..\"; such archives are not written. The name table's lead byte is \"#\".\n\n"
      "Example: varno-pack create sor_ti1.slp -C projet/staging Varnolith.exe Data/accueil.txt");

  struct {
    std::string archive;
    bool json = false;
  } list;
  CLI::App* listCommand = app.add_subcommand("list", "Show the members of a package archive.");
  listCommand->add_option("ARCHIVE", list.archive, "the archive to read")->required();
  listCommand->add_flag("--json", list.json, "print the listing as JSON");
  listCommand->footer("Example: varno-pack list paquet-2.9/sor_ti1.slp");

  struct {
    std::string archive, directory;
    bool makeDirectories = false, json = false, quiet = false;
  } extract;
  CLI::App* extractCommand = app.add_subcommand("extract", "Unpack a package archive as the updater does.");
  extractCommand->add_option("ARCHIVE", extract.archive, "the archive to unpack")->required();
  extractCommand->add_option("DIR", extract.directory, "the directory to unpack into (made when missing)")
      ->required();
  extractCommand->add_flag("--make-dirs", extract.makeDirectories,
                           "make the directories of members' sub-paths first (the updater makes none)");
  extractCommand->add_flag("--json", extract.json, "print the result as JSON");
  extractCommand->add_flag("-q,--quiet", extract.quiet, "no progress line, even on a terminal");
  extractCommand->footer("Example: varno-pack extract sor_ti1.slp contenu --make-dirs");

  struct {
    std::string directory, against;
    bool json = false;
    int installDirLength = kDefaultInstallDirLength;
  } check;
  Regional checkRegional;
  CLI::App* checkCommand = app.add_subcommand("check", "Report what the updater will do wrong with a package.");
  checkCommand->add_option("PACKAGE_DIR", check.directory, "the package directory (holding MjaIni.ini)")
      ->required();
  AddRegionalOptions(*checkCommand, checkRegional);
  checkCommand
      ->add_option("--install-dir-length", check.installDirLength,
                   "the length of the installation directory's path, for the check of paths against MAX_PATH")
      ->capture_default_str()
      ->check(CLI::Range(3, 240));
  checkCommand->add_option("--against", check.against,
                           "an installation directory: say which of the package's deltas apply to its files");
  checkCommand->add_flag("--json", check.json, "print the findings as JSON");
  checkCommand->footer(
      "Exit status: 0 when clean, 1 with warnings only, 2 with errors. The regional settings are those of\n"
      "the machines the package will run on (the defaults are French).\n\n"
      "Example: varno-pack check paquet-2.9");

  struct {
    std::string directory, project, output, since, key, passphraseEnv;
    bool json = false, quiet = false, force = false, jsonProgress = false, withFullFiles = false, noCompress = false;
  } build;
  Regional buildRegional;
  CLI::App* initCommand = app.add_subcommand("init", "Write a commented package project file to fill in.");
  initCommand->add_option("DIR", build.directory, "where to write varno-package.toml (made when missing)")->required();
  initCommand->footer("Example: varno-pack init projet");
  CLI::App* buildCommand = app.add_subcommand("build", "Build a whole, checked update package from a project file.");
  buildCommand->add_option("PROJECT_FILE", build.project, "the project file (see init)")->required();
  buildCommand->add_option("-o,--output", build.output, "the package directory to write")->required();
  buildCommand->add_option("--since", build.since, "the previous release's staging directory: carry only what changed");
  buildCommand->add_flag("--with-full-files", build.withFullFiles,
                         "with --since: carry the whole file beside each delta, for installations it does not fit");
  buildCommand->add_flag("--force", build.force, "replace an earlier package at PACKAGE_DIR");
  buildCommand->add_flag("--no-compress", build.noCompress,
                         "store every member as it is (SG1 archives, which older updaters read too)");
  buildCommand->add_flag("--json-progress", build.jsonProgress,
                         "progress as one JSON object a line on standard error, for release scripts");
  buildCommand->add_option("--sign", build.key, "sign the package with this private key (PEM) once it is checked");
  buildCommand->add_option("--passphrase-env", build.passphraseEnv,
                           "the environment variable that holds the key's passphrase (otherwise it is asked once)");
  TokenKey buildToken;
  AddTokenOptions(*buildCommand, buildToken);
  AddRegionalOptions(*buildCommand, buildRegional);
  buildCommand->add_flag("--json", build.json, "print the result as JSON");
  buildCommand->add_flag("-q,--quiet", build.quiet, "no progress line, even on a terminal");
  buildCommand->footer(
      "The package is built beside PACKAGE_DIR and checked as \"check\" does, under the regional settings\n"
      "given (French by default); only a package without errors is put in place, and an earlier package\n"
      "there is replaced only with --force. The same inputs give the same bytes.\n\n"
      "Example: varno-pack build projet/varno-package.toml -o paquet-3.0 --since staging-2.9 --sign cles/vendor.pem");
  std::string keygenFile;
  NewKeyPassphrase keygenPassphrase;
  CLI::App* keygenCommand = app.add_subcommand("keygen", "Make the vendor's RSA key pair for signing packages.");
  keygenCommand->add_option("KEY_FILE", keygenFile, "the private key to write (mode 0600); the public key goes to KEY.pub.pem")
      ->required();
  keygenCommand->add_option("--passphrase-env", keygenPassphrase.environmentVariable,
                            "encrypt the private key with the passphrase this environment variable holds");
  keygenCommand->add_flag("--ask-passphrase", keygenPassphrase.ask,
                          "encrypt the private key with a passphrase asked twice on the terminal");
  TokenKey keygenToken;
  AddTokenOptions(*keygenCommand, keygenToken);
  keygenCommand->footer(
      "With --pkcs11-module, the pair is made on the token and only KEY.pub.pem is written.\n\n"
      "Example: varno-pack keygen cles/vendor.pem");
  struct {
    std::string directory, key, passphraseEnv;
  } sign, verify;
  CLI::App* signCommand = app.add_subcommand("sign", "Write the package's signature file MjaIni.sig.");
  signCommand->add_option("PACKAGE_DIR", sign.directory, "the package directory (holding MjaIni.ini)")->required();
  signCommand->add_option("--key", sign.key, "the vendor's private key (PEM)");
  signCommand->add_option("--passphrase-env", sign.passphraseEnv,
                          "the environment variable that holds the key's passphrase (otherwise it is asked once)");
  TokenKey signToken;
  AddTokenOptions(*signCommand, signToken);
  signCommand->footer("Example: varno-pack sign paquet-2.9 --key cles/vendor.pem");
  CLI::App* verifyCommand = app.add_subcommand("verify", "Check a signed package as the updater built with the key does.");
  verifyCommand->add_option("PACKAGE_DIR", verify.directory, "the package directory")->required();
  verifyCommand->add_option("--public-key", verify.key, "the public key the updater was built with (PEM)")->required();
  verifyCommand->footer("Example: varno-pack verify paquet-2.9 --public-key cles/vendor.pub.pem");
  MsiRequest msi;
  CLI::App* msiCommand =
      app.add_subcommand("msi", "Wrap a package in a per-machine MSI that runs the updater quietly.");
  msiCommand->add_option("PACKAGE_DIR", msi.packageDir, "the package directory, carried as it is")->required();
  msiCommand->add_option("-o,--output", msi.output, "the .msi file to write (replaced as a whole)")->required();
  msiCommand->footer("Example: varno-pack msi paquet-2.9 -o Varnolith-2.9.msi");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : kToolFailure;
  }

  std::string problem;
  const auto disk = HostDisk::Open(problem);
  if (!disk) {
    std::cerr << "varno-pack: " << problem << "\n";
    return kToolFailure;
  }
  WatchForInterruption();
  Arguments text;
  Report report;

  if (*msiCommand) {
    const MsiResult result = BuildMsi(msi, report);
    PrintFindings(stderr, report);
    if (result.written) {
      std::cout << "msi: " << msi.output << "\nProductVersion " << result.productVersion << "\nProductCode "
                << result.productCode << "\nPackageCode " << result.packageCode << "\nUpgradeCode " << result.upgradeCode
                << "\n";
    }
    return result.written ? report.Status() : kToolFailure;
  }
  if (*keygenCommand || *signCommand || *verifyCommand) {
    const std::string shown = text(*keygenCommand ? keygenFile : *signCommand ? sign.directory : verify.directory);
    if (text.Refuse()) return kToolFailure;
    const std::string directory = varno::WithoutTrailingBackslash(disk->WindowsPath(shown));
    if (!*keygenCommand && !disk->Files().DirectoryExists(directory)) {
      PrintText(stderr, "varno-pack: " + shown + " is not a directory\n");
      return kToolFailure;
    }
    if (*keygenCommand && !keygenToken.module.empty()) {
      if (keygenToken.label.empty()) {
        std::cerr << "varno-pack: --pkcs11-module needs --key-label NAME, the new key's label on the token\n";
        return kToolFailure;
      }
      if (GenerateTokenKeyPair(keygenFile, keygenToken, report)) {
        std::cout << "private key: on the token, labelled \"" << keygenToken.label << "\"\npublic key: "
                  << PublicKeyFileOf(keygenFile) << "\n";
      }
    } else if (*keygenCommand && GenerateKeyPair(keygenFile, report, keygenPassphrase)) {
      std::cout << "private key: " << keygenFile << " (keep it out of every repository)\npublic key: "
                << PublicKeyFileOf(keygenFile) << "\n";
    } else if (*signCommand) {
      const auto key = ChosenKey(sign.key, sign.passphraseEnv, signToken, "--key", report);
      if (!key && !report.HasErrors()) return kToolFailure;
      if (key && SignPackage(disk->Files(), directory, *key, report)) {
        std::cout << "signed: " << sign.directory << "/MjaIni.sig\n";
      }
    } else if (std::vector<std::string> uncovered;
               *verifyCommand && VerifyPackage(disk->Files(), directory, verify.key, report, &uncovered)) {
      std::cout << "verified: " << verify.directory << "\n";
      std::string list;
      for (const std::string& name : uncovered) list += (list.empty() ? "" : ", ") + name;
      if (!list.empty()) {
        PrintText(stdout, "not covered by the signature, as the update never reads them (the updater program is "
                          "signed with Authenticode instead): " + list + "\n");
      }
    }
    PrintFindings(stderr, report);
    return report.Status();
  }

  if (*initCommand) {
    const std::string shown = text(build.directory);
    if (text.Refuse()) return kToolFailure;
    if (InitProject(disk->Files(), disk->WindowsPath(shown), shown, report)) {
      PrintText(stdout, shown + "/varno-package.toml written\n");
    }
    PrintFindings(stderr, report);
  } else if (*buildCommand) {
    BuildRequest request;
    request.projectShown = text(build.project);
    request.packageShown = text(build.output);
    request.previousShown = build.since.empty() ? "" : text(build.since);
    if (text.Refuse()) return kToolFailure;
    const auto regional = SettingsOf(buildRegional, text);
    if (!regional) return kToolFailure;
    request.regional = *regional;
    request.currentYear = buildRegional.year;
    request.force = build.force;
    request.withFullFiles = build.withFullFiles;
    request.compress = !build.noCompress;
    std::optional<SigningKey> key;
    if (!build.key.empty() || !buildToken.module.empty()) {
      key = ChosenKey(build.key, build.passphraseEnv, buildToken, "--sign", report);
      if (!key) {
        PrintFindings(stderr, report);
        return kToolFailure;
      }
      request.sign = [&key](varno::FileSystem& files, const std::string& directory, Report& found) {
        return SignPackage(files, directory, *key, found);
      };
    }
    request.windowsPath = [&disk](const std::string& shown) { return disk->WindowsPath(shown); };
    Progress progress = Progress::ForTerminal(build.quiet, build.jsonProgress);
    const BuildResult result = BuildPackage(disk->Files(), request, progress, report);
    PrintFindings(stderr, report);
    if (build.json) {
      PrintJson(BuildJson(request, result, report));
    } else {
      PrintBuilt(request, result, report);
    }
  } else if (*createCommand) {
    CreateRequest request;
    request.compress = !create.noCompress;
    request.archiveShown = text(create.archive);
    request.archive = disk->WindowsPath(request.archiveShown);
    const std::string base = text(create.base);
    for (const std::string& argument : create.members) {
      const std::string shown = text(argument);
      const MemberArgument member = ParseMemberArgument(shown);
      const bool relative = !member.path.empty() && member.path[0] != '/' && member.path[0] != '\\' &&
                            !(member.path.size() > 1 && member.path[1] == ':');
      const std::string path = base.empty() || !relative ? member.path : base + "/" + member.path;
      request.members.push_back({member.name, disk->WindowsPath(path), shown});
    }
    if (text.Refuse()) return kToolFailure;
    Progress progress = Progress::ForTerminal(create.quiet);
    const CreateResult result = CreateArchive(disk->Files(), request, progress, report);
    PrintFindings(stderr, report);
    if (create.json) {
      PrintJson(CreateJson(request, result, report));
    } else {
      PrintCreated(request, result);
    }
  } else if (*listCommand) {
    const std::string shown = text(list.archive);
    if (text.Refuse()) return kToolFailure;
    const ArchiveListing listing = ListArchive(disk->Files(), disk->WindowsPath(shown), shown, report);
    PrintFindings(stderr, report);
    if (list.json) {
      PrintJson(ListJson(shown, listing, report));
    } else {
      PrintListing(shown, listing);
    }
  } else if (*extractCommand) {
    ExtractRequest request;
    request.archiveShown = text(extract.archive);
    request.directoryShown = text(extract.directory);
    if (text.Refuse()) return kToolFailure;
    request.archive = disk->WindowsPath(request.archiveShown);
    request.directory = disk->WindowsPath(request.directoryShown);
    request.makeDirectories = extract.makeDirectories;
    Progress progress = Progress::ForTerminal(extract.quiet);
    const ExtractResult result = ExtractArchiveTo(disk->Files(), request, progress, report);
    PrintFindings(stderr, report);
    if (extract.json) {
      PrintJson(ExtractJson(request, result, report));
    } else {
      PrintExtracted(result);
    }
  } else if (*checkCommand) {
    CheckRequest request;
    request.packageShown = text(check.directory);
    if (text.Refuse()) return kToolFailure;
    const auto regional = SettingsOf(checkRegional, text);
    if (!regional) return kToolFailure;
    request.regional = *regional;
    request.currentYear = checkRegional.year;
    request.installDirLength = check.installDirLength;
    const std::string directory = disk->WindowsPath(request.packageShown);
    if (!disk->Files().DirectoryExists(directory)) {
      PrintText(stderr, "varno-pack: " + request.packageShown + " is not a directory\n");
      return kToolFailure;
    }
    request.packageDir = varno::WithoutTrailingBackslash(directory);
    if (!check.against.empty()) {
      request.againstShown = text(check.against);
      if (text.Refuse()) return kToolFailure;
      request.againstDir = varno::WithoutTrailingBackslash(disk->WindowsPath(request.againstShown));
      if (!disk->Files().DirectoryExists(request.againstDir)) {
        PrintText(stderr, "varno-pack: --against " + request.againstShown + " is not a directory\n");
        return kToolFailure;
      }
    }
    const DeltaCheck deltas = CheckPackage(disk->Files(), request, report);
    if (check.json) {
      PrintJson(CheckJson(request, report));
    } else {
      PrintCheck(request, report, deltas);
    }
  }
  // Ctrl+C ends the command as the shell expects of a program stopped by SIGINT.
  if (Interrupted()) return kInterrupted;
  return report.Status();
}
