// Writes its current folder and every argument it received to the file named
// by its first argument, then ends with exit code 7.
//
// Report format, one record per item: "<kind> <length>\n<bytes>\n", kinds
// "cwd" and "arg" (all of argv, argv[0] included).
#include <cstdio>
#include <filesystem>
#include <string>

static void record(std::FILE* out, const char* kind, const std::string& text) {
  std::fprintf(out, "%s %zu\n", kind, text.size());
  std::fwrite(text.data(), 1, text.size(), out);
  std::fputc('\n', out);
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out) return 3;
  std::error_code error;
  record(out, "cwd", std::filesystem::current_path(error).string());
  for (int i = 0; i < argc; ++i) record(out, "arg", argv[i]);
  std::fclose(out);
  return 7;
}
