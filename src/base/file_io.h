// The one small layer through which the program touches files. Readers and
// decoders never see paths: they get the bytes this layer read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "base/text.h"

namespace tavrin {

// The largest file any of the program's readers accepts (16 MiB).
inline constexpr std::uint64_t kMaxReadableFile = 16777216;

// Reads a whole existing regular file. An empty path gives 2, a file larger
// than maxBytes gives 22, a folder, pipe or device gives 8 (without waiting on
// it), open and read failures give the mapped platform error (19 when the
// platform gave no reason).
Result ReadWholeFile(Utf8View path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out);

// An open file read in pieces at given offsets, for formats whose files are
// too large to read whole (a SoundFont's sample data can run to hundreds of
// megabytes while listing it needs only its headers). Closed when it goes.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  // Opens an existing regular file: the codes of ReadWholeFile's opening.
  Result Open(Utf8View path);
  std::uint64_t size() const { return size_; }
  // Reads exactly out.size() bytes from offset; 5 when the file ends first.
  Result ReadAt(std::uint64_t offset, std::span<std::uint8_t> out);
  // Bytes read so far.
  std::uint64_t bytesRead() const { return bytesRead_; }

 private:
  std::intptr_t handle_ = -1;
  std::uint64_t size_ = 0;
  std::uint64_t bytesRead_ = 0;
};

// Writes data as the complete new content of path. The bytes go to a
// temporary file of its own (created exclusively, short name) in the same
// folder, which replaces the target only after the whole write succeeded: a
// failed write leaves any previous file untouched and no temporary file
// behind. A symbolic link is saved through to its target; an existing
// target keeps its permission bits; a read-only target gives 8. Temporary
// files of the same target left by a killed process are removed.
Result WriteWholeFile(Utf8View path, std::span<const std::uint8_t> data);

// An advisory lock for updating one file (load, change, save), so that two
// programs updating the same card-file take turns instead of losing one
// update. Released when the object goes, or when the process ends.
class FileUpdateLock {
 public:
  FileUpdateLock() = default;
  ~FileUpdateLock();
  FileUpdateLock(const FileUpdateLock&) = delete;
  FileUpdateLock& operator=(const FileUpdateLock&) = delete;
  // Waits up to waitMs for the lock; 9 (busy) when another program still
  // holds it then, 2 for an empty path or one that is too long.
  Result Acquire(Utf8View path, unsigned waitMs);

 private:
  void Release();
  std::intptr_t handle_ = -1;
};

namespace detail {
// The name prefix of the temporary files that saves of `path` use: "~tv",
// eight hex digits that hash the target's file name, and a dot; six random
// characters follow it. Writes 12 characters and a terminating zero.
void TempNamePrefix(Utf8View path, char (&out)[13]);
inline constexpr std::size_t kTempNameLength = 18;
// Fills out with n characters from [0-9a-z] drawn from the random source;
// false when the platform source failed.
bool RandomNameChars(char* out, std::size_t n);
}  // namespace detail

// Test seam: lets tests make the Nth call of one kind fail with a platform
// error, the way a full disk or a vanished file would.
enum class FileOp { kOpenRead, kSize, kRead, kOpenWrite, kWrite, kFlush, kReplace };

struct FileFaultHook {
  virtual ~FileFaultHook() = default;
  // Returns kOk to let the call run, or the result code the call fails with.
  virtual Result Check(FileOp op) = 0;
};

// Installs a hook (nullptr removes it). Only for tests; not thread-safe.
void SetFileFaultHook(FileFaultHook* hook);

namespace detail {
Result CheckFileFault(FileOp op);
}

}  // namespace tavrin
