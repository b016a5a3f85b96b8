// A library that someone could plant beside the updater under the name of a system
// library. Loaded, it leaves a trace (C:\planted.txt) and fails its load. The tests check
// that the updater never loads it. This is not part of the updater: it uses <windows.h>.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    const HANDLE trace = CreateFileA("C:\\planted.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (trace != INVALID_HANDLE_VALUE) CloseHandle(trace);
  }
  return FALSE;
}
