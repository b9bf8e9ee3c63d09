// SoundFont 2 reader on arbitrary bytes: the headers, the zones of every
// preset and instrument (at a velocity taken from the input), their sample
// data, and, when small enough to convert quickly, the import of the zones.
#include <cstddef>
#include <cstdint>
#include <span>

#include "audio/instrument.h"
#include "audio/resampler.h"
#include "audio/sf2_reader.h"

namespace {

void Play(tavrin::ByteSource& source, const tavrin::SoundFont& font, const tavrin::Sf2Choice& choice) {
  std::vector<tavrin::InstrumentZone> zones;
  tavrin::InstrumentReport report;
  if (tavrin::SoundFontZones(font, choice, zones, report) != tavrin::kOk) return;
  std::uint64_t frames = 0;
  for (const tavrin::InstrumentZone& z : zones) {
    frames += z.frameCount;
    if (z.rate == 0 || tavrin::ResamplerPrototypeLength(z.rate, tavrin::kCardRate) > (1u << 16) ||
        z.frameCount * std::uint64_t{tavrin::kCardRate} / z.rate > (1u << 20)) {
      return;
    }
  }
  if (frames > (1u << 20) || tavrin::ReadSoundFontAudio(source, font, zones, report) != tavrin::kOk) return;
  tavrin::Sound sound;
  tavrin::ImportZones(sound, zones, report);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tavrin::MemorySource source(std::span<const std::uint8_t>(data, size));
  tavrin::SoundFont font;
  tavrin::InstrumentReport report;
  if (tavrin::OpenSoundFont(source, font, report) != tavrin::kOk) return 0;
  const std::uint8_t velocity = size > 0 ? static_cast<std::uint8_t>(data[size - 1] & 0x7F) : 100;
  for (std::size_t i = 0; i < font.presetCount() && i < 8; ++i) {
    tavrin::Sf2Choice choice;
    choice.bank = font.presets[i].bank;
    choice.program = font.presets[i].program;
    choice.velocity = velocity;
    Play(source, font, choice);
  }
  for (std::size_t i = 0; i < font.instrumentCount() && i < 8; ++i) {
    tavrin::Sf2Choice choice;
    choice.kind = tavrin::Sf2Choice::Kind::kInstrument;
    choice.name = font.instruments[i].name.view();
    choice.velocity = velocity;
    Play(source, font, choice);
  }
  return 0;
}
