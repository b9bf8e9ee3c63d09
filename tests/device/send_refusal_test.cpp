// A send goes to the bank the user sees or nowhere, and every refusal of the
// card is shown with its reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "card/card_file.h"
#include "device/device_test_util.h"
#include "device/device_workers.h"
#include "device/simulated_device.h"
#include "support/temp_dir.h"

#if !defined(_WIN32) && defined(TAVRIN_CLI_PATH)
#include <sys/wait.h>
#endif

namespace tavrin::test {
namespace {

TEST(SendBank, OnlyABankOfTheDevice) {
  struct Row {
    const char* text;
    std::uint32_t banks;
    int bank;  // 0: refused
    const char* message;
  } rows[] = {
      {"3", 16, 3, ""},
      {"16", 16, 16, ""},
      {"1", 1, 1, ""},
      {"17", 16, 0, "There is no bank 17 on this device: choose a bank from 1 to 16"},
      {"99", 16, 0, "There is no bank 99 on this device: choose a bank from 1 to 16"},
      {"0", 16, 0, "There is no bank 0 on this device: choose a bank from 1 to 16"},
      {"", 16, 0, "There is no bank  on this device: choose a bank from 1 to 16"},
      {"2", 1, 0, "There is no bank 2 on this device: it has bank 1 only"},
      {"1x", 16, 0, "There is no bank 1x on this device: choose a bank from 1 to 16"},
      {"65537", 70000, 0, "There is no bank 65537 on this device: choose a bank from 1 to 70000"},
      {"1", 0, 0, "There is no bank 1 on this device: it has bank 1 only"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    std::uint16_t bank = 7;
    Utf8Text<128> message;
    EXPECT_EQ(ParseSendBank(r.text, r.banks, bank, message), r.bank != 0);
    EXPECT_EQ(std::string(message.view()), r.message);
    EXPECT_EQ(bank, r.bank != 0 ? r.bank : 7);
  }
}

TEST(SendRefusal, EveryBuilderRefusalIsShown) {
  SimSetup s;
  s.AddAndSelect();
  CardDocument doc;
  Sound* pad = AppendSound(doc.multisounds, SoundType::Multisound);
  pad->name.assign("Pad");
  SampleData* sample = AppendSample(*pad);
  sample->name.assign("Pad C3");
  sample->frames.assign(10, 0.25f);
  sample->markers = MarkerSet{};
  sample->markers.start = 9;
  sample->markers.end = 4;
  doc.ComputeStatistics(false);
  RecordingDisplay display;
  CardImage image;
  EXPECT_EQ(PrepareSendImage(doc, s.manager, image, display), kTooMuchData);
  ASSERT_EQ(display.errors.size(), 1u);
  EXPECT_EQ(display.errors[0], "The card cannot be sent\n\nSample \"Pad C3\" of \"Pad\": Start or Loop lies past End");
  EXPECT_TRUE(image.empty());
}

TEST(DeviceLimits, MemoryBeyondAnyCardIsNoIdentification) {
  for (const std::uint32_t memory : {67108864u, 67108865u, 0xFFFFFFFFu}) {
    std::uint8_t reply[34] = {1, 1};
    for (int i = 0; i < 4; ++i) reply[8 + i] = static_cast<std::uint8_t>(memory >> (8 * i));
    DeviceInfo d;
    EXPECT_EQ(ParseIdentifyReply(reply, 34, d), memory <= kMaxDeviceMemory ? kOk : kBadIdentify) << memory;
  }
}

TEST(DeviceLimits, DeviceWithoutBanksListsNone) {
  SimulatedDeviceConfig config;
  config.bankCount = 0;
  SimSetup s;
  s.AddAndSelect(config);
  std::uint8_t buffer[kDirectoryEntrySize] = {};
  EXPECT_EQ(s.manager.ReadBankDirectory(buffer, sizeof buffer, 1, s.manager.current), kOk);
}

#ifndef _WIN32  // Windows keeps the claim per thread: two programs, not two handles of one thread
TEST(DeviceLimits, FolderDeviceHasOneOwnerAtATime) {
  tavrin::testing::TempDir dir;
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

#if !defined(_WIN32) && defined(TAVRIN_CLI_PATH)
TEST(SendBank, ToolRefusesABankOutsideTheDevice) {
  tavrin::testing::TempDir dir;
  CardDocument doc;
  Sound* pad = AppendSound(doc.multisounds, SoundType::Multisound);
  pad->name.assign("Pad");
  SampleData* sample = AppendSample(*pad);
  sample->frames.assign(100, 0.25f);
  sample->markers.start = 0;
  sample->markers.loop = 0;
  sample->markers.end = 100;
  ASSERT_EQ(SaveCardFile(dir.File("c.qz"), doc), kOk);
  for (const char* bank : {"17", "0", "x"}) {
    const std::string command = "TAVRIN_SIMULATED_DEVICE='" + dir.File("") + "' '" TAVRIN_CLI_PATH "' send '" +
                                dir.File("c.qz") + "' --bank " + bank + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe)) out += buf;
    const int status = pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 2) << out;
    EXPECT_EQ(out, std::string("tavrin: send: There is no bank ") + bank +
                       " on this device: choose a bank from 1 to 16\n");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("bank1.bin")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("bank3.bin")));
}
#endif

}  // namespace
}  // namespace tavrin::test
