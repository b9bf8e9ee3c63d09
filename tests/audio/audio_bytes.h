// Byte builders for the audio tests: RIFF and FORM files assembled field by
// field, so that every test states exactly which bytes it feeds the readers.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace tavrin::test {

struct Bytes {
  std::vector<std::uint8_t> b;

  Bytes& tag(const char* t) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(t[i]));
    return *this;
  }
  Bytes& u8(std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  Bytes& le16(std::uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& le32(std::uint32_t v) { return le16(v).le16(v >> 16); }
  Bytes& be16(std::uint32_t v) { return u8(v >> 8).u8(v); }
  Bytes& be32(std::uint32_t v) { return be16(v >> 16).be16(v); }
  Bytes& be64(std::uint64_t v) { return be32(static_cast<std::uint32_t>(v >> 32)).be32(static_cast<std::uint32_t>(v)); }
  Bytes& le24(std::uint32_t v) { return u8(v).u8(v >> 8).u8(v >> 16); }
  Bytes& f32le(float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    return le32(v);
  }
  Bytes& f32be(float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    return be32(v);
  }
  Bytes& f64le(double d) {
    std::uint64_t v;
    std::memcpy(&v, &d, 8);
    return le32(static_cast<std::uint32_t>(v)).le32(static_cast<std::uint32_t>(v >> 32));
  }
  Bytes& f64be(double d) {
    std::uint64_t v;
    std::memcpy(&v, &d, 8);
    return be64(v);
  }
  Bytes& raw(const std::vector<std::uint8_t>& v) {
    b.insert(b.end(), v.begin(), v.end());
    return *this;
  }
  Bytes& zeros(std::size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
  std::size_t size() const { return b.size(); }
};

// A chunk: identifier, little- or big-endian size, payload, pad byte when odd.
inline std::vector<std::uint8_t> Chunk(const char* id, const std::vector<std::uint8_t>& payload, bool bigEndian,
                                       bool pad = true) {
  Bytes c;
  c.tag(id);
  if (bigEndian) {
    c.be32(static_cast<std::uint32_t>(payload.size()));
  } else {
    c.le32(static_cast<std::uint32_t>(payload.size()));
  }
  c.raw(payload);
  if (pad && (payload.size() & 1)) c.u8(0);
  return c.b;
}
inline std::vector<std::uint8_t> RiffChunk(const char* id, const std::vector<std::uint8_t>& payload, bool pad = true) {
  return Chunk(id, payload, false, pad);
}
inline std::vector<std::uint8_t> FormChunk(const char* id, const std::vector<std::uint8_t>& payload, bool pad = true) {
  return Chunk(id, payload, true, pad);
}

// "RIFF" size "WAVE" followed by the chunks; the size counts what follows it.
inline std::vector<std::uint8_t> Riff(std::initializer_list<std::vector<std::uint8_t>> chunks) {
  Bytes body;
  body.tag("WAVE");
  for (const auto& c : chunks) body.raw(c);
  Bytes f;
  f.tag("RIFF").le32(static_cast<std::uint32_t>(body.size())).raw(body.b);
  return f.b;
}

inline std::vector<std::uint8_t> Form(const char* type, std::initializer_list<std::vector<std::uint8_t>> chunks) {
  Bytes body;
  body.tag(type);
  for (const auto& c : chunks) body.raw(c);
  Bytes f;
  f.tag("FORM").be32(static_cast<std::uint32_t>(body.size())).raw(body.b);
  return f.b;
}

inline std::vector<std::uint8_t> Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                     std::uint16_t bits) {
  const std::uint32_t blockAlign = channels * ((bits + 7u) / 8u);
  Bytes p;
  p.le16(tag).le16(channels).le32(rate).le32(rate * blockAlign).le16(static_cast<std::uint16_t>(blockAlign)).le16(bits);
  return RiffChunk("fmt ", p.b);
}

// WAVE_FORMAT_EXTENSIBLE with the given sub-format GUID (first four bytes as
// a little-endian number, the rest the standard base).
inline std::vector<std::uint8_t> FmtExtensible(std::uint32_t subtype, std::uint16_t channels, std::uint32_t rate,
                                               std::uint16_t bits, std::uint16_t validBits) {
  const std::uint32_t blockAlign = channels * ((bits + 7u) / 8u);
  Bytes p;
  p.le16(0xFFFE).le16(channels).le32(rate).le32(rate * blockAlign).le16(static_cast<std::uint16_t>(blockAlign)).le16(bits);
  p.le16(22).le16(validBits).le32(channels == 1 ? 4 : 3);
  p.le32(subtype).le16(0x0000).le16(0x0010);
  for (std::uint8_t x : {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) p.u8(x);
  return RiffChunk("fmt ", p.b);
}

struct LoopSpec {
  std::uint32_t type, start, end;
};

inline std::vector<std::uint8_t> Smpl(std::uint32_t unityNote, std::uint32_t pitchFraction,
                                      std::initializer_list<LoopSpec> loops,
                                      const std::vector<std::uint8_t>& samplerData) {
  Bytes p;
  p.le32(0).le32(0).le32(22676).le32(unityNote).le32(pitchFraction).le32(0).le32(0);
  p.le32(static_cast<std::uint32_t>(loops.size())).le32(static_cast<std::uint32_t>(samplerData.size()));
  std::uint32_t id = 0;
  for (const LoopSpec& l : loops) p.le32(id++).le32(l.type).le32(l.start).le32(l.end).le32(0).le32(0);
  p.raw(samplerData);
  return RiffChunk("smpl", p.b);
}

// The program's own 28-byte parameter block.
inline std::vector<std::uint8_t> ParameterBlock(std::uint8_t topKey, std::uint8_t zone, std::int8_t transpose,
                                                std::uint8_t root, std::uint32_t loopFlags, std::uint32_t nonTranspose,
                                                std::uint32_t start, std::int8_t level, std::int8_t vdf,
                                                std::int8_t decay) {
  Bytes p;
  p.u8(topKey).u8(zone).u8(static_cast<std::uint8_t>(transpose)).u8(root);
  p.le32(loopFlags).le32(nonTranspose).le32(start);
  p.le32(static_cast<std::uint32_t>(static_cast<std::int32_t>(level)));
  p.le32(static_cast<std::uint32_t>(static_cast<std::int32_t>(vdf)));
  p.le32(static_cast<std::uint32_t>(static_cast<std::int32_t>(decay)));
  return p.b;
}

inline std::vector<std::uint8_t> Pcm16(std::initializer_list<int> values) {
  Bytes p;
  for (int v : values) p.le16(static_cast<std::uint32_t>(v));
  return p.b;
}

// An 80-bit extended value for a whole positive rate.
inline Bytes& Extended(Bytes& p, std::uint32_t rate) {
  if (rate == 0) return p.be16(0).be64(0);
  int e = 31;
  while (!(rate & (1u << e))) --e;
  p.be16(static_cast<std::uint32_t>(16383 + e));
  return p.be64(static_cast<std::uint64_t>(rate) << (63 - e));
}

inline std::vector<std::uint8_t> Comm(std::uint16_t channels, std::uint32_t frames, std::uint16_t bits,
                                      std::uint32_t rate, const char* compression = nullptr) {
  Bytes p;
  p.be16(channels).be32(frames).be16(bits);
  Extended(p, rate);
  if (compression) p.tag(compression).u8(0);  // empty Pascal name
  return FormChunk("COMM", p.b);
}

inline std::vector<std::uint8_t> Ssnd(const std::vector<std::uint8_t>& data, std::uint32_t offset = 0) {
  Bytes p;
  p.be32(offset).be32(0).zeros(offset).raw(data);
  return FormChunk("SSND", p.b);
}

inline std::vector<std::uint8_t> Fver() {
  Bytes p;
  p.be32(0xA2805140u);
  return FormChunk("FVER", p.b);
}

}  // namespace tavrin::test
