// Result codes shared by every operation that can fail. 0 is success; the
// codes themselves are never shown to the user, callers turn them into words.
#pragma once

#include <cstdint>

namespace tavrin {

using Result = std::uint32_t;

inline constexpr Result kOk = 0;
inline constexpr Result kFailed = 1;             // any other failure
inline constexpr Result kInvalidArgument = 2;    // invalid argument, or no path given
inline constexpr Result kMissingBuffer = 3;      // a required buffer or pointer is missing
inline constexpr Result kOutOfMemory = 4;
inline constexpr Result kTooMuchData = 5;        // too much data, buffer too small, content ends early
inline constexpr Result kEndOfData = 6;          // data ended early, or a short write
inline constexpr Result kBadIdentify = 7;        // device identification reply of unexpected length
inline constexpr Result kAccessDenied = 8;
inline constexpr Result kNotSupported = 9;       // not supported, or busy
inline constexpr Result kNoInterface = 10;
inline constexpr Result kInvalidHandle = 11;     // invalid handle, or no device selected
inline constexpr Result kBadFormat = 13;         // invalid or unsupported format
inline constexpr Result kWrongState = 14;
inline constexpr Result kNoDeviceInterface = 16; // USB interface or audio stream unavailable
inline constexpr Result kNotReady = 17;
inline constexpr Result kNoSuchDevice = 18;
inline constexpr Result kOpenFailed = 19;        // could not open, reason not listed
inline constexpr Result kNotFound = 20;
inline constexpr Result kAlreadyExists = 21;
inline constexpr Result kFileTooLarge = 22;
inline constexpr Result kDiskFull = 23;
inline constexpr Result kBrokenPipe = 24;
inline constexpr Result kTimeout = 25;
inline constexpr Result kAborted = 26;
inline constexpr Result kDataError = 27;         // CRC

// Maps a Windows last-error number (GetLastError) to a result code.
Result MapPlatformError(std::uint32_t error);

// Maps a COM-style HRESULT to a result code; every non-negative value is 0.
Result MapPlatformResult(std::int32_t hr);

// Maps a POSIX errno value to a result code in the same spirit as
// MapPlatformError, for the portable file layer and libusb.
Result MapErrno(int err);

}  // namespace tavrin
