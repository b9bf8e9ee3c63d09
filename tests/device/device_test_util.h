// Helpers shared by the device tests: a simulated USB with one DeviceManager,
// the call log as short strings, card-like bank images, a multisound for
// card documents and a display that records what it is told.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "card/card_test_util.h"
#include "device/device_manager.h"
#include "device/device_workers.h"
#include "device/simulated_device.h"

namespace tavrin::test {

using Strings = std::vector<std::string>;

// "open", "close", "timeout P MS", "in R vV iI lL", "out R vV iI", "bulk N",
// each failed call followed by "!" and its result code.
inline std::string Describe(const SimLogEntry& e) {
  char buf[96];
  switch (e.call) {
    case SimCall::kOpen: std::snprintf(buf, sizeof buf, "open"); break;
    case SimCall::kClose: std::snprintf(buf, sizeof buf, "close"); break;
    case SimCall::kSetTimeout: std::snprintf(buf, sizeof buf, "timeout %u %u", e.request, e.length); break;
    case SimCall::kControlIn:
      std::snprintf(buf, sizeof buf, "in %02X v%u i%u l%u", e.request, e.value, e.index, e.length);
      break;
    case SimCall::kControlOut:
      std::snprintf(buf, sizeof buf, "out %02X v%u i%u", e.request, e.value, e.index);
      break;
    case SimCall::kBulkWrite: std::snprintf(buf, sizeof buf, "bulk %u", e.length); break;
  }
  std::string s = buf;
  if (e.result != kOk) s += " !" + std::to_string(e.result);
  return s;
}

// The log, optionally only the transfers (control and bulk), optionally of one device.
inline Strings Calls(const SimulatedUsbBackend& usb, bool transfersOnly = false,
                     std::size_t device = SIZE_MAX) {
  Strings out;
  for (const SimLogEntry& e : usb.Log()) {
    const bool transfer =
        e.call == SimCall::kControlIn || e.call == SimCall::kControlOut || e.call == SimCall::kBulkWrite;
    if ((transfer || !transfersOnly) && (device == SIZE_MAX || e.device == device)) {
      out.push_back(Describe(e));
    }
  }
  return out;
}

// n bytes of a varying pattern; from 16 bytes on, a card header naming the
// card (10 characters, space-padded).
inline std::vector<std::uint8_t> CardBytes(std::size_t n, const char* name = "PIANO     ") {
  std::vector<std::uint8_t> image(n);
  for (std::size_t i = 0; i < n; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
  if (n >= 16) {
    std::memcpy(image.data(), "KORG\x0f\x00", 6);
    std::memcpy(image.data() + 6, name, 10);
  }
  return image;
}

// Adds a multisound "SOUND" with one sample of `frames` frames, looped from half.
inline void AddMultisound(CardDocument& doc, WaveType wave, std::size_t frames) {
  testing::AddMulti(doc, "SOUND", wave).samples.push_back(testing::RampSample(frames));
  doc.multisounds.back().samples[0].markers.loop = static_cast<std::int64_t>(frames / 2);
}

class RecordingDisplay final : public DeviceDisplay {
 public:
  void SetStatusText(Utf8View text) override { events.push_back("status:" + std::string(text)); }
  void SetMarquee(bool on) override { events.push_back(on ? "marquee:on" : "marquee:off"); }
  void SetProgressRange(std::uint32_t max) override { events.push_back("range:" + std::to_string(max)); }
  void SetProgressPosition(std::uint32_t pos) override { events.push_back("pos:" + std::to_string(pos)); }
  void UpdateDeviceControls() override { events.push_back("update"); }
  void ShowError(Utf8View message) override {
    errors.push_back(std::string(message));
    events.push_back("error");
  }
  void ClearingFinished(bool ok) override { events.push_back(ok ? "finished:ok" : "finished:failed"); }

  Strings events;
  Strings errors;
};

struct SimSetup {
  SimulatedUsbBackend usb;
  DeviceManager manager{usb};

  // Adds a device with a card in each of `banks`; returns its index.
  std::size_t Add(const SimulatedDeviceConfig& config = {}, std::initializer_list<std::uint32_t> banks = {}) {
    const std::size_t index = usb.AddDevice(config);
    for (std::uint32_t b : banks) usb.SetBankData(index, b, CardBytes(64));
    return index;
  }
  // Adds one device, refreshes (which selects it) and clears the log.
  std::size_t AddAndSelect(const SimulatedDeviceConfig& config = {},
                           std::initializer_list<std::uint32_t> banks = {}) {
    const std::size_t index = Add(config, banks);
    manager.Refresh(nullptr);
    usb.ClearLog();
    return index;
  }
};

}  // namespace tavrin::test
