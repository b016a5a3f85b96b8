// msi/: an MSI as tables, and the two back ends that write them with the platform's Windows Installer library.
// An MSI as data: its tables, its summary information and the files of its one embedded
// cabinet. The msi command describes the package's MSI once; a database backend writes the
// description through the platform's own Windows Installer library (libmsi and libgcab on
// Linux, msi.dll and cabinet.dll on Windows), so both platforms make the same tables and
// neither patches a compound file by hand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace varno::pack {

// A table's field: null, a number or a UTF-8 text.
using MsiField = std::variant<std::monostate, int, std::string>;

struct MsiTable {
  std::string name;
  // Column definitions in the SQL of both libraries: "`File` CHAR(72) NOT NULL".
  std::vector<std::string> columns;
  std::string primaryKeys;  // "`Feature_`, `Component_`"
  std::vector<std::vector<MsiField>> rows;
};

struct MsiSummary {
  int codepage = 1252;
  std::string title, subject, author, keywords, comments, platformAndLanguages, revision, application;
  uint64_t fileTime = 0;  // the creation and last-saved times, a FILETIME
  int pageCount = 200;    // the Windows Installer version the package needs
  int wordCount = 2;      // long file names, compressed
  int security = 2;       // read-only recommended
};

struct MsiCabinetFile {
  std::string key;  // the File table's key, which is the name in the cabinet
  std::filesystem::path source;
};

struct MsiDescription {
  int codepage = 1252;
  std::vector<MsiTable> tables;
  MsiSummary summary;
  std::string cabinetStream;  // the _Streams name of the cabinet, without the Media table's "#"
  std::vector<MsiCabinetFile> cabinet;  // in the File table's sequence
  uint64_t cabinetTime = 0;             // every file's date in the cabinet, a FILETIME in UTC
};

// Writes the description as a new MSI at output, the cabinet made in workDir first. "" when
// written, otherwise what failed. The same description gives the same bytes on one platform.
std::string WriteMsiDatabase(const MsiDescription& msi, const std::filesystem::path& workDir,
                             const std::filesystem::path& output);

// The SQL that creates a table, the same for both libraries.
std::string CreateTableSql(const MsiTable& table);
// The SQL that inserts one row, its values as "?" markers of a record.
std::string InsertSql(const MsiTable& table);

}  // namespace varno::pack
