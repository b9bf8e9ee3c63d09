// The media reader off Windows: MP3 through libmpg123, from the file's bytes
// in memory. libmpg123 delivers 32-bit floats at the stream's own rate with
// its own channel count; the channels are averaged to mono here.
#include <mpg123.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "base/alloc.h"
#include "base/file_io.h"
#include "audio/media_reader.h"
#include "audio/readers.h"

namespace tavrin {
namespace {

// The bytes libmpg123 reads through its replaced reader.
struct MemoryFile {
  std::span<const std::uint8_t> bytes;
  std::size_t pos = 0;
};

mpg123_ssize_t MemoryRead(void* handle, void* buffer, size_t count) {
  auto* f = static_cast<MemoryFile*>(handle);
  const std::size_t left = f->bytes.size() - f->pos;
  const std::size_t n = count < left ? count : left;
  if (n) std::memcpy(buffer, f->bytes.data() + f->pos, n);
  f->pos += n;
  return static_cast<mpg123_ssize_t>(n);
}

off_t MemorySeek(void* handle, off_t offset, int whence) {
  auto* f = static_cast<MemoryFile*>(handle);
  long long base = 0;
  if (whence == SEEK_CUR) base = static_cast<long long>(f->pos);
  else if (whence == SEEK_END) base = static_cast<long long>(f->bytes.size());
  else if (whence != SEEK_SET) return -1;
  const long long to = base + static_cast<long long>(offset);
  if (to < 0 || to > static_cast<long long>(f->bytes.size())) return -1;
  f->pos = static_cast<std::size_t>(to);
  return static_cast<off_t>(to);
}

// Owns one libmpg123 handle.
struct Mpg123Handle {
  mpg123_handle* h = nullptr;
  Mpg123Handle() {
    int err = MPG123_OK;
    h = mpg123_new(nullptr, &err);
  }
  ~Mpg123Handle() {
    if (h) {
      mpg123_close(h);
      mpg123_delete(h);
    }
  }
  Mpg123Handle(const Mpg123Handle&) = delete;
  Mpg123Handle& operator=(const Mpg123Handle&) = delete;
};

// Only 32-bit float output, at any rate libmpg123 knows, mono or stereo.
bool RequestFloatOutput(mpg123_handle* h) {
  if (mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0) != MPG123_OK) return false;
  if (mpg123_format_none(h) != MPG123_OK) return false;
  const long* rates = nullptr;
  size_t count = 0;
  mpg123_rates(&rates, &count);
  for (size_t i = 0; i < count; ++i)
    if (mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32) != MPG123_OK) return false;
  return true;
}

// Averages the interleaved float frames of one output block and appends them.
Result AppendMono(const float* samples, std::size_t count, int channels, DecodedAudio& out) {
  if (channels < 1) return kOk;
  const std::size_t frames = count / static_cast<std::size_t>(channels);
  const std::size_t have = out.frames.size();
  if (Result r = TryResize(out.frames, have + frames); r != kOk) return r;
  float* dst = out.frames.data() + have;
  const float divisor = static_cast<float>(channels);
  float peak = out.peak;
  for (std::size_t i = 0; i < frames; ++i) {
    float sum = 0.0f;
    for (int c = 0; c < channels; ++c) sum += samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
    const float v = channels == 1 ? sum : sum / divisor;
    dst[i] = v;
    if (std::fabs(v) > std::fabs(peak)) peak = v;
  }
  out.peak = peak;
  return kOk;
}

}  // namespace

Result DecodeMp3(std::span<const std::uint8_t> bytes, DecodedAudio& out) {
  out.frames.clear();
  out.channelCount = 0;
  out.sampleRate = 0;
  out.peak = 0.0f;

  Mpg123Handle mh;
  if (!mh.h) return kOutOfMemory;
  if (!RequestFloatOutput(mh.h)) return kBadFormat;
  MemoryFile file{bytes, 0};
  if (mpg123_replace_reader_handle(mh.h, MemoryRead, MemorySeek, nullptr) != MPG123_OK) return kBadFormat;
  if (mpg123_open_handle(mh.h, &file) != MPG123_OK) return kBadFormat;

  long rate = 0;
  int channels = 0;
  int encoding = 0;
  if (mpg123_getformat(mh.h, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels < 1 ||
      encoding != MPG123_ENC_FLOAT_32)
    return kBadFormat;
  out.sampleRate = static_cast<std::uint32_t>(rate);

  // A whole number of stereo float frames (8 bytes), so that a read never
  // ends inside a frame of one or two channels.
  std::vector<float> block;
  const std::size_t blockFloats = (mpg123_outblock(mh.h) / 8 + 1) * 2;
  if (Result r = TryResize(block, blockFloats); r != kOk) return r;
  for (;;) {
    size_t done = 0;
    const int rc = mpg123_read(mh.h, block.data(), block.size() * sizeof(float), &done);
    if (Result r = AppendMono(block.data(), done / sizeof(float), channels, out); r != kOk) return r;
    if (rc == MPG123_DONE) break;
    if (rc == MPG123_NEW_FORMAT) {
      // The channel count may change (the frames are mixed to mono as they
      // come); a stream whose rate changes cannot be played at one pitch.
      long newRate = 0;
      int newEncoding = 0;
      if (mpg123_getformat(mh.h, &newRate, &channels, &newEncoding) != MPG123_OK || channels < 1) return kFailed;
      if (newRate != rate) return kBadFormat;
      continue;
    }
    if (rc != MPG123_OK) return out.frames.empty() ? kBadFormat : kFailed;
  }
  if (out.frames.empty()) return kBadFormat;
  out.channelCount = 1;
  return kOk;
}

Result ReadWithMediaReader(Utf8View path, DecodedAudio& out) {
  std::vector<std::uint8_t> file;
  // The media reader sets no size limit of its own.
  if (Result r = ReadWholeFile(path, std::numeric_limits<std::uint64_t>::max(), file); r != kOk) return r;
  return DecodeMp3(file, out);
}

}  // namespace tavrin
