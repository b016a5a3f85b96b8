// The counter-example to the updater: a program that imports version.dll the ordinary way.
// Started from a directory holding a planted version.dll, the system loader may take that
// one, which shows that the planting test can fail.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  DWORD handle = 0;
  std::printf("%lu\n", GetFileVersionInfoSizeA(argc > 1 ? argv[1] : "C:\\windows\\system32\\kernel32.dll", &handle));
  return 0;
}
