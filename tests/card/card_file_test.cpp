#include "card/card_file.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "base/file_io.h"
#include "card_test_util.h"
#include "card/card_image.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

// A card with every kind of content: PCM multisounds, DWGS sets, drums,
// parameters at their extremes, full-range values.
CardDocument RichCard() {
  CardDocument doc;
  doc.name.assign("RichCard");
  {
    Sound& m = AddMulti(doc, "Piano");
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
    m.samples = {a, b};
  }
  AddDwgsWaves(AddMulti(doc, "Saw", WaveType::DWGS), 1);
  AddDwgsWaves(AddMulti(doc, "Square", WaveType::DWGS), 2);
  AddMulti(doc, "Empty");
  {
    Sound& d = AddDrum(doc, "Kick");
    SampleData k = RampSample(30, 300, 36);
    k.markers.loop = 25;
    k.loopFlags = 4;
    k.loopOn = true;
    d.samples.push_back(k);
  }
  AddDrum(doc, "Snare").samples.push_back(MakeSample({-5, 5, -5}, 0, 38));
  return doc;
}

std::vector<std::uint8_t> FileImage(CardDocument& doc) {
  CardImage image;
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image), kOk);
  return image;
}

void ExpectSameSample(const SampleData& loaded, const SampleData& saved, Utf8View expectedName) {
  EXPECT_EQ(loaded.name.view(), expectedName);
  EXPECT_EQ(loaded.frames, saved.frames);
  EXPECT_EQ(loaded.markers, saved.markers);
  EXPECT_EQ(loaded.loopFlags, saved.loopFlags);
  EXPECT_EQ(loaded.loopOn, saved.loopFlags != 0);
  EXPECT_EQ(loaded.rootNote, saved.rootNote);
  EXPECT_EQ(loaded.topKey, saved.topKey);
  EXPECT_EQ(loaded.transpose, saved.transpose);
  EXPECT_EQ(loaded.nonTranspose, saved.nonTranspose);
  EXPECT_EQ(loaded.level, saved.level);
  EXPECT_EQ(loaded.vdfCutoff, saved.vdfCutoff);
  EXPECT_EQ(loaded.decayLevel, saved.decayLevel);
  EXPECT_EQ(loaded.zoneAttribute, saved.zoneAttribute);
  EXPECT_TRUE(loaded.transposeValid);
}

TEST(CardFile, SaveLoadRoundTrip) {
  TempDir dir;
  const std::string path = dir.File("rich.qz");
  CardDocument doc = RichCard();
  doc.modified = true;
  ASSERT_EQ(SaveCardFile(path, doc), kOk);
  EXPECT_FALSE(doc.modified);
  const auto saved = FileImage(doc);  // the document as saved (reordered)

  CardDocument loaded;
  loaded.cardCapacity = 1234;
  loaded.modified = true;
  ASSERT_EQ(LoadCardFile(path, loaded), kOk);
  EXPECT_FALSE(loaded.modified);
  EXPECT_EQ(loaded.cardCapacity, 1234u);
  EXPECT_EQ(loaded.name.view(), "RichCard");
  ASSERT_EQ(loaded.multisounds.size(), 3u);  // the empty multisound is not stored
  ASSERT_EQ(loaded.drumsounds.size(), 2u);
  std::vector<const Sound*> saved_multis;
  for (const Sound& m : doc.multisounds) {
    if (!m.samples.empty()) saved_multis.push_back(&m);
  }
  ASSERT_EQ(saved_multis.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    const Sound& l = loaded.multisounds[static_cast<std::size_t>(i)];
    const Sound& s = *saved_multis[i];
    EXPECT_EQ(l.name.view(), s.name.view());
    EXPECT_EQ(l.waveType, s.waveType);
    ASSERT_EQ(l.samples.size(), s.samples.size());
    for (std::size_t j = 0; j < s.samples.size(); ++j) {
      std::string name(s.name.view());
      name += " ";
      name += NoteName(s.samples[j].rootNote);
      if (s.waveType == WaveType::DWGS && i == 2) {
        // Later DWGS sets share the first set's parameters; their frames are their own.
        EXPECT_EQ(l.samples[j].frames, s.samples[j].frames);
        continue;
      }
      ExpectSameSample(l.samples[j], s.samples[j], name);
    }
  }
  // A drumsound has no zone record: only its sample record and data are kept.
  for (std::size_t i = 0; i < 2; ++i) {
    const SampleData& l = loaded.drumsounds[i].samples[0];
    const SampleData& s = doc.drumsounds[i].samples[0];
    EXPECT_EQ(l.name.view(), doc.drumsounds[i].name.view());
    EXPECT_EQ(l.frames, s.frames);
    EXPECT_EQ(l.markers, s.markers);
    EXPECT_EQ(l.loopFlags, s.loopFlags);
    EXPECT_EQ(l.rootNote, 12);
  }
  // The loaded document builds the very image that was saved.
  EXPECT_EQ(FileImage(loaded), saved);
}

