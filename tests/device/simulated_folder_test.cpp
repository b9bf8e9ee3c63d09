// The simulated device kept in a folder, and (natively) the whole road of a
// card through the command-line tool.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/file_io.h"
#include "card/card_file.h"
#include "device/device_workers.h"
#include "device_test_util.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;
using test::Calls;

class TempFolder {
 public:
  explicit TempFolder(const char* name) {
    // Unique per run, so that test programs of several builds can run at once.
    static int counter = 0;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto self = reinterpret_cast<std::uintptr_t>(&counter);
    path_ = fs::temp_directory_path() / (std::string("tavrin-device-") + name + "-" + std::to_string(now) + "-" +
                                         std::to_string(self % 1000003) + "-" + std::to_string(++counter));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string Path() const { return path_.string(); }
  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::vector<std::uint8_t> data;
  if (ReadWholeFile(path, 64 * 1024 * 1024, data) != kOk) data.clear();
  return data;
}

void WriteText(const std::string& path, const char* text) {
  ASSERT_EQ(WriteWholeFile(path, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text),
                                                               std::strlen(text))),
            kOk);
}

TEST(SimulatedFolder, DefaultsWithoutSettings) {
  TempFolder dir("defaults");
  SimulatedUsbBackend usb;
  ASSERT_EQ(usb.LoadFolder(dir.Path()), kOk);
  DeviceManager m(usb);
  ASSERT_EQ(m.Refresh(nullptr), kOk);
  ASSERT_EQ(m.devices.size(), 1u);
  EXPECT_EQ(DeviceDisplayName(m.current).view(), "Tavrin (1234)");
  EXPECT_EQ(m.current.bankCount, 16u);
  EXPECT_EQ(m.current.memorySize, 524288u);
  EXPECT_EQ(m.current.capabilities, 0x06);
}

TEST(SimulatedFolder, SettingsAndBankFiles) {
  TempFolder dir("settings");
  WriteText(dir.File("device.txt"),
            "# a simulated Quivens\nmodel = 5\nserial=77\nbanks = 4\nmemory = 0x10000\ncapabilities = 4\n");
  std::vector<std::uint8_t> image(200, 0xFF);
  const char header[] = "KORG\x0f\x00ORGAN     ";
  std::memcpy(image.data(), header, 16);
  ASSERT_EQ(WriteWholeFile(dir.File("bank2.bin"), image), kOk);
  SimulatedUsbBackend usb;
  ASSERT_EQ(usb.LoadFolder(dir.Path()), kOk);
  DeviceManager m(usb);
  ASSERT_EQ(m.Refresh(nullptr), kOk);
  ASSERT_EQ(m.devices.size(), 1u);
  EXPECT_EQ(DeviceDisplayName(m.current).view(), "Quivens (77)");
  EXPECT_EQ(m.current.bankCount, 4u);
  EXPECT_EQ(m.current.memorySize, 65536u);
  EXPECT_EQ(m.current.capabilities, 0x04);
  EXPECT_EQ(m.BankName(2).view(), "ORGAN");

  // A write lands byte-exact in the bank's file; clearing empties it.
  std::vector<std::uint8_t> card(65536, 0xFF);
  for (std::size_t k = 0; k < 64; ++k) {
    card[2 * k] = 0xFF;
    card[2 * k + 1] = static_cast<std::uint8_t>("KORG\x1f\x00STRINGS   "[k < 16 ? k : 15]);
  }
  test::RecordingDisplay display;
  m.currentBank.store(3);
  ASSERT_EQ(RunSendTransfer(m, card, display), kOk);
  EXPECT_EQ(ReadFile(dir.File("bank3.bin")), card);
  EXPECT_EQ(m.BankName(3).view(), "STRINGS");
  const std::uint32_t rows[] = {1};
  ASSERT_EQ(ClearBanks(m, rows, display), kOk);
  EXPECT_TRUE(fs::exists(dir.File("bank2.bin")));
  EXPECT_EQ(fs::file_size(dir.File("bank2.bin")), 0u);
  EXPECT_FALSE(m.BankHoldsCard(2));

  // A second run of the program finds the banks as they were left.
  SimulatedUsbBackend again;
  ASSERT_EQ(again.LoadFolder(dir.Path()), kOk);
  EXPECT_EQ(again.BankData(0, 3), card);
  EXPECT_TRUE(again.BankData(0, 2).empty());
}

