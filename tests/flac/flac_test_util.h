// Helpers of the FLAC tests: whole decodes to integers with our decoder and
// (when linked) with libFLAC, temporary folders, WAV writing and the
// command-line reference tools.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "audio/flac_decoder.h"
#include "audio/ogg.h"
#include "md5.h"
#include "support/skip.h"

#ifdef TAVRIN_HAVE_LIBFLAC
#include <FLAC/stream_decoder.h>
#endif

namespace tavrin_test {

namespace fs = std::filesystem;

inline fs::path TestFilesDir() { return tavrin::testing::TestDataDir() / "flac-test-files"; }

inline std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& p, const std::vector<std::uint8_t>& b) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Every decoded frame, its samples interleaved, one after another.
struct IntDecode {
  std::vector<std::int32_t> samples;
  std::vector<std::uint32_t> blockSizes;
  std::vector<std::uint32_t> channels;
  std::vector<std::uint32_t> bits;
  std::vector<tavrin::FlacChannelAssignment> assignments;
  bool error = false;  // decoding stopped at a damaged frame
  bool opened = false;
};

inline IntDecode DecodeWithOurs(const std::vector<std::uint8_t>& bytes) {
  IntDecode d;
  tavrin::FlacDecoder dec;
  const bool bare = !bytes.empty() && bytes[0] != 'f' && bytes[0] != 'O';
  if ((bare ? dec.OpenFrames(bytes) : dec.Open(bytes)) != tavrin::kOk) return d;
  d.opened = true;
  tavrin::FlacMetadataBlock block;
  tavrin::FlacStatus s;
  while ((s = dec.NextMetadataBlock(block)) == tavrin::FlacStatus::kOk) {
  }
  if (s == tavrin::FlacStatus::kError) {
    d.error = true;
    return d;
  }
  for (;;) {
    s = dec.DecodeFrame();
    if (s != tavrin::FlacStatus::kOk) {
      d.error = s == tavrin::FlacStatus::kError;
      break;
    }
    const auto& h = dec.frame();
    d.blockSizes.push_back(h.blockSize);
    d.channels.push_back(h.channels);
    d.bits.push_back(h.bitsPerSample);
    d.assignments.push_back(h.assignment);
    for (std::uint32_t i = 0; i < h.blockSize; ++i)
      for (std::uint32_t c = 0; c < h.channels; ++c) d.samples.push_back(dec.channel(c)[i]);
  }
  return d;
}

// MD5 of the decoded samples as FLAC computes it: little-endian, each sample
// in the whole bytes its frame's bit depth needs.
inline bool Md5Matches(const IntDecode& d, const std::uint8_t expected[16]) {
  Md5 md5;
  std::size_t at = 0;
  for (std::size_t f = 0; f < d.blockSizes.size(); ++f) {
    const std::size_t count = static_cast<std::size_t>(d.blockSizes[f]) * d.channels[f];
    const unsigned width = (d.bits[f] + 7) / 8;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t v = static_cast<std::uint32_t>(d.samples[at + i]);
      std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                           static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
      md5.Update(b, width);
    }
    at += count;
  }
  std::uint8_t got[16];
  md5.Final(got);
  return std::memcmp(got, expected, 16) == 0;
}

#ifdef TAVRIN_HAVE_LIBFLAC
struct LibFlacState {
  IntDecode d;
};

inline FLAC__StreamDecoderWriteStatus LibFlacWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                   const FLAC__int32* const buffer[], void* client) {
  auto* st = static_cast<LibFlacState*>(client);
  st->d.blockSizes.push_back(frame->header.blocksize);
  st->d.channels.push_back(frame->header.channels);
  st->d.bits.push_back(frame->header.bits_per_sample);
  for (std::uint32_t i = 0; i < frame->header.blocksize; ++i)
    for (std::uint32_t c = 0; c < frame->header.channels; ++c) st->d.samples.push_back(buffer[c][i]);
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}
inline void LibFlacMeta(const FLAC__StreamDecoder*, const FLAC__StreamMetadata*, void*) {}
inline void LibFlacError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client) {
  static_cast<LibFlacState*>(client)->d.error = true;
}

