// `tavrin analyze` and `tavrin add --detect-root --find-loop --crossfade` on
// generated WAV files, checked through the card-file and `info --json`.
#include <gtest/gtest.h>

#include "analysis/tones.h"
#include "audio/export.h"
#include "card/card_file.h"
#include "support/command.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

#ifdef TAVRIN_CLI_PATH
TEST(AnalysisCommands, AddAppliesPitchAndLoopOnlyWhenAskedAnalyzeReportsThem) {
  TempDir dir;
  SampleData tone, noise;
  tone.frames = MakeTone(Shape::kSaw, NoteHz(69 - 0.30), {0.0, -200.0, 0.0, 1.5});  // A4, 30 cents flat
  noise.frames = MakeTone(Shape::kNoise, 0.0, {});
  tone.markers = {0, 0, -1, tone.frameCount()}, noise.markers = {0, 0, -1, noise.frameCount()};
  ASSERT_EQ(WriteWavFile(tone, dir.File("tone.wav")) | WriteWavFile(noise, dir.File("noise.wav")), kOk);
  auto tavrin = [&](const std::string& args) {
    return RunCommand("cd \"" + dir.path().string() + "\" && \"" TAVRIN_CLI_PATH "\" " + args, dir.File("stderr.txt"));
  };
  ASSERT_EQ(tavrin("add c.qz --multi Plain tone.wav").status, 0);
  ASSERT_EQ(tavrin("add c.qz --multi Tone tone.wav --detect-root --find-loop --crossfade 20").status, 0);
  ASSERT_EQ(tavrin("add c.qz --drum Drum tone.wav --find-loop").status, 0);
  const CommandRun unpitched = tavrin("add c.qz --multi Noise noise.wav --detect-root");
  EXPECT_NE(unpitched.out.find("no pitch found"), std::string::npos) << unpitched.out;
  for (const char* refused : {"--drum D tone.wav --detect-root", "--multi M tone.wav --crossfade 20",
                              "--multi M tone.wav --find-loop --crossfade 0", "--multi M tone.wav --find-loop --crossfade"}) {
    EXPECT_EQ(tavrin(std::string("add c.qz ") + refused).status, 2) << refused;
  }
  CardDocument doc;
  ASSERT_EQ(LoadCardFile(dir.File("c.qz"), doc), kOk);
  ASSERT_EQ(doc.multisounds.size(), 3u);
  const SampleData& plain = doc.multisounds[0].samples.at(0);
  const SampleData& s = doc.multisounds[1].samples.at(0);
  EXPECT_TRUE(plain.rootNote == 12 && !plain.loopOn && doc.multisounds[2].samples.at(0).rootNote == 12);
  EXPECT_TRUE(s.rootNote == 69 && std::abs(s.transpose - 30) <= 1) << int{s.transpose};
  EXPECT_TRUE(s.loopOn && s.loopFlags == LoopFlags::kForward && s.markers.loop > 0 && s.markers.loop < s.markers.end);
  EXPECT_NE(tavrin("info c.qz --json").out.find("\"rootNote\": 69"), std::string::npos);
  const SampleData& drum = doc.drumsounds.at(0).samples.at(0);  // not the import's 5 frames at the end
  EXPECT_TRUE(drum.loopOn && drum.markers.end - drum.markers.loop > 5);
  const CommandRun r = tavrin("analyze tone.wav --json");
  for (const char* part : {"\"pitched\": true", "\"note\": 69", "\"noteName\": \"A4\"", "\"cents\": -30.", "\"seamErrorDb\": -"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << " in " << r.out;
  }
  EXPECT_NE(tavrin("analyze noise.wav").out.find("pitch: none found"), std::string::npos);
  EXPECT_EQ(tavrin("analyze missing.wav").status, 1);
}
#endif

}  // namespace
}  // namespace tavrin
