// A stand-in for the product's database-update library: VarnoTableInstall brings the
// database level "VarnoInst" up to date (15) and reports success. Built a second time with
// VARNO_UPDATE_RESULT=0x100, whose call changes nothing and returns 0x100 (a failure, as only
// the low byte counts). This is the product's side, not the updater: it uses <windows.h>.
#include <windows.h>

#ifndef VARNO_UPDATE_RESULT
#define VARNO_UPDATE_RESULT 1
#endif

extern "C" __declspec(dllexport) DWORD WINAPI VarnoTableInstall() {
  if (VARNO_UPDATE_RESULT & 0xFF) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tolmerik\\Varnolith", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != 0) {
      return 0;
    }
    const DWORD level = 15;
    RegSetValueExA(key, "VarnoInst", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&level), sizeof(level));
    RegCloseKey(key);
  }
  return VARNO_UPDATE_RESULT;
}
