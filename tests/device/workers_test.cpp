#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "device/device_workers.h"
#include "device_test_util.h"

namespace tavrin {
namespace {

using test::Calls;
using test::RecordingDisplay;
using test::SimSetup;
using Strings = std::vector<std::string>;

// Adds a multisound with one sample of `frames` frames.
void AddMultisound(CardDocument& doc, WaveType wave, std::size_t frames, const char* name = "SOUND") {
  Sound* sound = AppendSound(doc.multisounds, SoundType::Multisound);
  ASSERT_NE(sound, nullptr);
  sound->name.assign(name);
  sound->waveType = wave;
  SampleData* sample = AppendSample(*sound);
  ASSERT_NE(sample, nullptr);
  sample->frames.resize(frames);
  for (std::size_t i = 0; i < frames; ++i) sample->frames[i] = 0.5f * std::sin(static_cast<float>(i) * 0.05f);
  sample->markers.start = 0;
  sample->markers.loop = static_cast<std::int64_t>(frames / 2);
  sample->markers.end = static_cast<std::int64_t>(frames);
}

TEST(SizeText, Units) {
  EXPECT_EQ(SizeText(0).view(), "0Byte");
  EXPECT_EQ(SizeText(512).view(), "512Byte");
  EXPECT_EQ(SizeText(1023).view(), "1023Byte");
  EXPECT_EQ(SizeText(1024).view(), "1KiB");
  EXPECT_EQ(SizeText(1536).view(), "1,50KiB");
  EXPECT_EQ(SizeText(1034).view(), "1,00KiB");
  EXPECT_EQ(SizeText(2047).view(), "1,99KiB");
  EXPECT_EQ(SizeText(524288).view(), "512KiB");
  EXPECT_EQ(SizeText(1048575).view(), "1023,99KiB");
  EXPECT_EQ(SizeText(1048576).view(), "1MiB");
  EXPECT_EQ(SizeText(1572864).view(), "1,50MiB");
  EXPECT_EQ(SizeText(8388608).view(), "8MiB");
  EXPECT_EQ(SizeText(4294967295u).view(), "4095,99MiB");
}

TEST(TransferSuccessText, SecondsAndHundredths) {
  EXPECT_EQ(TransferSuccessText(2.5, 3).view(), "Transfer Successful: Bank 3 (Time: 2,50s)");
  EXPECT_EQ(TransferSuccessText(2.0625, 3).view(), "Transfer Successful: Bank 3 (Time: 2,06s)");
  EXPECT_EQ(TransferSuccessText(0.0, 3).view(), "Transfer Successful: Bank 3 (Time: 0,00s)");
  EXPECT_EQ(TransferSuccessText(0.07, 3).view(), "Transfer Successful: Bank 3 (Time: 0,07s)");
  EXPECT_EQ(TransferSuccessText(12.999, 3).view(), "Transfer Successful: Bank 3 (Time: 12,99s)");
}

TEST(SendWorker, OnlyDwgsIsRefusedEvenWhenItFits) {
  SimSetup s;
  s.AddAndSelect();
  CardDocument doc;
  AddMultisound(doc, WaveType::DWGS, 512);
  doc.ComputeStatistics(false);
  RecordingDisplay display;
  CardImage image;
  EXPECT_EQ(PrepareSendImage(doc, s.manager, image, display), kNotSupported);
  ASSERT_EQ(display.errors.size(), 1u);
  EXPECT_EQ(display.errors[0],
            "Only DWGS Multisounds\n\nTo use DWGS Multisound(s) you also need to have at least one PCM Multisound. "
            "Check the manual for more information.");
  EXPECT_TRUE(image.empty());
  EXPECT_EQ(SendCardToDevice(doc, s.manager, display), kNotSupported);
  EXPECT_TRUE(Calls(s.usb).empty());
}

TEST(SendWorker, DwgsWithAPcmMultisoundIsSent) {
  SimSetup s;
  s.AddAndSelect();
  CardDocument doc;
  AddMultisound(doc, WaveType::DWGS, 512);
  AddMultisound(doc, WaveType::PCM, 100);
  doc.ComputeStatistics(false);
  RecordingDisplay display;
  EXPECT_EQ(SendCardToDevice(doc, s.manager, display), kOk);
  EXPECT_TRUE(display.errors.empty());
}

TEST(SendWorker, TooMuchDataShowsBothSizesAndSendsNothing) {
  SimSetup s;
  s.AddAndSelect();
  CardDocument doc;
  // 64 header + 14 multisound + 10 zone + 14 sample record + 2 x 299949 frames.
  AddMultisound(doc, WaveType::PCM, 299949);
  doc.ComputeStatistics(false);
  RecordingDisplay display;
  CardImage image;
  EXPECT_EQ(PrepareSendImage(doc, s.manager, image, display), kTooMuchData);
  ASSERT_EQ(display.errors.size(), 1u);
  EXPECT_EQ(display.errors[0], "Too much data for the card\n\nCurrent Size: 600000 Byte\nMaximum Size: 524288 Byte");
  EXPECT_TRUE(image.empty());
  EXPECT_TRUE(Calls(s.usb).empty());
  EXPECT_EQ(TooMuchDataMessage(600000, 524288).view(), display.errors[0]);
}

TEST(SendWorker, ImageTakesTheDeviceMemoryAndLayout) {
  for (std::uint8_t model : {std::uint8_t{1}, std::uint8_t{5}, std::uint8_t{9}}) {
    SimSetup s;
    SimulatedDeviceConfig c;
    c.modelCode = model;
    c.memorySize = 65536;
    s.AddAndSelect(c);
    CardDocument doc;
    doc.name.assign("WIDE");
    AddMultisound(doc, WaveType::PCM, 300);
    doc.ComputeStatistics(model == 5);
    RecordingDisplay display;
    CardImage image;
    ASSERT_EQ(PrepareSendImage(doc, s.manager, image, display), kOk);
    EXPECT_EQ(doc.cardCapacity, 65536u);
    ASSERT_EQ(image.size(), 65536u);
    CardDocument again;
    again.name.assign("WIDE");
    AddMultisound(again, WaveType::PCM, 300);
    again.cardCapacity = 65536;
    CardImage expected;
    ASSERT_EQ(BuildCardImage(again, model == 5 ? CardLayout::WideCard : CardLayout::Card, expected), kOk);
    EXPECT_EQ(image, expected) << int(model);
    ASSERT_EQ(RunSendTransfer(s.manager, image, display), kOk);
    EXPECT_EQ(s.usb.BankData(0, 1), expected);
    EXPECT_EQ(s.manager.BankName(1).view(), "WIDE");
  }
}

TEST(SendWorker, DisplayFollowsTheJob) {
  SimSetup s;
  s.AddAndSelect();
  CardImage image(524288, 0x5A);
  RecordingDisplay display;
  ASSERT_EQ(RunSendTransfer(s.manager, image, display, nullptr, 0.0), kOk);
  const Strings& e = display.events;
  ASSERT_GE(e.size(), 10u);
  EXPECT_EQ((Strings{e[0], e[1], e[2]}), (Strings{"marquee:on", "status:", "update"}));
  // The step that enters the sending state sends nothing yet.
  EXPECT_EQ(e[3], "status:Transferred 0Byte / 512KiB");
  EXPECT_EQ((Strings{e[4], e[5], e[6]}), (Strings{"marquee:off", "range:524288", "pos:0"}));
  EXPECT_EQ(e[7], "status:Transferred 1KiB / 512KiB");
  EXPECT_EQ(e[8], "pos:1024");
  EXPECT_EQ(e[9], "status:Transferred 2KiB / 512KiB");
  // Range and marquee change only once.
  int ranges = 0;
  for (const std::string& x : e) ranges += x.rfind("range:", 0) == 0;
  EXPECT_EQ(ranges, 1);
  const std::size_t n = e.size();
  EXPECT_EQ(e[n - 5], "status:Transferred 512KiB / 512KiB");
  EXPECT_EQ(e[n - 4], "pos:524288");
  EXPECT_EQ(e[n - 3].rfind("status:Transfer Successful: Bank 1 (Time: ", 0), 0u);
  EXPECT_EQ(e[n - 3].back(), ')');
  EXPECT_EQ((Strings{e[n - 2], e[n - 1]}), (Strings{"pos:0", "update"}));
}

TEST(SendWorker, FailureShowsTransferFailed) {
  SimSetup s;
  s.AddAndSelect();
  SimulatedFaults f;
  f.refuseRequest = kRequestBeginWrite;
  s.usb.SetFaults(0, f);
  CardImage image(5000, 1);
  RecordingDisplay display;
  EXPECT_EQ(RunSendTransfer(s.manager, image, display), kBrokenPipe);
  // The job ended in its first step: no marquee ever.
  EXPECT_EQ(display.events, (Strings{"status:Transfer Failed", "pos:0", "update"}));
}

TEST(SendWorker, FailureWhileSendingRemovesTheMarquee) {
  SimSetup s;
  s.AddAndSelect();
  SimulatedFaults f;
  f.shortBulk = 1;
  f.shortBulkBytes = 1000;
  s.usb.SetFaults(0, f);
  CardImage image(5000, 1);
  RecordingDisplay display;
  EXPECT_EQ(RunSendTransfer(s.manager, image, display), kEndOfData);
  EXPECT_EQ(display.status, "Transfer Failed");
  EXPECT_FALSE(s.manager.Busy());
}

TEST(SendWorker, NoDeviceFails) {
  SimSetup s;
  CardImage image(100, 1);
  RecordingDisplay display;
  EXPECT_EQ(RunSendTransfer(s.manager, image, display), kInvalidHandle);
  EXPECT_EQ(display.status, "Transfer Failed");
}

TEST(ClearWorker, BanksTwoAndFive) {
  SimSetup s;
  s.usb.AddDevice({});
  std::vector<std::uint8_t> image(64, 0);
  std::memcpy(image.data(), "KORG\x0f\x00PIANO     ", 16);
  s.usb.SetBankData(0, 2, image);
  s.usb.SetBankData(0, 5, image);
  s.manager.Refresh(nullptr);
  s.usb.ClearLog();
  ASSERT_TRUE(s.manager.BankHoldsCard(2));
  RecordingDisplay display;
  const std::uint32_t rows[] = {1, 4};
  EXPECT_EQ(ClearBanks(s.manager, rows, display), kOk);
  EXPECT_EQ(Calls(s.usb, true), (Strings{"out 03 v0 i0", "out 08 v2 i0", "out 08 v5 i0"}));
  EXPECT_FALSE(s.manager.BankHoldsCard(2));
  EXPECT_FALSE(s.manager.BankHoldsCard(5));
  EXPECT_EQ(display.events, (Strings{"update", "status:Clearing Bank 2", "status:Clearing Bank 2",
                                     "status:Clearing Bank 5", "update", "finished:ok",
                                     "status:Clearing successful"}));
  EXPECT_FALSE(s.manager.Busy());
}

TEST(ClearWorker, FirstRowOutsideTheBanksFailsAtOnce) {
  SimSetup s;
  SimulatedDeviceConfig c;
  c.bankCount = 4;
  s.AddAndSelect(c);
  RecordingDisplay display;
  const std::uint32_t rows[] = {4};
  EXPECT_NE(ClearBanks(s.manager, rows, display), kOk);
  EXPECT_EQ(display.events, (Strings{"finished:failed", "status:Clearing failed"}));
  EXPECT_TRUE(Calls(s.usb).empty());
  EXPECT_NE(ClearBanks(s.manager, {}, display), kOk);
}

TEST(ClearWorker, LaterRowOutsideTheBanksEndsTheClearing) {
  SimSetup s;
  SimulatedDeviceConfig c;
  c.bankCount = 4;
  s.AddAndSelect(c);
  RecordingDisplay display;
  const std::uint32_t rows[] = {0, 7, 2};
  EXPECT_EQ(ClearBanks(s.manager, rows, display), kOk);
  EXPECT_EQ(Calls(s.usb, true), (Strings{"out 03 v0 i0", "out 08 v1 i0"}));
  EXPECT_EQ(display.status, "Clearing successful");
}

TEST(ClearWorker, RefusedClearKeepsEarlierBanksCleared) {
  SimSetup s;
  s.usb.AddDevice({});
  std::vector<std::uint8_t> image(64, 0);
  std::memcpy(image.data(), "KORG\x0f\x00PIANO     ", 16);
  for (std::uint32_t b : {1u, 2u, 3u}) s.usb.SetBankData(0, b, image);
  s.manager.Refresh(nullptr);
  s.usb.ClearLog();
  SimulatedFaults f;
  f.failTransfer = 3;  // end write, clear 1, clear 2 <- fails
  f.failCode = kTimeout;
  s.usb.SetFaults(0, f);
  RecordingDisplay display;
  const std::uint32_t rows[] = {0, 1, 2};
  EXPECT_EQ(ClearBanks(s.manager, rows, display), kTimeout);
  EXPECT_FALSE(s.manager.BankHoldsCard(1));
  EXPECT_TRUE(s.manager.BankHoldsCard(2));
  EXPECT_TRUE(s.manager.BankHoldsCard(3));
  EXPECT_TRUE(s.usb.BankData(0, 3).size() == 64);
  EXPECT_EQ(Calls(s.usb, true), (Strings{"out 03 v0 i0", "out 08 v1 i0", "out 08 v2 i0 !25"}));
  EXPECT_EQ(display.status, "Clearing failed");
  EXPECT_EQ(display.events[display.events.size() - 2], "finished:failed");
}

TEST(ClearWorker, NoDeviceOrNoDirectoryFails) {
  {
    SimSetup s;
    RecordingDisplay display;
    const std::uint32_t rows[] = {0};
    EXPECT_NE(ClearBanks(s.manager, rows, display), kOk);  // one bank without a device
    EXPECT_EQ(display.status, "Clearing failed");
  }
  {
    SimSetup s;
    SimulatedDeviceConfig c;
    c.capabilities = 0x02;
    s.AddAndSelect(c);
    RecordingDisplay display;
    const std::uint32_t rows[] = {0};
    EXPECT_EQ(ClearBanks(s.manager, rows, display), kNotSupported);
    EXPECT_EQ(display.status, "Clearing failed");
    EXPECT_TRUE(Calls(s.usb).empty());
  }
}

}  // namespace
}  // namespace tavrin
