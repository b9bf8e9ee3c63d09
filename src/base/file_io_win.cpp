// Windows side of the file layer: CreateFileW with read and write sharing.
#include <windows.h>

#include "base/alloc.h"
#include "base/file_io.h"

namespace tavrin {
namespace {

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

Result OpenError() {
  const Result r = MapPlatformError(GetLastError());
  return r == kOk ? kOpenFailed : r;
}

Result IoError() {
  const Result r = MapPlatformError(GetLastError());
  return r == kOk ? kFailed : r;
}

const wchar_t* Wide(Utf16Text<261>& t) { return reinterpret_cast<const wchar_t*>(t.terminated()); }

}  // namespace

Result ReadWholeFile(Utf8View path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out) {
  if (path.empty()) return kInvalidArgument;
  Utf16Text<261> wpath;
  if (!AssignPathFromUtf8(wpath, path)) return kInvalidArgument;
  if (Result f = detail::CheckFileFault(FileOp::kOpenRead)) return f;
  Handle file;
  file.h = CreateFileW(Wide(wpath), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file.h == INVALID_HANDLE_VALUE) return OpenError();
  LARGE_INTEGER size;
  if (Result f = detail::CheckFileFault(FileOp::kSize)) return f;
  if (!GetFileSizeEx(file.h, &size)) return IoError();
  if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) return kFileTooLarge;
  std::vector<std::uint8_t> data;
  if (Result r = TryResize(data, static_cast<std::size_t>(size.QuadPart))) return r;
  std::size_t done = 0;
  while (done < data.size()) {
    if (Result f = detail::CheckFileFault(FileOp::kRead)) return f;
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(data.size() - done);
    if (!ReadFile(file.h, data.data() + done, want, &got, nullptr)) return IoError();
    if (got == 0) break;
    done += got;
  }
  data.resize(done);
  out.swap(data);
  return kOk;
}

Result WriteWholeFile(Utf8View path, std::span<const std::uint8_t> data) {
  if (path.empty()) return kInvalidArgument;
  // A path that does not convert whole would name another file: refused.
  Utf16Text<261> target;
  if (!AssignPathFromUtf8(target, path)) return kInvalidArgument;
  static constexpr char16_t kSuffix[] = u".tavrin-partial";
  Utf16Text<261> temp = target;
  temp.append(kSuffix);
  if (temp.length >= 261 || temp.length != target.length + sizeof(kSuffix) / sizeof(char16_t) - 1) {
    return kInvalidArgument;
  }

  if (Result f = detail::CheckFileFault(FileOp::kOpenWrite)) return f;
  Handle file;
  file.h = CreateFileW(Wide(temp), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file.h == INVALID_HANDLE_VALUE) return OpenError();

  Result result = kOk;
  std::size_t done = 0;
  while (result == kOk && done < data.size()) {
    if (Result f = detail::CheckFileFault(FileOp::kWrite)) {
      result = f;
      break;
    }
    DWORD wrote = 0;
    const std::size_t left = data.size() - done;
    const DWORD want = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    if (!WriteFile(file.h, data.data() + done, want, &wrote, nullptr)) {
      result = IoError();
    } else if (wrote == 0) {
      result = kEndOfData;
    } else {
      done += wrote;
    }
  }
  if (result == kOk) {
    if (Result f = detail::CheckFileFault(FileOp::kFlush)) {
      result = f;
    } else if (!FlushFileBuffers(file.h)) {
      result = IoError();
    }
  }
  CloseHandle(file.h);
  file.h = INVALID_HANDLE_VALUE;
  if (result == kOk) {
    if (Result f = detail::CheckFileFault(FileOp::kReplace)) {
      result = f;
    } else if (!MoveFileExW(Wide(temp), Wide(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      result = IoError();
    }
  }
  if (result != kOk) DeleteFileW(Wide(temp));
  return result;
}

}  // namespace tavrin