TEST(CardFile, EveryValueSurvivesRepeatedCycles) {
  TempDir dir;
  const std::string path = dir.File("all.qz");
  CardDocument doc;
  std::vector<int> all;
  for (int v = -32768; v <= 32767; ++v) all.push_back(v);
  AddMulti(doc, "All").samples.push_back(MakeSample(all));
  const auto first = FileImage(doc);
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_EQ(SaveCardFile(path, doc), kOk);
    CardDocument loaded;
    ASSERT_EQ(LoadCardFile(path, loaded), kOk);
    ASSERT_EQ(FileImage(loaded), first) << "cycle " << cycle;
    doc = std::move(loaded);
  }
}

TEST(CardFile, ScrambleByteDiffersPerSaveAndBothLoad) {
  CardDocument doc = RichCard();
  std::vector<std::uint8_t> a, b;
  ASSERT_EQ(EncodeCardFile(doc, 0x21, a), kOk);
  ASSERT_EQ(EncodeCardFile(doc, 0xC4, b), kOk);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) ASSERT_NE(a[i], b[i]) << i;
  CardDocument da, db;
  ASSERT_EQ(ParseCardFile(a, da), kOk);
  ASSERT_EQ(ParseCardFile(b, db), kOk);
  EXPECT_EQ(FileImage(da), FileImage(db));
}

TEST(CardFile, SavedFilesNeverBeginWithThePlainSignature) {
  TempDir dir;
  CardDocument doc;
  for (int i = 0; i < 50; ++i) {
    const std::string path = dir.File("s.qz");
    ASSERT_EQ(SaveCardFile(path, doc), kOk);
    const auto bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), 64u);
    ASSERT_NE(bytes[0], 'K');
  }
}

TEST(CardFile, PlainImageLoads) {
  CardDocument doc = RichCard();
  const auto plain = FileImage(doc);
  CardDocument loaded;
  ASSERT_EQ(ParseCardFile(plain, loaded), kOk);
  EXPECT_EQ(FileImage(loaded), plain);
}

TEST(CardFile, TrimmedToStartLoopAndEnd) {
  CardDocument doc;
  SampleData s = RampSample(1000);
  s.markers = {0, 100, 500, 900};
  AddMulti(doc, "T").samples.push_back(s);
  CardDocument loaded;
  ASSERT_EQ(ParseCardFile(FileImage(doc), loaded), kOk);
  const SampleData& l = loaded.multisounds[0].samples[0];
  EXPECT_EQ(l.frameCount(), 800);
  EXPECT_EQ(l.markers.start, 0);
  EXPECT_EQ(l.markers.loop, 400);
  EXPECT_EQ(l.markers.end, 800);
  EXPECT_EQ(l.frames.front(), s.frames[100]);
  EXPECT_EQ(l.frames.back(), s.frames[899]);
}

TEST(CardFile, NamesLoseTrailingSpacesAndSamplesAreNamedAfterTheirNote) {
  CardDocument doc;
  doc.name.assign("ABC");
  AddMulti(doc, "Piano").samples.push_back(RampSample(4, 1, 61));
  CardDocument loaded;
  const auto img = FileImage(doc);
  EXPECT_EQ(std::string(img.begin() + 6, img.begin() + 16), "ABC       ");
  ASSERT_EQ(ParseCardFile(img, loaded), kOk);
  EXPECT_EQ(loaded.name.view(), "ABC");
  EXPECT_EQ(loaded.multisounds[0].samples[0].name.view(), "Piano C#4");
}

TEST(CardFile, LaterDwgsSetsAreFoundWhenTheFirstSetsWavesStartLate) {
  CardDocument doc;
  AddMulti(doc, "Pcm").samples.push_back(RampSample(5));
  AddDwgsWaves(AddMulti(doc, "A", WaveType::DWGS), 1);
  AddDwgsWaves(AddMulti(doc, "B", WaveType::DWGS), 2);
  AddDwgsWaves(AddMulti(doc, "C", WaveType::DWGS), 3);
  const Sound& first = doc.multisounds[1];
  for (SampleData& w : doc.multisounds[1].samples) w.markers.loop = w.markers.start;  // start and loop above 0
  const auto img = FileImage(doc);
  CardDocument loaded;
  ASSERT_EQ(ParseCardFile(img, loaded), kOk);
  ASSERT_EQ(loaded.multisounds.size(), 4u);
  for (std::size_t k = 2; k <= 3; ++k) {
    const Sound& l = loaded.multisounds[k];
    const Sound& s = doc.multisounds[k];
    ASSERT_EQ(l.samples.size(), 8u);
    for (std::size_t j = 0; j < 8; ++j) {
      // Read from the shared record's loop on, in this set's own data.
      const std::size_t from = static_cast<std::size_t>(first.samples[j].markers.loop);
      const std::vector<float> expected(s.samples[j].frames.begin() + static_cast<std::ptrdiff_t>(from),
                                        s.samples[j].frames.end());
      ASSERT_EQ(l.samples[j].frames, expected) << k << " " << j;
    }
  }
  EXPECT_EQ(FileImage(loaded), FileImage(loaded));
}

