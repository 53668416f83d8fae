// A command for "|..." targets under Wine: copies its standard input into
// the file named by its argument, which appears whole only at the end of
// input.
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string target = argv[1];
  std::string data;
  char buffer[65536];
  DWORD got = 0;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);

  auto write_file = [](const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok;
  };
  if (!write_file(target + ".part", data)) return 1;
  return MoveFileExA((target + ".part").c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
