#include <gtest/gtest.h>

#include <algorithm>

#include "device/device_workers.h"
#include "device_test_util.h"

namespace tavrin {
namespace {

using test::AddMultisound;
using test::Calls;
using test::RecordingDisplay;
using test::Strings;

TEST(WorkerTexts, SizesAndTimes) {
  const struct {
    std::uint32_t bytes;
    const char* text;
  } sizes[] = {{0, "0Byte"},       {1023, "1023Byte"},      {1024, "1KiB"},           {1034, "1,00KiB"},
               {1536, "1,50KiB"},  {2047, "1,99KiB"},       {524288, "512KiB"},       {1048575, "1023,99KiB"},
               {1048576, "1MiB"},  {1572864, "1,50MiB"},    {4294967295u, "4095,99MiB"}};
  for (const auto& c : sizes) EXPECT_EQ(SizeText(c.bytes).view(), c.text);
  const struct {
    double seconds;
    const char* text;
  } times[] = {{2.5, "2,50"}, {2.0625, "2,06"}, {0.0, "0,00"}, {0.07, "0,07"}, {12.999, "12,99"}};
  for (const auto& c : times) {
    EXPECT_EQ(std::string(TransferSuccessText(c.seconds, 3).view()),
              "Transfer Successful: Bank 3 (Time: " + std::string(c.text) + "s)");
  }
}

TEST(SendBank, OnlyABankOfTheDevice) {
  const std::string range = " on this device: choose a bank from 1 to ";
  const struct {
    const char* text;
    std::uint32_t banks;
    int bank;  // 0: refused
    std::string message;
  } rows[] = {
      {"3", 16, 3, ""}, {"16", 16, 16, ""}, {"1", 1, 1, ""},
      {"17", 16, 0, "There is no bank 17" + range + "16"}, {"99", 16, 0, "There is no bank 99" + range + "16"},
      {"0", 16, 0, "There is no bank 0" + range + "16"}, {"", 16, 0, "There is no bank " + range + "16"},
      {"1x", 16, 0, "There is no bank 1x" + range + "16"},
      {"65537", 70000, 0, "There is no bank 65537" + range + "70000"},
      {"2", 1, 0, "There is no bank 2 on this device: it has bank 1 only"},
      {"1", 0, 0, "There is no bank 1 on this device: it has bank 1 only"},
  };
  for (const auto& r : rows) {
    std::uint16_t bank = 7;
    Utf8Text<128> message;
    EXPECT_EQ(ParseSendBank(r.text, r.banks, bank, message), r.bank != 0) << r.text;
    EXPECT_EQ(std::string(message.view()), r.message);
    EXPECT_EQ(bank, r.bank != 0 ? r.bank : 7) << r.text;
  }
}

class SendWorker : public ::testing::Test, public test::SimSetup {
 protected:
  RecordingDisplay display;
  CardDocument doc;
  CardImage image;
};

TEST_F(SendWorker, RefusalsAreShownWithTheirReason) {
  AddAndSelect();
  // 64 header + 14 multisound + 10 zone + 14 sample record + 2 x 299949 frames.
  AddMultisound(doc, WaveType::PCM, 299949);
  doc.ComputeStatistics(false);
  EXPECT_EQ(PrepareSendImage(doc, manager, image, display), kTooMuchData);
  EXPECT_TRUE(image.empty());
  doc.Reset();
  AddMultisound(doc, WaveType::DWGS, 512);  // fits, but only DWGS
  doc.ComputeStatistics(false);
  EXPECT_EQ(PrepareSendImage(doc, manager, image, display), kNotSupported);
  EXPECT_EQ(SendCardToDevice(doc, manager, display), kNotSupported);
  EXPECT_TRUE(Calls(usb).empty());
  const std::string dwgs = "Only DWGS Multisounds\n\nTo use DWGS Multisound(s) you also need to have at "
                           "least one PCM Multisound. Check the manual for more information.";
  EXPECT_EQ(display.errors, (Strings{"Too much data for the card\n\nCurrent Size: 600000 Byte\n"
                                     "Maximum Size: 524288 Byte", dwgs, dwgs}));
  AddMultisound(doc, WaveType::PCM, 100);  // with a PCM multisound beside it, the card goes
  doc.ComputeStatistics(false);
  EXPECT_EQ(SendCardToDevice(doc, manager, display), kOk);
  doc.Reset();  // and so does a card without multisounds
  doc.ComputeStatistics(false);
  EXPECT_EQ(SendCardToDevice(doc, manager, display), kOk);
  EXPECT_EQ(display.errors.size(), 3u);
  // Every refusal of the card builder is shown with its reason.
  AddMultisound(doc, WaveType::PCM, 10);
  doc.multisounds[0].samples[0].markers.end = 4;  // the loop at 5 lies past it
  doc.ComputeStatistics(false);
  EXPECT_EQ(PrepareSendImage(doc, manager, image, display), kTooMuchData);
  EXPECT_TRUE(image.empty());
  EXPECT_EQ(display.errors.back(),
            "The card cannot be sent\n\nSample \"\" of \"SOUND\": Start or Loop lies past End");
}

TEST(SendWorkerLayout, ImageTakesTheDeviceMemoryAndLayout) {
  for (std::uint8_t model : {1, 5, 9}) {
    test::SimSetup s;
    s.AddAndSelect({.modelCode = model, .memorySize = 65536});
    CardDocument doc;
    doc.name.assign("WIDE");
    AddMultisound(doc, WaveType::PCM, 300);
    CardDocument again = doc;
    doc.ComputeStatistics(model == 5);
    RecordingDisplay display;
    CardImage image, expected;
    ASSERT_EQ(PrepareSendImage(doc, s.manager, image, display), kOk);
    EXPECT_EQ(doc.cardCapacity, 65536u);
    again.cardCapacity = 65536;
    ASSERT_EQ(BuildCardImage(again, model == 5 ? CardLayout::WideCard : CardLayout::Card, expected), kOk);
    ASSERT_EQ(expected.size(), 65536u);
    EXPECT_EQ(image, expected) << int(model);
    ASSERT_EQ(RunSendTransfer(s.manager, image, display), kOk);
    EXPECT_EQ(s.usb.BankData(0, 1), expected);
    EXPECT_EQ(s.manager.BankName(1).view(), "WIDE");
  }
}

TEST_F(SendWorker, DisplayFollowsTheJob) {
  AddAndSelect();
  image.assign(524288, 0x5A);
  double seconds = -1;
  ASSERT_EQ(RunSendTransfer(manager, image, display, &seconds, 0.0), kOk);
  const Strings& e = display.events;
  ASSERT_GE(e.size(), 10u);
  // The step that enters the sending state sends nothing yet.
  EXPECT_EQ((Strings(e.begin(), e.begin() + 10)),
            (Strings{"marquee:on", "status:", "update", "status:Transferred 0Byte / 512KiB", "marquee:off",
                     "range:524288", "pos:0", "status:Transferred 1KiB / 512KiB", "pos:1024",
                     "status:Transferred 2KiB / 512KiB"}));
  EXPECT_EQ(std::count(e.begin(), e.end(), "range:524288"), 1);
  EXPECT_EQ(std::count(e.begin(), e.end(), "marquee:off"), 1);
  EXPECT_EQ((Strings(e.end() - 5, e.end())),
            (Strings{"status:Transferred 512KiB / 512KiB", "pos:524288",
                     "status:" + std::string(TransferSuccessText(seconds, manager.currentBank.load()).view()), "pos:0", "update"}));
  // Begin write without its option, though the device offers it.
  Strings begins;
  for (const std::string& c : test::Calls(usb, true))
    if (c.starts_with("out 02 ")) begins.push_back(c.substr(c.rfind(' ') + 1));
  EXPECT_EQ(begins, Strings{"i0"});
}

TEST_F(SendWorker, FailureShowsTransferFailed) {
  const Strings failed = {"status:Transfer Failed", "pos:0", "update"};
  image.assign(5000, 1);
  EXPECT_EQ(RunSendTransfer(manager, image, display), kInvalidHandle);  // no device
  EXPECT_EQ(display.events, failed);
  AddAndSelect();
  usb.SetFaults(0, {.refuseRequest = kRequestBeginWrite});
  display.events.clear();
  EXPECT_EQ(RunSendTransfer(manager, image, display), kBrokenPipe);
  EXPECT_EQ(display.events, failed);  // ended in its first step: no marquee ever
  usb.SetFaults(0, {.shortBulk = 1, .shortBulkBytes = 1000});
  display.events.clear();
  EXPECT_EQ(RunSendTransfer(manager, image, display), kEndOfData);
  EXPECT_EQ(display.events,
            (Strings{"marquee:on", "status:", "update", "status:Transferred 0Byte / 4,88KiB", "marquee:off",
                     "range:5000", "pos:0", "status:Transferred 1KiB / 4,88KiB", "pos:1024",
                     "status:Bank 1 now holds an incomplete card: send it again", "pos:0", "update"}));
  EXPECT_FALSE(manager.Busy());
}

// Banks 1, 2, 3 and 5 hold a card; each row clears some rows of the bank
// manager (0-based) and lists the device calls and what the display was told.
TEST(ClearWorker, ClearsTheSelectedBanks) {
  const std::string E = "out 03 v0 i0", T = "timeout 0 2000", done = "status:Clearing successful";
  const std::string failed = "status:Clearing failed";
  const struct {
    bool device;
    std::uint8_t banks;
    std::uint16_t caps;
    std::vector<std::uint32_t> rows;
    SimulatedFaults faults;
    Result result;
    Strings calls, events;
  } cases[] = {
      {true, 16, 0x06, {1, 4}, {}, kOk, {"open", E, T, "out 08 v2 i0", T, "out 08 v5 i0", "close"},
       {"update", "status:Clearing Bank 2", "status:Clearing Bank 2", "status:Clearing Bank 5", "update",
        "finished:ok", done}},
      // A first row outside the banks fails at once, a later one ends the clearing.
      {true, 4, 0x06, {4}, {}, kInvalidArgument, {}, {"finished:failed", failed}},
      {true, 4, 0x06, {}, {}, kInvalidArgument, {}, {"finished:failed", failed}},
      {true, 4, 0x06, {0, 7, 2}, {}, kOk, {"open", E, T, "out 08 v1 i0", "close"},
       {"update", "status:Clearing Bank 1", "status:Clearing Bank 1", "update", "finished:ok", done}},
      {true, 16, 0x06, {0, 1, 2}, {.failTransfer = 3, .failCode = kTimeout}, kTimeout,
       {"open", E, T, "out 08 v1 i0", T, "out 08 v2 i0 !25", "close"},
       {"update", "status:Clearing Bank 1", "status:Clearing Bank 1", "update", "finished:failed", failed}},
      {true, 16, 0x06, {0}, {.openResult = kAccessDenied}, kAccessDenied, {"open !8"},
       {"update", "status:Clearing Bank 1", "update", "finished:failed", failed}},
      {true, 16, 0x02, {0}, {}, kNotSupported, {}, {"update", "finished:failed", failed}},
      {false, 16, 0x06, {0}, {}, kInvalidHandle, {}, {"update", "finished:failed", failed}},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(row++);
    test::SimSetup s;
    if (c.device) s.AddAndSelect({.bankCount = c.banks, .capabilities = c.caps}, {1, 2, 3, 5});
    s.usb.SetFaults(0, c.faults);
    RecordingDisplay display;
    EXPECT_EQ(ClearBanks(s.manager, c.rows, display), c.result);
    EXPECT_EQ(Calls(s.usb), c.calls);
    EXPECT_EQ(display.events, c.events);
    EXPECT_FALSE(s.manager.Busy());
    EXPECT_EQ(s.usb.OpenHandles(), 0u);
    // The manager's directory follows what the device holds.
    for (std::uint32_t b = 1; c.device && (c.caps & kCapabilityBankDirectory) && b <= c.banks; ++b) {
      EXPECT_EQ(s.manager.BankHoldsCard(b), !s.usb.BankData(0, b).empty()) << b;
    }
  }
}

}  // namespace
}  // namespace tavrin
