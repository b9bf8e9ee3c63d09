#include "base/result.h"

#include <cerrno>

namespace tavrin {

Result MapPlatformError(std::uint32_t error) {
  switch (error) {
    case 0: return kOk;
    case 2: case 3: case 15: return kNotFound;
    case 5: case 19: return kAccessDenied;
    case 6: return kInvalidHandle;
    case 8: case 14: return kOutOfMemory;
    case 20: case 55: return kNoSuchDevice;
    case 21: return kNotReady;
    case 22: case 50: case 120: return kNotSupported;
    case 23: return kDataError;
    case 38: return kEndOfData;
    case 80: case 183: return kAlreadyExists;
    case 87: case 160: return kInvalidArgument;
    case 109: return kBrokenPipe;
    case 111: case 122: return kTooMuchData;
    case 112: case 314: return kDiskFull;
    case 223: return kFileTooLarge;
    case 258: return kTimeout;
    default: return kFailed;
  }
}

Result MapPlatformResult(std::int32_t hr) {
  if (hr >= 0) return kOk;
  switch (static_cast<std::uint32_t>(hr)) {
    case 0x80070057u: case 0x800401F3u: case 0x800401F4u: return kInvalidArgument;
    case 0x80004003u: return kMissingBuffer;
    case 0x8007000Eu: return kOutOfMemory;
    case 0x8000000Bu: return kTooMuchData;
    case 0x80070005u: return kAccessDenied;
    case 0x80004001u: case 0x80004021u: return kNotSupported;
    case 0x80004002u: return kNoInterface;
    case 0x80070006u: return kInvalidHandle;
    case 0x88890008u: return kBadFormat;
    case 0x8000000Du: case 0x8000000Eu: case 0x800401F0u:
    case 0x88890001u: case 0x88890002u: return kWrongState;
    case 0x800401F8u: return kOpenFailed;
    case 0x8000401Eu: case 0x8000402Au: return kTimeout;
    case 0x80004004u: return kAborted;
    case 0x88890006u: case 0x88890009u: return kInvalidArgument;
    default: return kFailed;
  }
}

Result MapErrno(int err) {
  switch (err) {
    case 0: return kOk;
    case ENOENT: case ENOTDIR: return kNotFound;
    case EACCES: case EPERM: case EROFS: return kAccessDenied;
    case EBADF: return kInvalidHandle;
    case ENOMEM: return kOutOfMemory;
    case ENODEV: case ENXIO: return kNoSuchDevice;
    case EBUSY: case EAGAIN: return kNotReady;
    case ENOSYS: case ENOTSUP: return kNotSupported;
    case EIO: return kDataError;
    case EEXIST: return kAlreadyExists;
    case EINVAL: case ENAMETOOLONG: return kInvalidArgument;
    case EPIPE: return kBrokenPipe;
    case EOVERFLOW: return kTooMuchData;
    case ENOSPC: return kDiskFull;
#ifdef EDQUOT
    case EDQUOT: return kDiskFull;
#endif
    case EFBIG: return kFileTooLarge;
    case ETIMEDOUT: return kTimeout;
    case ECANCELED: return kAborted;
    default: return kFailed;
  }
}

}  // namespace tavrin
