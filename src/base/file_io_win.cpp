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

// Opens a file on disk for reading and gives its size.
Result OpenDiskFileForRead(Utf8View path, Handle& file, std::uint64_t& size) {
  if (path.empty()) return kInvalidArgument;
  Utf16Text<261> wpath;
  if (!AssignPathFromUtf8(wpath, path)) return kInvalidArgument;
  if (Result f = detail::CheckFileFault(FileOp::kOpenRead)) return f;
  file.h = CreateFileW(Wide(wpath), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file.h == INVALID_HANDLE_VALUE) return OpenError();
  if (GetFileType(file.h) != FILE_TYPE_DISK) return kAccessDenied;
  LARGE_INTEGER bytes;
  if (Result f = detail::CheckFileFault(FileOp::kSize)) return f;
  if (!GetFileSizeEx(file.h, &bytes)) return IoError();
  size = static_cast<std::uint64_t>(bytes.QuadPart);
  return kOk;
}

}  // namespace

Result ReadWholeFile(Utf8View path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out) {
  Handle file;
  std::uint64_t size = 0;
  if (Result r = OpenDiskFileForRead(path, file, size)) return r;
  if (size > maxBytes) return kFileTooLarge;
  std::vector<std::uint8_t> data;
  if (Result r = TryResize(data, static_cast<std::size_t>(size))) return r;
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

namespace {

// Long enough for "\\?\" plus a full path of 260 characters plus a
// temporary name: the temporary file may lie past the classic path limit
// when the card's own path is close to it.
constexpr DWORD kLong = 600;

// The full path of `path` behind the "\\?\" prefix (no length limit);
// false when it does not fit.
bool LongFullPath(const wchar_t* path, wchar_t (&out)[kLong]) {
  wchar_t full[kLong];
  const DWORD n = GetFullPathNameW(path, kLong, full, nullptr);
  if (n == 0 || n >= kLong - 8) return false;
  if (full[0] == L'\\' && full[1] == L'\\') {
    // Already "\\?\..." or a UNC path "\\server\share".
    if (full[2] == L'?' || full[2] == L'.') {
      lstrcpyW(out, full);
    } else {
      lstrcpyW(out, L"\\\\?\\UNC");
      lstrcatW(out, full + 1);
    }
  } else {
    lstrcpyW(out, L"\\\\?\\");
    lstrcatW(out, full);
  }
  return true;
}

// Removes temporary files of earlier saves of the same target that no
// process holds open any more (a live writer's file refuses deletion).
void RemoveLeftovers(const wchar_t* folder, const char (&prefix)[13]) {
  wchar_t pattern[kLong];
  const int n = lstrlenW(folder);
  if (n + 20 >= static_cast<int>(kLong)) return;
  lstrcpyW(pattern, folder);
  wchar_t* tail = pattern + n;
  for (int i = 0; i < 12; ++i) tail[i] = static_cast<wchar_t>(prefix[i]);
  tail[12] = L'*';
  tail[13] = 0;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (lstrlenW(found.cFileName) != static_cast<int>(detail::kTempNameLength)) continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    lstrcpyW(tail, found.cFileName);
    DeleteFileW(pattern);
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

}  // namespace

Result WriteWholeFile(Utf8View path, std::span<const std::uint8_t> data) {
  if (path.empty()) return kInvalidArgument;
  // A path that does not convert whole would name another file: refused.
  Utf16Text<261> target;
  if (!AssignPathFromUtf8(target, path)) return kInvalidArgument;
  wchar_t longTarget[kLong];
  if (!LongFullPath(Wide(target), longTarget)) return kInvalidArgument;
  // The folder part, ending with its separator.
  wchar_t folder[kLong];
  lstrcpyW(folder, longTarget);
  wchar_t* name = folder + lstrlenW(folder);
  while (name > folder && name[-1] != L'\\' && name[-1] != L'/') --name;
  *name = 0;
  if (lstrlenW(folder) + static_cast<int>(detail::kTempNameLength) + 1 >= static_cast<int>(kLong)) {
    return kInvalidArgument;
  }
  char prefix[13];
  detail::TempNamePrefix(path, prefix);
  RemoveLeftovers(folder, prefix);

  if (Result f = detail::CheckFileFault(FileOp::kOpenWrite)) return f;
  wchar_t temp[kLong];
  Handle file;
  for (int attempt = 0; attempt < 16 && file.h == INVALID_HANDLE_VALUE; ++attempt) {
    char tail[7] = {};
    if (!detail::RandomNameChars(tail, 6)) return kFailed;
    lstrcpyW(temp, folder);
    wchar_t* t = temp + lstrlenW(temp);
    for (int i = 0; i < 12; ++i) *t++ = static_cast<wchar_t>(prefix[i]);
    for (int i = 0; i < 6; ++i) *t++ = static_cast<wchar_t>(tail[i]);
    *t = 0;
    // No delete sharing: while this save runs, no other one takes the file
    // for a leftover.
    file.h = CreateFileW(temp, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return OpenError();
  }
  if (file.h == INVALID_HANDLE_VALUE) return kAlreadyExists;

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
    } else if (!MoveFileExW(temp, longTarget, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      result = IoError();
    }
  }
  if (result != kOk) DeleteFileW(temp);
  return result;
}

FileReader::~FileReader() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

Result FileReader::Open(Utf8View path) {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  size_ = 0;
  Handle file;
  if (Result r = OpenDiskFileForRead(path, file, size_)) return r;
  handle_ = reinterpret_cast<std::intptr_t>(file.h);
  file.h = INVALID_HANDLE_VALUE;
  return kOk;
}

Result FileReader::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (handle_ == -1) return kInvalidHandle;
  std::size_t done = 0;
  while (done < out.size()) {
    if (Result f = detail::CheckFileFault(FileOp::kRead)) return f;
    OVERLAPPED at{};
    const std::uint64_t pos = offset + done;
    at.Offset = static_cast<DWORD>(pos);
    at.OffsetHigh = static_cast<DWORD>(pos >> 32);
    const std::size_t left = out.size() - done;
    const DWORD want = static_cast<DWORD>(left > 0x40000000u ? 0x40000000u : left);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), out.data() + done, want, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) return kTooMuchData;
      return IoError();
    }
    if (got == 0) return kTooMuchData;
    done += got;
    bytesRead_ += got;
  }
  return kOk;
}

