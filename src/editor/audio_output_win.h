// The preview's audio output on Windows: the default render device through
// WASAPI in shared mode, event driven, at the engine's own mix rate (the
// player converts the rate itself, so the transpose is heard on every device).
#pragma once

#include <memory>

#include "editor/audio_output.h"

namespace tavrin {

// A closed output; Open connects it to the default device. Nothing is
// touched before Open, so creating one never fails for want of a device.
std::unique_ptr<AudioOutput> CreateWasapiOutput();

}  // namespace tavrin
