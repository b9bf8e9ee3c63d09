// Runs the built tavrin tool on card-files as a user would.
#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "../card/card_test_util.h"
#include "card/card_file.h"
#include "card/card_image.h"
#include "support/command.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

class CardCommands : public ::testing::Test {
 protected:
  // Runs the tool with `args` and collects its exit status, standard output and error output.
  CommandRun Run(const std::string& args) {
    return RunCommand(std::string(TAVRIN_CLI) + " " + args, dir_.File("stderr.txt"));
  }
  std::string Q(const std::string& name) { return "'" + dir_.File(name) + "'"; }
  // Saves a card with one 100-frame sample as c.qz.
  CardDocument SaveSmallCard() {
    CardDocument doc;
    AddMulti(doc, "M").samples.push_back(RampSample(100));
    EXPECT_EQ(SaveCardFile(dir_.File("c.qz"), doc), kOk);
    return doc;
  }
  TempDir dir_;
};

TEST_F(CardCommands, NewWritesAnEmptyCardAndNeverReplacesOne) {
  CommandRun r = Run("new " + Q("a.qz") + " --name MyCardNameIsLong");
  ASSERT_EQ(r.status, 0) << r.err;
  CardDocument doc;
  ASSERT_EQ(LoadCardFile(dir_.File("a.qz"), doc), kOk);
  EXPECT_EQ(doc.name.view(), "MyCardName");  // cut as the card stores names
  const auto before = ReadBytes(dir_.File("a.qz"));
  r = Run("new " + Q("a.qz"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(dir_.File("a.qz")), before);
  r = Run("new " + Q("a.qz") + " --force");
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(LoadCardFile(dir_.File("a.qz"), doc), kOk);
  EXPECT_EQ(doc.name.view(), "Corvask");
}

TEST_F(CardCommands, InfoJsonHasEveryField) {
  CardDocument doc;
  doc.name.assign("Js\"on");
  SampleData s = MakeSample({0, 16384, -32767, 5}, 1, 61);
  s.transpose = -7;
  s.loopFlags = 5;
  AddMulti(doc, "Piano").samples.push_back(s);
  AddDrum(doc, "Kick").samples.push_back(MakeSample({1, 2}));
  ASSERT_EQ(SaveCardFile(dir_.File("c.qz"), doc), kOk);
  CommandRun r = Run("info " + Q("c.qz") + " --json --frames");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* key :
       {"\"name\": \"Js\\\"on\"", "\"multisounds\"", "\"drumsounds\"", "\"soundType\": \"Multisound\"",
        "\"waveType\": \"PCM\"", "\"samples\"", "\"name\": \"Piano C#4\"", "\"start\": 0", "\"loop\": 1",
        "\"end\": 4", "\"loopFlags\": 5", "\"rootNote\": 61", "\"topKey\": 96", "\"transpose\": -7",
        "\"transposeValid\": true", "\"nonTranspose\": false", "\"level\": 0", "\"vdfCutoff\": 0",
        "\"decayLevel\": 0", "\"zoneAttribute\": 5", "\"sampleAttribute\": 0", "\"snapshots\": [",
        "\"frameCount\": 4", "\"frames16\": [0, 16384, -32767, 5]", "\"statistics\"", "\"cardSize\": ",
        "\"sampleCount\": 2", "\"dwgsMultisoundCount\": 0", "\"pcmMultisoundCount\": 1",
        "\"soundType\": \"Drumsound\""}) {
    EXPECT_NE(r.out.find(key), std::string::npos) << key << "\n" << r.out;
  }
  r = Run("info " + Q("c.qz"));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Piano C#4"), std::string::npos);
}

TEST_F(CardCommands, InfoReportsLoadFailuresInWords) {
  CommandRun r = Run("info " + Q("missing.qz"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("missing.qz"), std::string::npos);
  EXPECT_NE(r.err.find("File not found"), std::string::npos) << r.err;
  WriteBytes(dir_.File("junk.qz"), {1, 2, 3, 4, 5, 6, 7, 8});
  r = Run("info " + Q("junk.qz"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Invalid file format"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}

TEST_F(CardCommands, ImageInEveryLayout) {
  const CardDocument doc = SaveSmallCard();
  const std::pair<const char*, CardLayout> layouts[] = {
      {"file", CardLayout::File}, {"card", CardLayout::Card}, {"wide", CardLayout::WideCard}};
  for (auto [name, layout] : layouts) {
    CommandRun r = Run("image " + Q("c.qz") + " " + Q("out.bin") + " --layout " + name + " --capacity 65536");
    ASSERT_EQ(r.status, 0) << r.err;
    CardDocument copy = doc;
    copy.cardCapacity = 65536;
    EXPECT_EQ(ReadBytes(dir_.File("out.bin")), Build(copy, layout)) << name;
  }
  EXPECT_EQ(Run("image " + Q("c.qz") + " " + Q("def.bin") + " --layout card").status, 0);
  EXPECT_EQ(std::filesystem::file_size(dir_.path() / "def.bin"), 524288u);
  EXPECT_EQ(Run("image " + Q("c.qz") + " " + Q("x.bin") + " --layout sideways").status, 2);
}

TEST_F(CardCommands, ImageTooLargeForTheCapacityWritesNothing) {
  SaveSmallCard();
  CommandRun r = Run("image " + Q("c.qz") + " " + Q("out.bin") + " --layout card --capacity 100");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Too much data for the card (Current Size: 302 Byte, Maximum Size: 100 Byte)"),
            std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "out.bin"));
}

}  // namespace
}  // namespace tavrin
