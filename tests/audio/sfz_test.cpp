// The SFZ reader on text built in the test (headers and inheritance, #define,
// #include, note names, paths), its zones from WAV files the test writes, and
// the .sfz export read back into the same Sound.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "audio/audio_bytes.h"
#include "audio/sfz.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using namespace test;

#ifdef _WIN32
const std::string kSep = "\\";
#else
const std::string kSep = "/";
#endif

struct TextFiles : SfzFiles {
  std::map<std::string, std::string> files;
  Result Load(Utf8View path, std::vector<std::uint8_t>& out) override {
    auto it = files.find(std::string(path));
    if (it == files.end()) return kNotFound;
    out.assign(it->second.begin(), it->second.end());
    return kOk;
  }
};

Result Parse(std::map<std::string, std::string> texts, std::vector<SfzRegion>& regions, InstrumentReport& report) {
  TextFiles files;
  for (auto& [name, text] : texts) files.files["d" + kSep + name] = text;
  return ParseSfz("d" + kSep + "main.sfz", files, regions, report);
}

TEST(Sfz, HeadersDefinesNotesAndPaths) {
  std::vector<SfzRegion> r;
  InstrumentReport report;
  ASSERT_EQ(Parse({{"main.sfz",
                    "// a piano\n<control> default_path=samples\\ label_cc1=x\n#define $LOW 60\n"
                    "<global> lovel=10 <group> lokey=$LOW hikey=e4 tune=-7 /* block\n comment */\n"
                    "<region> sample=sub\\My Piano C4.wav volume=-3 ampeg_release=1\n"
                    "<region> sample=b.wav lokey=f4 volume=2 loop_mode=loop_continuous loop_start=10 loop_end=99\n"
                    "<group> <region> sample=c.wav key=C#3 offset=5 end=500\n#include \"more.sfz\"\n"},
                   {"more.sfz", "<region> sample=/abs/d.wav lokey=Bb-1 hikey=g9 pitch_keycenter=sample transpose=-2\n"
                                "<region> sample=rel.wav trigger=release\n<curve>\n"}},
                  r, report),
            kOk)
      << report.refusal.view();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].sample.view(), "d" + kSep + "samples" + kSep + "sub" + kSep + "My Piano C4.wav");
  EXPECT_EQ(r[0].where.view(), "region at line 6 of main.sfz");
  EXPECT_EQ(r[0].loKey, 60);
  EXPECT_EQ(r[0].hiKey, 64);
  EXPECT_EQ(r[0].tune, -7);
  EXPECT_EQ(r[0].loVel, 10);
  EXPECT_EQ(r[1].loKey, 65);
  EXPECT_EQ(r[1].loopMode, 1);
  EXPECT_EQ(r[1].loopStart, 10);
  EXPECT_EQ(r[1].loopEnd, 99);
  // A new group drops the old group's opcodes; the global ones stay.
  EXPECT_EQ(r[2].loKey, 49);
  EXPECT_EQ(r[2].hiKey, 49);
  EXPECT_EQ(r[2].keyCenter, 49);
  EXPECT_EQ(r[2].tune, 0);
  EXPECT_EQ(r[2].loVel, 10);
  EXPECT_EQ(r[2].offset, 5);
  EXPECT_EQ(r[2].end, 500);
  EXPECT_EQ(r[3].sample.view(), kSep + "abs" + kSep + "d.wav");
  EXPECT_EQ(r[3].loKey, 10);
  EXPECT_EQ(r[3].hiKey, 127);
  EXPECT_EQ(r[3].keyCenter, -1);
  EXPECT_EQ(r[3].transpose, -2);
  ASSERT_EQ(report.notes.size(), 2u);
  EXPECT_EQ(report.notes[0].view(), "region at line 2 of more.sfz plays on key release: left out");
  EXPECT_EQ(report.notes[1].view(), "5 opcodes this program does not use, left out: label_cc1, volume, ampeg_release, <curve>");
}

