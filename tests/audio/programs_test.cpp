// Sample files through other programs: the command-line tool run as a user
// would, and files written by sox and ffmpeg from a raw recording of known
// values, read back and compared with the values the tools were asked to
// store. Where a program cannot run here (as under Wine) its tests skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include "audio/audio_bytes.h"
#include "audio/import.h"
#include "audio/readers.h"
#include "support/command.h"
#include "support/skip.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

#ifdef TAVRIN_CLI_PATH
constexpr bool kHaveCli = true;
#else
constexpr bool kHaveCli = false;
#define TAVRIN_CLI_PATH ""
#endif

CommandRun Tavrin(const TempDir& dir, const std::string& args) {
#ifdef _WIN32
  // Under Wine the tool's Linux path is on drive Z:.
  std::string cli = std::string("Z:") + TAVRIN_CLI_PATH;
  std::replace(cli.begin(), cli.end(), '/', '\\');
  return RunCommand("cd /d \"" + dir.path().string() + "\" && \"" + cli + "\" " + args, dir.File("stderr.txt"));
#else
  return RunCommand("cd \"" + dir.path().string() + "\" && \"" TAVRIN_CLI_PATH "\" " + args, dir.File("stderr.txt"));
#endif
}

void ExpectHolds(const std::string& text, std::initializer_list<const char*> parts) {
  for (const char* p : parts) EXPECT_NE(text.find(p), std::string::npos) << p << " in:\n" << text;
}

std::vector<std::uint8_t> Wav(std::uint32_t rate, std::initializer_list<int> values) {
  return test::Riff({test::Fmt(1, 1, rate, 16), test::Data(test::Pcm16(values))});
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kHaveCli) TAVRIN_SKIP_GROUP("command-line tool runs: the tool is not built here");
  }
  TempDir dir;
};

TEST_F(Cli, ImportJson) {
  dir.Write("Bell A4.wav", Wav(31250, {16384, -8192, 0, 4096}));
  const CommandRun o = Tavrin(dir, "import \"Bell A4.wav\" --json");
  ASSERT_EQ(o.status, 0) << o.err;
  // Frames as floats: 0.5 normalised to -0.1 dBFS.
  ExpectHolds(o.out, {"\"name\": \"Bell A4\"", "\"rootNote\": 69", "\"topKey\": 80", "\"frameCount\": 4",
                      "\"start\": 0, \"loop\": 2, \"end\": 4", "\"snapshots\": [", "\"frames\": [0.98855"});
  const CommandRun drum = Tavrin(dir, "import \"Bell A4.wav\" --json --drum");
  ASSERT_EQ(drum.status, 0);
  ExpectHolds(drum.out, {"\"loop\": -1"});

  const CommandRun missing = Tavrin(dir, "import nothing.wav --json");
  EXPECT_NE(missing.status, 0);
  ExpectHolds(missing.err, {"nothing.wav", "file not found"});
  EXPECT_TRUE(missing.out.empty());
}

TEST_F(Cli, AddReportsFailuresKeepsTheRestAndExports) {
  dir.Write("a C3.wav", Wav(31250, {100, 200, 300}));
  dir.Write("b.wav", Wav(44100, {1000, -1000, 1000, -1000, 1000, -1000, 1000, -1000, 1000, -1000}));
  auto cut = Wav(31250, {1, 2, 3, 4});
  cut.resize(cut.size() - 2);
  cut[4] = static_cast<std::uint8_t>(cut.size() - 8);
  dir.Write("cut.wav", cut);
  dir.Write("notes.txt", {1, 2, 3});

  // One failing file adds nothing; --keep-going adds the others; options are checked first.
  const std::string sources = " --multi \"Strings Ensemble\" \"a C3.wav\" missing.wav cut.wav notes.txt b.wav";
  EXPECT_EQ(Tavrin(dir, "add card.qz" + sources).status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "card.qz"));
  EXPECT_EQ(Tavrin(dir, "add card.qz --bogus" + sources).status, 2);
  const CommandRun o = Tavrin(dir, "add card.qz" + sources + " --keep-going");
  EXPECT_EQ(o.status, 1);
  ExpectHolds(o.err, {"missing.wav: file not found", "cut.wav: the file is incomplete",
                      "notes.txt: unsupported format"});
  const CommandRun info = Tavrin(dir, "info card.qz --json");
  ASSERT_EQ(info.status, 0) << info.err;
  ExpectHolds(info.out, {"\"name\": \"Strings En\"", "\"sampleCount\": 2"});

  // Adding only failures leaves the card-file as it was, or unmade.
  const auto before = ReadBytes(dir.File("card.qz"));
  EXPECT_NE(Tavrin(dir, "add card.qz --drum Kick missing.wav").status, 0);
  EXPECT_EQ(ReadBytes(dir.File("card.qz")), before);
  EXPECT_NE(Tavrin(dir, "add other.qz --drum Kick missing.wav").status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "other.qz"));

  const CommandRun drum = Tavrin(dir, "add card.qz --drum Kick b.wav");
  EXPECT_EQ(drum.status, 0) << drum.err;
  EXPECT_EQ(Tavrin(dir, "add card.qz --drum Kick \"a C3.wav\" b.wav").status, 2);  // one file only

  std::filesystem::create_directory(dir.path() / "out");
  const CommandRun ex = Tavrin(dir, "export card.qz --multi 1 out");
  ASSERT_EQ(ex.status, 0) << ex.err;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "out"), {}), 2);
  const CommandRun exDrum = Tavrin(dir, "export card.qz --drum 1 out");
  EXPECT_EQ(exDrum.status, 0) << exDrum.err;
  EXPECT_NE(Tavrin(dir, "export card.qz --drum 2 out").status, 0);
  EXPECT_NE(Tavrin(dir, "export card.qz --multi 0 out").status, 0);
}

