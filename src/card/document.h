// The card being edited: a card name, the Multisounds and Drumsounds, and per
// sound its samples with their key-zone and loop parameters.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "base/result.h"
#include "base/text.h"

namespace tavrin {

// Every sample is mono at this rate.
inline constexpr std::uint32_t kCardRate = 31250;
inline constexpr std::uint32_t kDefaultCardCapacity = 524288;

using CardName = Utf8Text<10>;
using SoundName = Utf8Text<10>;
using SampleName = Utf8Text<32>;

enum class SoundType : std::uint32_t { Multisound = 0, Drumsound = 1 };
enum class WaveType : std::uint32_t { PCM = 0, DWGS = 1 };

namespace LoopFlags {
inline constexpr std::uint32_t kForwardBackward = 0x01;
inline constexpr std::uint32_t kAlternatingPolarity = 0x02;
inline constexpr std::uint32_t kForward = 0x04;  // the sustain loop is on
inline constexpr std::uint32_t kInvertPolarity = 0x08;
}  // namespace LoopFlags

// The group of markers a snapshot stores.
struct MarkerSet {
  std::uint16_t sampleAttribute = 0;
  std::int64_t start = -1;
  std::int64_t loop = -1;
  std::int64_t end = -1;
  bool operator==(const MarkerSet&) const = default;
};
using Snapshot = MarkerSet;

struct ZeroCrossing {
  std::int64_t rising = 0;  // 1 rising, 0 falling
  std::int64_t frame = 0;
  bool operator==(const ZeroCrossing&) const = default;
};

struct SampleData {
  SampleName name;
  bool nonTranspose = false;
  bool transposeValid = true;
  std::uint32_t loopFlags = 0;
  bool loopOn = false;
  MarkerSet markers;
  std::uint8_t topKey = 96;
  std::uint8_t zoneAttribute = 5;
  std::int8_t transpose = 0;
  std::uint8_t rootNote = 12;
  std::int8_t level = 0;
  std::int8_t vdfCutoff = 0;
  std::int8_t decayLevel = 0;
  std::vector<float> frames;
  std::vector<ZeroCrossing> zeroCrossings;
  std::array<Snapshot, 8> snapshots{};

  std::int64_t frameCount() const { return static_cast<std::int64_t>(frames.size()); }
};

struct Sound {
  SoundName name;
  SoundType soundType = SoundType::Multisound;
  WaveType waveType = WaveType::PCM;
  std::vector<SampleData> samples;
};

struct CardStatistics {
  std::uint32_t cardSize = 0;
  std::int64_t sampleCount = 0;
  std::int64_t dwgsMultisoundCount = 0;
  std::int64_t pcmMultisoundCount = 0;
  bool operator==(const CardStatistics&) const = default;
};

struct CardDocument {
  CardName name;
  std::vector<Sound> multisounds;
  std::vector<Sound> drumsounds;
  std::uint32_t cardCapacity = kDefaultCardCapacity;
  CardStatistics statistics;
  bool modified = false;

  CardDocument() { Reset(); }

  // Back to an empty card named "Corvask"; cardCapacity is kept.
  void Reset();

  // Recomputes `statistics`. `wide` is true for the wide card layout.
  const CardStatistics& ComputeStatistics(bool wide);
};

// Appends a sound with an empty name, PCM wave type and no samples; nullptr
// when memory ran out.
Sound* AppendSound(std::vector<Sound>& list, SoundType type);
// Removes the sound at index; an index at or past the end does nothing.
void RemoveSound(std::vector<Sound>& list, std::size_t index);
// Moves one sound from `from` to `to` by swaps with its neighbours.
void MoveSound(std::vector<Sound>& list, std::size_t from, std::size_t to);
// Copies name, types and a deep copy of every sample from the edited copy.
// On failure (4) the target is unchanged.
Result ReplaceSound(Sound& target, const Sound& edited);
// Appends a sample with the defaults; nullptr when memory ran out.
SampleData* AppendSample(Sound& sound);
// Appends " " and the note name of rootNote, each cut to what still fits.
void NameSampleAfterRootNote(SampleData& sample);
// Sets transpose and transposeValid from the loop length and rootNote.
void AutomaticTranspose(SampleData& sample);

// --- Notes -------------------------------------------------------------------

struct NoteEntry {
  Utf8Text<4> name;
  std::uint8_t number = 0;
  double frequency = 0.0;
};

// The 128 notes, "C-1" (0) to "G9" (127). Built once, never changed.
const std::array<NoteEntry, 128>& NoteTable();
// A note name by number; numbers above 127 give an empty view.
Utf8View NoteName(std::uint32_t note);

// --- Sample values -------------------------------------------------------------

// Float frame to the card's 16-bit value: the product with 32767 taken in
// single precision (the frames' own precision), truncated toward zero,
// saturated to +-32767; NaN gives 0. Every value v loaded as v / 32767
// converts back to v.
inline std::int16_t FrameToInt16(float value) {
  const float product = value * 32767.0f;  // single precision, as the frames are held
  if (product != product) return 0;        // NaN
  if (product >= 32767.0f) return 32767;
  if (product <= -32768.0f) {
    // -32768 itself (a value loaded from the card) converts back to itself;
    // anything further out is overshoot and saturates.
    return product == -32768.0f ? static_cast<std::int16_t>(-32768) : static_cast<std::int16_t>(-32767);
  }
  return static_cast<std::int16_t>(static_cast<std::int32_t>(product));
}
// The card's 16-bit value to a float frame: value / 32767.
inline float Int16ToFrame(std::int16_t value) { return static_cast<float>(value / 32767.0); }

}  // namespace tavrin
