#include <gtest/gtest.h>

#include <string_view>

#include "device/usb_backend.h"

namespace tavrin {
namespace {

using namespace std::string_view_literals;

TEST(DevicePathIds, FourCharactersAfterTheFirstLowerCasePrefix) {
  const struct {
    Utf16View path;
    std::uint32_t vendorId, productId;
  } cases[] = {
      {u"\\\\?\\usb#vid_0483&pid_a2a1#123#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", 0x0483, 0xA2A1},
      {u"\\\\?\\USB#VID_0483&PID_A2A1#123", 0, 0},  // the prefix is case-sensitive
      {u"x#vid_0483&pid_a2A1#y", 0x0483, 0xA2A1},  // the digits are not
      {u"vid_0g8z pid_ -1-", 0x0080, 0x0010},  // other characters count as 0
      {u"vid_1234 vid_0483 pid_0001 pid_a2a1", 0x1234, 0x0001},  // the first occurrence counts
      {u"vid_04\0" u"3pid_a2a1"sv, 0, 0},  // nothing after a terminator belongs to the path
      {u"vid_048", 0, 0},
      {u"usb:1-2", 0, 0},
      {u"", 0, 0},
  };
  for (const auto& c : cases) {
    const PathIds ids = ParseDevicePathIds(c.path);
    EXPECT_EQ(ids.vendorId, c.vendorId) << c.path.size();
    EXPECT_EQ(ids.productId, c.productId) << c.path.size();
    const bool ours = c.vendorId == kDeviceVendorId && c.productId == kDeviceProductId;
    EXPECT_EQ(DevicePathMatches(c.path, kDeviceVendorId, kDeviceProductId), ours) << c.path.size();
    EXPECT_TRUE(DevicePathMatches(c.path, kAnyId, kAnyId));
  }
}

TEST(LibusbErrors, MapToResultCodes) {
  // LIBUSB_ERROR_IO (-1) down to LIBUSB_ERROR_NOT_SUPPORTED (-12).
  const Result expected[] = {kOk,       kFailed,      kInvalidArgument, kAccessDenied, kNoSuchDevice,
                             kNotFound, kNotReady,    kTimeout,         kTooMuchData,  kBrokenPipe,
                             kAborted,  kOutOfMemory, kNotSupported};
  for (int i = 0; i < 13; ++i) EXPECT_EQ(MapLibusbError(-i), expected[i]) << -i;
  EXPECT_EQ(MapLibusbError(-99), kFailed);
}

// On a machine without a card emulator the platform's enumeration finds
// nothing and reports no error (Windows: SetupAPI and WinUSB, also under
// Wine; elsewhere libusb, whose absence of a bus is not an error either).
TEST(PlatformBackend, EnumerationWithoutDeviceIsClean) {
  std::vector<DevicePath> paths;
  EXPECT_EQ(PlatformUsbBackend().Enumerate(kDeviceVendorId, kDeviceProductId, paths), kOk);
  EXPECT_TRUE(paths.empty());
  std::unique_ptr<UsbDevice> device;
  EXPECT_NE(PlatformUsbBackend().Open(u"\\\\?\\usb#vid_0483&pid_a2a1#none", device), kOk);
  EXPECT_FALSE(device);
}

}  // namespace
}  // namespace tavrin
