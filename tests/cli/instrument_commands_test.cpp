// The instrument commands run as a user would: listing a SoundFont, adding a
// preset, an SFZ instrument and a drum kit, all or nothing, and the .sfz
// export read back; the installed TimGM6mb when there is one.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "audio/sf2_bytes.h"
#include "card/card_file.h"
#include "support/command.h"
#include "support/skip.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;
using namespace tavrin::test;

class InstrumentCommands : public ::testing::Test {
 protected:
  CommandRun Run(const std::string& args) { return RunCommand(std::string(TAVRIN_CLI) + " " + args, dir_.File("err.txt")); }
  std::string Q(const std::string& name) { return "'" + dir_.File(name) + "'"; }
  CardDocument Card() {
    CardDocument doc;
    EXPECT_EQ(LoadCardFile(dir_.File("c.qz"), doc), kOk);
    return doc;
  }
  TempDir dir_;
};

// Two presets: 0:3 "Keys" over zones C2 (keys 0-47) and C4 (48-127) looped,
// and the kit 128:0 "Kit" with a sample on keys 36 and 38.
Sf2Build TwoPresets() {
  Sf2Build b = OneInstrument({{Range(43, 0, 47), {58, 36}, {53, 0}}, {Range(43, 48, 127), {54, 1}, {53, 1}}},
                             {{"Low", 0, 3000, 0, 0, 22050}, {"High", 3000, 6000, 3500, 5500, 22050, 60}}, 12000);
  b.presets[0] = {"Keys", 3, 0, b.presets[0].zones};
  b.presets.push_back({"Kit", 0, 128, {{{41, 1}}}});
  b.insts.push_back({"Drums", {{Range(43, 36, 36), {53, 2}}, {Range(43, 38, 38), {53, 3}}}});
  b.samples.push_back({"Kick", 6000, 8000, 0, 0, 31250});
  b.samples.push_back({"Snare", 8000, 12000, 0, 0, 31250});
  return b;
}

TEST_F(InstrumentCommands, ListAddAndDrums) {
  dir_.Write("f.sf2", TwoPresets().Build());
  CommandRun r = Run("instruments " + Q("f.sf2") + " --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("{\"bank\": 0, \"program\": 3, \"name\": \"Keys\", \"zones\": 2, \"loKey\": 0, \"hiKey\": 127, "
                       "\"bytes\": 17066}"),
            std::string::npos)
      << r.out;
  r = Run("add " + Q("c.qz") + " --multi Keys --from " + Q("f.sf2") + " --preset Keys --velocity 90");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("keys 48-127 (file 48-127): \"High\" root C4 transpose 0 loop 708-3543"), std::string::npos) << r.out;
  r = Run("add " + Q("c.qz") + " --drums --from " + Q("f.sf2") + " --preset 128:0 --keys 36-38");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("note: key 37: no zone of the preset plays it at velocity 100; left out"), std::string::npos);
  const CardDocument doc = Card();
  ASSERT_EQ(doc.multisounds.size(), 1u);
  ASSERT_EQ(doc.multisounds[0].samples.size(), 2u);
  EXPECT_EQ(doc.multisounds[0].samples[0].rootNote, 36);
  EXPECT_EQ(doc.multisounds[0].samples[0].topKey, 47);
  ASSERT_EQ(doc.drumsounds.size(), 2u);
  EXPECT_EQ(doc.drumsounds[1].name.view(), "Snare");

  // A damaged preset adds nothing: the card-file keeps its bytes.
  Sf2Build bad = TwoPresets();
  bad.samples[1].loopEnd = 9000;
  dir_.Write("bad.sf2", bad.Build());
  const auto before = ReadBytes(dir_.File("c.qz"));
  r = Run("add " + Q("c.qz") + " --multi X --from " + Q("bad.sf2") + " --preset 0:3");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("zone 2: the loop of sample \"High\" (3500 to 9000) lies outside the sample (3000 to 6000)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadBytes(dir_.File("c.qz")), before);
}

