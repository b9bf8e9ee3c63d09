// Helpers of the FLAC tests and of the fuzzer's seed generator: small FLAC
// streams made by hand (constant and verbatim subframes), Ogg pages, WAV
// files, and whole decodes to integers with our decoder and with libFLAC.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "audio/flac_decoder.h"
#include "audio/ogg.h"

#ifdef TAVRIN_HAVE_LIBFLAC
#include <FLAC/stream_decoder.h>
#endif

namespace tavrin_test {

using Bytes = std::vector<std::uint8_t>;

inline void AppendBytes(Bytes& a, const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); }

// `n` bytes of v, least significant first.
inline void PutLe(Bytes& out, std::uint64_t v, unsigned n) {
  for (unsigned i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline Bytes Le32Bytes(std::uint32_t v) {
  Bytes b;
  PutLe(b, v, 4);
  return b;
}

// Writes the lowest n bits of values, most significant first.
struct BitWriter {
  Bytes bytes;
  std::size_t bits = 0;
  void Put(std::uint64_t v, unsigned n) {
    for (unsigned i = n; i-- > 0; ++bits) {
      if (bits % 8 == 0) bytes.push_back(0);
      bytes.back() |= static_cast<std::uint8_t>(((v >> i) & 1) << (7 - bits % 8));
    }
  }
  void Align() { Put(0, (8 - bits % 8) % 8); }
};

struct HandFrame {
  std::vector<std::vector<std::int32_t>> channels;  // one vector per channel, equal lengths
  bool verbatim = false;
};

inline HandFrame ConstantFrame(std::vector<std::int32_t> values, unsigned n) {
  HandFrame f;
  for (std::int32_t v : values) f.channels.push_back(std::vector<std::int32_t>(n, v));
  return f;
}

// One frame of independent channels: fixed block size stream, 16-bit block
// size field, rate from STREAMINFO, the depth code of `bits`.
inline Bytes HandFrameBytes(const HandFrame& f, unsigned bits, unsigned number) {
  const unsigned depthCode = bits <= 12 ? bits / 4 - 1 : bits == 32 ? 7 : bits / 4;
  BitWriter w;
  w.Put(0xFFF8, 16);
  w.Put(0x70, 8);  // block size - 1 in 16 bits, rate from STREAMINFO
  w.Put(f.channels.size() - 1, 4);
  w.Put(depthCode << 1, 4);
  w.Put(number & 0x7F, 8);
  w.Put(f.channels[0].size() - 1, 16);
  w.Put(tavrin::FlacCrc8(w.bytes), 8);
  for (const auto& ch : f.channels) {
    w.Put(f.verbatim ? 2 : 0, 8);
    for (std::size_t i = 0; i < (f.verbatim ? ch.size() : 1); ++i) w.Put(std::uint32_t(ch[i]), bits);
  }
  w.Align();
  w.Put(tavrin::FlacCrc16(w.bytes), 16);
  return w.bytes;
}

inline Bytes MetadataBlock(unsigned type, bool last, const Bytes& body) {
  BitWriter w;
  w.Put(type | (last ? 0x80 : 0), 8);
  w.Put(body.size(), 24);
  AppendBytes(w.bytes, body);
  return w.bytes;
}

// "fLaC", STREAMINFO, the extra blocks (each with its 4-byte header), then
// the frames.
inline Bytes HandStream(unsigned rate, unsigned bits, std::uint64_t announced,
                        const std::vector<HandFrame>& frames, const std::vector<Bytes>& extraBlocks = {}) {
  const std::size_t block = frames.empty() ? 4096 : frames[0].channels[0].size();
  BitWriter info;
  info.Put(block, 16);
  info.Put(block, 16);
  info.Put(0, 48);
  info.Put(rate, 20);
  info.Put((frames.empty() ? 1 : frames[0].channels.size()) - 1, 3);
  info.Put(bits - 1, 5);
  info.Put(announced, 36);
  info.bytes.resize(34);  // no MD5
  Bytes out = {'f', 'L', 'a', 'C'};
  AppendBytes(out, MetadataBlock(0, extraBlocks.empty(), info.bytes));
  for (const Bytes& b : extraBlocks) AppendBytes(out, b);
  if (!extraBlocks.empty()) out[out.size() - extraBlocks.back().size()] |= 0x80;
  for (unsigned i = 0; i < frames.size(); ++i) AppendBytes(out, HandFrameBytes(frames[i], bits, i));
  return out;
}

// A 44.1 kHz 16-bit stream of unknown length whose frames are the given bytes.
inline Bytes StreamOfFrames(const std::vector<Bytes>& frames) {
  Bytes out = HandStream(44100, 16, 0, {});
  for (const Bytes& f : frames) AppendBytes(out, f);
  return out;
}

// Wraps packets into Ogg pages of at most `maxSegments` lacing values each, so
// that packets span pages. The mapping header has a page of its own; the
// other header packets start a new page, and so does the first audio packet.
inline Bytes OggWrap(const std::vector<Bytes>& packets, std::size_t maxSegments,
                     std::uint32_t serial = 0x1234) {
  struct Seg {
    const std::uint8_t* p;
    std::size_t n;
  };
  std::vector<std::vector<Seg>> pages;
  for (std::size_t k = 0; k < packets.size(); ++k) {
    const Bytes& pk = packets[k];
    const bool audio = !pk.empty() && pk[0] == 0xFF;
    if (k <= 1 || (audio && (packets[k - 1].empty() || packets[k - 1][0] != 0xFF))) pages.emplace_back();
    for (std::size_t at = 0, n = 255; n == 255; at += n) {
      n = std::min<std::size_t>(255, pk.size() - at);
      if (pages.back().size() >= maxSegments) pages.emplace_back();
      pages.back().push_back({pk.data() + at, n});
    }
  }
  Bytes out;
  bool continued = false;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    Bytes page = {'O', 'g', 'g', 'S', 0};
    page.push_back((continued ? 1 : 0) | (i == 0 ? 2 : 0) | (i + 1 == pages.size() ? 4 : 0));
    PutLe(page, 0, 8);
    PutLe(page, serial, 4);
    PutLe(page, i, 4);
    PutLe(page, 0, 4);
    page.push_back(static_cast<std::uint8_t>(pages[i].size()));
    for (const Seg& s : pages[i]) page.push_back(static_cast<std::uint8_t>(s.n));
    for (const Seg& s : pages[i]) page.insert(page.end(), s.p, s.p + s.n);
    const std::uint32_t crc = tavrin::OggCrc32(page);
    for (int b = 0; b < 4; ++b) page[22 + b] = static_cast<std::uint8_t>(crc >> (8 * b));
    AppendBytes(out, page);
    continued = pages[i].back().n == 255;
  }
  return out;
}

// Splits a hand-made native stream of equal frames into Ogg packets: the
// mapping header, one per metadata block after STREAMINFO, one per frame.
inline std::vector<Bytes> OggPackets(const Bytes& native, std::size_t frameBytes, std::size_t frames) {
  Bytes head = {0x7F, 'F', 'L', 'A', 'C', 1, 0, 0, 0};
  head.insert(head.end(), native.begin(), native.begin() + 42);
  head[13] &= 0x7F;
  std::vector<Bytes> packets = {head};
  std::size_t at = 42;
  const std::size_t framesAt = native.size() - frameBytes * frames;
  for (std::size_t len; at < framesAt; at += len) {
    len = 4 + ((std::size_t{native[at + 1]} << 16) | (native[at + 2] << 8) | native[at + 3]);
    packets.emplace_back(native.data() + at, native.data() + at + len);
  }
  for (; at < native.size(); at += frameBytes)
    packets.emplace_back(native.data() + at, native.data() + at + frameBytes);
  return packets;
}

// A WAVE_FORMAT_EXTENSIBLE file: `bits` valid bits left-aligned in containers
// of whole bytes, interleaved samples.
inline Bytes MakeWav(const std::vector<std::int32_t>& samples, unsigned channels, unsigned rate,
                     unsigned bits) {
  const unsigned width = (bits + 7) / 8;
  const std::size_t size = samples.size() * width;
  Bytes out = {'R', 'I', 'F', 'F'};
  PutLe(out, 4 + 8 + 40 + 8 + size, 4);
  AppendBytes(out, {'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 40, 0, 0, 0, 0xFE, 0xFF});
  PutLe(out, channels, 2);
  PutLe(out, rate, 4);
  PutLe(out, rate * channels * width, 4);
  for (std::uint64_t v : {channels * width, width * 8, 22u, bits}) PutLe(out, v, 2);
  PutLe(out, 0, 4);  // channel mask: none
  AppendBytes(out, {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71, 'd', 'a', 't', 'a'});
  PutLe(out, size, 4);
  for (std::int32_t s : samples)  // 8-bit WAV samples are unsigned
    PutLe(out, (static_cast<std::uint32_t>(s) << (width * 8 - bits)) ^ (width == 1 ? 0x80 : 0), width);
  return out;
}

// A smpl chunk's body: unity note, pitch fraction, loops, sampler data.
inline Bytes SmplBody(std::uint32_t unity, std::uint32_t fraction,
                      const std::vector<std::vector<std::uint32_t>>& loops, const Bytes& sampler) {
  Bytes p;
  const std::uint64_t fields[] = {0, 0, 22676, unity, fraction, 0, 0, loops.size(), sampler.size()};
  for (std::uint64_t v : fields) PutLe(p, v, 4);
  for (const auto& l : loops)
    for (std::uint32_t v : l) PutLe(p, v, 4);
  AppendBytes(p, sampler);
  return p;
}

// Every decoded frame, its samples interleaved, one after another.
struct IntDecode {
  std::vector<std::int32_t> samples;
  std::vector<std::uint32_t> blockSizes, channels, bits;
  std::vector<tavrin::FlacChannelAssignment> assignments;
  bool error = false;  // decoding stopped at a damaged frame
  bool opened = false;
  std::optional<tavrin::FlacStreamInfo> info;
  std::uint64_t total() const {
    std::uint64_t n = 0;
    for (auto b : blockSizes) n += b;
    return n;
  }
};

inline IntDecode DecodeWithOurs(const Bytes& bytes) {
  IntDecode d;
  tavrin::FlacDecoder dec;
  const bool bare = !bytes.empty() && bytes[0] != 'f' && bytes[0] != 'O';
  if ((bare ? dec.OpenFrames(bytes) : dec.Open(bytes)) != tavrin::kOk) return d;
  d.opened = true;
  tavrin::FlacMetadataBlock block;
  tavrin::FlacStatus s;
  while ((s = dec.NextMetadataBlock(block)) == tavrin::FlacStatus::kOk) {
  }
  if (dec.hasStreamInfo()) d.info = dec.streamInfo();
  while (s != tavrin::FlacStatus::kError && (s = dec.DecodeFrame()) == tavrin::FlacStatus::kOk) {
    const auto& h = dec.frame();
    d.blockSizes.push_back(h.blockSize);
    d.channels.push_back(h.channels);
    d.bits.push_back(h.bitsPerSample);
    d.assignments.push_back(h.assignment);
    for (std::uint32_t i = 0; i < h.blockSize; ++i)
      for (std::uint32_t c = 0; c < h.channels; ++c) d.samples.push_back(dec.channel(c)[i]);
  }
  d.error = s == tavrin::FlacStatus::kError;
  return d;
}

#ifdef TAVRIN_HAVE_LIBFLAC
// The reference decoder's integers for a file (native or Ogg).
inline IntDecode DecodeWithLibFlac(const std::filesystem::path& path, bool ogg) {
  IntDecode d;
  auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame, const FLAC__int32* const buffer[],
                  void* client) {
    auto& out = *static_cast<IntDecode*>(client);
    out.blockSizes.push_back(frame->header.blocksize);
    out.channels.push_back(frame->header.channels);
    out.bits.push_back(frame->header.bits_per_sample);
    for (std::uint32_t i = 0; i < frame->header.blocksize; ++i)
      for (std::uint32_t c = 0; c < frame->header.channels; ++c) out.samples.push_back(buffer[c][i]);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  };
  auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client) {
    static_cast<IntDecode*>(client)->error = true;
  };
  FLAC__StreamDecoder* dec = FLAC__stream_decoder_new();
  const std::string p = path.string();
  d.opened = (ogg ? FLAC__stream_decoder_init_ogg_file(dec, p.c_str(), write, nullptr, error, &d)
                  : FLAC__stream_decoder_init_file(dec, p.c_str(), write, nullptr, error, &d)) ==
                 FLAC__STREAM_DECODER_INIT_STATUS_OK &&
             FLAC__stream_decoder_process_until_end_of_stream(dec);
  FLAC__stream_decoder_delete(dec);  // finishes the decoding first
  return d;
}
#endif

}  // namespace tavrin_test
