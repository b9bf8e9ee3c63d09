#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "device/transfer_job.h"
#include "device_test_util.h"

namespace tavrin {
namespace {

using test::Calls;
using test::SimSetup;
using Strings = std::vector<std::string>;

std::vector<std::uint8_t> Image(std::size_t n, const char* name = "STRINGS   ") {
  std::vector<std::uint8_t> image(n);
  for (std::size_t i = 0; i < n; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
  if (n >= 16) {
    std::memcpy(image.data(), "KORG\x0f\x00", 6);
    std::memcpy(image.data() + 6, name, 10);
  }
  return image;
}

// Runs a job to its end; returns the number of steps that returned true.
int RunJob(DeviceManager& m, TransferJob& job, std::vector<std::uint32_t>* states = nullptr) {
  int steps = 0;
  while (StepTransfer(m, job)) {
    ++steps;
    if (states) states->push_back(job.state);
  }
  CloseTransfer(job);
  return steps;
}

TEST(TransferJob, ExactRequestSequenceAndPieces) {
  SimSetup s;
  s.AddAndSelect();
  s.manager.currentBank.store(3);
  const auto image = Image(2500);
  TransferJob job;
  job.data = image.data();
  job.length = 2500;
  std::vector<std::uint32_t> states;
  RunJob(s.manager, job, &states);
  EXPECT_EQ(job.result, kOk);
  EXPECT_EQ(job.sent, 2500u);
  EXPECT_EQ(job.state, TransferJob::kDone);
  EXPECT_EQ(Calls(s.usb), (Strings{"open", "out 03 v0 i0", "out 03 v0 i0", "timeout 0 1000", "timeout 1 5000",
                                   "out 02 v3 i0", "bulk 1024", "bulk 1024", "bulk 452", "out 03 v0 i0",
                                   "timeout 0 1000", "in 09 v3 i0 l20", "close"}));
  EXPECT_EQ(s.usb.BankData(0, 3), image);
  EXPECT_TRUE(s.manager.BankHoldsCard(3));
  EXPECT_EQ(s.manager.BankName(3).view(), "STRINGS");
  EXPECT_FALSE(s.manager.Busy());
  EXPECT_EQ(s.usb.OpenHandles(), 0u);
  ASSERT_GE(states.size(), 3u);
  EXPECT_EQ(states[0], 1u);
  EXPECT_EQ(states[1], 2u);
  EXPECT_EQ(states.back(), 3u);
  EXPECT_GT(job.stopwatch.Seconds(), 0.0);
  EXPECT_FALSE(StepTransfer(s.manager, job));  // a done job stays done
}

TEST(TransferJob, ZeroLengthSendsNoBulkData) {
  SimSetup s;
  s.AddAndSelect();
  TransferJob job;
  RunJob(s.manager, job);
  EXPECT_EQ(job.result, kOk);
  EXPECT_EQ(Calls(s.usb, true), (Strings{"out 03 v0 i0", "out 03 v0 i0", "out 02 v1 i0", "out 03 v0 i0",
                                         "in 09 v1 i0 l20"}));
}

TEST(TransferJob, NoDeviceGivesElevenWithoutTraffic) {
  SimSetup s;
  const auto image = Image(100);
  TransferJob job;
  job.data = image.data();
  job.length = 100;
  std::vector<std::uint32_t> states;
  EXPECT_EQ(RunJob(s.manager, job, &states), 1);
  EXPECT_EQ(states, (std::vector<std::uint32_t>{3}));
  EXPECT_EQ(job.result, kInvalidHandle);
  EXPECT_TRUE(Calls(s.usb).empty());
  EXPECT_FALSE(s.manager.Busy());
}

TEST(TransferJob, BusyGivesNineAndLeavesBusySet) {
  SimSetup s;
  s.AddAndSelect();
  ASSERT_TRUE(s.manager.TryAcquireBusy());
  TransferJob job;
  RunJob(s.manager, job);
  EXPECT_EQ(job.result, kNotSupported);
  EXPECT_TRUE(Calls(s.usb).empty());
  EXPECT_TRUE(s.manager.Busy());
  s.manager.ReleaseBusy();
}

TEST(TransferJob, ShortBulkWriteEndsWithSixAfterEndWrite) {
  SimSetup s;
  s.AddAndSelect();
  SimulatedFaults f;
  f.shortBulk = 1;
  f.shortBulkBytes = 1000;
  s.usb.SetFaults(0, f);
  const auto image = Image(4096);
  TransferJob job;
  job.data = image.data();
  job.length = 4096;
  job.timeSlice = 100.0;
  RunJob(s.manager, job);
  EXPECT_EQ(job.result, kEndOfData);
  EXPECT_EQ(job.sent, 1024u);  // counted also after the failure, nothing more written
  EXPECT_EQ(Calls(s.usb, true), (Strings{"out 03 v0 i0", "out 03 v0 i0", "out 02 v1 i0", "bulk 1024",
                                         "out 03 v0 i0"}));
  EXPECT_FALSE(s.manager.Busy());
}

TEST(TransferJob, FailedBulkWriteKeepsItsCodeOverEndWrite) {
  SimSetup s;
  s.AddAndSelect();
  SimulatedFaults f;
  f.failTransfer = 5;  // end write, end write, begin write, bulk, bulk <- fails
  f.failCode = kTimeout;
  f.refuseRequest = kRequestEndWrite;  // and the closing end write fails too
  s.usb.SetFaults(0, f);
  const auto image = Image(4096);
  TransferJob job;
  job.data = image.data();
  job.length = 4096;
  job.timeSlice = 100.0;
  RunJob(s.manager, job);
  EXPECT_EQ(job.result, kTimeout);
  EXPECT_EQ(job.sent, 2048u);
  EXPECT_EQ(Calls(s.usb, true), (Strings{"out 03 v0 i0 !24", "out 03 v0 i0 !24", "out 02 v1 i0", "bulk 1024",
                                         "bulk 1024 !25", "out 03 v0 i0 !24"}));
}

TEST(TransferJob, EndWriteFailureAfterGoodDataIsTheResult) {
  SimSetup s;
  s.AddAndSelect();
  SimulatedFaults f;
  f.failTransfer = 5;  // end write, end write, begin write, bulk, end write
  f.failCode = kBrokenPipe;
  s.usb.SetFaults(0, f);
  const auto image = Image(1000);
  TransferJob job;
  job.data = image.data();
  job.length = 1000;
  RunJob(s.manager, job);
  EXPECT_EQ(job.result, kBrokenPipe);
  EXPECT_EQ(Calls(s.usb, true).back(), "out 03 v0 i0 !24");  // no directory re-read
}

TEST(TransferJob, FailingEachRequestInTurn) {
  // The opening end writes are ignored; every other failure (begin write, a
  // bulk write, the closing end write, the directory re-read) ends the job
  // with the failing request's code.
  const Result expected[] = {kOk, kOk, kTimeout, kTimeout, kTimeout, kTimeout, kTimeout, kTimeout};
  for (std::uint32_t n = 1; n <= 8; ++n) {
    SimSetup s;
    s.AddAndSelect();
    SimulatedFaults f;
    f.failTransfer = n;
    f.failCode = kTimeout;
    s.usb.SetFaults(0, f);
    const auto image = Image(2500);
    TransferJob job;
    job.data = image.data();
    job.length = 2500;
    RunJob(s.manager, job);
    EXPECT_EQ(job.result, expected[n - 1]) << n;
    EXPECT_FALSE(s.manager.Busy()) << n;
    EXPECT_EQ(s.usb.OpenHandles(), 0u) << n;
    // The job always ends with end write (when the device was opened).
    const Strings calls = Calls(s.usb, true);
    const bool endsWithRead = calls.back().rfind("in 09", 0) == 0;
    const bool endsWithEnd = calls.back().rfind("out 03", 0) == 0;
    EXPECT_TRUE(endsWithRead || endsWithEnd) << n;
  }
}

TEST(TransferJob, BeginWriteRefusedEndsWithItsCode) {
  SimSetup s;
  s.AddAndSelect();
  s.manager.currentBank.store(2);
  SimulatedFaults f;
  f.refuseRequest = kRequestBeginWrite;
  f.refuseCode = kAccessDenied;
  s.usb.SetFaults(0, f);
  const auto image = Image(100);
  TransferJob job;
  job.data = image.data();
  job.length = 100;
  RunJob(s.manager, job);
  EXPECT_EQ(job.result, kAccessDenied);
  EXPECT_EQ(Calls(s.usb, true), (Strings{"out 03 v0 i0", "out 03 v0 i0", "out 02 v2 i0 !8", "out 03 v0 i0"}));
  EXPECT_TRUE(s.usb.BankData(0, 2).empty());
}

TEST(TransferJob, OpenFailureGivesTheMappedCodeAndNoRequests) {
  SimSetup s;
  s.AddAndSelect();
  SimulatedFaults f;
  f.openResult = kNoDeviceInterface;
  s.usb.SetFaults(0, f);
  TransferJob job;
  RunJob(s.manager, job);
  EXPECT_EQ(job.result, kNoDeviceInterface);
  EXPECT_EQ(Calls(s.usb), (Strings{"open !16"}));
  EXPECT_FALSE(s.manager.Busy());
}

TEST(TransferJob, DeviceWithoutDirectoryGetsNoReRead) {
  SimSetup s;
  SimulatedDeviceConfig c;
  c.capabilities = 0x02;
  s.AddAndSelect(c);
  const auto image = Image(10);
  TransferJob job;
  job.data = image.data();
  job.length = 10;
  RunJob(s.manager, job);
  EXPECT_EQ(job.result, kOk);
  EXPECT_EQ(Calls(s.usb, true), (Strings{"out 03 v0 i0", "out 03 v0 i0", "out 02 v1 i0", "bulk 10",
                                         "out 03 v0 i0"}));
}

TEST(TransferJob, BeginWriteOptionNeedsTheCapability) {
  for (std::uint16_t caps : {std::uint16_t{0x06}, std::uint16_t{0x04}}) {
    SimSetup s;
    SimulatedDeviceConfig c;
    c.capabilities = caps;
    s.AddAndSelect(c);
    TransferJob job;
    job.beginWriteOption = 1;
    RunJob(s.manager, job);
    EXPECT_EQ(job.result, kOk);
    EXPECT_EQ(Calls(s.usb, true)[2], caps == 0x06 ? "out 02 v1 i1" : "out 02 v1 i0");
  }
}

TEST(TransferJob, FailedReReadKeepsTheOldEntry) {
  SimSetup s;
  s.usb.AddDevice({});
  s.usb.SetBankData(0, 1, Image(64, "OLD       "));
  s.manager.Refresh(nullptr);
  ASSERT_EQ(s.manager.BankName(1).view(), "OLD");
  SimulatedFaults f;
  f.refuseRequest = kRequestReadDirectory;
  f.refuseCode = kTimeout;
  s.usb.SetFaults(0, f);
  const auto image = Image(64, "NEW       ");
  TransferJob job;
  job.data = image.data();
  job.length = 64;
  RunJob(s.manager, job);
  EXPECT_EQ(job.result, kTimeout);
  EXPECT_EQ(s.manager.BankName(1).view(), "OLD");
  EXPECT_EQ(s.usb.BankData(0, 1), image);  // the data themselves arrived
}

TEST(TransferJob, UnplugMidTransfer) {
  SimSetup s;
  s.AddAndSelect();
  SimulatedFaults f;
  f.unplugAfterBulk = 2;
  s.usb.SetFaults(0, f);
  const auto image = Image(8192);
  TransferJob job;
  job.data = image.data();
  job.length = 8192;
  job.timeSlice = 100.0;
  RunJob(s.manager, job);
  EXPECT_EQ(job.result, kNoSuchDevice);
  EXPECT_EQ(job.sent, 3072u);
  EXPECT_EQ(Calls(s.usb, true), (Strings{"out 03 v0 i0", "out 03 v0 i0", "out 02 v1 i0", "bulk 1024", "bulk 1024",
                                         "bulk 1024 !18", "out 03 v0 i0 !18"}));
  EXPECT_FALSE(s.manager.Busy());
  EXPECT_TRUE(s.usb.BankData(0, 1).empty());
  // The next refresh no longer finds it.
  s.manager.Refresh(nullptr);
  EXPECT_TRUE(s.manager.devices.empty());
}

TEST(TransferJob, TimeSliceBoundsEachSendingStep) {
  SimSetup s;
  s.AddAndSelect();
  const auto image = Image(5000);
  TransferJob job;
  job.data = image.data();
  job.length = 5000;
  job.timeSlice = 0.0;  // every piece ends its step
  std::vector<std::uint32_t> states;
  RunJob(s.manager, job, &states);
  // start, started, 5 pieces, finish
  EXPECT_EQ(states, (std::vector<std::uint32_t>{1, 2, 2, 2, 2, 2, 2, 3}));
  TransferJob whole;
  whole.data = image.data();
  whole.length = 5000;
  whole.timeSlice = 100.0;
  states.clear();
  RunJob(s.manager, whole, &states);
  EXPECT_EQ(states, (std::vector<std::uint32_t>{1, 2, 2, 3}));
}

TEST(Stopwatch, AccumulatesAndStops) {
  Stopwatch w;
  EXPECT_EQ(w.Seconds(), 0.0);
  w.Start();
  EXPECT_NE(w.startCount, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  w.Stop();
  EXPECT_EQ(w.startCount, 0);
  const double t = w.Seconds();
  EXPECT_GE(t, 0.015);
  EXPECT_LT(t, 5.0);
  EXPECT_EQ(w.Seconds(), t);
  EXPECT_GT(StopwatchCounterFrequency(), 0);
}

TEST(BankClearJob, ClearsAndZeroesTheEntry) {
  SimSetup s;
  s.usb.AddDevice({});
  s.usb.SetBankData(0, 4, Image(64));
  s.manager.Refresh(nullptr);
  s.usb.ClearLog();
  ASSERT_TRUE(s.manager.BankHoldsCard(4));
  BankClearJob job;
  job.bank = 4;
  ASSERT_TRUE(StepBankClear(s.manager, job));
  EXPECT_EQ(job.state, BankClearJob::kOpened);
  EXPECT_TRUE(s.manager.Busy());
  ASSERT_TRUE(StepBankClear(s.manager, job));
  EXPECT_EQ(job.state, BankClearJob::kCleared);
  job.bank = 0;
  ASSERT_TRUE(StepBankClear(s.manager, job));
  EXPECT_EQ(job.state, BankClearJob::kDone);
  EXPECT_FALSE(StepBankClear(s.manager, job));
  EXPECT_EQ(job.result, kOk);
  EXPECT_FALSE(s.manager.BankHoldsCard(4));
  EXPECT_TRUE(s.usb.BankData(0, 4).empty());
  EXPECT_FALSE(s.manager.Busy());
  EXPECT_EQ(Calls(s.usb), (Strings{"open", "out 03 v0 i0", "timeout 0 2000", "out 08 v4 i0", "close"}));
}

TEST(BankClearJob, RefusalsAndFailures) {
  {  // no device
    SimSetup s;
    BankClearJob job;
    job.bank = 1;
    while (StepBankClear(s.manager, job)) {}
    EXPECT_EQ(job.result, kInvalidHandle);
    EXPECT_TRUE(Calls(s.usb).empty());
  }
  {  // busy
    SimSetup s;
    s.AddAndSelect();
    ASSERT_TRUE(s.manager.TryAcquireBusy());
    BankClearJob job;
    job.bank = 1;
    while (StepBankClear(s.manager, job)) {}
    EXPECT_EQ(job.result, kNotSupported);
    EXPECT_TRUE(s.manager.Busy());
    EXPECT_TRUE(Calls(s.usb).empty());
    s.manager.ReleaseBusy();
  }
  {  // no directory capability
    SimSetup s;
    SimulatedDeviceConfig c;
    c.capabilities = 0x02;
    s.AddAndSelect(c);
    BankClearJob job;
    job.bank = 1;
    while (StepBankClear(s.manager, job)) {}
    EXPECT_EQ(job.result, kNotSupported);
    EXPECT_FALSE(s.manager.Busy());
    EXPECT_TRUE(Calls(s.usb).empty());
  }
  {  // device not opened
    SimSetup s;
    s.AddAndSelect();
    SimulatedFaults f;
    f.openResult = kAccessDenied;
    s.usb.SetFaults(0, f);
    BankClearJob job;
    job.bank = 1;
    std::vector<std::uint32_t> states;
    while (StepBankClear(s.manager, job)) states.push_back(job.state);
    EXPECT_EQ(states, (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(job.result, kAccessDenied);
    EXPECT_FALSE(s.manager.Busy());
  }
  {  // clear bank refused
    SimSetup s;
    s.AddAndSelect();
    SimulatedFaults f;
    f.refuseRequest = kRequestClearBank;
    f.refuseCode = kTimeout;
    s.usb.SetFaults(0, f);
    BankClearJob job;
    job.bank = 1;
    while (StepBankClear(s.manager, job)) {}
    EXPECT_EQ(job.result, kTimeout);
    EXPECT_FALSE(s.manager.Busy());
    EXPECT_EQ(s.usb.OpenHandles(), 0u);
  }
}

// The busy flag is a real test-and-set: of jobs started at once on several
// threads, each one that ran had the device to itself from open to close.
TEST(Busy, TwoJobsNeverRunTogether) {
  SimSetup s;
  s.AddAndSelect();
  const auto image = Image(20000);
  std::atomic<int> refused{0};
  std::atomic<int> done{0};
  auto worker = [&] {
    for (int round = 0; round < 20; ++round) {
      TransferJob job;
      job.data = image.data();
      job.length = static_cast<std::uint32_t>(image.size());
      job.timeSlice = 0.0;
      while (StepTransfer(s.manager, job)) {}
      if (job.result == kNotSupported) refused.fetch_add(1);
      else if (job.result == kOk) done.fetch_add(1);
    }
  };
  std::thread a(worker), b(worker), c(worker);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(refused.load() + done.load(), 60);
  EXPECT_GT(done.load(), 0);
  EXPECT_FALSE(s.manager.Busy());
  int open = 0;
  int sessions = 0;
  for (const std::string& call : Calls(s.usb)) {
    if (call == "open") {
      EXPECT_EQ(open, 0);
      ++open;
      ++sessions;
    } else if (call == "close") {
      --open;
    }
  }
  EXPECT_EQ(sessions, done.load());
  EXPECT_EQ(s.usb.BankData(0, 1), image);
}

// While jobs run on a worker, the user-interface side refreshes the device
// list (refused while a job holds busy) and reads the bank directory.
TEST(Busy, RefreshAndDirectoryReadsBesideRunningJobs) {
  SimSetup s;
  s.AddAndSelect();
  const auto image = Image(30000, "THREADS   ");
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    for (int round = 0; round < 30; ++round) {
      TransferJob job;
      job.data = image.data();
      job.length = static_cast<std::uint32_t>(image.size());
      job.timeSlice = 0.0;
      while (StepTransfer(s.manager, job)) {}
      BankClearJob clear;
      clear.bank = 1;
      while (StepBankClear(s.manager, clear)) {
        if (clear.state == BankClearJob::kCleared) clear.bank = 0;
      }
    }
    stop.store(true);
  });
  int refused = 0;
  int names = 0;
  while (!stop.load()) {
    if (s.manager.Refresh(nullptr) == kNotSupported) ++refused;
    names += s.manager.BankName(1).view() == "THREADS";
    (void)s.manager.CurrentBankCount();
  }
  worker.join();
  EXPECT_EQ(s.manager.devices.size(), 1u);
  EXPECT_FALSE(s.manager.Busy());
  EXPECT_GE(refused + names, 0);
}

TEST(Busy, TestAndSetUnderContention) {
  SimSetup s;
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> entries{0};
  auto worker = [&] {
    for (int i = 0; i < 20000; ++i) {
      if (!s.manager.TryAcquireBusy()) continue;
      if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
      entries.fetch_add(1);
      inside.fetch_sub(1);
      s.manager.ReleaseBusy();
    }
  };
  std::thread a(worker), b(worker);
  a.join();
  b.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_GT(entries.load(), 0);
}

}  // namespace
}  // namespace tavrin