constexpr std::size_t kFrames = 100;

// Every value a multiple of 256 so that 8-bit files hold it exactly, with full
// scale both ways and zero.
std::int16_t Value(int channel, std::size_t i) {
  if (i == 1) return -32768;
  if (i == 2) return channel == 0 ? 32512 : 0;
  const int step = channel == 0 ? 37 : 53, span = channel == 0 ? 255 : 181;
  return static_cast<std::int16_t>((static_cast<int>((i * step) % span) - span / 2) * 256);
}

struct Case {
  const char* options;  // output options
  const char* file;
  int channels;
  std::uint32_t rate;
  bool companded = false;  // G.711: within half a step
  Result result = kOk;
};

// Has the tool write the recording with the options, reads the file back and
// compares frame by frame with the channel values mixed in single precision.
void CheckCase(const TempDir& dir, const char* tool, const Case& c) {
  SCOPED_TRACE(::testing::Message() << tool << " " << c.options << " -> " << c.file);
  test::Bytes raw;
  for (std::size_t i = 0; i < kFrames * c.channels; ++i) raw.le16(Value(i % c.channels, i / c.channels));
  dir.Write(std::string(c.file) + ".raw", raw.b);
  const std::string out = dir.File(c.file);
  const std::string r = std::to_string(c.rate), n = std::to_string(c.channels);
  const std::string input =
      std::string(tool) == "sox" ? "sox -D -t raw -e signed -b 16 -L -r " + r + " -c " + n
                                 : "ffmpeg -nostdin -y -v error -f s16le -ar " + r + " -ac " + n + " -i";
  const std::string command = input + " \"" + c.file + ".raw\" " + c.options + " \"" + c.file + "\"";
  ASSERT_TRUE(MakeWithTool(dir, command, {c.file})) << command;
  DecodedAudio a;
  const bool wav = std::string(c.file).ends_with(".wav");
  ASSERT_EQ(wav ? ReadWav(out, a) : ReadAiff(out, a), c.result);
  if (c.result != kOk) return;
  EXPECT_EQ(a.sampleRate, c.rate);
  EXPECT_EQ(a.channelCount, 1u);
  ASSERT_EQ(a.frameCount(), kFrames);
  float peak = 0;
  for (std::size_t i = 0; i < kFrames; ++i) {
    const float l = Value(0, i) / 32768.0f, r = Value(1, i) / 32768.0f;
    const float e = c.channels == 1 ? l : (l + r) / 2.0f;
    if (std::fabs(e) > std::fabs(peak)) peak = e;
    if (c.companded) {
      // Steps are at most 1/16 of the magnitude of the larger channel.
      const double m = std::max(std::fabs(l), c.channels == 2 ? std::fabs(r) : 0.0f);
      ASSERT_NEAR(a.frames[i], e, m / 16.0 + 0.002) << "frame " << i;
    } else {
      ASSERT_EQ(a.frames[i], e) << "frame " << i;
    }
  }
  EXPECT_TRUE(c.companded || a.peak == peak) << a.peak << " vs " << peak;
  // And the whole import takes it: one sample, at the card's rate.
  Sound sound;
  ASSERT_EQ(ImportSampleFile(sound, out), kOk);
  EXPECT_EQ(static_cast<std::uint64_t>(sound.samples.at(0).frameCount()), kFrames * 31250ull / c.rate);
}

