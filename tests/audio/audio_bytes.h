// Byte builders for the audio tests: RIFF and FORM files assembled field by
// field, so that every test states exactly which bytes it feeds the readers.
#pragma once

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrin::test {

using ByteVec = std::vector<std::uint8_t>;

struct Bytes {
  ByteVec b;

  Bytes& tag(const char* t) { return u8(t[0]).u8(t[1]).u8(t[2]).u8(t[3]); }
  Bytes& u8(std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  Bytes& le16(std::uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& le32(std::uint32_t v) { return le16(v).le16(v >> 16); }
  Bytes& le64(std::uint64_t v) {
    return le32(static_cast<std::uint32_t>(v)).le32(static_cast<std::uint32_t>(v >> 32));
  }
  Bytes& be16(std::uint32_t v) { return u8(v >> 8).u8(v); }
  Bytes& be32(std::uint32_t v) { return be16(v >> 16).be16(v); }
  Bytes& be64(std::uint64_t v) {
    return be32(static_cast<std::uint32_t>(v >> 32)).be32(static_cast<std::uint32_t>(v));
  }
  Bytes& f32le(float f) { return le32(std::bit_cast<std::uint32_t>(f)); }
  Bytes& f32be(float f) { return be32(std::bit_cast<std::uint32_t>(f)); }
  Bytes& f64le(double d) { return le64(std::bit_cast<std::uint64_t>(d)); }
  Bytes& f64be(double d) { return be64(std::bit_cast<std::uint64_t>(d)); }
  Bytes& raw(const ByteVec& v) {
    b.insert(b.end(), v.begin(), v.end());
    return *this;
  }
  Bytes& zeros(std::size_t n) { return raw(ByteVec(n, 0)); }
};

// The bytes with one of them replaced.
inline ByteVec Set(ByteVec b, std::size_t at, std::uint8_t value) {
  b.at(at) = value;
  return b;
}

// A chunk: identifier, little- or big-endian size, payload, pad byte when odd.
inline ByteVec Chunk(const char* id, const ByteVec& payload, bool bigEndian, bool pad = true) {
  Bytes c;
  const auto size = static_cast<std::uint32_t>(payload.size());
  (bigEndian ? c.tag(id).be32(size) : c.tag(id).le32(size)).raw(payload);
  if (pad && (payload.size() & 1)) c.u8(0);
  return c.b;
}
inline ByteVec RiffChunk(const char* id, const ByteVec& payload, bool pad = true) {
  return Chunk(id, payload, false, pad);
}
inline ByteVec FormChunk(const char* id, const ByteVec& payload, bool pad = true) {
  return Chunk(id, payload, true, pad);
}
inline ByteVec Data(const ByteVec& payload, bool pad = true) { return RiffChunk("data", payload, pad); }

// "RIFF" size "WAVE" or "FORM" size type, then the chunks.
inline ByteVec Container(const char* id, const char* type, std::initializer_list<ByteVec> chunks,
                         bool bigEndian) {
  Bytes body;
  body.tag(type);
  for (const auto& c : chunks) body.raw(c);
  return Chunk(id, body.b, bigEndian, false);
}
inline ByteVec Riff(std::initializer_list<ByteVec> chunks) {
  return Container("RIFF", "WAVE", chunks, false);
}
inline ByteVec Form(const char* type, std::initializer_list<ByteVec> chunks) {
  return Container("FORM", type, chunks, true);
}

// A "fmt " chunk: the 16 basic bytes, then any extension.
inline ByteVec Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                   const ByteVec& extension = {}) {
  const std::uint32_t blockAlign = channels * ((bits + 7u) / 8u);
  Bytes p;
  p.le16(tag).le16(channels).le32(rate).le32(rate * blockAlign).le16(blockAlign).le16(bits).raw(extension);
  return RiffChunk("fmt ", p.b);
}

// WAVE_FORMAT_EXTENSIBLE with the given sub-format GUID (first four bytes as
// a little-endian number, the rest the standard base).
inline ByteVec FmtExtensible(std::uint32_t subtype, std::uint16_t channels, std::uint32_t rate,
                             std::uint16_t bits, std::uint16_t validBits) {
  Bytes p;
  p.le16(22).le16(validBits).le32(channels == 1 ? 4 : 3).le32(subtype).le16(0x0000).le16(0x0010);
  for (std::uint8_t x : {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) p.u8(x);
  return Fmt(0xFFFE, channels, rate, bits, p.b);
}

struct LoopSpec {
  std::uint32_t type, start, end, fraction = 0, playCount = 0;
};

// The payload of a "smpl" chunk, with the exporter's sample period for 31250 Hz.
inline ByteVec SmplPayload(std::uint32_t unityNote, std::uint32_t pitchFraction,
                           std::initializer_list<LoopSpec> loops, const ByteVec& samplerData) {
  Bytes p;
  p.le32(0).le32(0).le32(32000).le32(unityNote).le32(pitchFraction).le32(0).le32(0);
  p.le32(static_cast<std::uint32_t>(loops.size())).le32(static_cast<std::uint32_t>(samplerData.size()));
  std::uint32_t id = 0;
  for (const LoopSpec& l : loops) {
    p.le32(id++).le32(l.type).le32(l.start).le32(l.end).le32(l.fraction).le32(l.playCount);
  }
  return p.raw(samplerData).b;
}
inline ByteVec Smpl(std::uint32_t unityNote, std::uint32_t pitchFraction,
                    std::initializer_list<LoopSpec> loops, const ByteVec& samplerData) {
  return RiffChunk("smpl", SmplPayload(unityNote, pitchFraction, loops, samplerData));
}

// The program's own 28-byte parameter block.
inline ByteVec ParameterBlock(std::uint8_t topKey, std::uint8_t zone, std::int8_t transpose,
                              std::uint8_t root, std::uint32_t loopFlags, std::uint32_t nonTranspose,
                              std::uint32_t start, std::int8_t level, std::int8_t vdf, std::int8_t decay) {
  Bytes p;
  p.u8(topKey).u8(zone).u8(static_cast<std::uint8_t>(transpose)).u8(root).le32(loopFlags).le32(nonTranspose);
  p.le32(start);
  for (std::int8_t v : {level, vdf, decay}) p.le32(static_cast<std::uint32_t>(static_cast<std::int32_t>(v)));
  return p.b;
}

inline ByteVec Pcm16(std::initializer_list<int> values, bool bigEndian = false) {
  Bytes p;
  for (int v : values) bigEndian ? p.be16(v) : p.le16(v);
  return p.b;
}
inline ByteVec Be16(std::initializer_list<int> values) { return Pcm16(values, true); }

// One "COMM" chunk; the rate a whole number, written as an 80-bit extended value.
inline ByteVec Comm(std::uint16_t channels, std::uint32_t frames, std::uint16_t bits, std::uint32_t rate,
                    const char* compression = nullptr) {
  Bytes p;
  p.be16(channels).be32(frames).be16(bits);
  int e = 31;
  while (e > 0 && !(rate & (1u << e))) --e;
  p.be16(rate ? 16383u + e : 0).be64(static_cast<std::uint64_t>(rate) << (63 - e));
  if (compression) p.tag(compression).u8(0);  // empty Pascal name
  return FormChunk("COMM", p.b);
}

inline ByteVec Ssnd(const ByteVec& data, std::uint32_t offset = 0, bool pad = true) {
  return FormChunk("SSND", Bytes().be32(offset).be32(0).zeros(offset).raw(data).b, pad);
}

inline ByteVec Fver() { return FormChunk("FVER", Bytes().be32(0xA2805140u).b); }

// Markers (id, position), each with the same counted name, padded to even.
inline ByteVec Mark(std::initializer_list<std::pair<int, std::uint32_t>> markers,
                    std::string_view name = "m") {
  Bytes p;
  p.be16(static_cast<std::uint32_t>(markers.size()));
  for (const auto& [id, pos] : markers) {
    p.be16(static_cast<std::uint32_t>(id)).be32(pos).u8(static_cast<std::uint32_t>(name.size()));
    for (char c : name) p.u8(static_cast<std::uint8_t>(c));
    if (name.size() % 2 == 0) p.u8(0);  // count byte and name padded to even
  }
  return FormChunk("MARK", p.b);
}

// An "INST" chunk whose sustain loop is (mode, beginId, endId); no release loop.
inline ByteVec Inst(int base, int detune, int low, int high, int mode, int beginId, int endId) {
  Bytes p;
  for (int v : {base, detune, low, high, 1, 127}) p.u8(static_cast<std::uint32_t>(v));
  for (int v : {0, mode, beginId, endId, 0, 0, 0}) p.be16(static_cast<std::uint32_t>(v));
  return FormChunk("INST", p.b);
}

}  // namespace tavrin::test
