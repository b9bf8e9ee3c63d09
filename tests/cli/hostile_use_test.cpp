// The tool used as a careless or hostile user would: two updates of one card
// at once, outputs that name the input, pipes named like audio files, names
// that are not valid UTF-8.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../audio/audio_bytes.h"
#include "../card/card_test_util.h"
#include "card/card_file.h"
#include "card/card_image.h"
#include "support/command.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A mono 16-bit WAV at 31250 Hz of n frames.
void WriteWav(const std::string& path, std::uint32_t n) {
  test::Bytes pcm;
  for (std::uint32_t i = 0; i < n; ++i) pcm.le16((i % 64) * 400 - 12800);
  WriteBytes(path, test::Riff({test::Fmt(1, 1, 31250, 16), test::Data(pcm.b)}));
}

TEST(HostileUse, TwoAddsAtOnceLoseNothingAndReportTruly) {
  TempDir dir;
  CardDocument doc;
  AddMulti(doc, "Base").samples.push_back(RampSample(1000000));  // a 2 MB card: saves take a while
  ASSERT_EQ(SaveCardFile(dir.File("c.qz"), doc), kOk);
  WriteWav(dir.File("a.wav"), 3000);
  const std::string tool = std::string("'") + TAVRIN_CLI + "' add '" + dir.File("c.qz") + "' --multi ";
  std::size_t expected = 1;
  for (int round = 0; round < 6; ++round) {
    const std::string a = "A" + std::to_string(round), b = "B" + std::to_string(round);
    const std::string script = "(" + tool + a + " '" + dir.File("a.wav") + "' 2>/dev/null; echo $? > '" +
                               dir.File("sa") + "') & (" + tool + b + " '" + dir.File("a.wav") +
                               "' 2>/dev/null; echo $? > '" + dir.File("sb") + "') & wait";
    ASSERT_EQ(std::system(("bash -c \"" + script + "\"").c_str()), 0);
    const std::string sa = ReadText(dir.File("sa")), sb = ReadText(dir.File("sb"));
    CardDocument loaded;
    ASSERT_EQ(LoadCardFile(dir.File("c.qz"), loaded), kOk) << round;
    std::vector<std::string> names;
    for (const Sound& s : loaded.multisounds) names.emplace_back(s.name.view());
    const bool hasA = std::find(names.begin(), names.end(), a) != names.end();
    const bool hasB = std::find(names.begin(), names.end(), b) != names.end();
    EXPECT_EQ(sa == "0\n", hasA) << round << " status " << sa;
    EXPECT_EQ(sb == "0\n", hasB) << round << " status " << sb;
    expected += (hasA ? 1 : 0) + (hasB ? 1 : 0);
    EXPECT_EQ(loaded.multisounds.size(), expected) << round;
    EXPECT_TRUE(hasA && hasB) << round;  // the second writer waits its turn
  }
}

TEST(HostileUse, RefusalsLeaveTheCardAlone) {
  TempDir dir;
  CardDocument doc;
  AddMulti(doc, "Pad").samples.push_back(RampSample(50));
  ASSERT_EQ(SaveCardFile(dir.File("c.qz"), doc), kOk);
  const auto before = ReadBytes(dir.File("c.qz"));
  ASSERT_EQ(::mkfifo(dir.File("x.wav").c_str(), 0600), 0);
  const std::string card = "'" + dir.File("c.qz") + "'";
  const struct {
    std::string args;
    int status;
    const char* message;
  } rows[] = {
      {"image " + card + " " + card + " --layout wide", 1, "is the card-file itself"},
      {"image " + card + " '" + dir.path().string() + "/./c.qz' --layout file", 1, "is the card-file itself"},
      {"add " + card + " --multi P '" + dir.File("x.wav") + "'", 1, "x.wav: access denied"},
      {"import '" + dir.File("x.wav") + "' --json", 1, "access denied"},
      {"info '" + dir.File("x.wav") + "'", 1, "access denied"},
      {"info '" + std::string(5000, 'a') + "'", 1, "the path is empty, too long or not valid"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.args);
    const CommandRun run = RunCommand(std::string("timeout 20 ") + TAVRIN_CLI + " " + r.args, dir.File("err"));
    EXPECT_EQ(run.status, r.status);
    EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(dir.File("c.qz")), before);
  }
}

TEST(HostileUse, JsonIsValidUtf8WhateverTheCardName) {
  TempDir dir;
  const std::vector<std::vector<std::uint8_t>> names = {
      {0xED, 0xA0, 0x80}, {0xE0, 0x80, 0x80}, {0xF4, 0x90, 0x80, 0x80}, {0xC3, 0xA4}};
  const std::vector<std::string> expected = {"\\ufffd\\ufffd\\ufffd", "\\ufffd\\ufffd\\ufffd",
                                             "\\ufffd\\ufffd\\ufffd\\ufffd", "\xC3\xA4"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    CardDocument doc;
    AddMulti(doc, "Pad").samples.push_back(RampSample(8));
    CardImage image;
    ASSERT_EQ(BuildCardImage(doc, CardLayout::File, image), kOk);
    for (std::size_t k = 0; k < 10; ++k) image[6 + k] = k < names[i].size() ? names[i][k] : ' ';
    WriteBytes(dir.File("n.qz"), image);
    const std::string args = " info '" + dir.File("n.qz") + "' --json";
    const CommandRun run = RunCommand(TAVRIN_CLI + args, dir.File("err"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"name\": \"" + expected[i] + "\""), std::string::npos) << i << run.out;
  }
}

}  // namespace
}  // namespace tavrin
