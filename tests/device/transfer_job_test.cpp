#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "device/transfer_job.h"
#include "device_test_util.h"

namespace tavrin {
namespace {

using test::CardBytes;
using test::Calls;
using test::Strings;
using States = std::vector<std::uint32_t>;

TransferJob JobFor(const std::vector<std::uint8_t>& image, double timeSlice) {
  TransferJob job;
  job.data = image.data();
  job.length = static_cast<std::uint32_t>(image.size());
  job.timeSlice = timeSlice;
  return job;
}

// Runs a job to its end; returns its state after each step.
States RunJob(DeviceManager& m, TransferJob& job) {
  States states;
  while (StepTransfer(m, job)) states.push_back(job.state);
  CloseTransfer(job);
  return states;
}

TEST(TransferJob, ExactRequestSequenceAndSteps) {
  test::SimSetup s;
  s.AddAndSelect();
  s.manager.currentBank.store(3);
  const auto image = CardBytes(2500, "STRINGS   ");
  TransferJob job = JobFor(image, 100.0);
  EXPECT_EQ(RunJob(s.manager, job), (States{1, 2, 2, 3}));  // all pieces in one step
  EXPECT_EQ(job.result, kOk);
  EXPECT_EQ(job.sent, 2500u);
  EXPECT_EQ(Calls(s.usb), (Strings{"open", "out 03 v0 i0", "out 03 v0 i0", "timeout 0 1000", "timeout 1 5000",
                                   "out 02 v3 i0", "bulk 1024", "bulk 1024", "bulk 452", "out 03 v0 i0",
                                   "timeout 0 1000", "in 09 v3 i0 l20", "close"}));
  EXPECT_EQ(s.usb.BankData(0, 3), image);
  EXPECT_EQ(s.manager.BankName(3).view(), "STRINGS");
  EXPECT_GT(job.stopwatch.Seconds(), 0.0);
  EXPECT_FALSE(StepTransfer(s.manager, job));  // a done job stays done

  // A time slice of 0 ends each sending step after one piece.
  const auto bigger = CardBytes(5000);  // the job points into these bytes
  TransferJob sliced = JobFor(bigger, 0.0);
  EXPECT_EQ(RunJob(s.manager, sliced), (States{1, 2, 2, 2, 2, 2, 2, 3}));
  EXPECT_EQ(sliced.sent, 5000u);
}

// Bank 1 holds an old card ("PIANO"); each row sends a new one ("NEW") with
// one fault and lists the transfers made. `stored`: how many bytes of the new
// card the bank holds afterwards, -1 = the old card untouched.
TEST(TransferJob, FaultsEndTheJobWithTheirCode) {
  const std::string E = "out 03 v0 i0", B = "out 02 v1 i0", R = "in 09 v1 i0 l20";
  const struct {
    std::uint16_t caps;
    std::uint8_t option;
    std::uint32_t length;
    SimulatedFaults faults;
    Result result;
    std::uint32_t sent;
    int stored;
    Strings calls;
  } cases[] = {
      {0x06, 0, 0, {}, kOk, 0, 0, {E, E, B, E, R}},
      // The option goes only to a device that takes it; without a directory there is no re-read.
      {0x06, 1, 20, {}, kOk, 20, 20, {E, E, "out 02 v1 i1", "bulk 20", E, R}},
      {0x04, 1, 20, {}, kOk, 20, 20, {E, E, B, "bulk 20", E, R}},
      {0x02, 0, 20, {}, kOk, 20, 20, {E, E, B, "bulk 20", E}},
      // A failure of the opening end writes is ignored.
      {0x06, 0, 20, {.failTransfer = 1}, kOk, 20, 20, {E + " !25", E, B, "bulk 20", E, R}},
      {0x06, 0, 20, {.openResult = kNoDeviceInterface}, kNoDeviceInterface, 0, -1, {}},
      {0x06, 0, 100, {.refuseRequest = kRequestBeginWrite, .refuseCode = kAccessDenied}, kAccessDenied, 0, -1,
       {E, E, B + " !8", E}},
      {0x06, 0, 4096, {.shortBulk = 1, .shortBulkBytes = 1000}, kEndOfData, 1024, 1000,
       {E, E, B, "bulk 1024", E, R}},
      // A failed piece keeps its code over a failing end write.
      {0x06, 0, 4096, {.failTransfer = 5, .failCode = kTimeout, .refuseRequest = kRequestEndWrite}, kTimeout,
       2048, -1, {E + " !24", E + " !24", B, "bulk 1024", "bulk 1024 !25", E + " !24", R}},
      {0x06, 0, 1000, {.failTransfer = 5, .failCode = kBrokenPipe}, kBrokenPipe, 1000, -1,
       {E, E, B, "bulk 1000", E + " !24", R}},
      {0x06, 0, 64, {.refuseRequest = kRequestReadDirectory, .refuseCode = kTimeout}, kTimeout, 64, 64,
       {E, E, B, "bulk 64", E, R + " !25"}},
      {0x06, 0, 8192, {.unplugAfterBulk = 2}, kNoSuchDevice, 3072, -1,
       {E, E, B, "bulk 1024", "bulk 1024", "bulk 1024 !18", E + " !18", R + " !18"}},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(row++);
    test::SimSetup s;
    s.AddAndSelect({.capabilities = c.caps}, {1});
    s.usb.SetFaults(0, c.faults);
    const auto image = CardBytes(c.length, "NEW       ");
    TransferJob job = JobFor(image, 100.0);
    job.beginWriteOption = c.option;
    RunJob(s.manager, job);
    EXPECT_EQ(job.result, c.result);
    EXPECT_EQ(job.sent, c.sent);  // counted also for a failed piece, nothing written after it
    EXPECT_EQ(Calls(s.usb, true), c.calls);
    auto stored = CardBytes(64);
    if (c.stored >= 0) stored.assign(image.begin(), image.begin() + c.stored);
    EXPECT_EQ(s.usb.BankData(0, 1), stored);
    // The entry is read again whenever begin write was accepted (the device
    // keeps what arrived); without a directory it stays empty.
    const bool reread = std::find(c.calls.begin(), c.calls.end(), R) != c.calls.end();
    const char* name = reread && c.stored > 0 ? "NEW" : reread && c.stored == 0 ? "" : "PIANO";
    EXPECT_EQ(s.manager.BankName(1).view(), (c.caps & kCapabilityBankDirectory) ? name : "");
    EXPECT_FALSE(s.manager.Busy());
    EXPECT_EQ(s.usb.OpenHandles(), 0u);
    s.manager.Refresh(nullptr);  // an unplugged device is gone
    EXPECT_EQ(s.manager.devices.size(), c.faults.unplugAfterBulk ? 0u : 1u);
  }
}

// No device selected: 11; another job running: 9, leaving its busy flag set
// (refreshing and selecting are refused then too).
TEST(DeviceJobs, RefusedBeforeAnyCall) {
  for (bool busy : {false, true}) {
    test::SimSetup s;
    if (busy) {
      s.AddAndSelect();
      ASSERT_TRUE(s.manager.TryAcquireBusy());
      s.Add({.serialNumber = 2});
      EXPECT_EQ(s.manager.Refresh(nullptr), kNotSupported);
      EXPECT_EQ(s.manager.devices.size(), 1u);
      EXPECT_EQ(s.manager.SelectDevice(0, true), kNotSupported);
    }
    TransferJob job;
    EXPECT_EQ(RunJob(s.manager, job), (States{3}));
    EXPECT_EQ(job.result, busy ? kNotSupported : kInvalidHandle);
    BankClearJob clear;
    clear.bank = 1;
    EXPECT_TRUE(StepBankClear(s.manager, clear));
    EXPECT_EQ(clear.state, BankClearJob::kDone);
    EXPECT_EQ(clear.result, busy ? kNotSupported : kInvalidHandle);
    EXPECT_TRUE(Calls(s.usb).empty());
    EXPECT_EQ(s.manager.Busy(), busy);
  }
}

TEST(Stopwatch, AccumulatesAndStops) {
  Stopwatch w;
  EXPECT_EQ(w.Seconds(), 0.0);
  w.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(w.Seconds(), 0.015);  // the running part counts
  w.Stop();
  EXPECT_EQ(w.startCount, 0);
  const double t = w.Seconds();
  EXPECT_GE(t, 0.015);
  EXPECT_LT(t, 5.0);
  w.Stop();
  EXPECT_EQ(w.Seconds(), t);
}

// The busy flag is a real test-and-set: of jobs started at once on several
// threads, each one that ran had the device to itself from open to close,
// while this thread takes busy itself, refreshes the list (refused while a
// job holds busy) and reads the bank directory.
TEST(Busy, JobsNeverRunTogether) {
  test::SimSetup s;
  s.AddAndSelect();
  const auto image = CardBytes(20000, "THREADS   ");
  std::atomic<int> overlaps{0}, others{0}, sent{0}, running{3}, waiting{3};
  auto worker = [&] {  // until 20 of its jobs ran
    waiting.fetch_sub(1);
    while (waiting.load() > 0) {}  // all start together
    bool mine = false;  // at least one of its own sends went through
    for (int ran = 0, attempt = 0; (ran < 20 || !mine) && attempt < 100000; ++attempt) {
      TransferJob job = JobFor(image, 0.0);
      while (StepTransfer(s.manager, job)) overlaps.fetch_add(s.usb.OpenHandles() > 1);
      BankClearJob clear;
      clear.bank = 2;
      while (StepBankClear(s.manager, clear)) {
        overlaps.fetch_add(s.usb.OpenHandles() > 1);
        if (clear.state == BankClearJob::kCleared) clear.bank = 0;
      }
      for (const Result r : {job.result, clear.result}) {
        ran += r == kOk;
        others.fetch_add(r != kOk && r != kNotSupported);
      }
      sent.fetch_add(job.result == kOk);
      mine = mine || job.result == kOk;
    }
    running.fetch_sub(1);
  };
  std::thread a(worker), b(worker), c(worker);
  while (running.load() > 0) {
    if (s.manager.TryAcquireBusy()) {  // no job may have the device open now
      overlaps.fetch_add(s.usb.OpenHandles() != 0);
      s.manager.ReleaseBusy();
    }
    (void)s.manager.Refresh(nullptr);
    (void)s.manager.BankName(1);
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(others.load(), 0);
  ASSERT_GT(sent.load(), 0);
  EXPECT_EQ(s.usb.BankData(0, 1), image);
  EXPECT_FALSE(s.manager.Busy());
  EXPECT_EQ(s.usb.OpenHandles(), 0u);
}

}  // namespace
}  // namespace tavrin
