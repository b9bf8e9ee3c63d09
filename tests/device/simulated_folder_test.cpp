// The simulated device kept in a folder, and (natively) the whole road of a
// card through the command-line tool.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "card/card_file.h"
#include "device_test_util.h"
#include "support/command.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(SimulatedFolder, SettingsAndBankFiles) {
  testing::TempDir dir;
  // Numbers in lower-case hex, and ten digits with leading zeros.
  dir.Write("device.txt", Bytes("# a simulated Quivens\nmodel = 5\nserial=0x4d\nbanks = 4\n"
                                "memory = 0002097152\ncapabilities = 4\n"));
  dir.Write("bank2.bin", test::CardBytes(0x180000, "ORGAN     "));  // beyond a megabyte
  SimulatedUsbBackend usb;
  ASSERT_EQ(usb.LoadFolder(dir.path().string()), kOk);
  DeviceManager m(usb);
  ASSERT_EQ(m.Refresh(nullptr), kOk);
  ASSERT_EQ(m.devices.size(), 1u);
  EXPECT_EQ(DeviceDisplayName(m.current).view(), "Quivens (77)");
  EXPECT_EQ(m.current.bankCount, 4u);
  EXPECT_EQ(m.current.memorySize, 0x200000u);
  EXPECT_EQ(m.current.capabilities, 0x04);
  EXPECT_EQ(m.BankName(2).view(), "ORGAN");

  // A write of a wide card lands byte-exact in the bank's file; clearing empties it.
  std::vector<std::uint8_t> card(65536, 0xFF);
  const char header[] = "KORG\x1f\x00STRINGS   ";
  for (std::size_t k = 0; k < 64; ++k) card[2 * k + 1] = static_cast<std::uint8_t>(header[k < 16 ? k : 15]);
  test::RecordingDisplay display;
  m.currentBank.store(4);  // the last bank
  ASSERT_EQ(RunSendTransfer(m, card, display), kOk);
  EXPECT_EQ(ReadBytes(dir.File("bank4.bin")), card);
  EXPECT_EQ(m.BankName(4).view(), "STRINGS");
  const std::uint32_t rows[] = {1};
  ASSERT_EQ(ClearBanks(m, rows, display), kOk);
  EXPECT_EQ(fs::file_size(dir.File("bank2.bin")), 0u);  // the file stays, empty
  EXPECT_FALSE(m.BankHoldsCard(2));
  SimulatedUsbBackend again;
  ASSERT_EQ(again.LoadFolder(dir.path().string()), kOk);
  EXPECT_EQ(again.BankData(0, 4), card);
  EXPECT_TRUE(again.BankData(0, 2).empty());  // a second run finds the banks as they were left
}

#ifndef _WIN32  // Windows keeps the claim per thread: two programs, not two handles of one thread
TEST(SimulatedFolder, OneOwnerAtATime) {
  testing::TempDir dir;
  SimulatedUsbBackend first, second;
  ASSERT_EQ(first.LoadFolder(dir.File("")), kOk);
  ASSERT_EQ(second.LoadFolder(dir.File("")), kOk);
  std::vector<DevicePath> paths;
  ASSERT_EQ(first.Enumerate(kAnyId, kAnyId, paths), kOk);
  ASSERT_EQ(paths.size(), 1u);
  std::unique_ptr<UsbDevice> a, b;
  ASSERT_EQ(first.Open(paths[0].view(), a), kOk);
  EXPECT_EQ(second.Open(paths[0].view(), b), kNotSupported);  // busy
  a.reset();
  EXPECT_EQ(second.Open(paths[0].view(), b), kOk);
}
#endif

#ifdef TAVRIN_CLI_PATH
class ToolEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(banks); }

  // Runs the tool with the simulated device in `banks`; returns the exit
  // status and keeps what it printed in `out`.
  int Run(const std::string& arguments) {
    const std::string command = "TAVRIN_SIMULATED_DEVICE='" + banks + "' '" TAVRIN_CLI_PATH "' " + arguments;
    const testing::CommandRun run = testing::RunCommand(command + " 2>&1");
    out = run.out;
    return run.status;
  }
  bool Printed(const std::string& text) const { return out.find(text) != std::string::npos; }

  // Saves a card with one multisound; returns its path quoted for the command line.
  std::string SaveCard(const char* name, std::size_t frames, WaveType wave = WaveType::PCM) {
    doc.Reset();
    doc.name.assign(name);
    test::AddMultisound(doc, wave, frames);
    cardPath = dir.File(std::string(name) + ".qz");
    EXPECT_EQ(SaveCardFile(cardPath, doc), kOk);
    return "'" + cardPath + "'";
  }

  // The image the device must hold: the saved card loaded back and built in
  // the device's layout at its memory size.
  std::vector<std::uint8_t> Expected(CardLayout layout, std::uint32_t capacity) {
    EXPECT_EQ(LoadCardFile(cardPath, doc), kOk);
    doc.cardCapacity = capacity;
    CardImage image;
    EXPECT_EQ(BuildCardImage(doc, layout, image), kOk);
    return image;
  }

  testing::TempDir dir;
  const std::string banks = dir.File("banks");
  std::string out, cardPath;
  static inline CardDocument doc;  // large
};