FileUpdateLock::~FileUpdateLock() { Release(); }

void FileUpdateLock::Release() {
  if (handle_ != -1) {
    HANDLE h = reinterpret_cast<HANDLE>(handle_);
    ReleaseMutex(h);
    CloseHandle(h);
  }
  handle_ = -1;
}

Result FileUpdateLock::Acquire(Utf8View path, unsigned waitMs) {
  Release();
  if (path.empty()) return kInvalidArgument;
  Utf16Text<261> wpath;
  if (!AssignPathFromUtf8(wpath, path)) return kInvalidArgument;
  wchar_t full[kLong];
  if (!LongFullPath(Wide(wpath), full)) return kInvalidArgument;
  // One named mutex per card-file, named after its full path with ASCII
  // letters in upper case (Windows file names ignore case); the system releases it when a holder
  // dies.
  std::uint32_t h = 2166136261u;
  for (const wchar_t* p = full; *p; ++p) {
    const wchar_t c = (*p >= L'a' && *p <= L'z') ? static_cast<wchar_t>(*p - L'a' + L'A') : *p;
    h = (h ^ static_cast<std::uint32_t>(c)) * 16777619u;
  }
  wchar_t name[64] = L"Local\\TavrinCardUpdate-";
  wchar_t* t = name + lstrlenW(name);
  for (int i = 0; i < 8; ++i) *t++ = L"0123456789ABCDEF"[(h >> (28 - 4 * i)) & 15];
  *t = 0;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  if (mutex == nullptr) return OpenError();
  const DWORD wait = WaitForSingleObject(mutex, waitMs);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return kNotSupported;
  }
  handle_ = reinterpret_cast<std::intptr_t>(mutex);
  return kOk;
}

}  // namespace tavrin
