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

// Reads a whole existing file. An empty path gives 2, a file larger than
// maxBytes gives 22, open and read failures give the mapped platform error
// (19 when the platform gave no reason).
Result ReadWholeFile(Utf8View path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out);

// Writes data as the complete new content of path. The bytes go to a
// temporary file in the same folder, which replaces the target only after the
// whole write succeeded: a failed write leaves any previous file untouched and
// no temporary file behind.
Result WriteWholeFile(Utf8View path, std::span<const std::uint8_t> data);

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