TEST_F(InstrumentCommands, SfzExportAddsBackAsTheSameSound) {
  dir_.Write("f.sf2", TwoPresets().Build());
  ASSERT_EQ(Run("add " + Q("c.qz") + " --multi Keys --from " + Q("f.sf2") + " --preset 0:3").status, 0);
  std::filesystem::create_directory(dir_.File("out"));
  CommandRun r = Run("export " + Q("c.qz") + " --multi 1 " + Q("out") + " --sfz");
  ASSERT_EQ(r.status, 0) << r.err;
  // One instrument of its regions: the preset's 17066 bytes less the 708 frames after High's loop.
  r = Run("instruments " + Q("out/Keys.sfz") + " --json");
  EXPECT_NE(r.out.find("{\"name\": \"Keys\", \"zones\": 2, \"loKey\": 0, \"hiKey\": 127, \"bytes\": 15650}"),
            std::string::npos) << r.out;
  r = Run("add " + Q("c.qz") + " --multi Back --from " + Q("out/Keys.sfz"));
  ASSERT_EQ(r.status, 0) << r.err;
  const CardDocument doc = Card();
  ASSERT_EQ(doc.multisounds.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const SampleData& a = doc.multisounds[0].samples[i];
    const SampleData& b = doc.multisounds[1].samples[i];
    EXPECT_EQ(b.rootNote, a.rootNote);
    EXPECT_EQ(b.topKey, a.topKey);
    EXPECT_EQ(b.loopFlags, a.loopFlags);
    EXPECT_EQ(b.markers.loop, a.markers.loop);
    EXPECT_EQ(b.markers.end, a.markers.end);
  }
}

TEST_F(InstrumentCommands, TimGM6mbPianoAndStringsAsTheFileSetsThem) {
  const std::string font = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  if (!std::filesystem::exists(font)) {
    TAVRIN_SKIP_GROUP("TimGM6mb SoundFont: not installed in " + font + "; scripts/setup.sh installs timgm6mb-soundfont");
  }
  ASSERT_EQ(Run("add " + Q("c.qz") + " --multi Piano --from " + font + " --preset 0:0").status, 0);
  CommandRun r = Run("add " + Q("c.qz") + " --multi Strings --from " + font + " --preset \"Strings CLP\"");
  ASSERT_EQ(r.status, 0) << r.err;
  const CardDocument doc = Card();
  ASSERT_EQ(doc.multisounds.size(), 2u);
  const auto& piano = doc.multisounds[0].samples;
  ASSERT_EQ(piano.size(), 9u);  // 33 zones over 9 samples
  // "Piano D1": 22050 Hz, loop 7647 to 9336, keys 0-38 at the file's root and tuning.
  EXPECT_EQ(piano[0].topKey, 38);
  EXPECT_EQ(piano[0].rootNote, 63);
  EXPECT_EQ(piano[0].transpose, -15);
  EXPECT_EQ(piano[0].markers.loop, 7647 * 31250 / 22050);
  EXPECT_EQ(piano[0].markers.end, 9336 * 31250 / 22050);
  EXPECT_EQ(piano.back().topKey, 108);
  // "Str1C4 L" and "R" mixed: 12000 Hz, loop 5938 to 29904, root C4, keys 0-67.
  const auto& strings = doc.multisounds[1].samples;
  ASSERT_EQ(strings.size(), 3u);
  const int tops[] = {67, 79, 127}, roots[] = {60, 72, 84};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(strings[i].topKey, tops[i]);
    EXPECT_EQ(strings[i].rootNote, roots[i]);
    EXPECT_EQ(strings[i].loopFlags, LoopFlags::kForward);
  }
  EXPECT_EQ(strings[0].markers.loop, 5938 * 31250 / 12000);
  EXPECT_EQ(strings[0].markers.end, 29904 * 31250 / 12000);
}

}  // namespace
}  // namespace tavrin
