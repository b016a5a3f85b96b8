#include "support/product_fixture.h"

#include "rollback/run_anchor.h"

namespace varno::fake {

void InstallProduct(MemoryMachine& machine, const std::string& dir, const std::string& version, bool appPaths) {
  for (const char* file : {"Varnolith.exe", "AdminVarnolith.exe", "Admin.dll", "Varxxlith.ocx", "VarnoUpDate.dll"}) {
    machine.files.AddFile(dir + "\\" + file, "MZ");
  }
  for (const std::string& control : {dir + "\\Varxxlith.ocx", machine.system.systemDirectory + "\\Varxxlith.ocx"}) {
    machine.libraries.Add(control).exports["DllRegisterServer"] = [] { return 0u; };
  }
  MemoryMachine* owner = &machine;
  machine.libraries.Add(dir + "\\VarnoUpDate.dll").exports["VarnoTableInstall"] = [owner] {
    owner->registry.PutDword(kHkeyLocalMachine, kProductKey, "VarnoInst", 15);
    return 1u;
  };
  machine.system.SetFileVersion(dir + "\\Varnolith.exe", 2, 8, 3, 1);
  machine.registry.PutString(kHkeyLocalMachine, kProductKey, "Version", version);
  if (appPaths) machine.registry.PutString(kHkeyLocalMachine, kAppPathsKey, "Path", dir);
  // The key an earlier update anchored its run in: what a run leaves once it has ended.
  machine.registry.AddKey(kHkeyLocalMachine, kRunAnchorKey);
}

int DatabaseLevel(MemoryMachine& machine) {
  const auto value = machine.registry.Get(kHkeyLocalMachine, kProductKey, "VarnoInst");
  return value ? static_cast<unsigned char>(value->data[0]) : -1;
}

void WritePackageDescription(MemoryMachine& machine, const std::string& newVersion, const std::string& sections) {
  std::string text = "Mise à jour de Varnolith\r\n" + newVersion + "\r\n";
  for (int line = 3; line <= 21; ++line) {
    text += (line == 21 ? std::string("2.9") : line == 17 ? std::string("28") : "") + "\r\n";
  }
  machine.files.AddFile(std::string(kTestPackageDir) + "\\MjaIni.ini", text + sections);
}

void AddShellFolders(MemoryMachine& machine) {
  machine.registry.PutString(kHkeyLocalMachine, kShellFoldersKey, "Common Desktop", kTestCommonDesktop);
  machine.registry.PutString(kHkeyLocalMachine, kShellFoldersKey, "Common Programs", kTestCommonPrograms);
  machine.registry.PutString(kHkeyCurrentUser, kShellFoldersKey, "Desktop", kTestDesktop);
  machine.registry.PutString(kHkeyCurrentUser, kShellFoldersKey, "Programs", kTestUserPrograms);
  for (const char* folder : {kTestCommonDesktop, kTestCommonPrograms, kTestDesktop, kTestUserPrograms}) {
    machine.files.AddDirectory(folder);
  }
}

}  // namespace varno::fake