TEST(ToolMadeFiles, Sox) {
  if (!HaveTools("sox")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("sox"));
  TempDir dir;
  const Case cases[] = {
      {"-e unsigned -b 8", "u8.wav", 1, 44100},
      {"-e unsigned -b 8", "u8s.wav", 2, 22050},
      {"-e signed -b 16", "s16.wav", 1, 44100},
      {"-e signed -b 16", "s16s.wav", 2, 48000},
      {"-e signed -b 24", "s24s.wav", 2, 96000},  // written as extensible
      {"-e signed -b 32", "s32.wav", 1, 44100},   // extensible
      {"-e floating-point -b 32", "f32s.wav", 2, 44100},
      {"-e floating-point -b 64", "f64.wav", 1, 8000},
      {"-e a-law", "alaw.wav", 1, 8000, true},
      {"-e a-law", "alaws.wav", 2, 8000, true},
      {"-e u-law", "ulaw.wav", 2, 8000, true},
      {"-e signed -b 8", "s8.aiff", 2, 44100},
      {"-e signed -b 16", "s16.aiff", 1, 44100},
      {"-e signed -b 24", "s24.aif", 2, 48000},
      {"-e signed -b 32", "s32.aiff", 2, 22050},
      {"-t aifc -e signed -b 16", "none.aifc", 2, 44100},  // AIFC "NONE"
      {"-t aifc -e floating-point -b 32", "fl32.aifc", 2, 44100},
      {"-t aifc -e floating-point -b 64", "fl64.aifc", 1, 32000},
  };
  for (const Case& c : cases) CheckCase(dir, "sox", c);

  // A 1 kHz tone at 44100 Hz, imported, keeps its level relative to the peak.
  const std::string tone = dir.File("tone.wav");
  ASSERT_TRUE(MakeWithTool(dir, "sox -D -n -r 44100 -b 16 -c 1 tone.wav synth 0.5 sine 1000 vol 0.5", {"tone.wav"}));
  Sound sound;
  ASSERT_EQ(ImportSampleFile(sound, tone), kOk);
  const SampleData& s = sound.samples.at(0);
  EXPECT_EQ(s.frameCount(), 15625);
  float peak = 0;
  for (std::size_t i = 1000; i < 14000; ++i) peak = std::max(peak, std::fabs(s.frames[i]));
  EXPECT_NEAR(peak, 0.98855, 0.002);
}

TEST(ToolMadeFiles, Ffmpeg) {
  if (!HaveTools("ffmpeg")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("ffmpeg"));
  TempDir dir;
  const Case cases[] = {
      {"-c:a pcm_u8", "u8.wav", 2, 44100},
      {"-c:a pcm_s16le", "s16.wav", 1, 31250},
      {"-c:a pcm_s24le", "s24.wav", 2, 48000},  // extensible
      {"-c:a pcm_s32le", "s32.wav", 2, 44100},  // extensible
      {"-c:a pcm_f32le", "f32.wav", 1, 44100},
      {"-c:a pcm_f64le", "f64.wav", 2, 22050},  // extensible, float sub-format
      {"-c:a pcm_alaw", "alaw.wav", 2, 8000, true},
      {"-c:a pcm_mulaw", "ulaw.wav", 1, 8000, true},
      {"-c:a adpcm_ms", "adpcm.wav", 1, 44100, false, kBadFormat},
      {"-c:a pcm_s16be -f aiff", "s16.aiff", 2, 44100},
      {"-c:a pcm_s24be -f aiff", "s24.aiff", 1, 44100},
      {"-c:a pcm_s16le -f aiff", "sowt.aifc", 2, 44100},  // AIFC "sowt"
      {"-c:a pcm_s16be -tag:a twos -f aiff", "twos.aifc", 2, 48000},
      {"-c:a pcm_f32be -f aiff", "fl32.aifc", 2, 44100},
      {"-c:a pcm_f64be -f aiff", "fl64.aifc", 1, 44100},
      {"-c:a pcm_alaw -f aiff", "alaw.aifc", 2, 8000, true},
      {"-c:a pcm_mulaw -f aiff", "ulaw.aifc", 1, 8000, true},
      {"-c:a adpcm_ima_qt -f aiff", "ima4.aifc", 1, 44100, false, kBadFormat},
  };
  for (const Case& c : cases) CheckCase(dir, "ffmpeg", c);
}

}  // namespace
}  // namespace tavrin
