// The MSI through Windows' msi.dll and the cabinet through cabinet.dll's FCI, on Windows.
#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <fci.h>
#include <msi.h>
#include <msiquery.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "msi/msi_database.h"

namespace varno::pack {
namespace {

namespace fs = std::filesystem;

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

// The names FCI passes around are UTF-8 here: FCI only hands them back to these callbacks,
// which open them as wide names, so that any file name of the package reaches the cabinet.
std::string Utf8(const fs::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

// FCI's callbacks: files through handles, the temporary files numbered in the work directory.
struct CabinetWork {
  std::string directory;  // UTF-8
  uint64_t fileTime = 0;
  int temporaries = 0;
};

FNFCIALLOC(Allocate) { return std::malloc(cb); }
FNFCIFREE(Free) { std::free(memory); }
FNFCIOPEN(Open) {
  (void)pmode;
  (void)pv;
  const bool writes = (oflag & (_O_WRONLY | _O_RDWR)) != 0;
  HANDLE file = CreateFileW(Wide(pszFile).c_str(), writes ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, nullptr,
                            (oflag & _O_CREAT) ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *err = static_cast<int>(GetLastError());
    return -1;
  }
  return reinterpret_cast<INT_PTR>(file);
}
FNFCIREAD(Read) {
  (void)pv;
  DWORD done = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(hf), memory, cb, &done, nullptr)) {
    *err = static_cast<int>(GetLastError());
    return static_cast<UINT>(-1);
  }
  return done;
}
FNFCIWRITE(Write) {
  (void)pv;
  DWORD done = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(hf), memory, cb, &done, nullptr)) {
    *err = static_cast<int>(GetLastError());
    return static_cast<UINT>(-1);
  }
  return done;
}
FNFCICLOSE(Close) {
  (void)pv;
  if (!CloseHandle(reinterpret_cast<HANDLE>(hf))) {
    *err = static_cast<int>(GetLastError());
    return -1;
  }
  return 0;
}
FNFCISEEK(Seek) {
  (void)pv;
  const DWORD at = SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, static_cast<DWORD>(seektype));
  if (at == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
    *err = static_cast<int>(GetLastError());
    return -1;
  }
  return static_cast<LONG>(at);
}
FNFCIDELETE(Delete) {
  (void)pv;
  if (!DeleteFileW(Wide(pszFile).c_str())) {
    *err = static_cast<int>(GetLastError());
    return -1;
  }
  return 0;
}
FNFCIGETTEMPFILE(TemporaryName) {
  auto* work = static_cast<CabinetWork*>(pv);
  const std::string name = work->directory + "\\fci" + std::to_string(++work->temporaries) + ".tmp";
  if (name.size() >= static_cast<size_t>(cbTempName)) return FALSE;
  std::memcpy(pszTempName, name.c_str(), name.size() + 1);
  return TRUE;
}
FNFCIFILEPLACED(Placed) {
  (void)pccab, (void)pszFile, (void)cbFile, (void)fContinuation, (void)pv;
  return 0;
}
FNFCIGETNEXTCABINET(NextCabinet) {
  (void)pccab, (void)cbPrevCab, (void)pv;
  return FALSE;  // one cabinet, as large as it needs to be
}
FNFCISTATUS(Status) {
  (void)typeStatus, (void)cb1, (void)cb2, (void)pv;
  return 0;
}
// Every file gets the one fixed date, so that the same package gives the same cabinet.
FNFCIGETOPENINFO(OpenInfo) {
  const auto* work = static_cast<CabinetWork*>(pv);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(work->fileTime);
  time.dwHighDateTime = static_cast<DWORD>(work->fileTime >> 32);
  FileTimeToDosDateTime(&time, pdate, ptime);
  *pattribs = FILE_ATTRIBUTE_ARCHIVE;
  return Open(pszName, _O_RDONLY, 0, err, pv);
}

std::string WriteCabinet(const MsiDescription& msi, const fs::path& workDir) {
  CabinetWork work{Utf8(workDir), msi.cabinetTime, 0};
  CCAB cab{};
  cab.cb = 0x7FFFFFFF;
  cab.cbFolderThresh = 0x7FFFFFFF;
  cab.setID = 1;
  cab.iCab = 1;
  const std::string cabPath = work.directory + "\\";
  if (cabPath.size() >= sizeof cab.szCabPath) return "the working directory's path is too long for a cabinet";
  std::memcpy(cab.szCabPath, cabPath.c_str(), cabPath.size() + 1);
  std::memcpy(cab.szCab, msi.cabinetStream.c_str(), msi.cabinetStream.size() + 1);
  ERF erf{};
  HFCI fci = FCICreate(&erf, Placed, Allocate, Free, Open, Read, Write, Close, Seek, Delete, TemporaryName, &cab, &work);
  if (!fci) return "cannot start a cabinet (FCI error " + std::to_string(erf.erfOper) + ")";
  std::string failed;
  for (const MsiCabinetFile& file : msi.cabinet) {
    std::string source = Utf8(file.source), name = file.key;
    if (!FCIAddFile(fci, source.data(), name.data(), FALSE, NextCabinet, Status, OpenInfo, tcompTYPE_MSZIP)) {
      failed = "cannot add " + source + " to the cabinet (FCI error " + std::to_string(erf.erfOper) + ", " +
               std::to_string(erf.erfType) + ")";
      break;
    }
  }
  if (failed.empty() && !FCIFlushCabinet(fci, FALSE, NextCabinet, Status)) {
    failed = "cannot write the cabinet (FCI error " + std::to_string(erf.erfOper) + ")";
  }
  FCIDestroy(fci);
  return failed;
}

