// `tavrin analyze` and `tavrin add --detect-root --find-loop --crossfade` on
// generated WAV files, checked through the card-file they write.
#include <gtest/gtest.h>

#include "analysis/tones.h"
#include "audio/export.h"
#include "card/card_file.h"
#include "support/command.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

#ifdef TAVRIN_CLI_PATH
class AnalysisCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleData tone, noise;
    tone.frames = MakeTone(Shape::kSaw, NoteHz(69 - 0.30), {0.0, -200.0, 0.0, 1.5});  // A4, 30 cents flat
    noise.frames = MakeNoise(1.0, 5);
    tone.markers = {0, 0, -1, tone.frameCount()};
    noise.markers = {0, 0, -1, noise.frameCount()};
    ASSERT_EQ(WriteWavFile(tone, dir.File("tone.wav")), kOk);
    ASSERT_EQ(WriteWavFile(noise, dir.File("noise.wav")), kOk);
  }
  CommandRun Tavrin(const std::string& args) {
    return RunCommand("cd \"" + dir.path().string() + "\" && \"" TAVRIN_CLI_PATH "\" " + args, dir.File("stderr.txt"));
  }
  SampleData Added(std::size_t sound) {
    CardDocument doc;
    EXPECT_EQ(LoadCardFile(dir.File("c.qz"), doc), kOk);
    return sound < doc.multisounds.size() ? doc.multisounds[sound].samples.at(0) : SampleData{};
  }
  TempDir dir;
};

TEST_F(AnalysisCommands, AddDetectsRootAndFindsALoop) {
  CommandRun r = Tavrin("add c.qz --multi Plain tone.wav");
  ASSERT_EQ(r.status, 0) << r.err;
  const SampleData plain = Added(0);
  EXPECT_EQ(plain.rootNote, 12);  // without the options nothing changes
  EXPECT_FALSE(plain.loopOn);
  r = Tavrin("add c.qz --multi Tone tone.wav --detect-root --find-loop --crossfade 20");
  ASSERT_EQ(r.status, 0) << r.err;
  const SampleData s = Added(1);
  EXPECT_EQ(s.rootNote, 69);
  EXPECT_NEAR(s.transpose, 30, 1);
  EXPECT_TRUE(s.loopOn);
  EXPECT_EQ(s.loopFlags, LoopFlags::kForward);
  EXPECT_GT(s.markers.loop, 0);
  EXPECT_LT(s.markers.loop, s.markers.end);
  r = Tavrin("info c.qz --json");
  EXPECT_NE(r.out.find("\"rootNote\": 69"), std::string::npos) << r.out;
  r = Tavrin("add c.qz --multi Noise noise.wav --detect-root");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("no pitch found"), std::string::npos) << r.out;
  EXPECT_EQ(Added(2).rootNote, 12);
}

TEST_F(AnalysisCommands, RefusalsLeaveTheCardAlone) {
  for (const char* args : {"--drum D tone.wav --find-loop", "--multi M tone.wav --crossfade 20",
                           "--multi M tone.wav --find-loop --crossfade 0", "--multi M tone.wav --find-loop --crossfade"}) {
    const CommandRun r = Tavrin(std::string("add c.qz ") + args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.qz"))) << args;
  }
}

TEST_F(AnalysisCommands, AnalyzeReportsPitchAndLoops) {
  CommandRun r = Tavrin("analyze tone.wav --json");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* part : {"\"pitched\": true", "\"note\": 69", "\"noteName\": \"A4\"", "\"cents\": -30.", "\"seamErrorDb\": -"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << " in " << r.out;
  }
  r = Tavrin("analyze noise.wav");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("pitch: none found"), std::string::npos) << r.out;
  EXPECT_EQ(Tavrin("analyze missing.wav").status, 1);
}
#endif

}  // namespace
}  // namespace tavrin