TEST(Sfz, Refusals) {
  const struct {
    std::map<std::string, std::string> files;
    const char* message;
  } rows[] = {
      {{{"main.sfz", "<region> sample=a.wav\n#include \"main.sfz\"\n"}}, "line 2 of main.sfz: #include \"main.sfz\" includes itself"},
      {{{"main.sfz", "#include \"b.sfz\""}, {"b.sfz", "\n#include \"main.sfz\""}}, "line 2 of b.sfz: #include \"main.sfz\" includes itself"},
      {{{"main.sfz", "#include \"nope.sfz\""}}, "line 1 of main.sfz: #include \"nope.sfz\" cannot be read"},
      {{{"main.sfz", "<region> sample=a.wav lokey=h4"}}, "region at line 1 of main.sfz: \"lokey=h4\" is not a note"},
      {{{"main.sfz", "<region> sample=a.wav loop_mode=forever"}}, "region at line 1 of main.sfz: \"loop_mode=forever\" is not a loop mode"},
      {{{"main.sfz", "<group> sample=a.wav"}}, "the .sfz has no region that plays a sample"},
      {{{"main.sfz", "#include \"a.sfz\""}, {"a.sfz", "#include \"b.sfz\"\n#include \"b.sfz\"\n#include \"b.sfz\""},
        {"b.sfz", "#include \"c.sfz\"\n#include \"c.sfz\"\n#include \"c.sfz\""},
        {"c.sfz", "#include \"d.sfz\"\n#include \"d.sfz\"\n#include \"d.sfz\""},
        {"d.sfz", "#include \"e.sfz\"\n#include \"e.sfz\"\n#include \"e.sfz\""},
        {"e.sfz", "#include \"f.sfz\"\n#include \"f.sfz\"\n#include \"f.sfz\""}, {"f.sfz", "<region> sample=x.wav"}},
       "line 1 of e.sfz: the .sfz and its #include files pass 256 files"},
  };
  for (const auto& row : rows) {
    std::vector<SfzRegion> r;
    InstrumentReport report;
    EXPECT_EQ(Parse(row.files, r, report), kBadFormat) << row.message;
    EXPECT_EQ(report.refusal.view(), row.message);
  }
}

// A sine; with a smpl chunk (unity note, loop 100 to 900) when unity >= 0.
ByteVec Wav(std::uint32_t rate, std::size_t frames, int unity) {
  Bytes data;
  for (std::size_t i = 0; i < frames; ++i) data.le16(static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(0.05 * i))));
  std::vector<ByteVec> chunks = {Fmt(1, 1, rate, 16)};
  if (unity >= 0) chunks.push_back(Smpl(static_cast<std::uint32_t>(unity), 0, {{0, 100, 900}}, {}));
  chunks.push_back(Data(data.b));
  Bytes body;
  body.tag("WAVE");
  for (const ByteVec& c : chunks) body.raw(c);
  return RiffChunk("RIFF", body.b, false);
}

