#include "card/document.h"

#include <cmath>
#include <utility>

#include "base/alloc.h"

namespace tavrin {
namespace {

std::array<NoteEntry, 128> BuildNoteTable() {
  static constexpr const char* kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  std::array<NoteEntry, 128> table{};
  for (int n = 0; n < 128; ++n) {
    NoteEntry& e = table[static_cast<std::size_t>(n)];
    e.number = static_cast<std::uint8_t>(n);
    e.name.assign(kNames[n % 12]);
    const int octave = n / 12 - 1;
    if (octave < 0) {
      e.name.append("-1");
    } else {
      e.name.appendDecimal(static_cast<std::uint32_t>(octave));
    }
    // The table's frequencies start from 8.1758 Hz for C-1, as the instrument's
    // own table does (A4 comes out 0.6 millihertz above 440 Hz).
    e.frequency = 8.1758 * std::pow(2.0, n / 12.0);
  }
  return table;
}

// Rounds to the nearest integer, halves away from zero.
double RoundHalfAway(double x) { return std::round(x); }

}  // namespace

const std::array<NoteEntry, 128>& NoteTable() {
  static const std::array<NoteEntry, 128> table = BuildNoteTable();
  return table;
}

Utf8View NoteName(std::uint32_t note) {
  if (note > 127) return Utf8View();
  return NoteTable()[note].name.view();
}

void CardDocument::Reset() {
  name.assign("Corvask");
  multisounds.clear();
  multisounds.shrink_to_fit();
  drumsounds.clear();
  drumsounds.shrink_to_fit();
  statistics = CardStatistics{};
  modified = false;
}

const CardStatistics& CardDocument::ComputeStatistics(bool wide) {
  const std::uint32_t m = wide ? 1 : 0;
  CardStatistics s;
  // The size is kept in 64 bits while summing and then stored saturated, so a
  // huge card shows as far too large rather than wrapping to a small size.
  std::uint64_t size = (m + 1) * 64;
  for (const Sound& sound : multisounds) {
    if (sound.samples.empty()) continue;
    if (sound.waveType == WaveType::DWGS) ++s.dwgsMultisoundCount;
    if (sound.waveType == WaveType::PCM) ++s.pcmMultisoundCount;
    size += (m + 1) * 14;
    for (const SampleData& sample : sound.samples) {
      size += (5 * m + 5 + 7 * (m + 1)) * 2 + 2 * static_cast<std::uint64_t>(sample.frames.size());
      ++s.sampleCount;
    }
  }
  for (const Sound& sound : drumsounds) {
    if (sound.samples.empty()) continue;
    size += (3 * m + 3) * 4;
    for (const SampleData& sample : sound.samples) {
      size += (m + 1) * 14 + 2 * static_cast<std::uint64_t>(sample.frames.size());
      ++s.sampleCount;
    }
  }
  s.cardSize = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
  statistics = s;
  return statistics;
}

Sound* AppendSound(std::vector<Sound>& list, SoundType type) {
  Sound sound;
  sound.soundType = type;
  if (TryPushBack(list, std::move(sound)) != kOk) return nullptr;
  return &list.back();
}

void RemoveSound(std::vector<Sound>& list, std::size_t index) {
  if (index >= list.size()) return;
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
}

void MoveSound(std::vector<Sound>& list, std::size_t from, std::size_t to) {
  if (from >= list.size() || to >= list.size()) return;
  while (from < to) {
    std::swap(list[from], list[from + 1]);
    ++from;
  }
  while (from > to) {
    std::swap(list[from], list[from - 1]);
    --from;
  }
}

Result ReplaceSound(Sound& target, const Sound& edited) {
  if (&target == &edited) return kOk;
  std::vector<SampleData> copy;
  if (Result r = TryCopy(copy, edited.samples)) return r;
  target.name.assign(edited.name.view());
  target.soundType = edited.soundType;
  target.waveType = edited.waveType;
  target.samples = std::move(copy);
  return kOk;
}

SampleData* AppendSample(Sound& sound) {
  if (TryPushBack(sound.samples, SampleData{}) != kOk) return nullptr;
  return &sound.samples.back();
}

void NameSampleAfterRootNote(SampleData& sample) {
  sample.name.append(" ");
  sample.name.append(NoteName(sample.rootNote));
}

void AutomaticTranspose(SampleData& sample) {
  const double length = static_cast<double>(sample.markers.end) - static_cast<double>(sample.markers.loop);
  if (!(length > 0.0)) {
    sample.transposeValid = true;
    return;
  }
  // Note numbers from files are not trusted to be in range.
  const std::uint32_t note = sample.rootNote > 127 ? 127 : sample.rootNote;
  const double f = NoteTable()[note].frequency;
  const double cycles = RoundHalfAway(length / (static_cast<double>(kCardRate) / RoundHalfAway(f)));
  const double period = cycles > 1.0 ? length / cycles : length;
  const double cents = 1200.0 * std::log2(f / (static_cast<double>(kCardRate) / period));
  // Truncated in double so that huge loops cannot overflow an integer.
  const double t = std::trunc(cents);
  if (t < -120.0) {
    sample.transpose = -120;
    sample.transposeValid = false;
  } else if (t > 120.0) {
    sample.transpose = 120;
    sample.transposeValid = false;
  } else {
    sample.transpose = static_cast<std::int8_t>(static_cast<int>(t));
    sample.transposeValid = true;
  }
}

}  // namespace tavrin
