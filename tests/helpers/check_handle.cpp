// check_handle <report> <handle>: writes one byte to the handle (a descriptor
// on native, a HANDLE value on win32) and reports "written" or "failed" in
// the report file. A parent that passed the write end of its own pipe sees
// the byte arrive only if the handle was inherited.
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  unsigned long long value = std::strtoull(argv[2], nullptr, 0);
#ifdef _WIN32
  DWORD written = 0;
  bool ok =
      WriteFile(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value)), "X", 1, &written, nullptr) && written == 1;
#else
  bool ok = write(static_cast<int>(value), "X", 1) == 1;
#endif
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out) return 3;
  std::fputs(ok ? "written" : "failed", out);
  std::fclose(out);
  return 0;
}