TEST(Sfz, ZonesFromSampleFiles) {
  testing::TempDir dir;
  dir.Write("loop.wav", Wav(44100, 1000, 64));
  dir.Write("plain.wav", Wav(31250, 1000, -1));
  const std::string sfz = dir.File("i.sfz");
  struct Row {
    std::string text;
    Result code;
    std::string message;
    int root = 0, cents = 0;
    bool loop = false;
    std::uint64_t loopStart = 0, loopEnd = 0, frames = 0;
  };
  const Row rows[] = {
      {"<region> sample=loop.wav pitch_keycenter=sample tune=10 transpose=1", kOk, "", 64, 110, true, 100, 900, 1000},
      {"<region> sample=loop.wav offset=50 end=949 loop_mode=no_loop", kOk, "", 60, 0, false, 0, 0, 900},
      {"<region> sample=loop.wav offset=50 loop_start=60 loop_end=69", kOk, "", 60, 0, true, 10, 20, 950},
      {"<region> sample=plain.wav loop_mode=loop_continuous offset=10", kOk, "", 60, 0, true, 0, 990, 990},
      {"<region> sample=plain.wav hivel=50 <region> sample=loop.wav lovel=51 loop_mode=one_shot", kOk, "", 60, 0, false, 0, 0, 1000},
      {"<region> sample=gone.wav", kNotFound, "region at line 1 of i.sfz: the sample \"" + dir.File("gone.wav") + "\" is not there"},
      {"<region> sample=plain.wav offset=1000", kBadFormat, "region at line 1 of i.sfz: offset 1000 lies past the end of \"plain\" (1000 frames)"},
      {"<region> sample=loop.wav loop_end=1000", kBadFormat, "region at line 1 of i.sfz: the loop (100 to 1000) lies outside the sample's frames (0 to 999)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    testing::WriteBytes(sfz, ByteVec(row.text.begin(), row.text.end()));
    DiskSfzFiles files;
    std::vector<SfzRegion> regions;
    std::vector<InstrumentZone> zones;
    InstrumentReport report;
    ASSERT_EQ(ParseSfz(sfz, files, regions, report), kOk);
    ASSERT_EQ(SfzZones(regions, 100, zones, report), row.code);
    EXPECT_EQ(report.refusal.view(), row.message);
    if (row.code != kOk) continue;
    ASSERT_EQ(zones.size(), 1u);
    EXPECT_EQ(zones[0].rootNote, row.root);
    EXPECT_EQ(zones[0].cents, row.cents);
    EXPECT_EQ(zones[0].loopOn, row.loop);
    EXPECT_EQ(zones[0].loopStart, row.loopStart);
    EXPECT_EQ(zones[0].loopEnd, row.loopEnd);
    EXPECT_EQ(zones[0].audio.frames.size(), row.frames);
  }
}

TEST(Sfz, ExportReadsBackAsTheSameSound) {
  Sound sound;
  sound.name.assign("Str/ings");
  const struct {
    int root, top, transpose;
    bool loop;
  } rows[] = {{48, 55, -30, true}, {60, 67, 12, false}, {72, 127, 0, true}};
  for (const auto& row : rows) {
    SampleData s;
    s.name.assign("n" + std::to_string(row.root));
    for (int i = 0; i < 4000; ++i) s.frames.push_back(0.8f * static_cast<float>(std::sin(0.031 * i * row.root / 10.0)));
    s.rootNote = static_cast<std::uint8_t>(row.root);
    s.topKey = static_cast<std::uint8_t>(row.top);
    s.transpose = static_cast<std::int8_t>(row.transpose);
    s.markers = {0, 0, row.loop ? 1000 : 2000, row.loop ? 3000 : 4000};
    s.loopFlags = row.loop ? LoopFlags::kForward : 0;
    s.loopOn = row.loop;
    sound.samples.push_back(std::move(s));
  }
  testing::TempDir dir;
  ASSERT_EQ(ExportSfz(sound, dir.path().string()), kOk);
  DiskSfzFiles files;
  std::vector<SfzRegion> regions;
  std::vector<InstrumentZone> zones;
  InstrumentReport report;
  ASSERT_EQ(ParseSfz(dir.File("Strings.sfz"), files, regions, report), kOk);
  ASSERT_EQ(SfzZones(regions, 100, zones, report), kOk);
  Sound back;
  ASSERT_EQ(ImportZones(back, zones, report), kOk);
  EXPECT_TRUE(report.notes.empty());
  ASSERT_EQ(back.samples.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const SampleData& a = sound.samples[i];
    const SampleData& b = back.samples[i];
    EXPECT_EQ(b.rootNote, a.rootNote);
    EXPECT_EQ(b.topKey, a.topKey);
    EXPECT_EQ(b.transpose, a.transpose);
    EXPECT_EQ(b.loopFlags, a.loopFlags);
    EXPECT_EQ(b.markers.loop, a.loopOn ? a.markers.loop : b.frameCount() / 2);
    EXPECT_EQ(b.markers.end, a.markers.end);
    ASSERT_EQ(b.frames.size(), a.frames.size());
    double peak = 0, worst = 0;
    for (float f : a.frames) peak = std::max(peak, std::fabs(static_cast<double>(f)));
    for (std::size_t k = 0; k < a.frames.size(); ++k) worst = std::max(worst, std::fabs(b.frames[k] - a.frames[k] * (0.98855 / peak)));
    EXPECT_LT(worst, 0.001);  // the same frames at the import's level: far under 0.1 dB
  }
}

}  // namespace
}  // namespace tavrin
