// Helpers shared by the device tests: a simulated USB with one DeviceManager,
// the call log as short strings, and a display that records what it is told.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "device/device_manager.h"
#include "device/device_workers.h"
#include "device/simulated_device.h"

namespace tavrin::test {

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
    case SimCall::kControlOut: std::snprintf(buf, sizeof buf, "out %02X v%u i%u", e.request, e.value, e.index); break;
    case SimCall::kBulkWrite: std::snprintf(buf, sizeof buf, "bulk %u", e.length); break;
  }
  std::string s = buf;
  if (e.result != kOk) s += " !" + std::to_string(e.result);
  return s;
}

// The log, optionally only the transfers (control and bulk).
inline std::vector<std::string> Calls(const SimulatedUsbBackend& usb, bool transfersOnly = false) {
  std::vector<std::string> out;
  for (const SimLogEntry& e : usb.Log()) {
    if (transfersOnly && e.call != SimCall::kControlIn && e.call != SimCall::kControlOut &&
        e.call != SimCall::kBulkWrite) {
      continue;
    }
    out.push_back(Describe(e));
  }
  return out;
}

class RecordingDisplay final : public DeviceDisplay {
 public:
  void SetStatusText(Utf8View text) override {
    status = std::string(text);
    events.push_back("status:" + status);
  }
  void SetMarquee(bool on) override { events.push_back(on ? "marquee:on" : "marquee:off"); }
  void SetProgressRange(std::uint32_t maximum) override { events.push_back("range:" + std::to_string(maximum)); }
  void SetProgressPosition(std::uint32_t position) override { events.push_back("pos:" + std::to_string(position)); }
  void UpdateDeviceControls() override { events.push_back("update"); }
  void ShowError(Utf8View message) override {
    errors.push_back(std::string(message));
    events.push_back("error");
  }
  void ClearingFinished(bool success) override { events.push_back(success ? "finished:ok" : "finished:failed"); }

  std::vector<std::string> events;
  std::vector<std::string> errors;
  std::string status;
};

struct SimSetup {
  SimulatedUsbBackend usb;
  DeviceManager manager{usb};

  // Adds one device, refreshes (which selects it) and clears the log.
  std::size_t AddAndSelect(const SimulatedDeviceConfig& config = {}) {
    const std::size_t index = usb.AddDevice(config);
    manager.Refresh(nullptr);
    usb.ClearLog();
    return index;
  }
};

}  // namespace tavrin::test
