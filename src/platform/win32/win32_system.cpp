#include "platform/win32/win32_system.h"

#include "platform/win32/win32.h"
#include "platform/win32/win32_background_work.h"

namespace varno::win32 {
namespace {

std::string LocaleValue(LCTYPE type) {
  char value[80] = {};
  const int length = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, value, sizeof(value));
  return length > 0 ? std::string(value) : std::string();
}

char FirstCharOr(const std::string& text, char fallback) { return text.empty() ? fallback : text.front(); }

}  // namespace

std::string Win32System::CurrentDirectory() {
  return ReadSizedString([](DWORD size, char* buffer) { return GetCurrentDirectoryA(size, buffer); });
}

std::string Win32System::WindowsDirectory() {
  char directory[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryA(directory, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(directory, length) : std::string();
}

std::string Win32System::SystemDirectory() {
  // A deliberately small first query learns the size the directory needs.
  char probe[5] = {};
  const UINT needed = GetSystemDirectoryA(probe, sizeof(probe));
  if (needed == 0) return {};
  if (needed < sizeof(probe)) return std::string(probe, needed);
  std::string directory(needed + 1, '\0');
  const UINT length = GetSystemDirectoryA(directory.data(), needed);
  if (length == 0 || length >= needed + 1) return {};
  directory.resize(length);
  return directory;
}

std::string Win32System::ModuleFileName() {
  std::string name(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return {};
    if (length < name.size()) {
      name.resize(length);
      return name;
    }
    name.resize(name.size() * 2);
  }
}

std::optional<OsVersion> Win32System::WindowsVersion() {
  OSVERSIONINFOA info{};
  static_assert(sizeof(info) == 148, "the version record of the A query is 148 bytes");
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return std::nullopt;
#pragma GCC diagnostic pop
  return OsVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

std::optional<FileVersionWords> Win32System::FixedFileVersion(const std::string& path) {
  // version.dll is not one of the system's known libraries: imported statically it would be
  // looked for in the package directory first, where anyone could have put one. It is loaded
  // by its full path in the system directory instead.
  using SizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  const std::string systemDir = SystemDirectory();
  if (systemDir.empty()) return std::nullopt;
  const HMODULE version = LoadLibraryA((systemDir + "\\version.dll").c_str());
  if (!version) return std::nullopt;
  const auto getSize = reinterpret_cast<SizeFn>(reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoSizeA")));
  const auto getInfo = reinterpret_cast<InfoFn>(reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoA")));
  const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(version, "VerQueryValueA")));
  std::optional<FileVersionWords> result;
  DWORD handle = 0;
  const DWORD size = getSize && getInfo && query ? getSize(path.c_str(), &handle) : 0;
  if (size != 0) {
    std::string block(size, '\0');
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    char root[] = "\\";
    if (getInfo(path.c_str(), 0, size, block.data()) &&
        query(block.data(), root, reinterpret_cast<void**>(&fixed), &length) && fixed &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
      result = FileVersionWords{fixed->dwFileVersionMS, fixed->dwFileVersionLS};
    }
  }
  FreeLibrary(version);
  return result;
}

int Win32System::CurrentYear() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return now.wYear;
}

RegionalSettings Win32System::Regional() {
  RegionalSettings settings;
  settings.decimalSeparator = FirstCharOr(LocaleValue(LOCALE_SDECIMAL), settings.decimalSeparator);
  settings.dateSeparator = FirstCharOr(LocaleValue(LOCALE_SDATE), settings.dateSeparator);
  settings.timeSeparator = FirstCharOr(LocaleValue(LOCALE_STIME), settings.timeSeparator);
  const std::string shortDate = LocaleValue(LOCALE_SSHORTDATE);
  if (!shortDate.empty()) settings.shortDateFormat = shortDate;
  return settings;
}

void Win32System::Pause(unsigned milliseconds) { Sleep(milliseconds); }

std::unique_ptr<Worker> Win32System::MakeWorker() { return std::make_unique<ThreadWorker>(); }

}  // namespace varno::win32
