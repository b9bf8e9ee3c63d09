#include "card/card_file.h"

#include <string>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "base/file_io.h"
#include "card/card_image.h"
#include "card_test_util.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

// A card with every kind of content: PCM multisounds, DWGS sets, drums, parameters at their extremes,
// and every sample value (which also puts later blocks past 16-bit addresses).
CardDocument RichCard() {
  CardDocument doc;
  doc.name.assign("RichCard");
  SampleData a = MakeSample({0, 32767, -32768, -1, 1, 12345, -12345, 100}, 3, 48);
  a.topKey = 55;
  a.transpose = -120;
  a.level = -99;
  a.vdfCutoff = -50;
  a.decayLevel = 50;
  a.zoneAttribute = 0xA5;
  a.loopFlags = 0x0D;
  a.loopOn = true;
  a.markers.sampleAttribute = 0xBEEF;
  SampleData b = RampSample(50, 7, 72);
  b.nonTranspose = true;
  b.transpose = 120;
  AddMulti(doc, "Piano").samples = {a, b};
  AddMulti(doc, "Empty1", WaveType::DWGS);  // empty sounds are not stored
  AddDwgsWaves(AddMulti(doc, "Saw", WaveType::DWGS), 1);
  AddMulti(doc, "Empty2", WaveType::DWGS);
  AddDwgsWaves(AddMulti(doc, "Square", WaveType::DWGS), 2);
  AddMulti(doc, "Empty3");
  std::vector<int> all;
  for (int v = -32768; v <= 32767; ++v) all.push_back(v);
  AddMulti(doc, "All").samples.push_back(MakeSample(all));
  SampleData k = RampSample(30, 300, 36);
  k.markers.loop = 25;
  k.loopFlags = 4;
  k.loopOn = true;
  AddDrum(doc, "Kick").samples = {k, RampSample(5)};  // a drumsound keeps only its first sample
  AddDrum(doc, "Snare").samples.push_back(MakeSample({-5, 5, -5}, 0, 38));
  AddDrum(doc, "Empty4");
  return doc;
}

// What loading gives of a sample, but its name.
auto Loaded(const SampleData& s) {
  return std::tuple(s.frames, s.markers.start, s.markers.loop, s.markers.end, s.markers.sampleAttribute,
                    s.loopFlags, s.loopOn, s.rootNote, s.topKey, s.transpose, s.nonTranspose,
                    s.transposeValid, s.level, s.vdfCutoff, s.decayLevel, s.zoneAttribute);
}

class CardFile : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::string path_ = dir_.File("card.qz");
};

TEST_F(CardFile, SaveLoadRoundTrip) {
  CardDocument doc = RichCard();
  doc.modified = true;
  SaveReport outcome;
  ASSERT_EQ(SaveCardFile(path_, doc, &outcome), kOk);
  EXPECT_EQ(outcome.soundsLeftOut, 4u);
  EXPECT_FALSE(doc.modified);
  CardDocument loaded;
  loaded.cardCapacity = 1234;
  loaded.modified = true;
  ASSERT_EQ(LoadCardFile(path_, loaded), kOk);
  EXPECT_FALSE(loaded.modified);
  EXPECT_EQ(loaded.cardCapacity, 1234u);
  EXPECT_EQ(loaded.name.view(), "RichCard");
  // The loaded document builds the very image that was saved (the save reordered the document).
  const auto plain = Build(doc);
  EXPECT_EQ(Build(loaded), plain);
  std::erase_if(doc.multisounds, [](const Sound& s) { return s.samples.empty(); });
  ASSERT_EQ(loaded.multisounds.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    const Sound& l = loaded.multisounds[i];
    const Sound& s = doc.multisounds[i];
    EXPECT_EQ(l.name.view(), s.name.view());
    EXPECT_EQ(l.waveType, s.waveType);
    ASSERT_EQ(l.samples.size(), s.samples.size());
    for (std::size_t j = 0; j < s.samples.size(); ++j) {
      EXPECT_EQ(Loaded(l.samples[j]), Loaded(s.samples[j])) << i << " " << j;
      const std::string note(NoteName(s.samples[j].rootNote));
      EXPECT_EQ(l.samples[j].name.view(), std::string(s.name.view()) + " " + note);
    }
  }
  // A drumsound has no zone record: its zone parameters load as a new sample's.
  ASSERT_EQ(loaded.drumsounds.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_EQ(loaded.drumsounds[i].samples.size(), 1u);
    SampleData s = doc.drumsounds[i].samples[0];
    s.rootNote = 12;
    EXPECT_EQ(Loaded(loaded.drumsounds[i].samples[0]), Loaded(s)) << i;
    EXPECT_EQ(loaded.drumsounds[i].name.view(), doc.drumsounds[i].name.view());
    EXPECT_EQ(loaded.drumsounds[i].samples[0].name.view(), doc.drumsounds[i].name.view());
  }
  // Scrambled with any byte, or not at all, the image loads.
  for (std::uint8_t key : {0x00, 0x21, 0xC4}) {
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(EncodeCardFile(doc, key, bytes), kOk);
    ASSERT_EQ(bytes.size(), plain.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], plain[i] ^ key) << i;
    ASSERT_EQ(ParseCardFile(bytes, loaded), kOk);
    EXPECT_EQ(Build(loaded), plain);
  }
  // A card without a name is stored as spaces and loads without one.
  doc.name.assign("");
  std::vector<std::uint8_t> unnamed;
  ASSERT_EQ(EncodeCardFile(doc, 0, unnamed), kOk);
  ASSERT_EQ(ParseCardFile(unnamed, loaded), kOk);
  EXPECT_EQ(loaded.name.view(), "");
}

