// A program that imports what Windows XP SP3 lacks: a kernel32 function of Vista and a DLL
// of Vista (Restart Manager). The import check must refuse it and name both.
#include <windows.h>
#include <restartmanager.h>

int main() {
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (RmStartSession(&session, 0, key) == ERROR_SUCCESS) RmEndSession(session);
  return static_cast<int>(GetTickCount64() & 1);
}
