// The product as a user leaves it open: a window with its message loop, holding its own
// program and the database library it loads, as Varnolith does all day. It answers the
// log-off question as a well-behaved program does (yes, and it ends), or says no with
// /refuse. With /trace=PATH it appends its command line and current directory to PATH each
// time it starts, so a test can tell how it was started again.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool refuses = false;

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION: return refuses ? FALSE : TRUE;
    case WM_ENDSESSION:
      if (wParam) DestroyWindow(window);
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

void Trace(const char* path) {
  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof(directory), directory);
  if (FILE* trace = std::fopen(path, "ab")) {
    std::fprintf(trace, "%s|%s\r\n", GetCommandLineA(), directory);
    std::fclose(trace);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
  refuses = std::strstr(arguments, "/refuse") != nullptr;
  if (const char* trace = std::strstr(arguments, "/trace=")) {
    std::string path(trace + 7);
    path = path.substr(0, path.find(' '));
    Trace(path.c_str());
  }
  char library[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, library, sizeof(library));
  std::strcpy(std::strrchr(library, '\\') + 1, "VarnoUpDate.dll");
  if (!LoadLibraryA(library)) return 3;

  WNDCLASSA type{};
  type.lpfnWndProc = Procedure;
  type.hInstance = instance;
  type.lpszClassName = "VarnolithOuvert";
  RegisterClassA(&type);
  CreateWindowA("VarnolithOuvert", "Varnolith ouvert", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 120, nullptr,
                nullptr, instance, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
