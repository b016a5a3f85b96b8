// Holds a file open without sharing, as a running product would hold its own files, until
// a second file appears (or a minute passes): hold_file FILE STOP_FILE.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  for (int i = 0; i < 600 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
  CloseHandle(file);
  return 0;
}
