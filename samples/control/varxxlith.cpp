// A stand-in for the product's ActiveX control: a COM server that registers its class the
// way a real control does (CLSID, in-process server path, threading model, ProgID). Built a
// second time with VARNO_REGISTRATION_FAILS, whose registration reports status 1.
// A test can hold the registration: while the file named by VARNO_HOLD_REGISTRATION exists,
// DllRegisterServer waits, after creating that name plus ".held" to say it has begun.
// This is the product's side, not the updater: it uses <windows.h> directly.
#include <windows.h>

namespace {

HMODULE module = nullptr;
constexpr char kClassKey[] = "CLSID\\{6F1C2A4E-8B3D-4E5F-9A71-2C3D4E5F6A7B}";
constexpr char kClassId[] = "{6F1C2A4E-8B3D-4E5F-9A71-2C3D4E5F6A7B}";
constexpr char kProgId[] = "Varxxlith.Control";

bool SetString(const char* path, const char* name, const char* value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != 0) {
    return false;
  }
  const LONG status =
      RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), lstrlenA(value) + 1);
  RegCloseKey(key);
  return status == 0;
}

// Waits while the hold file exists, so that a test can stop the updater in the middle of
// the registration.
void WaitWhileHeld() {
  char hold[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("VARNO_HOLD_REGISTRATION", hold, MAX_PATH - 8);
  if (length == 0 || length >= MAX_PATH - 8 || GetFileAttributesA(hold) == INVALID_FILE_ATTRIBUTES) return;
  char held[MAX_PATH] = {};
  lstrcpyA(held, hold);
  lstrcatA(held, ".held");
  const HANDLE marker = CreateFileA(held, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  while (GetFileAttributesA(hold) != INVALID_FILE_ATTRIBUTES) Sleep(50);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) module = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
#ifdef VARNO_REGISTRATION_FAILS
  return 1;
#else
  WaitWhileHeld();
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, MAX_PATH);
  const char* server = "CLSID\\{6F1C2A4E-8B3D-4E5F-9A71-2C3D4E5F6A7B}\\InprocServer32";
  const bool done = SetString(kClassKey, nullptr, "Varxxlith Control") && SetString(server, nullptr, path) &&
                    SetString(server, "ThreadingModel", "Apartment") &&
                    SetString("Varxxlith.Control\\CLSID", nullptr, kClassId) &&
                    SetString(kClassKey, "ProgID", kProgId);
  return done ? S_OK : static_cast<HRESULT>(0x80040201L);  // SELFREG_E_CLASS
#endif
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{6F1C2A4E-8B3D-4E5F-9A71-2C3D4E5F6A7B}\\InprocServer32");
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kClassKey);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, "Varxxlith.Control\\CLSID");
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kProgId);
  return S_OK;
}
