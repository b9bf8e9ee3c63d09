// The sample commands of the command-line tool, run as a user would.
#include <gtest/gtest.h>

#include "support/skip.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "audio/audio_bytes.h"
#include "audio/temp_dir.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace tavrin {
namespace {

#if defined(TAVRIN_CLI_PATH) && !defined(_WIN32)
constexpr bool kHaveCli = true;
constexpr const char* kCli = TAVRIN_CLI_PATH;
#else
constexpr bool kHaveCli = false;
constexpr const char* kCli = "";
#endif

struct Output {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Output Tavrin(const test::TempDir& dir, const std::string& args) {
  Output o;
  const std::string outPath = dir.File("stdout.txt");
  const std::string errPath = dir.File("stderr.txt");
  const std::string command = "cd \"" + dir.path().string() + "\" && \"" + kCli + "\" " + args + " >\"" + outPath +
                              "\" 2>\"" + errPath + "\"";
  const int raw = std::system(command.c_str());
#ifdef _WIN32
  o.status = raw;
#else
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  o.out = Slurp(outPath);
  o.err = Slurp(errPath);
  return o;
}

std::vector<std::uint8_t> Wav(std::uint32_t rate, std::initializer_list<int> values) {
  return test::Riff({test::Fmt(1, 1, rate, 16), test::RiffChunk("data", test::Pcm16(values))});
}

TEST(Cli, ImportJson) {
  if (!kHaveCli) TAVRIN_SKIP_GROUP("command-line tool runs: not run from the Windows test build (the native build runs them)");
  test::TempDir dir;
  dir.Write("Bell A4.wav", Wav(31250, {16384, -8192, 0, 4096}));
  const Output o = Tavrin(dir, "import \"Bell A4.wav\" --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("\"name\": \"Bell A4\""), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("\"rootNote\": 69"), std::string::npos);
  EXPECT_NE(o.out.find("\"topKey\": 80"), std::string::npos);
  EXPECT_NE(o.out.find("\"start\": 0, \"loop\": 2, \"end\": 4"), std::string::npos);
  EXPECT_NE(o.out.find("\"frameCount\": 4"), std::string::npos);
  EXPECT_NE(o.out.find("\"snapshots\": ["), std::string::npos);
  // Frames as floats: 0.5 normalised to -0.1 dBFS, then -0.25 and 0 scaled alike.
  EXPECT_NE(o.out.find("\"frames\": [0.98855"), std::string::npos) << o.out;

  const Output drum = Tavrin(dir, "import \"Bell A4.wav\" --json --drum");
  ASSERT_EQ(drum.status, 0);
  EXPECT_NE(drum.out.find("\"loop\": -1"), std::string::npos);

  const Output missing = Tavrin(dir, "import nothing.wav --json");
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.err.find("nothing.wav"), std::string::npos);
  EXPECT_NE(missing.err.find("file not found"), std::string::npos);
  EXPECT_TRUE(missing.out.empty());
}

TEST(Cli, AddReportsFailuresKeepsTheRestAndExports) {
  if (!kHaveCli) TAVRIN_SKIP_GROUP("command-line tool runs: not run from the Windows test build (the native build runs them)");
  test::TempDir dir;
  dir.Write("a C3.wav", Wav(31250, {100, 200, 300}));
  dir.Write("b.wav", Wav(44100, {1000, -1000, 1000, -1000, 1000, -1000, 1000, -1000, 1000, -1000}));
  auto cut = Wav(31250, {1, 2, 3, 4});
  cut.resize(cut.size() - 2);
  cut[4] = static_cast<std::uint8_t>(cut.size() - 8);
  dir.Write("cut.wav", cut);
  dir.Write("notes.txt", {1, 2, 3});

  // One failing file adds nothing; --keep-going adds the others.
  const char* sources = " --multi \"Strings Ensemble\" \"a C3.wav\" missing.wav cut.wav notes.txt b.wav";
  EXPECT_EQ(Tavrin(dir, std::string("add card.qz") + sources).status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "card.qz"));
  EXPECT_EQ(Tavrin(dir, std::string("add card.qz --bogus") + sources).status, 2);
  const Output o = Tavrin(dir, std::string("add card.qz") + sources + " --keep-going");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("missing.wav: file not found"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("cut.wav: the file is incomplete"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("notes.txt: unsupported format"), std::string::npos) << o.err;
  ASSERT_TRUE(std::filesystem::exists(dir.path() / "card.qz"));

  const Output info = Tavrin(dir, "info card.qz --json");
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("\"name\": \"Strings En\""), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"sampleCount\": 2"), std::string::npos) << info.out;

  // Adding only failures leaves the card-file as it was.
  const auto before = test::ReadAll(dir.File("card.qz"));
  const Output none = Tavrin(dir, "add card.qz --drum Kick missing.wav");
  EXPECT_NE(none.status, 0);
  EXPECT_EQ(test::ReadAll(dir.File("card.qz")), before);
  const Output noCard = Tavrin(dir, "add other.qz --drum Kick missing.wav");
  EXPECT_NE(noCard.status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "other.qz"));

  // A drumsound of one file, and success.
  const Output drum = Tavrin(dir, "add card.qz --drum Kick b.wav");
  EXPECT_EQ(drum.status, 0) << drum.err;
  EXPECT_EQ(Tavrin(dir, "add card.qz --drum Kick \"a C3.wav\" b.wav").status, 2);  // one file only

  std::filesystem::create_directory(dir.path() / "out");
  const Output ex = Tavrin(dir, "export card.qz --multi 1 out");
  ASSERT_EQ(ex.status, 0) << ex.err;
  std::size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() / "out")) files += e.path().extension() == ".wav";
  EXPECT_EQ(files, 2u);
  const Output exDrum = Tavrin(dir, "export card.qz --drum 1 out");
  EXPECT_EQ(exDrum.status, 0) << exDrum.err;
  EXPECT_NE(Tavrin(dir, "export card.qz --drum 2 out").status, 0);
  EXPECT_NE(Tavrin(dir, "export card.qz --multi 0 out").status, 0);
}

}  // namespace
}  // namespace tavrin
