// Helpers of the FLAC tests: whole decodes to integers with our decoder and
// (when linked) with libFLAC, temporary folders, WAV writing and the
// command-line reference tools.
#pragma once

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
#include "flac/md5.h"

#ifdef TAVRIN_HAVE_LIBFLAC
#include <FLAC/stream_decoder.h>
#endif

namespace tavrin_test {

namespace fs = std::filesystem;

inline fs::path SharedDir() { return fs::path(TAVRIN_SHARED_DIR); }
inline fs::path TestFilesDir() { return SharedDir() / "testdata" / "flac-test-files"; }

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

inline int Run(const std::string& command) {
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
  return Run("command -v " + name) == 0;
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
    const std::uint32_t v = static_cast<std::uint32_t>(s) << (container - bits);
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
  auto tag = [&](const char* t) { out.insert(out.end(), t, t + 4); };
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
