// POSIX side of the file layer (Linux, macOS).
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/alloc.h"
#include "base/file_io.h"

namespace tavrin {
namespace {

constexpr std::size_t kMaxPath = 4096;

// Copies a UTF-8 path into a zero-terminated buffer; false when it does not fit
// or holds a zero byte.
bool TerminatedPath(Utf8View path, char (&out)[kMaxPath]) {
  if (path.size() >= kMaxPath || path.find('\0') != Utf8View::npos) return false;
  std::memcpy(out, path.data(), path.size());
  out[path.size()] = 0;
  return true;
}

Result OpenError(int err) {
  const Result r = MapErrno(err);
  return r == kOk ? kOpenFailed : r;
}

Result IoError(int err) {
  const Result r = MapErrno(err);
  return r == kOk ? kFailed : r;
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Opens a regular file for reading and gives its size. Opened without
// waiting, so that a pipe or device named like an audio file is refused
// instead of blocking the program.
Result OpenRegularForRead(Utf8View path, Fd& file, std::uint64_t& size) {
  if (path.empty()) return kInvalidArgument;
  char cpath[kMaxPath];
  if (!TerminatedPath(path, cpath)) return kInvalidArgument;
  if (Result f = detail::CheckFileFault(FileOp::kOpenRead)) return f;
  file.fd = ::open(cpath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file.fd < 0) return OpenError(errno);
  struct stat st;
  if (Result f = detail::CheckFileFault(FileOp::kSize)) return f;
  if (::fstat(file.fd, &st) != 0) return IoError(errno);
  if (!S_ISREG(st.st_mode)) return kAccessDenied;
  size = static_cast<std::uint64_t>(st.st_size);
  return kOk;
}

}  // namespace

Result ReadWholeFile(Utf8View path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out) {
  Fd file;
  std::uint64_t size = 0;
  if (Result r = OpenRegularForRead(path, file, size)) return r;
  if (size > maxBytes) return kFileTooLarge;
  std::vector<std::uint8_t> data;
  if (Result r = TryResize(data, static_cast<std::size_t>(size))) return r;
  std::size_t done = 0;
  while (done < data.size()) {
    if (Result f = detail::CheckFileFault(FileOp::kRead)) return f;
    const ssize_t n = ::read(file.fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoError(errno);
    }
    if (n == 0) break;  // the file shrank while being read
    done += static_cast<std::size_t>(n);
  }
  data.resize(done);
  out.swap(data);
  return kOk;
}

namespace {

// Splits a terminated path into its folder ("." when it has none) and name.
void FolderOf(const char* path, char (&folder)[kMaxPath]) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::strcpy(folder, ".");
  } else if (slash == path) {
    std::strcpy(folder, "/");
  } else {
    const std::size_t n = static_cast<std::size_t>(slash - path);
    std::memcpy(folder, path, n);
    folder[n] = 0;
  }
}

// Removes the temporary files of earlier saves of the same target whose
// writer is gone: a live writer holds a lock on its file until it renamed it.
void RemoveLeftovers(const char* folder, const char* prefix) {
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return;
  const std::size_t prefixLength = std::strlen(prefix);
  const int dirFd = ::dirfd(dir);
  while (const dirent* e = ::readdir(dir)) {
    if (std::strlen(e->d_name) != detail::kTempNameLength || std::strncmp(e->d_name, prefix, prefixLength) != 0) {
      continue;
    }
    Fd f;
    f.fd = ::openat(dirFd, e->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (f.fd < 0) continue;
    struct stat st;
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::flock(f.fd, LOCK_EX | LOCK_NB) == 0) ::unlinkat(dirFd, e->d_name, 0);
  }
  ::closedir(dir);
}

// Resolves a symbolic link to the file it names, so that a save replaces the
// card behind the link instead of the link.
Result ResolveTarget(char (&target)[kMaxPath]) {
  struct stat st;
  if (::lstat(target, &st) != 0 || !S_ISLNK(st.st_mode)) return kOk;
  char resolved[PATH_MAX > kMaxPath ? PATH_MAX : kMaxPath];
  if (::realpath(target, resolved) == nullptr) return OpenError(errno);
  if (std::strlen(resolved) >= kMaxPath) return kInvalidArgument;
  std::strcpy(target, resolved);
  return kOk;
}

}  // namespace

