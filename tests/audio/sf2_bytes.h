// A SoundFont 2 file assembled record by record, for the tests and the fuzz
// seeds: presets and instruments as lists of zones of generators, sample
// headers and the 16-bit sample data.
#pragma once

#include <string>
#include <vector>

#include "audio/audio_bytes.h"

namespace tavrin::test {

struct Sf2Gen {
  std::uint16_t op, amount;
};
inline Sf2Gen Range(std::uint16_t op, int lo, int hi) { return {op, static_cast<std::uint16_t>(lo | (hi << 8))}; }
using Sf2Zone = std::vector<Sf2Gen>;

struct Sf2Build {
  struct Preset {
    std::string name;
    std::uint16_t program, bank;
    std::vector<Sf2Zone> zones;
  };
  struct Inst {
    std::string name;
    std::vector<Sf2Zone> zones;
  };
  struct Sample {
    std::string name;
    std::uint32_t start, end, loopStart, loopEnd, rate;
    std::uint8_t pitch = 60;
    std::int8_t correction = 0;
    std::uint16_t link = 0, type = 1;
  };
  std::vector<Preset> presets;
  std::vector<Inst> insts;
  std::vector<Sample> samples;
  std::vector<std::int16_t> data;
  std::uint16_t version = 2;
  std::vector<std::uint8_t> low;  // sm24, when not empty

  static void Name(Bytes& b, const std::string& n) {
    for (std::size_t i = 0; i < 20; ++i) b.u8(i < n.size() ? static_cast<std::uint8_t>(n[i]) : 0);
  }
  template <class T>
  static void Lists(const std::vector<T>& items, Bytes& bag, Bytes& gen, std::vector<std::uint16_t>& firstBag) {
    std::uint16_t bags = 0, gens = 0;
    for (const T& item : items) {
      firstBag.push_back(bags);
      for (const Sf2Zone& z : item.zones) {
        bag.le16(gens).le16(0);
        ++bags;
        for (const Sf2Gen& g : z) gen.le16(g.op).le16(g.amount), ++gens;
      }
    }
    firstBag.push_back(bags);
    bag.le16(gens).le16(0);
    gen.le32(0);
  }
  ByteVec Pdta() const {
    Bytes phdr, pbag, pgen, inst, ibag, igen, shdr;
    std::vector<std::uint16_t> pFirst, iFirst;
    Lists(presets, pbag, pgen, pFirst);
    Lists(insts, ibag, igen, iFirst);
    for (std::size_t i = 0; i <= presets.size(); ++i) {
      Name(phdr, i < presets.size() ? presets[i].name : "EOP");
      phdr.le16(i < presets.size() ? presets[i].program : 0).le16(i < presets.size() ? presets[i].bank : 0);
      phdr.le16(pFirst[i]).le32(0).le32(0).le32(0);
    }
    for (std::size_t i = 0; i <= insts.size(); ++i) {
      Name(inst, i < insts.size() ? insts[i].name : "EOI");
      inst.le16(iFirst[i]);
    }
    for (const Sample& s : samples) {
      Name(shdr, s.name);
      shdr.le32(s.start).le32(s.end).le32(s.loopStart).le32(s.loopEnd).le32(s.rate);
      shdr.u8(s.pitch).u8(static_cast<std::uint8_t>(s.correction)).le16(s.link).le16(s.type);
    }
    Name(shdr, "EOS");
    shdr.zeros(26);
    Bytes body;
    body.tag("pdta");
    for (auto [id, b] : {std::pair{"phdr", &phdr}, {"pbag", &pbag}, {"pmod", nullptr}, {"pgen", &pgen},
                         {"inst", &inst}, {"ibag", &ibag}, {"imod", nullptr}, {"igen", &igen}, {"shdr", &shdr}}) {
      body.raw(RiffChunk(id, b ? b->b : ByteVec(10, 0)));
    }
    return RiffChunk("LIST", body.b);
  }
  ByteVec Build() const {
    Bytes info, sdta, smpl;
    info.tag("INFO").raw(RiffChunk("ifil", Bytes().le16(version).le16(1).b));
    for (std::int16_t v : data) smpl.le16(static_cast<std::uint16_t>(v));
    sdta.tag("sdta").raw(RiffChunk("smpl", smpl.b));
    if (!low.empty()) sdta.raw(RiffChunk("sm24", low));
    Bytes body;
    body.tag("sfbk").raw(RiffChunk("LIST", info.b)).raw(RiffChunk("LIST", sdta.b)).raw(Pdta());
    return RiffChunk("RIFF", body.b, false);
  }
};

// One preset (0:0 "Test") over one instrument "Inst" whose zones play the
// given samples; `data` frames of a ramp.
inline Sf2Build OneInstrument(std::vector<Sf2Zone> instZones, std::vector<Sf2Build::Sample> samples,
                              std::size_t frames, Sf2Zone presetZone = {}) {
  Sf2Build b;
  presetZone.push_back({41, 0});
  b.presets.push_back({"Test", 0, 0, {presetZone}});
  b.insts.push_back({"Inst", std::move(instZones)});
  b.samples = std::move(samples);
  for (std::size_t i = 0; i < frames; ++i) b.data.push_back(static_cast<std::int16_t>((i * 97) % 20000 - 10000));
  return b;
}

}  // namespace tavrin::test