TEST_F(CardFile, LoadedSamplesAreTrimmedToTheirMarkers) {
  CardDocument doc;
  SampleData s = RampSample(1000);
  s.markers = {0, 100, 500, 900};
  AddMulti(doc, "T").samples.push_back(s);
  // Later DWGS sets are found at the end of the first set's last wave, even when its waves start late.
  AddDwgsWaves(AddMulti(doc, "A", WaveType::DWGS), 1);
  AddDwgsWaves(AddMulti(doc, "B", WaveType::DWGS), 2);
  AddDwgsWaves(AddMulti(doc, "C", WaveType::DWGS), 3);
  for (SampleData& w : doc.multisounds[1].samples) w.markers.loop = w.markers.start;
  CardDocument loaded;
  ASSERT_EQ(ParseCardFile(Build(doc), loaded), kOk);
  const SampleData& l = loaded.multisounds[0].samples[0];
  EXPECT_EQ(l.markers, (MarkerSet{0, 0, 400, 800}));
  EXPECT_EQ(l.frames, std::vector<float>(s.frames.begin() + 100, s.frames.begin() + 900));
  ASSERT_EQ(loaded.multisounds.size(), 4u);
  for (std::size_t k = 2; k <= 3; ++k) {
    ASSERT_EQ(loaded.multisounds[k].samples.size(), 8u);
    for (std::size_t j = 0; j < 8; ++j) {
      // From the shared record's loop on, in this set's own data.
      const std::vector<float>& frames = doc.multisounds[k].samples[j].frames;
      const std::int64_t from = doc.multisounds[1].samples[j].markers.loop;
      const std::vector<float> expected(frames.begin() + static_cast<std::ptrdiff_t>(from), frames.end());
      ASSERT_EQ(loaded.multisounds[k].samples[j].frames, expected) << k << " " << j;
    }
  }
}

// Every cut and every corrupted field of a saved image gives the exact result and a fresh document.
TEST_F(CardFile, CorruptedImages) {
  CardDocument doc;
  doc.name.assign("Good");
  AddMulti(doc, "M").samples.push_back(RampSample(20));
  AddDrum(doc, "D").samples.push_back(RampSample(10));
  const auto good = Build(doc);
  for (std::size_t n = 0; n < good.size(); ++n) {
    CardDocument out;
    ASSERT_EQ(ParseCardFile(std::span(good.data(), n), out), kBadFormat) << n;
  }
  const std::size_t multi = 2 * Le32(good, 16), drum = 2 * Le32(good, 24);
  const std::size_t zone = 2 * Le32(good, 32), sample = 2 * Le32(good, 40);
  struct Field {
    const char* what;
    std::size_t offset;
    std::uint16_t value;
    std::uint8_t key = 0;  // scrambled with this byte after the change
  };
  const Field fields[] = {
      {"format word of a wide card", 4, 0x1F},
      {"signature", 0, 'K' | 'N' << 8},
      {"signature of a scrambled image", 0, 'K' | 'N' << 8, 'K'},
      {"zone count past the zone table", multi + 2, 0x0200},
      {"sample index past the sample table", zone, 2},
      {"drumsound's sample index", drum, 7},
      {"PCM start address below 2", sample + 2, 1},
      {"loop past end", sample + 6, 0xFFFF},
      {"end past the file", sample + 10, 0xFFF0},
      {"multisound table past the file", 16, 0xFFFF},
      {"too many multisound records", 20, 0xFFFF},
  };
  for (const Field& f : fields) {
    auto bad = good;
    bad[f.offset] = static_cast<std::uint8_t>(f.value);
    bad[f.offset + 1] = static_cast<std::uint8_t>(f.value >> 8);
    for (auto& b : bad) b ^= f.key;
    CardDocument out;
    EXPECT_EQ(ParseCardFile(bad, out), kBadFormat) << f.what;
    EXPECT_EQ(out.name.view(), "Corvask") << f.what;
  }
  CardDocument out;
  EXPECT_EQ(ParseCardFile(good, out), kOk);
}

