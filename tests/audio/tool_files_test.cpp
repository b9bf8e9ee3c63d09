// Files written by sox and ffmpeg from a raw recording of known values, read
// back and compared with the values the tools were asked to store. The
// files are made when the test runs; without the tools (as under Wine) the
// tests are skipped.
#include <gtest/gtest.h>

#include "support/skip.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "audio/import.h"
#include "audio/readers.h"
#include "audio/temp_dir.h"

namespace tavrin {
namespace {

bool HaveTool(const char* name) {
#ifdef _WIN32
  (void)name;
  return false;
#else
  const std::string probe = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(probe.c_str()) == 0;
#endif
}

int RunTool(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// 100 frames; every value a multiple of 256 so that 8-bit files hold it exactly.
std::vector<std::int16_t> Channel(int channel, std::size_t frames) {
  std::vector<std::int16_t> v(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    const int step = channel == 0 ? 37 : 53;
    const int span = channel == 0 ? 255 : 181;
    v[i] = static_cast<std::int16_t>((static_cast<int>((i * step) % span) - span / 2) * 256);
  }
  // Full scale both ways, and zero.
  if (frames > 3) {
    v[1] = -32768;
    v[2] = channel == 0 ? 32512 : 0;
  }
  return v;
}

struct Source {
  std::string rawPath;
  std::vector<std::int16_t> left, right;
  int channels = 1;
  std::uint32_t rate = 44100;
};

Source MakeSource(const test::TempDir& dir, int channels, std::uint32_t rate, std::size_t frames = 100) {
  Source s;
  s.channels = channels;
  s.rate = rate;
  s.left = Channel(0, frames);
  s.right = Channel(1, frames);
  std::vector<std::uint8_t> raw;
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const std::uint16_t v = static_cast<std::uint16_t>(c == 0 ? s.left[i] : s.right[i]);
      raw.push_back(static_cast<std::uint8_t>(v));
      raw.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  s.rawPath = dir.Write("source-" + std::to_string(channels) + "-" + std::to_string(rate) + ".raw", raw);
  return s;
}

// The mono value the readers make of frame i: the channel values in single
// precision, summed, divided by the channel count.
float Expected(const Source& s, std::size_t i) {
  const float l = static_cast<float>(s.left[i]) / 32768.0f;
  if (s.channels == 1) return l;
  return (l + static_cast<float>(s.right[i]) / 32768.0f) / 2.0f;
}

// Allowed error of a G.711 value: half a quantisation step of the larger
// channel (steps are at most 1/16 of the magnitude) plus the smallest step.
double Tolerance(const Source& s, std::size_t i, bool companded) {
  if (!companded) return 0.0;
  double m = std::fabs(s.left[i] / 32768.0);
  if (s.channels == 2) m = std::max(m, std::fabs(s.right[i] / 32768.0));
  return m / 16.0 + 0.002;
}

struct Case {
  const char* tool;     // "sox" or "ffmpeg"
  const char* options;  // output options
  const char* file;
  int channels;
  std::uint32_t rate;
  bool companded;
};

void CheckCase(const test::TempDir& dir, const Case& c) {
  SCOPED_TRACE(::testing::Message() << c.tool << " " << c.options << " -> " << c.file << ", " << c.channels << " ch");
  const Source s = MakeSource(dir, c.channels, c.rate);
  const std::string out = dir.File(c.file);
  std::string command;
  if (std::string(c.tool) == "sox") {
    command = "sox -D -t raw -r " + std::to_string(c.rate) + " -e signed -b 16 -L -c " + std::to_string(c.channels) +
              " \"" + s.rawPath + "\" " + c.options + " \"" + out + "\"";
  } else {
    command = "ffmpeg -nostdin -y -loglevel error -f s16le -ar " + std::to_string(c.rate) + " -ac " +
              std::to_string(c.channels) + " -i \"" + s.rawPath + "\" " + c.options + " \"" + out + "\"";
  }
  ASSERT_EQ(RunTool(command), 0) << command;
  DecodedAudio a;
  const std::string name(c.file);
  const bool wav = name.size() > 4 && name.substr(name.size() - 4) == ".wav";
  ASSERT_EQ(wav ? ReadWav(out, a) : ReadAiff(out, a), 0u);
  EXPECT_EQ(a.sampleRate, c.rate);
  EXPECT_EQ(a.channelCount, 1u);
  ASSERT_EQ(a.frameCount(), s.left.size());
  float peak = 0;
  for (std::size_t i = 0; i < s.left.size(); ++i) {
    const float e = Expected(s, i);
    if (std::fabs(e) > std::fabs(peak)) peak = e;
    if (c.companded) {
      ASSERT_NEAR(a.frames[i], e, Tolerance(s, i, true)) << "frame " << i;
    } else {
      ASSERT_EQ(a.frames[i], e) << "frame " << i;
    }
  }
  if (!c.companded) {
    EXPECT_EQ(a.peak, peak);
  }
  // And the whole import takes it: one sample, at the card's rate.
  Sound sound;
  ASSERT_EQ(ImportSampleFile(sound, out), 0u);
  EXPECT_EQ(static_cast<std::uint64_t>(sound.samples.at(0).frameCount()), s.left.size() * 31250ull / c.rate);
}

TEST(ToolMadeFiles, SoxWav) {
  if (!HaveTool("sox")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("sox"));
  test::TempDir dir;
  const Case cases[] = {
      {"sox", "-e unsigned -b 8", "u8.wav", 1, 44100, false},
      {"sox", "-e unsigned -b 8", "u8s.wav", 2, 22050, false},
      {"sox", "-e signed -b 16", "s16.wav", 1, 44100, false},
      {"sox", "-e signed -b 16", "s16s.wav", 2, 48000, false},
      {"sox", "-e signed -b 24", "s24s.wav", 2, 96000, false},  // written as extensible
      {"sox", "-e signed -b 32", "s32.wav", 1, 44100, false},   // extensible
      {"sox", "-e floating-point -b 32", "f32s.wav", 2, 44100, false},
      {"sox", "-e floating-point -b 64", "f64.wav", 1, 8000, false},
      {"sox", "-e a-law", "alaw.wav", 1, 8000, true},
      {"sox", "-e a-law", "alaws.wav", 2, 8000, true},
      {"sox", "-e u-law", "ulaw.wav", 2, 8000, true},
  };
  for (const Case& c : cases) CheckCase(dir, c);
}

TEST(ToolMadeFiles, FfmpegWav) {
  if (!HaveTool("ffmpeg")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("ffmpeg"));
  test::TempDir dir;
  const Case cases[] = {
      {"ffmpeg", "-c:a pcm_u8", "u8.wav", 2, 44100, false},
      {"ffmpeg", "-c:a pcm_s16le", "s16.wav", 1, 31250, false},
      {"ffmpeg", "-c:a pcm_s24le", "s24.wav", 2, 48000, false},  // extensible
      {"ffmpeg", "-c:a pcm_s32le", "s32.wav", 2, 44100, false},  // extensible
      {"ffmpeg", "-c:a pcm_f32le", "f32.wav", 1, 44100, false},
      {"ffmpeg", "-c:a pcm_f64le", "f64.wav", 2, 22050, false},  // extensible, float sub-format
      {"ffmpeg", "-c:a pcm_alaw", "alaw.wav", 2, 8000, true},
      {"ffmpeg", "-c:a pcm_mulaw", "ulaw.wav", 1, 8000, true},
  };
  for (const Case& c : cases) CheckCase(dir, c);
}

TEST(ToolMadeFiles, SoxAiff) {
  if (!HaveTool("sox")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("sox"));
  test::TempDir dir;
  const Case cases[] = {
      {"sox", "-e signed -b 8", "s8.aiff", 2, 44100, false},
      {"sox", "-e signed -b 16", "s16.aiff", 1, 44100, false},
      {"sox", "-e signed -b 24", "s24.aif", 2, 48000, false},
      {"sox", "-e signed -b 32", "s32.aiff", 2, 22050, false},
      {"sox", "-t aifc -e signed -b 16", "none.aifc", 2, 44100, false},  // AIFC "NONE"
      {"sox", "-t aifc -e floating-point -b 32", "fl32.aifc", 2, 44100, false},
      {"sox", "-t aifc -e floating-point -b 64", "fl64.aifc", 1, 32000, false},
  };
  for (const Case& c : cases) CheckCase(dir, c);
}

TEST(ToolMadeFiles, FfmpegAiff) {
  if (!HaveTool("ffmpeg")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("ffmpeg"));
  test::TempDir dir;
  const Case cases[] = {
      {"ffmpeg", "-c:a pcm_s16be -f aiff", "s16.aiff", 2, 44100, false},
      {"ffmpeg", "-c:a pcm_s24be -f aiff", "s24.aiff", 1, 44100, false},
      {"ffmpeg", "-c:a pcm_s16le -f aiff", "sowt.aifc", 2, 44100, false},  // AIFC "sowt"
      {"ffmpeg", "-c:a pcm_s16be -tag:a twos -f aiff", "twos.aifc", 2, 48000, false},
      {"ffmpeg", "-c:a pcm_f32be -f aiff", "fl32.aifc", 2, 44100, false},
      {"ffmpeg", "-c:a pcm_f64be -f aiff", "fl64.aifc", 1, 44100, false},
      {"ffmpeg", "-c:a pcm_alaw -f aiff", "alaw.aifc", 2, 8000, true},
      {"ffmpeg", "-c:a pcm_mulaw -f aiff", "ulaw.aifc", 1, 8000, true},
  };
  for (const Case& c : cases) CheckCase(dir, c);
}

TEST(ToolMadeFiles, FfmpegImaAdpcmIsRefused) {
  if (!HaveTool("ffmpeg")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("ffmpeg"));
  test::TempDir dir;
  const Source s = MakeSource(dir, 1, 44100, 256);
  const std::string out = dir.File("ima4.aifc");
  ASSERT_EQ(RunTool("ffmpeg -nostdin -y -loglevel error -f s16le -ar 44100 -ac 1 -i \"" + s.rawPath +
                "\" -c:a adpcm_ima_qt -f aiff \"" + out + "\""),
            0);
  DecodedAudio a;
  EXPECT_EQ(ReadAiff(out, a), 13u);
  const std::string wav = dir.File("adpcm.wav");
  ASSERT_EQ(RunTool("ffmpeg -nostdin -y -loglevel error -f s16le -ar 44100 -ac 1 -i \"" + s.rawPath +
                "\" -c:a adpcm_ms \"" + wav + "\""),
            0);
  EXPECT_EQ(ReadWav(wav, a), 13u);
}

TEST(ToolMadeFiles, SoxRateConversionAgreesInLevel) {
  // A 1 kHz tone at 44100 Hz, imported, keeps its level relative to the peak.
  if (!HaveTool("sox")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("sox"));
  test::TempDir dir;
  const std::string out = dir.File("tone.wav");
  ASSERT_EQ(RunTool("sox -D -n -r 44100 -b 16 -c 1 \"" + out + "\" synth 0.5 sine 1000 vol 0.5"), 0);
  Sound sound;
  ASSERT_EQ(ImportSampleFile(sound, out), 0u);
  const SampleData& s = sound.samples.at(0);
  EXPECT_EQ(s.frameCount(), 15625);
  float peak = 0;
  for (std::int64_t i = 1000; i < 14000; ++i) peak = std::max(peak, std::fabs(s.frames[static_cast<std::size_t>(i)]));
  EXPECT_NEAR(peak, 0.98855, 0.002);
}

}  // namespace
}  // namespace tavrin
