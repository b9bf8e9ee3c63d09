#include <gtest/gtest.h>

#include "device/usb_backend.h"

namespace tavrin {
namespace {

TEST(DevicePathIds, ReadsLowerCaseVidAndPid) {
  const PathIds ids = ParseDevicePathIds(u"\\\\?\\usb#vid_0483&pid_a2a1#123#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  EXPECT_EQ(ids.vendorId, 0x0483u);
  EXPECT_EQ(ids.productId, 0xA2A1u);
  EXPECT_TRUE(DevicePathMatches(u"\\\\?\\usb#vid_0483&pid_a2a1#123", kDeviceVendorId, kDeviceProductId));
}

TEST(DevicePathIds, CapitalPrefixIsNotAMatch) {
  const Utf16View path = u"\\\\?\\USB#VID_0483&PID_A2A1#123";
  EXPECT_EQ(ParseDevicePathIds(path).vendorId, 0u);
  EXPECT_FALSE(DevicePathMatches(path, kDeviceVendorId, kDeviceProductId));
  EXPECT_TRUE(DevicePathMatches(path, kAnyId, kAnyId));
}

TEST(DevicePathIds, MixedCaseDigitsParse) {
  EXPECT_EQ(ParseDevicePathIds(u"x#vid_0483&pid_a2A1#y").productId, 0xA2A1u);
}

TEST(DevicePathIds, OtherCharactersCountAsZero) {
  EXPECT_EQ(ParseDevicePathIds(u"vid_0g8z").vendorId, 0x0080u);
  EXPECT_EQ(ParseDevicePathIds(u"pid_ -1-").productId, 0x0010u);
}

TEST(DevicePathIds, TerminatorWithinTheDigitsGivesZero) {
  const char16_t path[] = {u'v', u'i', u'd', u'_', u'0', u'4', 0, u'3', u'p', u'i', u'd', u'_', u'a', u'2', u'a', u'1'};
  const PathIds ids = ParseDevicePathIds(Utf16View(path, 16));
  EXPECT_EQ(ids.vendorId, 0u);
  // Nothing after the terminator belongs to the path.
  EXPECT_EQ(ids.productId, 0u);
  EXPECT_EQ(ParseDevicePathIds(u"vid_048").vendorId, 0u);
}

TEST(DevicePathIds, FirstOccurrenceCounts) {
  const PathIds ids = ParseDevicePathIds(u"vid_1234 vid_0483 pid_0001 pid_a2a1");
  EXPECT_EQ(ids.vendorId, 0x1234u);
  EXPECT_EQ(ids.productId, 0x0001u);
}

TEST(DevicePathIds, MissingPrefixGivesZero) {
  const PathIds ids = ParseDevicePathIds(u"usb:1-2");
  EXPECT_EQ(ids.vendorId, 0u);
  EXPECT_EQ(ids.productId, 0u);
  EXPECT_EQ(ParseDevicePathIds(u"").vendorId, 0u);
}

TEST(LibusbErrors, MapToResultCodes) {
  EXPECT_EQ(MapLibusbError(0), kOk);
  EXPECT_EQ(MapLibusbError(-1), kFailed);
  EXPECT_EQ(MapLibusbError(-2), kInvalidArgument);
  EXPECT_EQ(MapLibusbError(-3), kAccessDenied);
  EXPECT_EQ(MapLibusbError(-4), kNoSuchDevice);
  EXPECT_EQ(MapLibusbError(-5), kNotFound);
  EXPECT_EQ(MapLibusbError(-6), kNotReady);
  EXPECT_EQ(MapLibusbError(-7), kTimeout);
  EXPECT_EQ(MapLibusbError(-8), kTooMuchData);
  EXPECT_EQ(MapLibusbError(-9), kBrokenPipe);
  EXPECT_EQ(MapLibusbError(-10), kAborted);
  EXPECT_EQ(MapLibusbError(-11), kOutOfMemory);
  EXPECT_EQ(MapLibusbError(-12), kNotSupported);
  EXPECT_EQ(MapLibusbError(-99), kFailed);
}

// On a machine without a card emulator the platform's enumeration finds
// nothing and reports no error (Windows: SetupAPI and WinUSB, also under
// Wine; elsewhere libusb, whose absence of a bus is not an error either).
TEST(PlatformBackend, EnumerationWithoutDeviceIsClean) {
  std::vector<DevicePath> paths;
  const Result r = PlatformUsbBackend().Enumerate(kDeviceVendorId, kDeviceProductId, paths);
  EXPECT_EQ(r, kOk);
  EXPECT_TRUE(paths.empty());
  std::unique_ptr<UsbDevice> device;
  EXPECT_NE(PlatformUsbBackend().Open(u"\\\\?\\usb#vid_0483&pid_a2a1#none", device), kOk);
  EXPECT_FALSE(device);
}

}  // namespace
}  // namespace tavrin
