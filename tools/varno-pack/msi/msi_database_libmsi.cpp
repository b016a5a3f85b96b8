// The MSI through msitools' libmsi and the cabinet through libgcab, on Linux.
#include <libgcab.h>
#include <libmsi.h>

#include <fstream>
#include <memory>

#include "host/host_text.h"
#include "msi/msi_database.h"

namespace varno::pack {
namespace {

namespace fs = std::filesystem;

template <typename T>
struct GObjectUnref {
  void operator()(T* object) const {
    if (object) g_object_unref(object);
  }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref<T>>;

// The message of a GError, freed; "" without one.
std::string Take(GError*& error) {
  std::string message = error ? error->message : "";
  if (error) g_error_free(error);
  error = nullptr;
  return message;
}

// FILETIME counts 100 ns from 1601; the Unix epoch is 11644473600 s later.
int64_t UnixSeconds(uint64_t fileTime) { return static_cast<int64_t>(fileTime / 10000000u) - 11644473600; }

std::string WriteCabinet(const MsiDescription& msi, const fs::path& cabinet) {
  GObjectPtr<GCabCabinet> cab(gcab_cabinet_new());
  GObjectPtr<GCabFolder> folder(gcab_folder_new(GCAB_COMPRESSION_MSZIP));
  std::unique_ptr<GDateTime, void (*)(GDateTime*)> date(g_date_time_new_from_unix_utc(UnixSeconds(msi.cabinetTime)),
                                                       g_date_time_unref);
  GError* error = nullptr;
  for (const MsiCabinetFile& file : msi.cabinet) {
    GObjectPtr<GFile> source(g_file_new_for_path(file.source.c_str()));
    GObjectPtr<GCabFile> entry(gcab_file_new_with_file(file.key.c_str(), source.get()));
    gcab_file_set_date_time(entry.get(), date.get());
    gcab_file_set_attributes(entry.get(), GCAB_FILE_ATTRIBUTE_ARCH);
    if (!gcab_folder_add_file(folder.get(), entry.get(), FALSE, nullptr, &error)) {
      return "cannot add " + file.source.string() + " to the cabinet: " + Take(error);
    }
  }
  if (!gcab_cabinet_add_folder(cab.get(), folder.get(), &error)) return "cannot make the cabinet: " + Take(error);
  GObjectPtr<GFile> target(g_file_new_for_path(cabinet.c_str()));
  GObjectPtr<GFileOutputStream> out(
      g_file_replace(target.get(), nullptr, FALSE, G_FILE_CREATE_REPLACE_DESTINATION, nullptr, &error));
  if (!out) return "cannot write the cabinet: " + Take(error);
  const bool written = gcab_cabinet_write_simple(cab.get(), G_OUTPUT_STREAM(out.get()), nullptr, nullptr, nullptr, &error);
  if (!written) return "cannot write the cabinet: " + Take(error);
  if (!g_output_stream_close(G_OUTPUT_STREAM(out.get()), nullptr, &error)) return "cannot write the cabinet: " + Take(error);
  return "";
}

// Runs one statement, its "?" markers taken from record (which may be null).
std::string Execute(LibmsiDatabase* db, const std::string& sql, LibmsiRecord* record) {
  GError* error = nullptr;
  GObjectPtr<LibmsiQuery> query(libmsi_query_new(db, sql.c_str(), &error));
  if (!query) return sql + ": " + Take(error);
  if (!libmsi_query_execute(query.get(), record, &error)) return sql + ": " + Take(error);
  libmsi_query_close(query.get(), nullptr);
  return "";
}

std::string WriteSummary(LibmsiDatabase* db, const MsiSummary& summary) {
  GError* error = nullptr;
  GObjectPtr<LibmsiSummaryInfo> info(libmsi_summary_info_new(db, G_MAXUINT, &error));
  if (!info) return "cannot open the summary information: " + Take(error);
  bool set = libmsi_summary_info_set_int(info.get(), LIBMSI_PROPERTY_CODEPAGE, summary.codepage, &error);
  const std::pair<LibmsiProperty, const std::string*> texts[] = {
      {LIBMSI_PROPERTY_TITLE, &summary.title},          {LIBMSI_PROPERTY_SUBJECT, &summary.subject},
      {LIBMSI_PROPERTY_AUTHOR, &summary.author},        {LIBMSI_PROPERTY_KEYWORDS, &summary.keywords},
      {LIBMSI_PROPERTY_COMMENTS, &summary.comments},    {LIBMSI_PROPERTY_TEMPLATE, &summary.platformAndLanguages},
      {LIBMSI_PROPERTY_UUID, &summary.revision},        {LIBMSI_PROPERTY_APPNAME, &summary.application}};
  // libmsi writes the summary's texts as given, where Windows reads them in the summary's
  // code page; the tables' strings it converts itself.
  for (const auto& [property, text] : texts) {
    const std::string coded = Utf8ToCp1252(*text).value_or(*text);
    set = set && libmsi_summary_info_set_string(info.get(), property, coded.c_str(), &error);
  }
  set = set && libmsi_summary_info_set_filetime(info.get(), LIBMSI_PROPERTY_CREATED_TM, summary.fileTime, &error) &&
        libmsi_summary_info_set_filetime(info.get(), LIBMSI_PROPERTY_LASTSAVED_TM, summary.fileTime, &error) &&
        libmsi_summary_info_set_int(info.get(), LIBMSI_PROPERTY_VERSION, summary.pageCount, &error) &&
        libmsi_summary_info_set_int(info.get(), LIBMSI_PROPERTY_SOURCE, summary.wordCount, &error) &&
        libmsi_summary_info_set_int(info.get(), LIBMSI_PROPERTY_SECURITY, summary.security, &error);
  if (!set) return "cannot set the summary information: " + Take(error);
  if (!libmsi_summary_info_persist(info.get(), &error)) return "cannot write the summary information: " + Take(error);
  return "";
}

}  // namespace

std::string WriteMsiDatabase(const MsiDescription& msi, const fs::path& workDir, const fs::path& output) {
  const fs::path cabinet = workDir / msi.cabinetStream;
  if (std::string failed = WriteCabinet(msi, cabinet); !failed.empty()) return failed;

  GError* error = nullptr;
  GObjectPtr<LibmsiDatabase> db(libmsi_database_new(output.c_str(), LIBMSI_DB_FLAGS_CREATE, nullptr, &error));
  if (!db) return "cannot create the MSI: " + Take(error);
  // The code page of the database's strings goes in as a table only an import can give.
  const fs::path codepage = workDir / "_ForceCodepage.idt";
  if (!(std::ofstream(codepage, std::ios::binary) << "\r\n\r\n" << msi.codepage << "\t_ForceCodepage\r\n")) {
    return "cannot write " + codepage.string();
  }
  if (!libmsi_database_import(db.get(), codepage.c_str(), &error)) return "cannot set the code page: " + Take(error);

  for (const MsiTable& table : msi.tables) {
    if (std::string failed = Execute(db.get(), CreateTableSql(table), nullptr); !failed.empty()) return failed;
    const std::string insert = InsertSql(table);
    for (const auto& row : table.rows) {
      GObjectPtr<LibmsiRecord> record(libmsi_record_new(static_cast<guint>(row.size())));
      for (size_t i = 0; i < row.size(); ++i) {
        const guint field = static_cast<guint>(i + 1);
        if (const int* number = std::get_if<int>(&row[i])) libmsi_record_set_int(record.get(), field, *number);
        if (const auto* text = std::get_if<std::string>(&row[i])) {
          libmsi_record_set_string(record.get(), field, text->c_str());
        }
      }
      if (std::string failed = Execute(db.get(), insert, record.get()); !failed.empty()) return failed;
    }
  }
  GObjectPtr<LibmsiRecord> stream(libmsi_record_new(2));
  libmsi_record_set_string(stream.get(), 1, msi.cabinetStream.c_str());
  if (!libmsi_record_load_stream(stream.get(), 2, cabinet.c_str())) return "cannot read the cabinet " + cabinet.string();
  if (std::string failed = Execute(db.get(), "INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", stream.get());
      !failed.empty()) {
    return failed;
  }
  if (std::string failed = WriteSummary(db.get(), msi.summary); !failed.empty()) return failed;
  if (!libmsi_database_commit(db.get(), &error)) return "cannot write the MSI: " + Take(error);
  return "";
}

}  // namespace varno::pack
