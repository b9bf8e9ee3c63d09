// SoundFont 2 reader: the preset, instrument and sample headers of a RIFF
// "sfbk" file (read without its sample data), the zones one preset or
// instrument plays at a velocity, and those zones' samples.
#pragma once

#include <cstdint>
#include <vector>

#include "base/result.h"
#include "base/text.h"
#include "audio/instrument.h"

namespace tavrin {

struct Sf2Preset {
  Utf8Text<24> name;
  std::uint16_t program = 0;
  std::uint16_t bank = 0;
  std::uint32_t firstBag = 0;
};

struct Sf2Instrument {
  Utf8Text<24> name;
  std::uint32_t firstBag = 0;
};

struct Sf2Sample {
  Utf8Text<24> name;
  std::uint32_t start = 0, end = 0, loopStart = 0, loopEnd = 0;
  std::uint32_t rate = 0;
  std::uint8_t originalPitch = 60;
  std::int8_t pitchCorrection = 0;
  std::uint16_t link = 0;
  std::uint16_t type = 1;  // 1 mono, 2 right, 4 left, 8 linked; 0x8000 ROM
};

struct Sf2Generator {
  std::uint16_t oper = 0;
  std::uint16_t amount = 0;
};

// The headers of a SoundFont. Presets, instruments and samples keep their
// terminal records, so record i's zones run to record i + 1's first bag.
struct SoundFont {
  std::vector<Sf2Preset> presets;
  std::vector<std::uint32_t> presetBags;  // first generator of each preset zone
  std::vector<Sf2Generator> presetGenerators;
  std::vector<Sf2Instrument> instruments;
  std::vector<std::uint32_t> instrumentBags;
  std::vector<Sf2Generator> instrumentGenerators;
  std::vector<Sf2Sample> samples;
  std::uint64_t smplOffset = 0, smplFrames = 0;  // 16-bit sample data in the file
  std::uint64_t sm24Offset = 0;                  // low bytes of 24-bit data, when present
  bool has24 = false;

  std::size_t presetCount() const { return presets.empty() ? 0 : presets.size() - 1; }
  std::size_t instrumentCount() const { return instruments.empty() ? 0 : instruments.size() - 1; }
};

// Reads the RIFF headers and the "pdta" chunk (never the sample data) and
// checks every index they hold. 13 with the reason in the report for a file
// that is not a SoundFont 2, is an SF3 or whose headers are damaged; 5 when it
// ends early; 4 no memory; the source's code when a read fails.
Result OpenSoundFont(ByteSource& source, SoundFont& out, InstrumentReport& report);

struct Sf2Choice {
  enum class Kind { kPresetNumber, kPresetName, kInstrument } kind = Kind::kPresetNumber;
  std::uint16_t bank = 0;
  std::uint16_t program = 0;
  Utf8View name;
  std::uint8_t velocity = 100;
};

// The zones a note at the chosen velocity plays: preset-level generators
// added to the instrument's, global zones as defaults, one layer (a left and
// a right sample on the same keys become one stereo zone, other zones on the
// same keys and velocities are left out and noted). Audio is not read yet.
// 13 with the reason (naming the preset and zone) for a damaged zone; 20 when
// nothing of that name or number is there.
Result SoundFontZones(const SoundFont& font, const Sf2Choice& choice, std::vector<InstrumentZone>& zones,
                      InstrumentReport& report);

// Reads the audio of each zone (only its own bytes), mixing stereo zones to
// mono as the import mixes two channels.
Result ReadSoundFontAudio(ByteSource& source, const SoundFont& font, std::vector<InstrumentZone>& zones,
                          InstrumentReport& report);

}  // namespace tavrin