TEST(CardFileLoad, ZonesSharingOneSampleBeyondReasonAreRefused) {
  // One 1000-frame sample and 19 one-frame ones; then every zone is made to
  // name the big one: 20000 frames from a file of about 2.6 KB.
  CardDocument doc;
  Sound& m = AddMulti(doc, "Shared");
  m.samples.push_back(RampSample(1000, 1, 0));
  for (int i = 1; i < 20; ++i) m.samples.push_back(RampSample(1, 5, static_cast<std::uint8_t>(i)));
  CardImage image;
  ASSERT_EQ(BuildCardImage(doc, CardLayout::File, image), kOk);
  CardDocument loaded;
  ASSERT_EQ(ParseCardFile(image, loaded), kOk);
  const std::uint32_t zonePos = Le32(image, 32);
  for (std::size_t j = 0; j < 20; ++j) {
    image[2 * zonePos + 10 * j] = 0;
    image[2 * zonePos + 10 * j + 1] = 0;
  }
  EXPECT_EQ(ParseCardFile(image, loaded), kBadFormat);
  // Sharing within bounds still loads: four zones on the big sample.
  for (std::size_t j = 4; j < 20; ++j) image[2 * zonePos + 10 * j] = static_cast<std::uint8_t>(j);
  EXPECT_EQ(ParseCardFile(image, loaded), kOk);
}

TEST(CardFileText, LoadFailureReasons) {
  const std::pair<Result, const char*> reasons[] = {
      {6, "The file is incomplete"}, {13, "Invalid file format"}, {20, "File not found"},
      {22, "The file is too big to load"}, {29, "The file is too new for this software-version"},
      {8, "Inconsistent file"}, {1, "Inconsistent file"}};
  for (auto [code, text] : reasons) EXPECT_EQ(LoadFailureReason(code), text) << code;
}

// Fails the first call of one kind of file operation.
struct FailFirst : FileFaultHook {
  FileOp op;
  Result code;
  FailFirst(FileOp o, Result c) : op(o), code(c) { SetFileFaultHook(this); }
  ~FailFirst() override { SetFileFaultHook(nullptr); }
  Result Check(FileOp o) override { return o == op ? std::exchange(code, kOk) : kOk; }
};

TEST_F(CardFile, FailedSaveKeepsTheOldFileAndLeavesNoStrayFile) {
  CardDocument old = RichCard();
  ASSERT_EQ(SaveCardFile(path_, old), kOk);
  const auto oldBytes = ReadBytes(path_);
  EXPECT_NE(oldBytes[0], 'K');  // scrambled with a nonzero byte
  const std::pair<FileOp, Result> faults[] = {{FileOp::kOpenWrite, kAccessDenied},
                                              {FileOp::kWrite, kDiskFull},
                                              {FileOp::kFlush, kDataError},
                                              {FileOp::kReplace, kAccessDenied}};
  for (auto [op, code] : faults) {
    CardDocument doc;
    doc.modified = true;
    FailFirst fail(op, code);
    EXPECT_EQ(SaveCardFile(path_, doc), code);
    EXPECT_TRUE(doc.modified);
    EXPECT_EQ(ReadBytes(path_), oldBytes);
    EXPECT_EQ(dir_.Entries().size(), 1u);
  }
  CardDocument doc;
  doc.modified = true;
  EXPECT_EQ(SaveCardFile(dir_.File("no/such/folder/card.qz"), doc), kNotFound);
  EXPECT_EQ(SaveCardFile("", doc), kInvalidArgument);
  EXPECT_TRUE(doc.modified);
}

TEST_F(CardFile, FailedLoadReportsTheCauseAndLeavesTheDocumentAsItWas) {
  CardDocument doc;
  ASSERT_EQ(SaveCardFile(path_, doc), kOk);
  AddMulti(doc, "M").samples.push_back(RampSample(20));
  auto bytes = Build(doc);
  bytes[2 * Le32(bytes, 16) + 3] = 9;  // zone count past the zone table
  WriteBytes(dir_.File("bad.qz"), bytes);
  bytes = Build(doc);
  bytes.resize(16777216 + 1, 0);  // padding after the tables is never read
  WriteBytes(dir_.File("big.qz"), bytes);
  doc.name.assign("Previous");
  doc.modified = true;
  EXPECT_EQ(LoadCardFile(dir_.File("bad.qz"), doc), kBadFormat);
  EXPECT_EQ(LoadCardFile(dir_.File("big.qz"), doc), kFileTooLarge);
  EXPECT_EQ(LoadCardFile(dir_.File("missing.qz"), doc), kNotFound);
  EXPECT_EQ(LoadCardFile("", doc), kInvalidArgument);
  for (FileOp op : {FileOp::kOpenRead, FileOp::kSize, FileOp::kRead}) {
    FailFirst fail(op, kDataError);
    EXPECT_EQ(LoadCardFile(path_, doc), kDataError);
  }
  EXPECT_EQ(doc.name.view(), "Previous");
  EXPECT_TRUE(doc.modified);
  EXPECT_EQ(doc.multisounds.size(), 1u);
  bytes.pop_back();  // the largest file that loads
  WriteBytes(dir_.File("big.qz"), bytes);
  EXPECT_EQ(LoadCardFile(dir_.File("big.qz"), doc), kOk);
  EXPECT_EQ(doc.name.view(), "Corvask");
}

}  // namespace
}  // namespace tavrin
