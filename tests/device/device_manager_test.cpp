#include <gtest/gtest.h>

#include <cstring>

#include "device_test_util.h"

namespace tavrin {
namespace {

using test::Calls;
using test::Strings;

class Observer final : public DeviceListObserver {
 public:
  void DeviceAdded(Utf8View name) override { events.push_back("add " + std::string(name)); }
  void DeviceRemoved(std::size_t index) override { events.push_back("remove " + std::to_string(index)); }
  void SelectionChanged(std::int32_t index) override { events.push_back("select " + std::to_string(index)); }
  Strings events;
};

class DeviceManagerTest : public ::testing::Test, public test::SimSetup {
 protected:
  Observer o;
};

TEST(DeviceModels, Names) {
  const char* const names[] = {"Corvask ???", "Tavrin",      "Corvask Trio", "Harnel Board",
                               "Lumeth",      "Quivens",     "Dorsk",        "Ombrelt",
                               "Harnel Card", "Tavrin Mk3",  "Fennic",       "Corvask ???"};
  for (std::uint32_t code = 0; code <= 11; ++code) EXPECT_EQ(DeviceModelName(code), names[code]) << code;
}

// mode, model, word2, word4, banks, byte7, memory, serial, capabilities, other family, present
std::vector<std::uint32_t> Fields(const DeviceInfo& d) {
  return {d.mode,         d.modelCode,    d.word2,       d.word4, d.bankCount, d.byte7, d.memorySize,
          d.serialNumber, d.capabilities, d.otherFamily, d.present};
}

TEST(IdentifyReply, FieldsByLength) {
  std::uint8_t reply[36] = {2, 5, 0x34, 0x12, 0x02, 0x01, 40, 7, 0x00, 0x00, 0x08, 0x00, 0xD2, 0x04, 0, 0};
  for (int i = 0; i < 12; ++i) reply[16 + i] = static_cast<std::uint8_t>(0xA0 + i);
  reply[28] = 0x06;
  reply[29] = 0x01;
  DeviceInfo d;
  ASSERT_EQ(ParseIdentifyReply(reply, 34, d), kOk);
  using Values = std::vector<std::uint32_t>;
  EXPECT_EQ(Fields(d), (Values{2, 5, 0x1234, 0x0102, 40, 7, 0x080000, 1234, 0x0106, 0, 1}));
  EXPECT_EQ(std::string(d.uniqueId, 24), "A0A1A2A3A4A5A6A7A8A9AAAB");
  ASSERT_EQ(ParseIdentifyReply(reply, 28, d), kOk);
  EXPECT_EQ(d.capabilities, 0);

  // 36 bytes: the other family, whose bytes 12..35 are the unique ID.
  for (int i = 0; i < 36; ++i) reply[i] = static_cast<std::uint8_t>(i + 1);
  reply[11] = 0;  // a memory size a card can have
  ASSERT_EQ(ParseIdentifyReply(reply, 36, d), kOk);
  EXPECT_EQ(Fields(d), (Values{1, 2, 0x0403, 0x0605, 7, 0, 0x0B0A09, 0, 0, 1, 1}));
  EXPECT_EQ(std::memcmp(d.uniqueId, reply + 12, 24), 0);
  for (std::uint32_t n : {0u, 1u, 27u, 29u, 30u, 33u, 35u, 37u, 64u}) {
    EXPECT_EQ(ParseIdentifyReply(reply, n, d), kBadIdentify) << n;
  }
  // A memory size beyond any card is no identification.
  for (const std::uint32_t memory : {kMaxDeviceMemory, kMaxDeviceMemory + 1, 0xFFFFFFFFu}) {
    std::uint8_t normal[34] = {1, 1};
    for (int i = 0; i < 4; ++i) normal[8 + i] = static_cast<std::uint8_t>(memory >> (8 * i));
    EXPECT_EQ(ParseIdentifyReply(normal, 34, d), memory <= kMaxDeviceMemory ? kOk : kBadIdentify) << memory;
  }
}

TEST_F(DeviceManagerTest, IdentifyOpensAsksAndCloses) {
  Add();
  DeviceInfo d;
  ASSERT_EQ(IdentifyDevice(usb, usb.Path(0).view(), d), kOk);
  EXPECT_EQ(Calls(usb), (Strings{"open", "in 01 v1 i0 l36", "close"}));  // default time-out
  EXPECT_EQ(d.path.view(), usb.Path(0).view());
  usb.SetFaults(0, {.openResult = kAccessDenied});
  EXPECT_EQ(IdentifyDevice(usb, usb.Path(0).view(), d), kAccessDenied);
  usb.SetFaults(0, {.failTransfer = 1, .failCode = kTimeout});
  EXPECT_EQ(IdentifyDevice(usb, usb.Path(0).view(), d), kTimeout);
  EXPECT_EQ(usb.OpenHandles(), 0u);
}

// Only models 1, 5 and 9 of the normal family are listed, and only under a
// path with the lower-case IDs. A device in mode 2 with word4 other than 0 or
// 0xFFFF is asked to change its mode instead; it comes back under a new path.
TEST_F(DeviceManagerTest, RefreshAdmitsModelsOneFiveAndNine) {
  for (std::uint8_t model = 1; model <= 10; ++model) Add({.modelCode = model, .serialNumber = 100u + model});
  Add({.serialNumber = 999, .identifyLength = 36});
  Add({.serialNumber = 30, .identifyLength = 30});
  Add({.mode = 2, .word4 = 0, .serialNumber = 200});
  Add({.mode = 2, .word4 = 0xFFFF, .serialNumber = 201});
  const std::size_t modeTwo = Add({.mode = 2, .word4 = 0x0102, .serialNumber = 202});
  const std::size_t upper = usb.AddDevice({.serialNumber = 300}, u"\\\\?\\USB#VID_0483&PID_A2A1#X#{a5dc}");
  const DevicePath before = usb.Path(modeTwo);
  ASSERT_EQ(manager.Refresh(&o), kOk);
  EXPECT_EQ(o.events, (Strings{"add Tavrin (101)", "add Quivens (105)", "add Tavrin Mk3 (109)",
                               "add Tavrin (200)", "add Tavrin (201)", "select 0"}));
  EXPECT_EQ(manager.devices.size(), 5u);
  EXPECT_EQ(manager.selectedIndex.load(), 0);
  EXPECT_EQ(manager.current.serialNumber, 101u);
  EXPECT_TRUE(Calls(usb, false, upper).empty());
  EXPECT_EQ(Calls(usb, false, modeTwo),
            (Strings{"open", "in 01 v1 i0 l36", "close", "open", "out 05 v1 i0", "close"}));
  EXPECT_NE(usb.Path(modeTwo).view(), before.view());

  // Known devices are not asked again; the one back in mode 1 is taken.
  usb.ClearLog();
  o.events.clear();
  ASSERT_EQ(manager.Refresh(&o), kOk);
  EXPECT_TRUE(Calls(usb, false, 0).empty());
  EXPECT_EQ(Calls(usb, false, modeTwo), (Strings{"open", "in 01 v1 i0 l36", "close"}));
  EXPECT_EQ(o.events, (Strings{"add Tavrin (202)"}));
  ASSERT_EQ(manager.devices.size(), 6u);
  EXPECT_EQ(manager.devices[5].mode, 1);
}

TEST_F(DeviceManagerTest, UnpluggingMovesTheSelection) {
  const struct {
    std::uint32_t devices;
    int select, unplug;
    Strings events;
    std::int32_t selected;
    std::uint32_t serial;  // of the device selected after; 0 = none
  } cases[] = {
      {3, 1, 1, {"remove 1", "select 0"}, 0, 1},  // the selected one: the first remaining
      {3, 2, 0, {"remove 0", "select 1"}, 1, 3},  // one before it: the same device
      {3, 0, 2, {"remove 2"}, 0, 1},
      {1, 0, 0, {"remove 0", "select -1"}, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unplug);
    test::SimSetup s;
    for (std::uint32_t i = 1; i <= c.devices; ++i) s.Add({.memorySize = i * 100000, .serialNumber = i}, {1});
    s.manager.Refresh(nullptr);
    ASSERT_EQ(s.manager.SelectDevice(c.select, false), kOk);
    s.manager.currentBank.store(2);
    s.usb.Unplug(static_cast<std::size_t>(c.unplug));
    Observer events;
    ASSERT_EQ(s.manager.Refresh(&events), kOk);
    EXPECT_EQ(events.events, c.events);
    EXPECT_EQ(s.manager.selectedIndex.load(), c.selected);
    const DeviceInfo& d = s.manager.current;
    EXPECT_EQ(d.serialNumber, c.serial);
    EXPECT_EQ(d.memorySize, c.serial ? c.serial * 100000 : kDefaultMemorySize);
    EXPECT_EQ(s.manager.currentBank.load(), c.serial ? 2 : 1);
    EXPECT_EQ(s.manager.BankHoldsCard(1), c.serial != 0);
  }
}

TEST_F(DeviceManagerTest, EnumerationErrorKeepsAbsentDevicesAndNewOnes) {
  Add({.serialNumber = 1});
  Add({.serialNumber = 2});
  manager.Refresh(nullptr);
  usb.Unplug(0);
  usb.FailEnumeration(kFailed, 0);
  EXPECT_EQ(manager.Refresh(&o), kFailed);
  EXPECT_EQ(manager.devices.size(), 2u);
  EXPECT_TRUE(o.events.empty());
  EXPECT_FALSE(manager.Busy());

  // A device found before the error is kept, but the selection is not announced.
  test::SimSetup s;
  s.Add();
  s.Add({.serialNumber = 7});
  s.usb.FailEnumeration(kTimeout, 1);
  EXPECT_EQ(s.manager.Refresh(&o), kTimeout);
  EXPECT_EQ(s.manager.devices.size(), 1u);
  EXPECT_EQ(o.events, (Strings{"add Tavrin (1234)"}));
  EXPECT_EQ(s.manager.selectedIndex.load(), 0);
}

TEST_F(DeviceManagerTest, SelectReadsTheWholeDirectoryInOneRequest) {
  Add({.bankCount = 40, .serialNumber = 1}, {2});
  Add({.bankCount = 4, .serialNumber = 2});
  manager.currentBank.store(0);
  manager.Refresh(nullptr);
  EXPECT_EQ(Calls(usb, false, 0), (Strings{"open", "in 01 v1 i0 l36", "close", "open", "timeout 0 1000",
                                           "in 09 v0 i0 l800", "close"}));
  EXPECT_EQ(manager.currentBank.load(), 1);
  EXPECT_TRUE(manager.BankHoldsCard(2));
  EXPECT_EQ(manager.BankName(2).view(), "PIANO");
  EXPECT_FALSE(manager.BankHoldsCard(1));

  // The same index again reads nothing unless forced; an index past the end selects the last.
  usb.ClearLog();
  EXPECT_EQ(manager.SelectDevice(0, false), kOk);
  EXPECT_TRUE(Calls(usb).empty());
  manager.currentBank.store(9);
  EXPECT_EQ(manager.SelectDevice(9, false), kOk);
  EXPECT_EQ(manager.selectedIndex.load(), 1);
  EXPECT_EQ(manager.current.serialNumber, 2u);
  EXPECT_EQ(manager.currentBank.load(), 4);
  EXPECT_EQ(manager.CurrentBankCount(), 4u);
  EXPECT_EQ(manager.SelectDevice(0, false), kOk);
  EXPECT_EQ(manager.SelectDevice(2, false), kOk);  // just past the end
  EXPECT_EQ(manager.current.serialNumber, 2u);
  EXPECT_FALSE(manager.BankHoldsCard(2));
  manager.SelectDevice(-1, false);
  EXPECT_EQ(manager.selectedIndex.load(), -1);
  EXPECT_EQ(manager.current.memorySize, kDefaultMemorySize);
  EXPECT_EQ(manager.CurrentBankCount(), 1u);

  // A failed read clears the directory.
  ASSERT_EQ(manager.SelectDevice(0, false), kOk);
  ASSERT_TRUE(manager.BankHoldsCard(2));
  usb.SetFaults(0, {.refuseRequest = kRequestReadDirectory});
  EXPECT_EQ(manager.SelectDevice(0, true), kBrokenPipe);
  EXPECT_FALSE(manager.BankHoldsCard(2));
}

TEST_F(DeviceManagerTest, DirectoryEntries) {
  std::uint8_t entry[20] = {0x01, 0, 0, 0, 'P', 'I', 'A', 'N', 'O', 0, 'X', 'Y'};
  manager.SetDirectoryEntry(5, entry);
  EXPECT_TRUE(manager.BankHoldsCard(5));
  EXPECT_EQ(manager.BankName(5).view(), "PIANO");
  entry[0] = 0x00;  // without the card bit the bank is empty, whatever the name
  manager.SetDirectoryEntry(5, entry);
  EXPECT_FALSE(manager.BankHoldsCard(5));
  std::memset(entry, 'A', 20);  // a name filling all 16 bytes has no terminator
  manager.SetDirectoryEntry(256, entry);
  EXPECT_EQ(manager.BankName(256).view(), "AAAAAAAAAAAAAAAA");
  EXPECT_TRUE(manager.BankHoldsCard(256));
  // Banks outside 1..256 read as zeros and are not stored.
  manager.SetDirectoryEntry(0, entry);
  manager.SetDirectoryEntry(257, entry);
  EXPECT_FALSE(manager.BankHoldsCard(0));
  EXPECT_FALSE(manager.BankHoldsCard(257));
}

TEST_F(DeviceManagerTest, ReadBankDirectoryChecksItsBuffer) {
  Add({}, {1});
  manager.Refresh(nullptr);
  usb.ClearLog();
  std::uint8_t buffer[100 + 8];
  DeviceInfo d = manager.current;
  d.capabilities = 0x02;
  EXPECT_EQ(manager.ReadBankDirectory(buffer, 100, 5, d), kNotSupported);
  d.capabilities = 0x04;
  EXPECT_EQ(manager.ReadBankDirectory(buffer, 100, 6, d), kInvalidArgument);  // 120 > 100
  EXPECT_EQ(manager.ReadBankDirectory(nullptr, 0, 5, d), kInvalidArgument);
  d.bankCount = 4000;
  std::vector<std::uint8_t> big(80000);
  EXPECT_EQ(manager.ReadBankDirectory(big.data(), big.size(), 4000, d), kInvalidArgument);  // > 65535 bytes
  EXPECT_TRUE(Calls(usb).empty());
  d.bankCount = 16;
  EXPECT_EQ(manager.ReadBankDirectory(buffer, 100, 5, d), kOk);  // min(5, 16) entries fit
  EXPECT_EQ(Calls(usb, true), (Strings{"in 09 v0 i0 l100"}));
  EXPECT_EQ(buffer[0], 0x01);
  d.bankCount = 0;  // a device without banks lists none
  EXPECT_EQ(manager.ReadBankDirectory(buffer, 100, 1, d), kOk);
  d.bankCount = 16;

  // A longer reply than asked stays within the buffer.
  usb.SetFaults(0, {.directoryReplyLength = 100000});
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(manager.ReadBankDirectory(buffer, 40, 2, d), kOk);
  for (int i = 40; i < 48; ++i) EXPECT_EQ(buffer[i], 0xEE);
}

}  // namespace
}  // namespace tavrin
