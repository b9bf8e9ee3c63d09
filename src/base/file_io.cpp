#include "base/file_io.h"

#include "base/random.h"

namespace tavrin {
namespace {
FileFaultHook* g_hook = nullptr;
}

void SetFileFaultHook(FileFaultHook* hook) { g_hook = hook; }

namespace detail {
Result CheckFileFault(FileOp op) { return g_hook ? g_hook->Check(op) : kOk; }

void TempNamePrefix(Utf8View path, char (&out)[13]) {
  // FNV-1a over the file-name part, letters folded to lower case so that the
  // same file named in another case on Windows finds the same leftovers.
  std::uint32_t h = 2166136261u;
  for (unsigned char c : FileNameOfPath(path)) {
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    h = (h ^ c) * 16777619u;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  out[0] = '~';
  out[1] = 't';
  out[2] = 'v';
  for (int i = 0; i < 8; ++i) out[3 + i] = kHex[(h >> (28 - 4 * i)) & 15];
  out[11] = '.';
  out[12] = 0;
}

bool RandomNameChars(char* out, std::size_t n) {
  static constexpr char kChars[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  unsigned char bytes[16];
  if (n > sizeof bytes || !RandomBytes(bytes, n)) return false;
  for (std::size_t i = 0; i < n; ++i) out[i] = kChars[bytes[i] % 36];
  return true;
}
}  // namespace detail

}  // namespace tavrin
