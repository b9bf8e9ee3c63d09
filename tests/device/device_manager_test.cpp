#include <gtest/gtest.h>

#include <cstring>

#include "device_test_util.h"

namespace tavrin {
namespace {

using test::Calls;
using test::SimSetup;

class Observer final : public DeviceListObserver {
 public:
  void DeviceAdded(Utf8View name) override { events.push_back("add " + std::string(name)); }
  void DeviceRemoved(std::size_t index) override { events.push_back("remove " + std::to_string(index)); }
  void SelectionChanged(std::int32_t index) override { events.push_back("select " + std::to_string(index)); }
  std::vector<std::string> events;
};

TEST(DeviceModels, NamesAndDisplayName) {
  EXPECT_EQ(DeviceModelName(1), "Tavrin");
  EXPECT_EQ(DeviceModelName(2), "Corvask Trio");
  EXPECT_EQ(DeviceModelName(5), "Quivens");
  EXPECT_EQ(DeviceModelName(9), "Tavrin Mk3");
  EXPECT_EQ(DeviceModelName(10), "Fennic");
  EXPECT_EQ(DeviceModelName(0), "Corvask ???");
  EXPECT_EQ(DeviceModelName(11), "Corvask ???");
  DeviceInfo d;
  d.modelCode = 9;
  d.serialNumber = 1234;
  EXPECT_EQ(DeviceDisplayName(d).view(), "Tavrin Mk3 (1234)");
}

TEST(IdentifyReply, ThirtyFourBytesCarryCapabilities) {
  std::uint8_t reply[36] = {2, 5, 0x34, 0x12, 0x02, 0x01, 40, 7, 0x00, 0x00, 0x08, 0x00, 0xD2, 0x04, 0, 0};
  for (int i = 0; i < 12; ++i) reply[16 + i] = static_cast<std::uint8_t>(0xA0 + i);
  reply[28] = 0x06;
  reply[29] = 0x01;
  DeviceInfo d;
  ASSERT_EQ(ParseIdentifyReply(reply, 34, d), kOk);
  EXPECT_EQ(d.mode, 2);
  EXPECT_EQ(d.modelCode, 5);
  EXPECT_EQ(d.word2, 0x1234);
  EXPECT_EQ(d.word4, 0x0102);
  EXPECT_EQ(d.bankCount, 40u);
  EXPECT_EQ(d.byte7, 7u);
  EXPECT_EQ(d.memorySize, 0x080000u);
  EXPECT_EQ(d.serialNumber, 1234u);
  EXPECT_EQ(std::string(d.uniqueId, 24), "A0A1A2A3A4A5A6A7A8A9AAAB");
  EXPECT_EQ(d.capabilities, 0x0106);
  EXPECT_FALSE(d.otherFamily);
  EXPECT_TRUE(d.present);

  ASSERT_EQ(ParseIdentifyReply(reply, 28, d), kOk);
  EXPECT_EQ(d.capabilities, 0);
}

TEST(IdentifyReply, ThirtySixBytesAreTheOtherFamily) {
  std::uint8_t reply[36];
  for (int i = 0; i < 36; ++i) reply[i] = static_cast<std::uint8_t>(i + 1);
  reply[11] = 0;  // a memory size a card can have
  DeviceInfo d;
  ASSERT_EQ(ParseIdentifyReply(reply, 36, d), kOk);
  EXPECT_TRUE(d.otherFamily);
  EXPECT_EQ(d.serialNumber, 0u);
  EXPECT_EQ(d.byte7, 0u);
  EXPECT_EQ(std::memcmp(d.uniqueId, reply + 12, 24), 0);
}

TEST(IdentifyReply, AnyOtherLengthIsSeven) {
  std::uint8_t reply[64] = {};
  DeviceInfo d;
  for (std::uint32_t n : {0u, 1u, 27u, 29u, 30u, 33u, 35u, 37u, 64u}) EXPECT_EQ(ParseIdentifyReply(reply, n, d), kBadIdentify) << n;
}

TEST(Identify, ThirtyByteReplyIsLeftOut) {
  SimSetup s;
  SimulatedDeviceConfig c;
  c.identifyLength = 30;
  s.usb.AddDevice(c);
  DeviceInfo d;
  EXPECT_EQ(IdentifyDevice(s.usb, s.usb.Path(0).view(), d), kBadIdentify);
  EXPECT_EQ(s.manager.Refresh(nullptr), kOk);
  EXPECT_TRUE(s.manager.devices.empty());
  EXPECT_EQ(s.manager.selectedIndex.load(), -1);
}

TEST(Identify, UsesDefaultTimeoutAndClosesTheDevice) {
  SimSetup s;
  s.usb.AddDevice({});
  DeviceInfo d;
  ASSERT_EQ(IdentifyDevice(s.usb, s.usb.Path(0).view(), d), kOk);
  EXPECT_EQ(Calls(s.usb), (std::vector<std::string>{"open", "in 01 v1 i0 l36", "close"}));
  EXPECT_EQ(d.path.view(), s.usb.Path(0).view());
  EXPECT_EQ(s.usb.OpenHandles(), 0u);
}

TEST(Identify, OpenAndTransferFailuresGiveTheirCodes) {
  SimSetup s;
  s.usb.AddDevice({});
  SimulatedFaults f;
  f.openResult = kAccessDenied;
  s.usb.SetFaults(0, f);
  DeviceInfo d;
  EXPECT_EQ(IdentifyDevice(s.usb, s.usb.Path(0).view(), d), kAccessDenied);
  f = {};
  f.failTransfer = 1;
  f.failCode = kTimeout;
  s.usb.SetFaults(0, f);
  EXPECT_EQ(IdentifyDevice(s.usb, s.usb.Path(0).view(), d), kTimeout);
  EXPECT_EQ(s.usb.OpenHandles(), 0u);
}

TEST(Refresh, OnlyModels159AreListed) {
  SimSetup s;
  Observer o;
  for (std::uint8_t model = 1; model <= 10; ++model) {
    SimulatedDeviceConfig c;
    c.modelCode = model;
    c.serialNumber = 100 + model;
    s.usb.AddDevice(c);
  }
  SimulatedDeviceConfig other;
  other.identifyLength = 36;
  other.serialNumber = 999;
  s.usb.AddDevice(other);
  ASSERT_EQ(s.manager.Refresh(&o), kOk);
  ASSERT_EQ(s.manager.devices.size(), 3u);
  EXPECT_EQ(o.events, (std::vector<std::string>{"add Tavrin (101)", "add Quivens (105)", "add Tavrin Mk3 (109)",
                                                "select 0"}));
  EXPECT_EQ(s.manager.selectedIndex.load(), 0);
}

TEST(Refresh, ModelNineWithSerial1234) {
  SimSetup s;
  Observer o;
  SimulatedDeviceConfig c;
  c.modelCode = 9;
  c.serialNumber = 1234;
  s.usb.AddDevice(c);
  s.manager.Refresh(&o);
  ASSERT_EQ(o.events.size(), 2u);
  EXPECT_EQ(o.events[0], "add Tavrin Mk3 (1234)");
}

TEST(Refresh, VendorPrefixInCapitalsIsNotTaken) {
  SimSetup s;
  s.usb.AddDevice({}, u"\\\\?\\USB#VID_0483&PID_A2A1#X#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  EXPECT_EQ(s.manager.Refresh(nullptr), kOk);
  EXPECT_TRUE(s.manager.devices.empty());
  EXPECT_TRUE(Calls(s.usb).empty());  // not even opened
}

TEST(Refresh, ModeTwoDeviceGetsTheModeRequestAndComesBackNew) {
  SimSetup s;
  Observer o;
  SimulatedDeviceConfig c;
  c.mode = 2;
  c.word4 = 0x0102;
  s.usb.AddDevice(c);
  const DevicePath before = s.usb.Path(0);
  ASSERT_EQ(s.manager.Refresh(&o), kOk);
  EXPECT_TRUE(s.manager.devices.empty());
  EXPECT_TRUE(o.events.empty());
  EXPECT_EQ(Calls(s.usb), (std::vector<std::string>{"open", "in 01 v1 i0 l36", "close", "open", "out 05 v1 i0",
                                                     "close"}));
  // The device left the bus and is back under a new path, now in mode 1.
  EXPECT_NE(s.usb.Path(0).view(), before.view());
  ASSERT_EQ(s.manager.Refresh(&o), kOk);
  ASSERT_EQ(s.manager.devices.size(), 1u);
  EXPECT_EQ(s.manager.devices[0].mode, 1);
}

TEST(Refresh, ModeTwoWithWord4ZeroOrFFFFIsTaken) {
  for (std::uint16_t w : {std::uint16_t{0}, std::uint16_t{0xFFFF}}) {
    SimSetup s;
    SimulatedDeviceConfig c;
    c.mode = 2;
    c.word4 = w;
    s.usb.AddDevice(c);
    s.manager.Refresh(nullptr);
    EXPECT_EQ(s.manager.devices.size(), 1u) << w;
  }
}

TEST(Refresh, KnownDeviceIsNotIdentifiedAgain) {
  SimSetup s;
  s.usb.AddDevice({});
  s.manager.Refresh(nullptr);
  s.usb.ClearLog();
  Observer o;
  ASSERT_EQ(s.manager.Refresh(&o), kOk);
  EXPECT_TRUE(Calls(s.usb).empty());
  EXPECT_TRUE(o.events.empty());
  EXPECT_EQ(s.manager.devices.size(), 1u);
}

TEST(Refresh, UnpluggingSelectedSelectsFirstRemaining) {
  SimSetup s;
  Observer o;
  for (std::uint32_t serial : {1u, 2u, 3u}) {
    SimulatedDeviceConfig c;
    c.serialNumber = serial;
    c.bankCount = static_cast<std::uint8_t>(serial * 2);
    c.memorySize = serial * 100000;
    s.usb.AddDevice(c);
  }
  s.manager.Refresh(nullptr);
  ASSERT_EQ(s.manager.SelectDevice(1, false), kOk);
  EXPECT_EQ(s.manager.current.serialNumber, 2u);
  s.usb.Unplug(1);
  ASSERT_EQ(s.manager.Refresh(&o), kOk);
  EXPECT_EQ(o.events, (std::vector<std::string>{"remove 1", "select 0"}));
  EXPECT_EQ(s.manager.selectedIndex.load(), 0);
  EXPECT_EQ(s.manager.current.serialNumber, 1u);
  EXPECT_EQ(s.manager.current.memorySize, 100000u);
}

TEST(Refresh, RemovalBeforeSelectedKeepsTheSameDevice) {
  SimSetup s;
  Observer o;
  for (std::uint32_t serial : {1u, 2u, 3u}) {
    SimulatedDeviceConfig c;
    c.serialNumber = serial;
    s.usb.AddDevice(c);
  }
  s.manager.Refresh(nullptr);
  s.manager.SelectDevice(2, false);
  s.usb.Unplug(0);
  ASSERT_EQ(s.manager.Refresh(&o), kOk);
  EXPECT_EQ(s.manager.selectedIndex.load(), 1);
  EXPECT_EQ(s.manager.current.serialNumber, 3u);
  EXPECT_EQ(s.manager.devices[1].serialNumber, 3u);
  EXPECT_EQ(o.events, (std::vector<std::string>{"remove 0", "select 1"}));
}

TEST(Refresh, UnpluggingTheLastDeviceLeavesDefaults) {
  SimSetup s;
  SimulatedDeviceConfig c;
  c.memorySize = 8 * 1048576;
  c.bankCount = 4;
  s.usb.AddDevice(c);
  s.manager.Refresh(nullptr);
  s.manager.currentBank.store(3);
  EXPECT_EQ(s.manager.current.memorySize, 8u * 1048576);
  s.usb.Unplug(0);
  Observer o;
  ASSERT_EQ(s.manager.Refresh(&o), kOk);
  EXPECT_EQ(o.events, (std::vector<std::string>{"remove 0", "select -1"}));
  EXPECT_EQ(s.manager.selectedIndex.load(), -1);
  EXPECT_EQ(s.manager.current.memorySize, 524288u);
  EXPECT_EQ(s.manager.current.bankCount, 1u);
  EXPECT_EQ(s.manager.currentBank.load(), 1);
  EXPECT_FALSE(s.manager.BankHoldsCard(1));
}

TEST(Refresh, EnumerationErrorKeepsAbsentDevices) {
  SimSetup s;
  for (std::uint32_t serial : {1u, 2u}) {
    SimulatedDeviceConfig c;
    c.serialNumber = serial;
    s.usb.AddDevice(c);
  }
  s.manager.Refresh(nullptr);
  s.usb.Unplug(0);
  s.usb.FailEnumeration(kFailed, 0);
  Observer o;
  EXPECT_EQ(s.manager.Refresh(&o), kFailed);
  EXPECT_EQ(s.manager.devices.size(), 2u);
  EXPECT_TRUE(o.events.empty());
  EXPECT_FALSE(s.manager.Busy());
}

TEST(Refresh, EnumerationErrorAfterANewDeviceKeepsItButLeavesTheComboAlone) {
  SimSetup s;
  SimulatedDeviceConfig c;
  s.usb.AddDevice(c);
  c.serialNumber = 7;
  s.usb.AddDevice(c);
  s.usb.FailEnumeration(kTimeout, 1);
  Observer o;
  EXPECT_EQ(s.manager.Refresh(&o), kTimeout);
  EXPECT_EQ(s.manager.devices.size(), 1u);
  EXPECT_EQ(o.events, (std::vector<std::string>{"add Tavrin (1234)"}));
  EXPECT_EQ(s.manager.selectedIndex.load(), 0);
}

TEST(Refresh, RefusedWhileBusy) {
  SimSetup s;
  s.usb.AddDevice({});
  ASSERT_TRUE(s.manager.TryAcquireBusy());
  EXPECT_EQ(s.manager.Refresh(nullptr), kNotSupported);
  EXPECT_TRUE(s.manager.devices.empty());
  EXPECT_TRUE(Calls(s.usb).empty());
  EXPECT_EQ(s.manager.SelectDevice(0, true), kNotSupported);
  s.manager.ReleaseBusy();
}

TEST(Select, FortyBanksReadWithOneRequestOf800Bytes) {
  SimSetup s;
  SimulatedDeviceConfig c;
  c.bankCount = 40;
  s.usb.AddDevice(c);
  s.manager.Refresh(nullptr);
  EXPECT_EQ(Calls(s.usb), (std::vector<std::string>{"open", "in 01 v1 i0 l36", "close", "open", "timeout 0 1000",
                                                     "in 09 v0 i0 l800", "close"}));
}

TEST(Select, DirectoryNamesComeFromTheDevice) {
  SimSetup s;
  s.usb.AddDevice({});
  std::vector<std::uint8_t> image(64, 0);
  std::memcpy(image.data(), "KORG\x0f\x00PIANO     ", 16);
  ASSERT_EQ(s.usb.SetBankData(0, 2, image), kOk);
  s.manager.Refresh(nullptr);
  EXPECT_TRUE(s.manager.BankHoldsCard(2));
  EXPECT_EQ(s.manager.BankName(2).view(), "PIANO");
  EXPECT_FALSE(s.manager.BankHoldsCard(1));
}

TEST(Select, EntryWithoutTheCardBitReadsEmptyWhateverTheName) {
  DeviceManager m(DefaultUsbBackend());
  std::uint8_t entry[20] = {0x01, 0, 0, 0, 'P', 'I', 'A', 'N', 'O', 0, 'X', 'Y'};
  m.SetDirectoryEntry(5, entry);
  EXPECT_TRUE(m.BankHoldsCard(5));
  EXPECT_EQ(m.BankName(5).view(), "PIANO");
  entry[0] = 0x00;
  m.SetDirectoryEntry(5, entry);
  EXPECT_FALSE(m.BankHoldsCard(5));
  // A name filling all 16 bytes has no terminator.
  std::memset(entry + 4, 'A', 16);
  m.SetDirectoryEntry(5, entry);
  EXPECT_EQ(m.BankName(5).view(), "AAAAAAAAAAAAAAAA");
  // Banks outside 1..256 read as zeros and are not stored.
  m.SetDirectoryEntry(0, entry);
  m.SetDirectoryEntry(257, entry);
  EXPECT_FALSE(m.BankHoldsCard(0));
  EXPECT_FALSE(m.BankHoldsCard(257));
}

TEST(Select, FailedDirectoryReadClearsTheDirectory) {
  SimSetup s;
  s.usb.AddDevice({});
  std::vector<std::uint8_t> image(64, 0);
  std::memcpy(image.data(), "KORG\x0f\x00PIANO     ", 16);
  s.usb.SetBankData(0, 1, image);
  s.manager.Refresh(nullptr);
  ASSERT_TRUE(s.manager.BankHoldsCard(1));
  SimulatedFaults f;
  f.refuseRequest = kRequestReadDirectory;
  s.usb.SetFaults(0, f);
  EXPECT_EQ(s.manager.SelectDevice(0, true), kBrokenPipe);
  EXPECT_FALSE(s.manager.BankHoldsCard(1));
}

TEST(Select, SameIndexWithoutForceDoesNothing) {
  SimSetup s;
  s.AddAndSelect();
  EXPECT_EQ(s.manager.SelectDevice(0, false), kOk);
  EXPECT_TRUE(Calls(s.usb).empty());
  EXPECT_EQ(s.manager.SelectDevice(0, true), kOk);
  EXPECT_FALSE(Calls(s.usb).empty());
}

TEST(Select, IndexPastTheEndBecomesTheLast) {
  SimSetup s;
  for (std::uint32_t serial : {1u, 2u}) {
    SimulatedDeviceConfig c;
    c.serialNumber = serial;
    s.usb.AddDevice(c);
  }
  s.manager.Refresh(nullptr);
  s.manager.SelectDevice(9, false);
  EXPECT_EQ(s.manager.selectedIndex.load(), 1);
  EXPECT_EQ(s.manager.current.serialNumber, 2u);
  s.manager.SelectDevice(-1, false);
  EXPECT_EQ(s.manager.selectedIndex.load(), -1);
  EXPECT_EQ(s.manager.current.memorySize, kDefaultMemorySize);
}

TEST(Select, CurrentBankStaysWithinTheBanks) {
  SimSetup s;
  SimulatedDeviceConfig c;
  c.bankCount = 4;
  s.usb.AddDevice(c);
  s.manager.currentBank.store(0);
  s.manager.Refresh(nullptr);
  EXPECT_EQ(s.manager.currentBank.load(), 1);
  s.manager.currentBank.store(9);
  s.manager.SelectDevice(0, true);
  EXPECT_EQ(s.manager.currentBank.load(), 4);
}

TEST(ReadBankDirectory, RefusedWithoutCapabilityOrWithDisagreeingBuffer) {
  SimSetup s;
  s.AddAndSelect();
  std::uint8_t buffer[100];
  DeviceInfo d = s.manager.current;
  d.capabilities = 0x02;
  EXPECT_EQ(s.manager.ReadBankDirectory(buffer, sizeof buffer, 5, d), kNotSupported);
  d.capabilities = 0x04;
  EXPECT_EQ(s.manager.ReadBankDirectory(buffer, sizeof buffer, 6, d), kInvalidArgument);  // 120 > 100
  EXPECT_EQ(s.manager.ReadBankDirectory(nullptr, 0, 5, d), kInvalidArgument);
  d.bankCount = 4000;
  std::vector<std::uint8_t> big(80000);
  EXPECT_EQ(s.manager.ReadBankDirectory(big.data(), big.size(), 4000, d), kInvalidArgument);  // > 65535 bytes
  EXPECT_TRUE(Calls(s.usb).empty());
  d.bankCount = 16;
  EXPECT_EQ(s.manager.ReadBankDirectory(buffer, sizeof buffer, 5, d), kOk);  // min(5, 16) entries fit
  EXPECT_EQ(Calls(s.usb, true), (std::vector<std::string>{"in 09 v0 i0 l100"}));
}

TEST(ReadBankDirectory, LongOrShortRepliesStayInTheBuffer) {
  SimSetup s;
  s.usb.AddDevice({});
  SimulatedFaults f;
  f.directoryReplyLength = 100000;
  s.usb.SetFaults(0, f);
  s.manager.Refresh(nullptr);
  ASSERT_EQ(s.manager.devices.size(), 1u);
  std::uint8_t buffer[40 + 8];
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(s.manager.ReadBankDirectory(buffer, 40, 2, s.manager.current), kOk);
  for (int i = 40; i < 48; ++i) EXPECT_EQ(buffer[i], 0xEE);
  f.directoryReplyLength = 3;
  s.usb.SetFaults(0, f);
  EXPECT_EQ(s.manager.ReadBankDirectory(buffer, 40, 2, s.manager.current), kOk);  // the length is not checked
}

}  // namespace
}  // namespace tavrin