Result WriteWholeFile(Utf8View path, std::span<const std::uint8_t> data) {
  if (path.empty()) return kInvalidArgument;
  char target[kMaxPath];
  if (!TerminatedPath(path, target)) return kInvalidArgument;
  if (Result r = ResolveTarget(target)) return r;

  // An existing target must be a regular file its owner may write; its
  // permission bits carry over to the new file.
  bool keepMode = false;
  mode_t mode = 0;
  struct stat st;
  if (::stat(target, &st) == 0) {
    if (!S_ISREG(st.st_mode)) return kAccessDenied;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(target, W_OK) != 0) return kAccessDenied;
    keepMode = true;
    mode = st.st_mode & 07777;
  } else if (errno != ENOENT) {
    return OpenError(errno);
  }

  char folder[kMaxPath];
  FolderOf(target, folder);
  char prefix[13];
  detail::TempNamePrefix(Utf8View(target), prefix);
  char temp[kMaxPath];
  if (std::strlen(folder) + 1 + detail::kTempNameLength >= kMaxPath) return kInvalidArgument;
  RemoveLeftovers(folder, prefix);

  if (Result f = detail::CheckFileFault(FileOp::kOpenWrite)) return f;
  Fd file;
  for (int attempt = 0; attempt < 16 && file.fd < 0; ++attempt) {
    char tail[7] = {};
    if (!detail::RandomNameChars(tail, 6)) return kFailed;
    std::snprintf(temp, sizeof temp, "%s/%s%s", folder, prefix, tail);
    file.fd = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (file.fd < 0 && errno != EEXIST) return OpenError(errno);
  }
  if (file.fd < 0) return kAlreadyExists;
  // Held until the rename, so that no other save takes this file for a
  // leftover of a killed process.
  ::flock(file.fd, LOCK_EX | LOCK_NB);

  Result result = kOk;
  if (keepMode && ::fchmod(file.fd, mode) != 0) result = IoError(errno);
  std::size_t done = 0;
  while (result == kOk && done < data.size()) {
    if (Result f = detail::CheckFileFault(FileOp::kWrite)) {
      result = f;
      break;
    }
    const ssize_t n = ::write(file.fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      result = IoError(errno);
    } else if (n == 0) {
      result = kEndOfData;
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
  if (result == kOk) {
    if (Result f = detail::CheckFileFault(FileOp::kFlush)) {
      result = f;
    } else if (::fsync(file.fd) != 0 && errno != EINVAL && errno != EROFS) {
      result = IoError(errno);
    }
  }
  if (result == kOk) {
    if (Result f = detail::CheckFileFault(FileOp::kReplace)) {
      result = f;
    } else if (::rename(temp, target) != 0) {
      result = IoError(errno);
    }
  }
  if (result != kOk) ::unlink(temp);
  if (::close(file.fd) != 0 && result == kOk) result = IoError(errno);
  file.fd = -1;
  return result;
}

FileReader::~FileReader() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

Result FileReader::Open(Utf8View path) {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  size_ = 0;
  Fd file;
  if (Result r = OpenRegularForRead(path, file, size_)) return r;
  handle_ = file.fd;
  file.fd = -1;
  return kOk;
}

Result FileReader::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (handle_ < 0) return kInvalidHandle;
  std::size_t done = 0;
  while (done < out.size()) {
    if (Result f = detail::CheckFileFault(FileOp::kRead)) return f;
    const ssize_t n = ::pread(static_cast<int>(handle_), out.data() + done, out.size() - done,
                              static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoError(errno);
    }
    if (n == 0) return kTooMuchData;  // the file ends (or shrank) before the range
    done += static_cast<std::size_t>(n);
    bytesRead_ += static_cast<std::uint64_t>(n);
  }
  return kOk;
}

FileUpdateLock::~FileUpdateLock() { Release(); }

void FileUpdateLock::Release() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

Result FileUpdateLock::Acquire(Utf8View path, unsigned waitMs) {
  Release();
  if (path.empty()) return kInvalidArgument;
  char target[kMaxPath];
  if (!TerminatedPath(path, target)) return kInvalidArgument;
  if (Result r = ResolveTarget(target); r != kOk && r != kNotFound) return r;
  // The lock is taken on the card's folder: a save replaces the file itself
  // (a new inode) and may create it, the folder stays.
  char folder[kMaxPath];
  FolderOf(target, folder);
  const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return OpenError(errno);
  for (unsigned waited = 0;; waited += 20) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      handle_ = fd;
      return kOk;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      const Result r = IoError(errno);
      ::close(fd);
      return r;
    }
    if (waited >= waitMs) break;
    ::usleep(20000);
  }
  ::close(fd);
  return kNotSupported;
}

}  // namespace tavrin
