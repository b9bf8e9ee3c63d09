#include "base/file_io.h"

namespace tavrin {
namespace {
FileFaultHook* g_hook = nullptr;
}

void SetFileFaultHook(FileFaultHook* hook) { g_hook = hook; }

namespace detail {
Result CheckFileFault(FileOp op) { return g_hook ? g_hook->Check(op) : kOk; }
}  // namespace detail

}  // namespace tavrin
