// A stand-in for the companion program "Action.exe" that packages may carry. It leaves a
// trace of its start ("Action.txt" in its current directory) and ends.
#include <cstdio>

int main() {
  std::FILE* trace = std::fopen("Action.txt", "wb");
  if (!trace) return 1;
  std::fputs("Action.exe a \xE9t\xE9 lanc\xE9\r\n", trace);
  std::fclose(trace);
  return 0;
}