// The reference decoder's integers for a file (native or Ogg).
inline IntDecode DecodeWithLibFlac(const fs::path& path, bool ogg) {
  LibFlacState st;
  FLAC__StreamDecoder* dec = FLAC__stream_decoder_new();
  if (!dec) return st.d;
  const std::string p = path.string();
  const FLAC__StreamDecoderInitStatus init =
      ogg ? FLAC__stream_decoder_init_ogg_file(dec, p.c_str(), LibFlacWrite, LibFlacMeta, LibFlacError, &st)
          : FLAC__stream_decoder_init_file(dec, p.c_str(), LibFlacWrite, LibFlacMeta, LibFlacError, &st);
  if (init == FLAC__STREAM_DECODER_INIT_STATUS_OK) {
    st.d.opened = true;
    FLAC__stream_decoder_process_until_end_of_stream(dec);
    FLAC__stream_decoder_finish(dec);
  }
  FLAC__stream_decoder_delete(dec);
  return st.d;
}
#endif

// A folder of its own below the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("tavrin-flac-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

inline int RunCommand(const std::string& command) {
#ifdef _WIN32
  return std::system(command.c_str());
#else
  return std::system((command + " >/dev/null 2>&1").c_str());
#endif
}

// True when a command-line tool answers (never under Wine, where the Linux
// tools are out of reach).
inline bool HaveTool(const std::string& name) {
#ifdef _WIN32
  (void)name;
  return false;
#else
  return RunCommand("command -v " + name) == 0;
#endif
}

inline std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