struct MsiHandle {
  MSIHANDLE handle = 0;
  ~MsiHandle() {
    if (handle) MsiCloseHandle(handle);
  }
};

std::string Failed(const std::string& what, UINT code) { return what + " (Windows Installer error " + std::to_string(code) + ")"; }

std::string Execute(MSIHANDLE db, const std::string& sql, MSIHANDLE record) {
  MsiHandle view;
  UINT code = MsiDatabaseOpenViewW(db, Wide(sql).c_str(), &view.handle);
  if (code == ERROR_SUCCESS) code = MsiViewExecute(view.handle, record);
  if (code == ERROR_SUCCESS) code = MsiViewClose(view.handle);
  return code == ERROR_SUCCESS ? "" : Failed(sql, code);
}

std::string WriteSummary(MSIHANDLE db, const MsiSummary& summary) {
  MsiHandle info;
  UINT code = MsiGetSummaryInformationW(db, nullptr, 20, &info.handle);
  if (code != ERROR_SUCCESS) return Failed("cannot open the summary information", code);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(summary.fileTime);
  time.dwHighDateTime = static_cast<DWORD>(summary.fileTime >> 32);
  const auto number = [&](UINT property, UINT type, int value) {
    if (code == ERROR_SUCCESS) code = MsiSummaryInfoSetPropertyW(info.handle, property, type, value, nullptr, nullptr);
  };
  const auto text = [&](UINT property, const std::string& value) {
    if (code == ERROR_SUCCESS) {
      code = MsiSummaryInfoSetPropertyW(info.handle, property, VT_LPSTR, 0, nullptr, Wide(value).c_str());
    }
  };
  number(1, VT_I2, summary.codepage);  // set first: the texts are stored in it
  text(2, summary.title);
  text(3, summary.subject);
  text(4, summary.author);
  text(5, summary.keywords);
  text(6, summary.comments);
  text(7, summary.platformAndLanguages);
  text(9, summary.revision);
  text(18, summary.application);
  for (const UINT property : {12u, 13u}) {
    if (code == ERROR_SUCCESS) code = MsiSummaryInfoSetPropertyW(info.handle, property, VT_FILETIME, 0, &time, nullptr);
  }
  number(14, VT_I4, summary.pageCount);
  number(15, VT_I4, summary.wordCount);
  number(19, VT_I4, summary.security);
  if (code != ERROR_SUCCESS) return Failed("cannot set the summary information", code);
  code = MsiSummaryInfoPersist(info.handle);
  return code == ERROR_SUCCESS ? "" : Failed("cannot write the summary information", code);
}

}  // namespace

std::string WriteMsiDatabase(const MsiDescription& msi, const fs::path& workDir, const fs::path& output) {
  if (std::string failed = WriteCabinet(msi, workDir); !failed.empty()) return failed;
  const fs::path cabinet = workDir / msi.cabinetStream;

  MsiHandle db;
  UINT code = MsiOpenDatabaseW(output.wstring().c_str(), reinterpret_cast<LPCWSTR>(MSIDBOPEN_CREATE), &db.handle);
  if (code != ERROR_SUCCESS) return Failed("cannot create the MSI", code);
  // The code page of the database's strings goes in as a table only an import can give.
  if (!(std::ofstream(workDir / "_ForceCodepage.idt", std::ios::binary)
        << "\r\n\r\n" << msi.codepage << "\t_ForceCodepage\r\n")) {
    return "cannot write the code page's table in " + Utf8(workDir);
  }
  code = MsiDatabaseImportW(db.handle, workDir.wstring().c_str(), L"_ForceCodepage.idt");
  if (code != ERROR_SUCCESS) return Failed("cannot set the code page", code);

  for (const MsiTable& table : msi.tables) {
    if (std::string failed = Execute(db.handle, CreateTableSql(table), 0); !failed.empty()) return failed;
    const std::string insert = InsertSql(table);
    for (const auto& row : table.rows) {
      MsiHandle record;
      record.handle = MsiCreateRecord(static_cast<UINT>(row.size()));
      for (size_t i = 0; i < row.size(); ++i) {
        const UINT field = static_cast<UINT>(i + 1);
        if (const int* number = std::get_if<int>(&row[i])) MsiRecordSetInteger(record.handle, field, *number);
        if (const auto* text = std::get_if<std::string>(&row[i])) {
          MsiRecordSetStringW(record.handle, field, Wide(*text).c_str());
        }
      }
      if (std::string failed = Execute(db.handle, insert, record.handle); !failed.empty()) return failed;
    }
  }
  MsiHandle stream;
  stream.handle = MsiCreateRecord(2);
  MsiRecordSetStringW(stream.handle, 1, Wide(msi.cabinetStream).c_str());
  code = MsiRecordSetStreamW(stream.handle, 2, cabinet.wstring().c_str());
  if (code != ERROR_SUCCESS) return Failed("cannot read the cabinet " + Utf8(cabinet), code);
  if (std::string failed = Execute(db.handle, "INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", stream.handle);
      !failed.empty()) {
    return failed;
  }
  if (std::string failed = WriteSummary(db.handle, msi.summary); !failed.empty()) return failed;
  code = MsiDatabaseCommit(db.handle);
  return code == ERROR_SUCCESS ? "" : Failed("cannot write the MSI", code);
}

}  // namespace varno::pack
