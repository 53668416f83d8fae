// Reads a packed executable's resources the way Windows programs do, and
// prints what it found, one "key=value" line each (UTF-8):
//   version.<Key>=...        GetFileVersionInfo / VerQueryValue, string table
//                            of the first translation
//   fixed.file=a.b.c.d       the fixed file and product versions
//   fixed.product=a.b.c.d
//   icons=N                  ExtractIconEx: how many icons the file holds
//   icon.extracted=WxH       the first one's large icon
//   icon.loaded=WxH          LoadImage of group icon 1 at 32x32
//   string.<id>=...          LoadString of the launcher's messages
//   manifest=<bytes>         size of RT_MANIFEST 1, or 0
//   acp=<code page>          this process's ANSI code page
// Usage: resource_probe EXE
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text, int length = -1) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  if (length == -1 && !out.empty()) out.pop_back();
  return out;
}

void Print(const std::string& key, const std::string& value) {
  const std::string line = key + "=" + value + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
}

std::string FourParts(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
         "." + std::to_string(LOWORD(low));
}

void PrintVersion(const wchar_t* path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return;
  std::vector<char> block(size);
  if (!::GetFileVersionInfoW(path, 0, size, block.data())) return;
  void* value = nullptr;
  UINT length = 0;
  if (::VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    Print("fixed.file", FourParts(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    Print("fixed.product", FourParts(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
  }
  if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4) return;
  const auto* translation = static_cast<const WORD*>(value);
  wchar_t table[32];
  std::swprintf(table, 32, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
  for (const wchar_t* key : {L"FileDescription", L"ProductName", L"CompanyName", L"LegalCopyright",
                             L"OriginalFilename", L"InternalName", L"FileVersion", L"ProductVersion"}) {
    const std::wstring query = std::wstring(table) + key;
    if (::VerQueryValueW(block.data(), query.c_str(), &value, &length) && length > 0)
      Print("version." + Utf8(key), Utf8(static_cast<const wchar_t*>(value)));
  }
}

std::string IconSize(HICON icon) {
  ICONINFO info{};
  if (icon == nullptr || !::GetIconInfo(icon, &info)) return "none";
  BITMAP bitmap{};
  ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  if (info.hbmMask) ::DeleteObject(info.hbmMask);
  return std::to_string(bitmap.bmWidth) + "x" + std::to_string(bitmap.bmHeight);
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (argv == nullptr || count != 2) {
    std::fprintf(stderr, "usage: resource_probe EXE\n");
    return 2;
  }
  const wchar_t* path = argv[1];
  PrintVersion(path);

  Print("icons", std::to_string(::ExtractIconExW(path, -1, nullptr, nullptr, 0)));
  HICON large = nullptr;
  if (::ExtractIconExW(path, 0, &large, nullptr, 1) > 0 && large != nullptr) {
    Print("icon.extracted", IconSize(large));
    ::DestroyIcon(large);
  }

  HMODULE module = ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) {
    std::fprintf(stderr, "cannot load %ls as data: %lu\n", path, ::GetLastError());
    return 1;
  }
  HICON loaded = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));
  Print("icon.loaded", IconSize(loaded));
  if (loaded) ::DestroyIcon(loaded);
  for (UINT id : {1u, 9u, 10u, 13u}) {
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(module, id, reinterpret_cast<wchar_t*>(&text), 0);
    Print("string." + std::to_string(id), length > 0 ? Utf8(text, length) : std::string());
  }
  HRSRC manifest = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  Print("manifest", std::to_string(manifest ? ::SizeofResource(module, manifest) : 0));
  ::FreeLibrary(module);
  Print("acp", std::to_string(::GetACP()));
  return 0;
}
