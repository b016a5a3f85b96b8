#include "platform/detached_platform.h"

#include "platform/inert_window.h"

namespace varno {

struct DetachedPlatform::Inert final : Registry, Shell, Dialogs, Processes, Libraries, System, FileHolders {
  long OpenKey(RegKey, const std::string&, uint32_t, bool, RegKey*) override { return kRegAccessDenied; }
  void CloseKey(RegKey) override {}
  long QueryValue(RegKey, const std::string&, uint32_t*, std::string*) override { return kRegNotFound; }
  long SetValue(RegKey, const std::string&, uint32_t, std::string_view) override { return kRegAccessDenied; }
  long DeleteValue(RegKey, const std::string&) override { return kRegAccessDenied; }
  long DeleteSubKey(RegKey, const std::string&) override { return kRegAccessDenied; }
  long SubKeyName(RegKey, uint32_t, std::string*) override { return kRegNoMoreItems; }
  long QueryRawValue(RegKey, const std::string&, uint32_t*, std::string*) override { return kRegNotFound; }
  long SetRawValue(RegKey, const std::string&, uint32_t, std::string_view) override { return kRegAccessDenied; }
  long FlushKey(RegKey) override { return kRegSuccess; }

  std::string SpecialFolderPath(int) override { return {}; }
  LinkSave SaveShellLink(const ShellLinkFields&, const std::string&) override { return LinkSave::NoLinkObject; }

  bool ShowBox(BoxKind kind, const std::string&, const std::string&) override {
    return kind == BoxKind::Message || kind == BoxKind::Error;
  }
  std::string SelectDirectory() override { return {}; }


  bool StartProgram(const std::string&) override { return false; }
  bool ClaimSoleUpdater() override { return true; }

  LibraryHandle Load(const std::string&) override { return 0; }
  std::optional<uint32_t> CallExport(LibraryHandle, const std::string&) override { return std::nullopt; }
  void Free(LibraryHandle) override {}

  std::string CurrentDirectory() override { return {}; }
  std::string WindowsDirectory() override { return {}; }
  std::string SystemDirectory() override { return {}; }
  std::string ModuleFileName() override { return {}; }
  std::optional<OsVersion> WindowsVersion() override { return std::nullopt; }
  std::optional<FileVersionWords> FixedFileVersion(const std::string&) override { return std::nullopt; }
  int CurrentYear() override { return 2000; }
  RegionalSettings Regional() override { return {}; }
  void Pause(unsigned) override {}

  std::vector<FileHolder> Find(const std::vector<std::string>&) override { return {}; }
  EndRequest AskToEnd(const FileHolder&) override { return EndRequest::StillRunning; }
  bool ForceEnd(const FileHolder&) override { return false; }
  bool Restart(const FileHolder&) override { return false; }

  InertWindow window;
};

DetachedPlatform::DetachedPlatform(FileSystem& files)
    : inert_(std::make_unique<Inert>()),
      platform_{files, *inert_, *inert_, *inert_, inert_->window, *inert_, *inert_, *inert_, *inert_} {}

DetachedPlatform::~DetachedPlatform() = default;

}  // namespace varno
