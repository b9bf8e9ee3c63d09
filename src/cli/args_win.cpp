// Windows side of the tool's arguments: the UTF-16 command line converted
// whole to UTF-8, and a console that shows UTF-8.
#include <windows.h>
#include <shellapi.h>

#include "cli/cli.h"

namespace tavrin::cli {

bool PlatformArguments(int, char**, std::vector<std::string>& out) {
  out.clear();
  SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return false;
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide[i], -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
      ok = false;
      break;
    }
    std::string arg(static_cast<std::size_t>(n), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide[i], -1, arg.data(), n, nullptr, nullptr) != n) {
      ok = false;
      break;
    }
    arg.resize(static_cast<std::size_t>(n - 1));
    out.push_back(std::move(arg));
  }
  LocalFree(wide);
  return ok;
}

}  // namespace tavrin::cli
