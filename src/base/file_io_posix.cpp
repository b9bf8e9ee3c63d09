// POSIX side of the file layer (Linux, macOS).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace

Result ReadWholeFile(Utf8View path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out) {
  if (path.empty()) return kInvalidArgument;
  char cpath[kMaxPath];
  if (!TerminatedPath(path, cpath)) return kInvalidArgument;
  if (Result f = detail::CheckFileFault(FileOp::kOpenRead)) return f;
  Fd file;
  file.fd = ::open(cpath, O_RDONLY | O_CLOEXEC);
  if (file.fd < 0) return OpenError(errno);
  struct stat st;
  if (Result f = detail::CheckFileFault(FileOp::kSize)) return f;
  if (::fstat(file.fd, &st) != 0) return IoError(errno);
  if (S_ISDIR(st.st_mode)) return kAccessDenied;
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
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

Result WriteWholeFile(Utf8View path, std::span<const std::uint8_t> data) {
  if (path.empty()) return kInvalidArgument;
  static constexpr char kSuffix[] = ".tavrin-partial";
  char target[kMaxPath];
  char temp[kMaxPath];
  if (!TerminatedPath(path, target) || path.size() + sizeof(kSuffix) > kMaxPath) return kInvalidArgument;
  std::memcpy(temp, target, path.size());
  std::memcpy(temp + path.size(), kSuffix, sizeof(kSuffix));

  if (Result f = detail::CheckFileFault(FileOp::kOpenWrite)) return f;
  Fd file;
  file.fd = ::open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (file.fd < 0) return OpenError(errno);

  Result result = kOk;
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
  if (::close(file.fd) != 0 && result == kOk) result = IoError(errno);
  file.fd = -1;
  if (result == kOk) {
    if (Result f = detail::CheckFileFault(FileOp::kReplace)) {
      result = f;
    } else if (::rename(temp, target) != 0) {
      result = IoError(errno);
    }
  }
  if (result != kOk) ::unlink(temp);
  return result;
}

}  // namespace tavrin