TEST_F(ToolEndToEnd, SendListAndClear) {
  const std::string card = SaveCard("E2ECARD", 3000);
  ASSERT_EQ(Run("devices"), 0) << out;
  EXPECT_TRUE(Printed("Tavrin (1234)")) << out;
  ASSERT_EQ(Run("send " + card + " --bank 3"), 0) << out;
  EXPECT_TRUE(Printed("Transfer Successful: Bank ")) << out;
  EXPECT_TRUE(ReadBytes(banks + "/bank3.bin") == Expected(CardLayout::Card, 524288));
  EXPECT_FALSE(fs::exists(banks + "/bank1.bin"));
  ASSERT_EQ(Run("banks"), 0) << out;
  EXPECT_TRUE(Printed("       3  E2ECARD\n") && Printed("       1  (empty)\n")) << out;
  EXPECT_TRUE(Printed("      16  (empty)\n")) << out;
  ASSERT_EQ(Run("clear 3"), 0) << out;
  EXPECT_TRUE(Printed("Clearing successful")) << out;
  ASSERT_EQ(Run("banks"), 0) << out;
  EXPECT_TRUE(Printed("       3  (empty)\n")) << out;
  // Out-of-range bank and device numbers are refused without a transfer.
  for (const char* bank : {"17", "0", "x"}) {
    EXPECT_EQ(Run("send " + card + " --bank " + bank), 2);
    EXPECT_EQ(out, std::string("tavrin: send: There is no bank ") + bank +
                       " on this device: choose a bank from 1 to 16\n");
  }
  EXPECT_FALSE(fs::exists(banks + "/bank1.bin"));
  EXPECT_NE(Run("send " + card + " --device 2"), 0);
  EXPECT_NE(Run("clear 0"), 0);

  // Model 5 takes the wide image.
  dir.Write("banks/device.txt", Bytes("model = 5\nmemory = 131072\nserial = 55\n"));
  const std::string wide = SaveCard("WIDECARD", 2000);
  ASSERT_EQ(Run("send " + wide + " --bank 3"), 0) << out;
  EXPECT_TRUE(ReadBytes(banks + "/bank3.bin") == Expected(CardLayout::WideCard, 131072));
  ASSERT_EQ(Run("banks"), 0) << out;
  EXPECT_TRUE(Printed("       3  WIDECARD\n")) << out;
}

TEST_F(ToolEndToEnd, RefusalsAndFailures) {
  EXPECT_EQ(Run("send " + SaveCard("DWGS", 512, WaveType::DWGS)), 1);
  EXPECT_TRUE(Printed("Only DWGS Multisounds")) << out;

  // Too much data for a small device.
  dir.Write("banks/device.txt", Bytes("memory = 4096\n"));
  const std::string big = SaveCard("BIG", 3000);
  EXPECT_EQ(Run("send " + big), 1);
  EXPECT_TRUE(Printed("send: Too much data for the card: Current Size: ")) << out;
  EXPECT_TRUE(Printed(" Byte, Maximum Size: 4096 Byte\n")) << out;
  EXPECT_FALSE(fs::exists(banks + "/bank1.bin"));

  // A device without a bank directory cannot list or clear banks.
  dir.Write("banks/device.txt", Bytes("capabilities = 2\n"));
  EXPECT_EQ(Run("banks"), 1);
  EXPECT_EQ(Run("clear 1"), 1);
  EXPECT_TRUE(Printed("Clearing failed")) << out;

  // A transfer that breaks off leaves part of the card in the bank: said plainly.
  dir.Write("banks/device.txt", Bytes("shortbulk = 3\n"));
  EXPECT_EQ(Run("send " + big + " --bank 2"), 1);
  EXPECT_TRUE(Printed("send: Transfer Failed (the device accepted fewer bytes than sent): "
                      "Bank 2 now holds an incomplete card: send it again\n")) << out;

  // No device at all (a folder whose device cannot be identified).
  dir.Write("banks/device.txt", Bytes("identify = 30\n"));
  EXPECT_EQ(Run("devices"), 0);
  EXPECT_TRUE(Printed("no devices found")) << out;
  EXPECT_EQ(Run("send " + big), 1);
  EXPECT_TRUE(Printed("no device found")) << out;
}

#endif  // TAVRIN_CLI_PATH

}  // namespace
}  // namespace tavrin