TEST(SimulatedFolder, WrongIdentifyLengthFromSettings) {
  TempFolder dir("identify");
  WriteText(dir.File("device.txt"), "identify = 30\n");
  SimulatedUsbBackend usb;
  ASSERT_EQ(usb.LoadFolder(dir.Path()), kOk);
  DeviceManager m(usb);
  EXPECT_EQ(m.Refresh(nullptr), kOk);
  EXPECT_TRUE(m.devices.empty());
}

#ifdef TAVRIN_CLI_PATH
}  // namespace
}  // namespace tavrin

#include <sys/wait.h>

namespace tavrin {
namespace {

// Runs the tool with the simulated device in dir; returns the exit status
// and what it printed on stdout.
int RunTool(const std::string& dir, const std::string& arguments, std::string* out = nullptr) {
  const std::string command = "TAVRIN_SIMULATED_DEVICE='" + dir + "' '" TAVRIN_CLI_PATH "' " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buf[512];
  while (std::fgets(buf, sizeof buf, pipe)) text += buf;
  const int status = pclose(pipe);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void FillCard(CardDocument& doc, const char* name, std::size_t frames) {
  doc.Reset();
  doc.name.assign(name);
  Sound* sound = AppendSound(doc.multisounds, SoundType::Multisound);
  sound->name.assign("PAD");
  for (int k = 0; k < 2; ++k) {
    SampleData* sample = AppendSample(*sound);
    sample->rootNote = static_cast<std::uint8_t>(72 - 12 * k);
    sample->frames.resize(frames);
    for (std::size_t i = 0; i < frames; ++i) sample->frames[i] = 0.7f * std::sin(static_cast<float>(i) * 0.01f * (k + 1));
    sample->markers.start = 0;
    sample->markers.loop = static_cast<std::int64_t>(frames / 3);
    sample->markers.end = static_cast<std::int64_t>(frames);
    sample->loopFlags = LoopFlags::kForward;
    sample->loopOn = true;
  }
  Sound* drum = AppendSound(doc.drumsounds, SoundType::Drumsound);
  drum->name.assign("KICK");
  SampleData* hit = AppendSample(*drum);
  hit->frames.assign(frames / 2, 0.25f);
  hit->markers.start = 0;
  hit->markers.loop = 0;
  hit->markers.end = static_cast<std::int64_t>(frames / 2);
}

// The image the device must hold: the card-file loaded back and built in the
// device's layout at its memory size.
std::vector<std::uint8_t> ExpectedImage(const std::string& cardFile, CardLayout layout, std::uint32_t capacity) {
  static CardDocument doc;
  EXPECT_EQ(LoadCardFile(cardFile, doc), kOk);
  doc.cardCapacity = capacity;
  CardImage image;
  EXPECT_EQ(BuildCardImage(doc, layout, image), kOk);
  return image;
}

TEST(ToolEndToEnd, SendListAndClear) {
  TempFolder dir("e2e");
  const std::string card = dir.File("card.qz");
  static CardDocument doc;
  FillCard(doc, "E2ECARD", 3000);
  ASSERT_EQ(SaveCardFile(card, doc), kOk);
  const std::string banks = dir.Path() + "/banks";
  fs::create_directories(banks);

  std::string out;
  ASSERT_EQ(RunTool(banks, "devices", &out), 0) << out;
  EXPECT_NE(out.find("Tavrin (1234)"), std::string::npos) << out;

  ASSERT_EQ(RunTool(banks, "send '" + card + "' --bank 3", &out), 0) << out;
  EXPECT_NE(out.find("Transfer Successful: Bank "), std::string::npos) << out;
  const auto stored = ReadFile(banks + "/bank3.bin");
  ASSERT_EQ(stored.size(), 524288u);
  EXPECT_TRUE(stored == ExpectedImage(card, CardLayout::Card, 524288));
  EXPECT_FALSE(fs::exists(banks + "/bank1.bin"));

  ASSERT_EQ(RunTool(banks, "banks", &out), 0) << out;
  EXPECT_NE(out.find("       3  E2ECARD\n"), std::string::npos) << out;
  EXPECT_NE(out.find("       1  (empty)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("      16  (empty)\n"), std::string::npos) << out;

  ASSERT_EQ(RunTool(banks, "clear 3", &out), 0) << out;
  EXPECT_NE(out.find("Clearing successful"), std::string::npos) << out;
  ASSERT_EQ(RunTool(banks, "banks", &out), 0) << out;
  EXPECT_NE(out.find("       3  (empty)\n"), std::string::npos) << out;

  // Out-of-range bank and device numbers are refused without a transfer.
  EXPECT_NE(RunTool(banks, "send '" + card + "' --bank 17", &out), 0);
  EXPECT_NE(RunTool(banks, "send '" + card + "' --device 2", &out), 0);
  EXPECT_NE(RunTool(banks, "clear 0", &out), 0);
}

TEST(ToolEndToEnd, ModelFiveGetsTheWideImage) {
  TempFolder dir("e2e-wide");
  const std::string card = dir.File("card.qz");
  static CardDocument doc;
  FillCard(doc, "WIDECARD", 2000);
  ASSERT_EQ(SaveCardFile(card, doc), kOk);
  const std::string banks = dir.Path() + "/banks";
  fs::create_directories(banks);
  WriteText(banks + "/device.txt", "model = 5\nmemory = 131072\nserial = 55\n");
  std::string out;
  ASSERT_EQ(RunTool(banks, "send '" + card + "' --bank 3", &out), 0) << out;
  const auto stored = ReadFile(banks + "/bank3.bin");
  ASSERT_EQ(stored.size(), 131072u);
  EXPECT_TRUE(stored == ExpectedImage(card, CardLayout::WideCard, 131072));
  EXPECT_EQ(stored[0], 0xFF);
  EXPECT_EQ(stored[1], 'K');
  ASSERT_EQ(RunTool(banks, "banks", &out), 0) << out;
  EXPECT_NE(out.find("       3  WIDECARD\n"), std::string::npos) << out;
}

TEST(ToolEndToEnd, RefusalsAndFailures) {
  TempFolder dir("e2e-refuse");
  const std::string banks = dir.Path() + "/banks";
  fs::create_directories(banks);
  static CardDocument doc;

  // Only DWGS multisounds.
  FillCard(doc, "DWGS", 512);
  doc.multisounds[0].waveType = WaveType::DWGS;
  doc.drumsounds.clear();
  const std::string dwgs = dir.File("dwgs.qz");
  ASSERT_EQ(SaveCardFile(dwgs, doc), kOk);
  std::string out;
  EXPECT_EQ(RunTool(banks, "send '" + dwgs + "'", &out), 1);
  EXPECT_NE(out.find("Only DWGS Multisounds"), std::string::npos) << out;

  // Too much data for a small device.
  WriteText(banks + "/device.txt", "memory = 4096\n");
  FillCard(doc, "BIG", 3000);
  const std::string big = dir.File("big.qz");
  ASSERT_EQ(SaveCardFile(big, doc), kOk);
  EXPECT_EQ(RunTool(banks, "send '" + big + "'", &out), 1);
  EXPECT_NE(out.find("tavrin: send: Too much data for the card: Current Size: 15152 Byte, Maximum Size: 4096 Byte\n"),
            std::string::npos) << out;
  EXPECT_FALSE(fs::exists(banks + "/bank1.bin"));

  // A device without a bank directory cannot list or clear banks.
  WriteText(banks + "/device.txt", "capabilities = 2\n");
  EXPECT_EQ(RunTool(banks, "banks", &out), 1);
  EXPECT_EQ(RunTool(banks, "clear 1", &out), 1);
  EXPECT_NE(out.find("Clearing failed"), std::string::npos) << out;

  // No device at all (a folder whose device cannot be identified).
  WriteText(banks + "/device.txt", "identify = 30\n");
  EXPECT_EQ(RunTool(banks, "devices", &out), 0);
  EXPECT_NE(out.find("no devices found"), std::string::npos) << out;
  EXPECT_EQ(RunTool(banks, "send '" + big + "'", &out), 1);
  EXPECT_NE(out.find("no device found"), std::string::npos) << out;
}

#endif  // TAVRIN_CLI_PATH

}  // namespace
}  // namespace tavrin
