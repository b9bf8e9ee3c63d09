// The program's own cost of sending a card: an 8 MiB image stepped through the
// TransferJob in 1024-byte pieces, (a) to a device that takes each piece at
// no cost, which leaves only the program's work (job steps, stopwatch,
// request calls), and (b) to the simulated card emulator, which also copies
// and records every piece. Beside them, a plain copy of the same bytes in the
// same pieces. The counter "per_MiB" is the time per MiB sent; a USB 2.0
// high-speed link moves 1 MiB in about 25 ms.
#include <benchmark/benchmark.h>

#include <cstring>
#include <new>
#include <vector>

#include "device/device_manager.h"
#include "device/simulated_device.h"
#include "device/transfer_job.h"

namespace {

using namespace tavrin;

constexpr std::uint32_t kImageSize = 8u << 20;

// A device that accepts everything instantly; identify describes an 8 MiB
// Tavrin with a bank directory.
class NullDevice final : public UsbDevice {
 public:
  Result ControlIn(std::uint8_t request, std::uint16_t, std::uint16_t, std::uint16_t length, std::uint8_t* data,
                   std::uint32_t& moved) override {
    std::uint8_t reply[36] = {1, 1, 0, 0, 0, 0, 16, 0};
    std::memcpy(reply + 8, &kImageSize, 4);  // little-endian hosts
    reply[12] = 1;
    reply[28] = 0x06;
    const std::uint32_t n = request == kRequestIdentify ? 34 : length;
    if (request == kRequestIdentify) std::memcpy(data, reply, n < length ? n : length);
    else std::memset(data, 0, length);
    moved = n < length ? n : length;
    return kOk;
  }
  Result ControlOut(std::uint8_t, std::uint16_t, std::uint16_t, std::uint16_t, const std::uint8_t*,
                    std::uint32_t& moved) override {
    moved = 0;
    return kOk;
  }
  Result SetPipeTimeout(std::uint8_t, std::uint32_t) override { return kOk; }
  Result BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t& moved) override {
    benchmark::DoNotOptimize(data);
    moved = length;
    return kOk;
  }
};

class NullBackend final : public UsbBackend {
 public:
  Result Enumerate(std::uint32_t, std::uint32_t, std::vector<DevicePath>& out) override {
    DevicePath p;
    p.assign(u"\\\\?\\usb#vid_0483&pid_a2a1#bench");
    out.push_back(p);
    return kOk;
  }
  Result Open(Utf16View, std::unique_ptr<UsbDevice>& out) override {
    out.reset(new (std::nothrow) NullDevice);
    if (!out) return kOutOfMemory;
    return kOk;
  }
};

void SendLoop(benchmark::State& state, DeviceManager& manager, SimulatedUsbBackend* simulated) {
  if (manager.devices.empty()) {
    state.SkipWithError("no device");
    return;
  }
  std::vector<std::uint8_t> image(kImageSize, 0x5A);
  for (auto _ : state) {
    TransferJob job;
    job.data = image.data();
    job.length = kImageSize;
    job.timeSlice = 0.2;
    while (StepTransfer(manager, job)) {}
    if (job.result != kOk || job.sent != kImageSize) state.SkipWithError("transfer failed");
    if (simulated) {
      state.PauseTiming();
      simulated->ClearLog();
      state.ResumeTiming();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageSize);
  state.counters["per_MiB"] = benchmark::Counter(static_cast<double>(state.iterations()) * (kImageSize >> 20),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_SendToNullDevice(benchmark::State& state) {
  NullBackend usb;
  DeviceManager manager(usb);
  manager.Refresh(nullptr);
  SendLoop(state, manager, nullptr);
}
BENCHMARK(BM_SendToNullDevice)->Unit(benchmark::kMillisecond);

void BM_SendToSimulatedDevice(benchmark::State& state) {
  SimulatedUsbBackend usb;
  SimulatedDeviceConfig config;
  config.memorySize = kImageSize;
  usb.AddDevice(config);
  DeviceManager manager(usb);
  manager.Refresh(nullptr);
  SendLoop(state, manager, &usb);
}
BENCHMARK(BM_SendToSimulatedDevice)->Unit(benchmark::kMillisecond);

// The baseline: copying the same bytes in the same 1024-byte pieces.
void BM_CopyInPieces(benchmark::State& state) {
  std::vector<std::uint8_t> image(kImageSize, 0x5A), target(kImageSize);
  for (auto _ : state) {
    for (std::uint32_t at = 0; at < kImageSize; at += kTransferPiece) {
      std::memcpy(target.data() + at, image.data() + at, kTransferPiece);
    }
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageSize);
  state.counters["per_MiB"] = benchmark::Counter(static_cast<double>(state.iterations()) * (kImageSize >> 20),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CopyInPieces)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