TEST(CardFile, EveryImageSaveWritesLoadsBack) {
  // Empty DWGS sounds before, between and after real sets; a lone set; only drums.
  std::vector<CardDocument> cards(3);
  AddMulti(cards[0], "E1", WaveType::DWGS);
  AddDwgsWaves(AddMulti(cards[0], "D1", WaveType::DWGS), 1);
  AddMulti(cards[0], "E2", WaveType::DWGS);
  AddDwgsWaves(AddMulti(cards[0], "D2", WaveType::DWGS), 2);
  AddMulti(cards[0], "P").samples.push_back(RampSample(9));
  AddDwgsWaves(AddMulti(cards[1], "Only", WaveType::DWGS), 1);
  AddDrum(cards[2], "K").samples.push_back(RampSample(3));
  for (CardDocument& doc : cards) {
    const auto img = FileImage(doc);
    CardDocument loaded;
    ASSERT_EQ(ParseCardFile(img, loaded), kOk);
    EXPECT_EQ(FileImage(loaded), img);
  }
}

// Corrupting the saved image one field at a time gives the exact result.
class CorruptedCardFile : public ::testing::Test {
 protected:
  void SetUp() override {
    CardDocument doc;
    doc.name.assign("Good");
    AddMulti(doc, "M").samples.push_back(RampSample(20));
    AddDrum(doc, "D").samples.push_back(RampSample(10));
    image_ = FileImage(doc);
    previous_.name.assign("Previous");
    AddMulti(previous_, "Keep").samples.push_back(RampSample(3));
    previous_.modified = true;
  }
  Result Parse(const std::vector<std::uint8_t>& bytes) {
    CardDocument out;
    return ParseCardFile(bytes, out);
  }
  void Put16(std::size_t o, std::uint32_t v) {
    image_[o] = static_cast<std::uint8_t>(v);
    image_[o + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  std::vector<std::uint8_t> image_;
  CardDocument previous_;
};

TEST_F(CorruptedCardFile, EveryTruncationIsInvalidFormat) {
  for (std::size_t n = 0; n < image_.size(); ++n) {
    std::vector<std::uint8_t> cut(image_.begin(), image_.begin() + static_cast<std::ptrdiff_t>(n));
    ASSERT_EQ(Parse(cut), kBadFormat) << n;
  }
  EXPECT_EQ(Parse(image_), kOk);
}

TEST_F(CorruptedCardFile, SignatureAndFormatWord) {
  auto bad = image_;
  bad[4] = 0x1F;  // another format word: a wide card image, not a card-file
  EXPECT_EQ(Parse(bad), kBadFormat);
  bad = image_;
  bad[1] ^= 1;
  EXPECT_EQ(Parse(bad), kBadFormat);
  for (auto& b : bad) b ^= 0x4B;  // scrambled with 'K' itself: first byte 0
  EXPECT_EQ(Parse(bad), kBadFormat);
}

TEST_F(CorruptedCardFile, TableFields) {
  const std::size_t multi = 2 * Le32(image_, 16);
  const std::size_t zone = 2 * Le32(image_, 32);
  const std::size_t sample = 2 * Le32(image_, 40);
  auto restore = image_;
  image_[multi + 3] = 2;  // zone count past the zone table
  EXPECT_EQ(Parse(image_), kBadFormat);
  image_ = restore;
  Put16(zone, 2);  // sample index past the sample table
  EXPECT_EQ(Parse(image_), kBadFormat);
  image_ = restore;
  Put16(2 * Le32(image_, 24), 7);  // drum's sample index
  EXPECT_EQ(Parse(image_), kBadFormat);
  image_ = restore;
  Put16(sample + 2, 1);  // PCM start address below 2
  Put16(sample + 4, 0);
  EXPECT_EQ(Parse(image_), kBadFormat);
  image_ = restore;
  Put16(sample + 6, 0xFFFF);  // loop past end
  EXPECT_EQ(Parse(image_), kBadFormat);
  image_ = restore;
  Put16(sample + 10, 0xFFF0);  // end past the file
  EXPECT_EQ(Parse(image_), kBadFormat);
  image_ = restore;
  Put16(16, 0xFFFF);  // multisound table past the file
  EXPECT_EQ(Parse(image_), kBadFormat);
  image_ = restore;
  Put16(20, 0xFFFF);  // too many multisound records
  EXPECT_EQ(Parse(image_), kBadFormat);
  image_ = restore;
  EXPECT_EQ(Parse(image_), kOk);
}

TEST_F(CorruptedCardFile, FailedLoadLeavesTheDocumentAsItWas) {
  TempDir dir;
  const std::string path = dir.File("bad.qz");
  image_[2 * Le32(image_, 16) + 3] = 9;
  WriteBytes(path, image_);
  const auto before = FileImage(previous_);
  EXPECT_EQ(LoadCardFile(path, previous_), kBadFormat);
  EXPECT_EQ(previous_.name.view(), "Previous");
  EXPECT_TRUE(previous_.modified);
  EXPECT_EQ(FileImage(previous_), before);
  EXPECT_EQ(LoadCardFile(dir.File("missing.qz"), previous_), kNotFound);
  EXPECT_EQ(LoadCardFile("", previous_), kInvalidArgument);
  EXPECT_EQ(previous_.name.view(), "Previous");
}

TEST(CardFile, SizeLimit) {
  TempDir dir;
  CardDocument doc;
  auto img = FileImage(doc);
  img.resize(16777216, 0);  // padding after the tables is never read
  WriteBytes(dir.File("max.qz"), img);
  CardDocument loaded;
  EXPECT_EQ(LoadCardFile(dir.File("max.qz"), loaded), kOk);
  img.push_back(0);
  WriteBytes(dir.File("over.qz"), img);
  EXPECT_EQ(LoadCardFile(dir.File("over.qz"), loaded), kFileTooLarge);
}

TEST(CardFile, LoadFailureReasons) {
  EXPECT_EQ(LoadFailureReason(6), "The file is incomplete");
  EXPECT_EQ(LoadFailureReason(13), "Invalid file format");
  EXPECT_EQ(LoadFailureReason(20), "File not found");
  EXPECT_EQ(LoadFailureReason(22), "The file is too big to load");
  EXPECT_EQ(LoadFailureReason(8), "Inconsistent file");
  EXPECT_EQ(LoadFailureReason(1), "Inconsistent file");
}

// Fails the Nth call of one kind of file operation.
struct FailNth : FileFaultHook {
  FileOp op;
  int n;
  Result code;
  int seen = 0;
  FailNth(FileOp o, int nth, Result c) : op(o), n(nth), code(c) { SetFileFaultHook(this); }
  ~FailNth() override { SetFileFaultHook(nullptr); }
  Result Check(FileOp o) override {
    if (o != op) return kOk;
    return ++seen == n ? code : kOk;
  }
};

TEST(CardFile, FailedSaveKeepsTheOldFileAndLeavesNoStrayFile) {
  TempDir dir;
  const std::string path = dir.File("card.qz");
  CardDocument old = RichCard();
  ASSERT_EQ(SaveCardFile(path, old), kOk);
  const auto oldBytes = ReadBytes(path);

  struct Case {
    FileOp op;
    Result code;
  };
  for (Case c : {Case{FileOp::kOpenWrite, kAccessDenied}, Case{FileOp::kWrite, kDiskFull},
                 Case{FileOp::kFlush, kDataError}, Case{FileOp::kReplace, kAccessDenied}}) {
    CardDocument doc;
    doc.name.assign("New");
    doc.modified = true;
    FailNth fail(c.op, 1, c.code);
    EXPECT_EQ(SaveCardFile(path, doc), c.code);
    EXPECT_TRUE(doc.modified);
    EXPECT_EQ(ReadBytes(path), oldBytes);
    EXPECT_EQ(dir.Entries().size(), 1u);
  }
  CardDocument doc;
  doc.modified = true;
  EXPECT_EQ(SaveCardFile(dir.File("no/such/folder/card.qz"), doc), kNotFound);
  EXPECT_EQ(SaveCardFile("", doc), kInvalidArgument);
  EXPECT_TRUE(doc.modified);
}

TEST(CardFile, FailedReadsReportTheMappedError) {
  TempDir dir;
  const std::string path = dir.File("card.qz");
  CardDocument doc = RichCard();
  ASSERT_EQ(SaveCardFile(path, doc), kOk);
  for (FileOp op : {FileOp::kOpenRead, FileOp::kSize, FileOp::kRead}) {
    FailNth fail(op, 1, kDataError);
    CardDocument loaded;
    EXPECT_EQ(LoadCardFile(path, loaded), kDataError);
    EXPECT_EQ(loaded.name.view(), "Corvask");
  }
}

}  // namespace
}  // namespace tavrin
