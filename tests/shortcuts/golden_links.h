// The shortcuts of the golden files in tests/shortcuts/golden: what the Windows link tool
// gives the shell's link object under Wine, and what the service reads back from them.
#pragma once

namespace varno::fake {

struct GoldenLink {
  const char* file;
  const char* target;
  const char* arguments;
  const char* workingDirectory;
  const char* readTarget;  // what LinkTargetFromBytes gives
};

inline constexpr GoldenLink kGoldenLinks[] = {
    // The product's own shortcut; "Program Files" exists in a fresh prefix, so its item
    // carries real dates.
    {"product.lnk", "C:\\Program Files\\TolMerik\\Varnolith\\Varnolith.exe", "",
     "C:\\Program Files\\TolMerik\\Varnolith\\", "C:\\Program Files\\TolMerik\\Varnolith\\Varnolith.exe"},
    {"arguments.lnk", "C:\\App\\run.exe", "/maj -x", "C:\\App\\", "C:\\App\\run.exe"},
    // Windows-1252 beyond Latin-1 too: the euro sign is U+20AC in the UTF-16 names.
    {"accents.lnk", "C:\\Données\\Été\\prêt€.exe", "", "C:\\Données\\Été\\", "C:\\Données\\Été\\prêt€.exe"},
    // A bare drive root falls through to the UTF-16 pass, and Wine writes no relative path.
    {"drive_root.lnk", "C:\\", "", "C:\\", ""},
    // A "[desk]" line without ":" points at the installation directory itself.
    {"directory.lnk", "C:\\Produits\\Varnolith\\", "", "C:\\Produits\\Varnolith\\", ""},
    // The drive item is written in capitals, the path as given: "C" never meets "c:\".
    {"lower_drive.lnk", "c:\\app\\run.exe", "", "c:\\app\\", ""},
};

}  // namespace varno::fake