// A WAVE_FORMAT_EXTENSIBLE file: `bits` valid bits left-aligned in
// containers of whole bytes, interleaved samples.
inline std::vector<std::uint8_t> MakeWav(const std::vector<std::int32_t>& samples, unsigned channels,
                                         unsigned rate, unsigned bits) {
  const unsigned width = (bits + 7) / 8;
  const unsigned container = width * 8;
  std::vector<std::uint8_t> data;
  data.reserve(samples.size() * width);
  for (std::int32_t s : samples) {
    std::uint32_t v = static_cast<std::uint32_t>(s) << (container - bits);
    if (width == 1) v ^= 0x80;  // 8-bit WAV samples are unsigned
    for (unsigned i = 0; i < width; ++i) data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::vector<std::uint8_t> out;
  auto u16 = [&](unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  auto u32 = [&](std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  auto tag = [&](const char* t) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(t[i]));
  };
  tag("RIFF");
  u32(static_cast<std::uint32_t>(4 + 8 + 40 + 8 + data.size()));
  tag("WAVE");
  tag("fmt ");
  u32(40);
  u16(0xFFFE);
  u16(channels);
  u32(rate);
  u32(rate * channels * width);
  u16(channels * width);
  u16(container);
  u16(22);
  u16(bits);
  u32(0);  // channel mask: none
  static const std::uint8_t kPcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  out.insert(out.end(), kPcmGuid, kPcmGuid + 16);
  tag("data");
  u32(static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

}  // namespace tavrin_test

namespace tavrin_test {

// Builds small FLAC streams by hand (constant and verbatim subframes,
// independent channels), so that reader tests need no encoder.
class BitWriter {
 public:
  void Put(std::uint64_t v, unsigned n) {
    for (unsigned i = n; i-- > 0;) PutBit((v >> i) & 1);
  }
  void PutBit(unsigned b) {
    if (fill_ == 0) bytes.push_back(0);
    if (b) bytes.back() |= static_cast<std::uint8_t>(0x80 >> fill_);
    fill_ = (fill_ + 1) & 7;
  }
  void Align() {
    while (fill_) PutBit(0);
  }
  std::vector<std::uint8_t> bytes;

 private:
  unsigned fill_ = 0;
};

struct HandFrame {
  std::vector<std::vector<std::int32_t>> channels;  // one vector per channel, equal lengths
  bool verbatim = false;
};

inline unsigned DepthCode(unsigned bits) {
  switch (bits) {
    case 8: return 1;
    case 12: return 2;
    case 16: return 4;
    case 20: return 5;
    case 24: return 6;
    case 32: return 7;
    default: return 0;
  }
}

// One frame: fixed block size stream, uncommon 16-bit block size, rate from
// STREAMINFO, depth code for `bits` (0 = from STREAMINFO).
inline std::vector<std::uint8_t> HandFrameBytes(const HandFrame& f, unsigned bits, unsigned number) {
  BitWriter w;
  const unsigned n = static_cast<unsigned>(f.channels[0].size());
  w.Put(0xFFF8, 16);
  w.Put(7, 4);  // block size - 1 in 16 bits
  w.Put(0, 4);  // rate from STREAMINFO
  w.Put(static_cast<unsigned>(f.channels.size()) - 1, 4);
  w.Put(DepthCode(bits), 3);
  w.Put(0, 1);
  w.Put(number & 0x7F, 8);
  w.Put(n - 1, 16);
  w.Put(tavrin::FlacCrc8(w.bytes), 8);
  for (const auto& ch : f.channels) {
    w.Put(0, 1);
    w.Put(f.verbatim ? 1 : 0, 6);
    w.Put(0, 1);
    if (f.verbatim) {
      for (std::int32_t s : ch) w.Put(static_cast<std::uint32_t>(s) & ((bits == 32) ? 0xFFFFFFFFu : ((1u << bits) - 1)), bits);
    } else {
      w.Put(static_cast<std::uint32_t>(ch[0]) & ((bits == 32) ? 0xFFFFFFFFu : ((1u << bits) - 1)), bits);
    }
  }
  w.Align();
  w.Put(tavrin::FlacCrc16(w.bytes), 16);
  return w.bytes;
}

inline std::vector<std::uint8_t> MetadataBlock(unsigned type, bool last, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> b = {static_cast<std::uint8_t>(type | (last ? 0x80 : 0)),
                                 static_cast<std::uint8_t>(body.size() >> 16),
                                 static_cast<std::uint8_t>(body.size() >> 8), static_cast<std::uint8_t>(body.size())};
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

inline std::vector<std::uint8_t> StreamInfoBody(unsigned rate, unsigned channels, unsigned bits, std::uint64_t total,
                                                unsigned blockSize) {
  BitWriter w;
  w.Put(blockSize, 16);
  w.Put(blockSize, 16);
  w.Put(0, 24);
  w.Put(0, 24);
  w.Put(rate, 20);
  w.Put(channels - 1, 3);
  w.Put(bits - 1, 5);
  w.Put(total, 36);
  for (int i = 0; i < 16; ++i) w.Put(0, 8);
  return w.bytes;
}

// "fLaC", STREAMINFO, the extra blocks (each given with its 4-byte header),
// then the frames.
inline std::vector<std::uint8_t> HandStream(unsigned rate, unsigned bits, std::uint64_t announced,
                                            const std::vector<HandFrame>& frames,
                                            const std::vector<std::vector<std::uint8_t>>& extraBlocks = {}) {
  std::vector<std::uint8_t> out = {'f', 'L', 'a', 'C'};
  const unsigned channels = frames.empty() ? 1 : static_cast<unsigned>(frames[0].channels.size());
  const unsigned block = frames.empty() ? 4096 : static_cast<unsigned>(frames[0].channels[0].size());
  auto si = MetadataBlock(0, extraBlocks.empty(), StreamInfoBody(rate, channels, bits, announced, block));
  out.insert(out.end(), si.begin(), si.end());
  for (std::size_t i = 0; i < extraBlocks.size(); ++i) {
    auto b = extraBlocks[i];
    if (i + 1 == extraBlocks.size()) b[0] |= 0x80;
    out.insert(out.end(), b.begin(), b.end());
  }
  unsigned number = 0;
  for (const auto& f : frames) {
    auto fb = HandFrameBytes(f, bits, number++);
    out.insert(out.end(), fb.begin(), fb.end());
  }
  return out;
}

inline HandFrame ConstantFrame(std::vector<std::int32_t> values, unsigned n) {
  HandFrame f;
  for (std::int32_t v : values) f.channels.push_back(std::vector<std::int32_t>(n, v));
  return f;
}

}  // namespace tavrin_test

namespace tavrin_test {

inline void AppendBytes(std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
}

inline std::vector<std::uint8_t> Le32Bytes(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}

// Wraps packets into Ogg pages of at most `maxSegments` lacing values each, so
// that packets span pages.
inline std::vector<std::uint8_t> OggWrap(const std::vector<std::vector<std::uint8_t>>& packets, std::size_t maxSegments,
                                  std::uint32_t serial = 0x1234) {
  struct Seg {
    const std::uint8_t* p;
    std::size_t n;
    bool endsPacket;
  };
  std::vector<std::vector<Seg>> pages;
  // The mapping header has a page of its own; the header packets start a new
  // page, and so does the first audio packet.
  for (std::size_t k = 0; k < packets.size(); ++k) {
    const auto& pk = packets[k];
    const bool firstAudio = !pk.empty() && pk[0] == 0xFF && (k == 0 || packets[k - 1].empty() || packets[k - 1][0] != 0xFF);
    if (k <= 1 || firstAudio) pages.emplace_back();
    std::size_t at = 0;
    for (;;) {
      const std::size_t n = std::min<std::size_t>(255, pk.size() - at);
      if (pages.back().size() >= maxSegments) pages.emplace_back();
      pages.back().push_back({pk.data() + at, n, n < 255});
      at += n;
      if (n < 255) break;
    }
  }
  std::vector<std::uint8_t> out;
  bool continued = false;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    std::vector<std::uint8_t> page = {'O', 'g', 'g', 'S', 0};
    std::uint8_t type = continued ? 1 : 0;
    if (i == 0) type |= 2;
    if (i + 1 == pages.size()) type |= 4;
    page.push_back(type);
    for (int b = 0; b < 8; ++b) page.push_back(0);
    AppendBytes(page, Le32Bytes(serial));
    AppendBytes(page, Le32Bytes(static_cast<std::uint32_t>(i)));
    AppendBytes(page, Le32Bytes(0));
    page.push_back(static_cast<std::uint8_t>(pages[i].size()));
    for (const auto& s : pages[i]) page.push_back(static_cast<std::uint8_t>(s.n));
    for (const auto& s : pages[i]) page.insert(page.end(), s.p, s.p + s.n);
    const std::uint32_t crc = tavrin::OggCrc32(page);
    for (int b = 0; b < 4; ++b) page[22 + b] = static_cast<std::uint8_t>(crc >> (8 * b));
    AppendBytes(out, page);
    continued = !pages[i].back().endsPacket;
  }
  return out;
}

// Splits a hand-made native stream of mono 16-bit constant frames into Ogg packets.
inline std::vector<std::vector<std::uint8_t>> OggPackets(const std::vector<std::uint8_t>& native, std::size_t frameBytes,
                                                  std::size_t frames) {
  std::vector<std::vector<std::uint8_t>> packets;
  std::vector<std::uint8_t> head = {0x7F, 'F', 'L', 'A', 'C', 1, 0, 0, 0};
  head.insert(head.end(), native.begin(), native.begin() + 4 + 38);
  head[13] &= 0x7F;
  packets.push_back(head);
  std::size_t at = 4 + 38;
  const std::size_t framesAt = native.size() - frameBytes * frames;
  while (at < framesAt) {
    const std::size_t len = 4 + ((static_cast<std::size_t>(native[at + 1]) << 16) | (native[at + 2] << 8) | native[at + 3]);
    packets.emplace_back(native.begin() + static_cast<std::ptrdiff_t>(at), native.begin() + static_cast<std::ptrdiff_t>(at + len));
    at += len;
  }
  for (std::size_t i = 0; i < frames; ++i)
    packets.emplace_back(native.begin() + static_cast<std::ptrdiff_t>(framesAt + i * frameBytes),
                         native.begin() + static_cast<std::ptrdiff_t>(framesAt + (i + 1) * frameBytes));
  return packets;
}

}  // namespace tavrin_test
