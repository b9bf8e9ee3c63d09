#include "card/card_image.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "card/card_file.h"
#include "card_test_util.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

std::vector<std::uint8_t> Build(CardDocument& doc, CardLayout layout, Result expect = kOk) {
  CardImage image;
  EXPECT_EQ(BuildCardImage(doc, layout, image), expect);
  return image;
}

TEST(CardImage, EmptyFileLayout) {
  CardDocument doc;
  const auto img = Build(doc, CardLayout::File);
  std::vector<std::uint8_t> expected(64, 0);
  const char head[] = "KORG\x0F\x00" "Corvask   ";
  std::copy(head, head + 16, expected.begin());
  for (std::size_t o : {16, 24, 32, 40}) expected[o] = 32;
  EXPECT_EQ(img, expected);
}

TEST(CardImage, EmptyCardLayoutIsPaddedWithFF) {
  CardDocument doc;
  const auto img = Build(doc, CardLayout::Card);
  ASSERT_EQ(img.size(), 524288u);
  EXPECT_EQ(Le16(img, 4), 0x000Fu);
  for (std::size_t i = 64; i < img.size(); ++i) ASSERT_EQ(img[i], 0xFF) << i;
}

TEST(CardImage, EmptyWideCard) {
  CardDocument doc;
  const auto img = Build(doc, CardLayout::WideCard);
  ASSERT_EQ(img.size(), 524288u);
  for (std::size_t k = 0; k < 64; ++k) EXPECT_EQ(img[2 * k], 0xFF) << k;
  EXPECT_EQ(img[1], 'K');
  EXPECT_EQ(img[9], 0x1F);  // format word 0x001F, widened
  EXPECT_EQ(img[11], 0x00);
  // Table addresses are 64 (word address of byte 128), in widened form.
  for (std::size_t o : {16, 24, 32, 40, 48, 56}) EXPECT_EQ(img[2 * o + 1], 64) << o;
  for (std::size_t i = 128; i < img.size(); ++i) ASSERT_EQ(img[i], 0xFF) << i;
}

// A small card whose every byte is worked out here by hand.
TEST(CardImage, ExactBytesOfASmallCard) {
  CardDocument doc;
  doc.name.assign("AB");
  Sound& m = AddMulti(doc, "M");
  SampleData s = MakeSample({0, 16384, -32767}, 1, 60);
  s.topKey = 70;
  s.transpose = -3;
  s.level = -10;
  s.vdfCutoff = 5;
  s.decayLevel = -5;
  s.loopFlags = 4;
  s.markers.sampleAttribute = 0x1234;
  m.samples.push_back(s);
  Sound& d = AddDrum(doc, "D");
  d.samples.push_back(MakeSample({7, -7}, 0, 36));

  const auto img = Build(doc, CardLayout::File);
  // 64 header + 5 values * 2 + 14 multi + 12 drum + 10 zone + 2 * 14 samples
  ASSERT_EQ(img.size(), 64u + 10 + 14 + 12 + 10 + 28);
  const std::uint32_t t = 32 + 5;  // table address: after 5 values
  EXPECT_EQ(Le32(img, 16), t);
  EXPECT_EQ(Le16(img, 20), 1u);
  EXPECT_EQ(Le16(img, 22), 1u);
  EXPECT_EQ(Le32(img, 24), t + 7);
  EXPECT_EQ(Le16(img, 28), 1u);
  EXPECT_EQ(Le32(img, 32), t + 7 + 6);
  EXPECT_EQ(Le16(img, 36), 1u);
  EXPECT_EQ(Le32(img, 40), t + 7 + 6 + 5);
  EXPECT_EQ(Le16(img, 44), 2u);
  EXPECT_EQ(std::string(img.begin() + 6, img.begin() + 16), "AB        ");
  // Sample values.
  const std::vector<std::uint8_t> values = {0x00, 0x00, 0x00, 0x40, 0x01, 0x80, 0x07, 0x00, 0xF9, 0xFF};
  EXPECT_EQ(std::vector<std::uint8_t>(img.begin() + 64, img.begin() + 74), values);
  std::size_t o = 74;
  // Multisound record.
  const std::vector<std::uint8_t> multi = {0, 0, 0, 1, 'M', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  EXPECT_EQ(std::vector<std::uint8_t>(img.begin() + o, img.begin() + o + 14), multi);
  o += 14;
  const std::vector<std::uint8_t> drum = {1, 0, 'D', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  EXPECT_EQ(std::vector<std::uint8_t>(img.begin() + o, img.begin() + o + 12), drum);
  o += 12;
  const std::vector<std::uint8_t> zone = {0, 0, 70, 5, 0xFD, 60, 0xF6, 5, 0xFB, 0};
  EXPECT_EQ(std::vector<std::uint8_t>(img.begin() + o, img.begin() + o + 10), zone);
  o += 10;
  // Sample record of the multisound's sample: base 32, start 0+2, loop 1, end 3.
  const std::vector<std::uint8_t> rec0 = {0x34, 0x12, 34, 0, 0, 0, 33, 0, 0, 4, 35, 0, 0, 0};
  EXPECT_EQ(std::vector<std::uint8_t>(img.begin() + o, img.begin() + o + 14), rec0);
  o += 14;
  // The drum's sample: base 35, start 0+2, loop 0, end 2.
  const std::vector<std::uint8_t> rec1 = {0, 0, 37, 0, 0, 0, 35, 0, 0, 0, 37, 0, 0, 0};
  EXPECT_EQ(std::vector<std::uint8_t>(img.begin() + o, img.begin() + o + 14), rec1);
}

TEST(CardImage, ZonesSortedByRootNoteAndTopKeysCompleted) {
  CardDocument doc;
  Sound& m = AddMulti(doc, "Keys");
  for (std::uint8_t root : {72, 48, 60}) {
    SampleData s = RampSample(4, root, root);
    s.nonTranspose = true;
    m.samples.push_back(s);
  }
  const auto img = Build(doc, CardLayout::File);
  ASSERT_EQ(m.samples.size(), 3u);  // the document keeps the new order
  EXPECT_EQ(m.samples[0].rootNote, 48);
  EXPECT_EQ(m.samples[1].rootNote, 60);
  EXPECT_EQ(m.samples[2].rootNote, 72);
  EXPECT_EQ(m.samples[0].topKey, 59);
  EXPECT_EQ(m.samples[1].topKey, 71);
  EXPECT_EQ(m.samples[2].topKey, 127);
  const std::size_t zones = 2 * Le32(img, 32);
  for (int j = 0; j < 3; ++j) {
    EXPECT_EQ(img[zones + 10 * j + 5], 0x80 | m.samples[static_cast<std::size_t>(j)].rootNote);
    EXPECT_EQ(img[zones + 10 * j + 2], m.samples[static_cast<std::size_t>(j)].topKey);
  }
}

TEST(CardImage, EqualRootNotesKeepOrderAndUserTopKeysStay) {
  CardDocument doc;
  Sound& m = AddMulti(doc, "K");
  SampleData a = RampSample(2, 1, 60);
  a.topKey = 90;
  SampleData b = RampSample(2, 2, 60);
  b.topKey = 91;
  SampleData c = RampSample(2, 3, 0);
  c.nonTranspose = true;
  m.samples = {a, b, c};
  Build(doc, CardLayout::File);
  EXPECT_EQ(m.samples[0].rootNote, 0);
  EXPECT_EQ(m.samples[0].topKey, 59);  // next root 60 minus one
  EXPECT_EQ(m.samples[1].topKey, 90);
  EXPECT_EQ(m.samples[2].topKey, 91);
}

TEST(CardImage, CardLayoutAddressesOfFirstBlock) {
  CardDocument doc;
  Sound& m = AddMulti(doc, "S");
  SampleData s = RampSample(1000);
  s.markers.loop = 500;
  m.samples.push_back(s);
  const auto img = Build(doc, CardLayout::Card);
  const std::size_t rec = 2 * Le32(img, 40);
  EXPECT_EQ(Le32(img, rec + 2), 34u);
  EXPECT_EQ(Le24(img, rec + 6), 532u);
  EXPECT_EQ(Le32(img, rec + 10), 1032u);
}

TEST(CardImage, TwoDwgsSetsShareTheFirstOnesRecords) {
  CardDocument doc;
  AddDwgsWaves(AddMulti(doc, "Dw1", WaveType::DWGS), 1);
  AddDwgsWaves(AddMulti(doc, "Dw2", WaveType::DWGS), 2);
  Sound& pcm = AddMulti(doc, "Pcm");
  pcm.samples.push_back(RampSample(10));
  const Sound second = doc.multisounds[1];
  const auto img = Build(doc, CardLayout::File);
  EXPECT_EQ(doc.multisounds[0].name.view(), "Pcm");  // PCM moved ahead
  EXPECT_EQ(Le16(img, 20), 3u);
  EXPECT_EQ(Le16(img, 22), 1u);
  EXPECT_EQ(Le16(img, 36), 9u);  // 8 DWGS zones + 1 PCM zone
  EXPECT_EQ(Le16(img, 44), 9u);
  const std::size_t multi = 2 * Le32(img, 16);
  EXPECT_EQ(img[multi + 4], 'P');
  EXPECT_EQ(Le16(img, multi), 8u);  // PCM first-zone index
  EXPECT_EQ(img[multi + 2], 0);
  for (int r = 1; r <= 2; ++r) {
    EXPECT_EQ(Le16(img, multi + 14 * r), 0u);
    EXPECT_EQ(img[multi + 14 * r + 2], 2);
    EXPECT_EQ(img[multi + 14 * r + 3], 8);
  }
  const std::size_t zones = 2 * Le32(img, 32);
  for (int j = 0; j < 8; ++j) EXPECT_EQ(Le16(img, zones + 10 * j), static_cast<std::uint32_t>(j));
  // Block 7 (the 4-frame wave) holds its own values, then the whole second set.
  const std::size_t samples = 2 * Le32(img, 40);
  const std::uint32_t base7 = 32 + 1020 - 4;
  EXPECT_EQ(Le32(img, samples + 14 * 7 + 2), base7 + 2);  // no +2 for DWGS: start is 2 (half of 4)
  EXPECT_EQ(Le32(img, samples + 14 * 7 + 10), base7 + 4);
  std::size_t o = 2 * (32 + 1020);
  for (const SampleData& s : second.samples) {
    for (float f : s.frames) {
      ASSERT_EQ(static_cast<std::int16_t>(Le16(img, o)), FrameToInt16(f));
      o += 2;
    }
  }
  // The PCM block follows the reserved tail.
  EXPECT_EQ(Le32(img, samples + 14 * 8 + 2), 32u + 2040 + 2);
  EXPECT_EQ(Le32(img, 16), 32u + 2040 + 10);
}

TEST(CardImage, EmptyDwgsSoundsAreLeftOut) {
  CardDocument doc;
  AddMulti(doc, "Empty", WaveType::DWGS);  // first DWGS sound without samples
  AddDwgsWaves(AddMulti(doc, "Dw", WaveType::DWGS), 1);
  AddMulti(doc, "Empty2", WaveType::DWGS);
  AddMulti(doc, "Pcm").samples.push_back(RampSample(3));
  const auto img = Build(doc, CardLayout::File);
  EXPECT_EQ(Le16(img, 20), 2u);  // records for Pcm and Dw only
  EXPECT_EQ(Le16(img, 22), 1u);  // PCM records, never wrapping
  EXPECT_EQ(Le32(img, 16), 32u + 1020 + 3);
  EXPECT_EQ(img.size(), 64u + 2 * 1023 + 14 * 2 + 10 * 9 + 14 * 9);
}

TEST(CardImage, MismatchedDwgsSetsAreRefused) {
  CardDocument doc;
  AddMulti(doc, "Pcm").samples.push_back(RampSample(3));
  AddDwgsWaves(AddMulti(doc, "Dw1", WaveType::DWGS), 1);
  AddMulti(doc, "Dw2", WaveType::DWGS).samples.push_back(RampSample(100));
  Sound& other = doc.multisounds[2];
  CardImage image = {1, 2, 3};
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image), kTooMuchData);
  EXPECT_EQ(image, (CardImage{1, 2, 3}));
  // Same count of waves, one of a different length: refused too.
  other.samples.clear();
  AddDwgsWaves(other, 2);
  other.samples[3].frames.pop_back();
  other.samples[3].markers.end -= 1;
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image), kTooMuchData);
}

TEST(CardImage, DrumsoundStoresOnlyItsFirstSample) {
  CardDocument doc;
  Sound& d = AddDrum(doc, "Kit");
  d.samples = {RampSample(5, 100), RampSample(6), RampSample(7)};
  const auto img = Build(doc, CardLayout::File);
  EXPECT_EQ(Le16(img, 28), 1u);
  EXPECT_EQ(Le16(img, 44), 1u);
  EXPECT_EQ(img.size(), 64u + 10 + 12 + 14);
  EXPECT_EQ(Le16(img, 64), 100u);
}

TEST(CardImage, CapacityExceededByOneByte) {
  CardDocument doc;
  AddMulti(doc, "M").samples.push_back(RampSample(100));
  CardImage probe;
  ASSERT_EQ(BuildCardImage(doc, CardLayout::File, probe), kOk);
  const std::uint64_t size = probe.size();
  doc.cardCapacity = static_cast<std::uint32_t>(size - 1);
  CardImage image = {9};
  std::uint64_t required = 0;
  EXPECT_EQ(BuildCardImage(doc, CardLayout::Card, image, &required), kTooMuchData);
  EXPECT_EQ(required, size);
  EXPECT_EQ(image, CardImage{9});
  doc.cardCapacity = static_cast<std::uint32_t>(size);
  EXPECT_EQ(BuildCardImage(doc, CardLayout::Card, image, &required), kOk);
  EXPECT_EQ(image.size(), size);
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin(), image.end()), probe);
}

TEST(CardImage, OvershootSaturatesInsteadOfWrapping) {
  CardDocument doc;
  SampleData s = MakeSample({0, 0, 0});
  s.frames = {1.2f, -1.2f, std::nanf("")};
  AddMulti(doc, "M").samples.push_back(s);
  const auto img = Build(doc, CardLayout::File);
  EXPECT_EQ(Le16(img, 64), 0x7FFFu);
  EXPECT_EQ(Le16(img, 66), 0x8001u);
  EXPECT_EQ(Le16(img, 68), 0u);
}

TEST(CardImage, WideCardTablesAreWidened) {
  CardDocument doc;
  doc.cardCapacity = 4096;
  AddMulti(doc, "M").samples.push_back(MakeSample({1, 2, 3}, 1));
  const auto narrow = Build(doc, CardLayout::Card);
  const auto wide = Build(doc, CardLayout::WideCard);
  ASSERT_EQ(wide.size(), 4096u);
  // Values are not widened: 3 values at byte 128.
  EXPECT_EQ(Le16(wide, 128), 1u);
  EXPECT_EQ(Le16(wide, 132), 3u);
  // Table address: 64 + 3 values; tables follow at byte 134.
  EXPECT_EQ(wide[2 * 16 + 1], 67);
  const std::size_t tables = 134;
  const std::size_t narrowTables = 70;
  const std::size_t tableBytes = 14 + 10 + 14;
  for (std::size_t k = 0; k < tableBytes; ++k) {
    ASSERT_EQ(wide[tables + 2 * k], 0xFF);
    // Records are the same except addresses, which are offset by the wider header.
  }
  EXPECT_EQ(wide[tables + 1], narrow[narrowTables]);  // first-zone index
  // Sample record start address: base 64 + 0 + 2 = 66.
  const std::size_t rec = tables + 2 * (14 + 10);
  EXPECT_EQ(wide[rec + 2 * 2 + 1], 66);
  // Header bytes 48..63 repeat bytes 32..47.
  for (std::size_t k = 0; k < 16; ++k) EXPECT_EQ(wide[2 * (48 + k) + 1], wide[2 * (32 + k) + 1]);
  for (std::size_t i = 134 + 2 * tableBytes; i < wide.size(); ++i) ASSERT_EQ(wide[i], 0xFF);
}

TEST(CardImage, CountsThatDoNotFitTheirFieldsAreRefused) {
  CardDocument doc;
  Sound& m = AddMulti(doc, "Many");
  for (int i = 0; i < 256; ++i) m.samples.push_back(RampSample(1));
  CardImage image;
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image), kTooMuchData);
  m.samples.pop_back();
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image), kOk);

  CardDocument drums;
  for (int i = 0; i < 65536; ++i) AddDrum(drums, "D").samples.push_back(RampSample(1));
  EXPECT_EQ(BuildCardImage(drums, CardLayout::File, image), kTooMuchData);
  drums.drumsounds.pop_back();
  EXPECT_EQ(BuildCardImage(drums, CardLayout::File, image), kOk);
}

TEST(CardImage, LoopAddressBeyond24BitsIsRefused) {
  CardDocument doc;
  doc.cardCapacity = 40u << 20;
  SampleData s;
  s.frames.assign((1u << 24), 0.0f);
  s.markers = {0, 0, static_cast<std::int64_t>(s.frames.size()) - 31, static_cast<std::int64_t>(s.frames.size())};
  AddMulti(doc, "Big").samples.push_back(std::move(s));
  CardImage image;
  EXPECT_EQ(BuildCardImage(doc, CardLayout::Card, image), kTooMuchData);
  EXPECT_TRUE(image.empty());
  doc.multisounds[0].samples[0].markers.loop = 0xFFFFFF - 32;  // the largest loop address that fits
  EXPECT_EQ(BuildCardImage(doc, CardLayout::Card, image), kOk);
}

TEST(CardImage, FileImageLargerThanLoadAcceptsIsRefused) {
  CardDocument doc;
  SampleData s;
  s.frames.assign(8 * 1024 * 1024, 0.0f);  // 16 MiB of values plus header and tables
  s.markers = {0, 0, 0, static_cast<std::int64_t>(s.frames.size())};
  AddMulti(doc, "Big").samples.push_back(std::move(s));
  CardImage image;
  std::uint64_t required = 0;
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image, &required), kTooMuchData);
  EXPECT_EQ(required, 64u + 16777216 + 14 + 10 + 14);
}

TEST(CardImage, MarkersOutsideTheFramesAreRefused) {
  CardDocument doc;
  SampleData s = RampSample(10);
  s.markers.end = 11;
  AddMulti(doc, "M").samples.push_back(s);
  CardImage image;
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image), kTooMuchData);
  doc.multisounds[0].samples[0].markers = {0, 5, 3, 4};  // start past end
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image), kTooMuchData);
  doc.multisounds[0].samples[0].markers = {0, -1, -1, -1};  // unset with frames
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image), kTooMuchData);
  doc.multisounds[0].samples[0].markers = {0, 3, 9, 8};  // loop past end
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image), kTooMuchData);
  doc.multisounds[0].samples[0].markers = {0, 3, 5, 8};
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image), kOk);
}

TEST(CardImage, NegativeLoopOfAShortDrumIsStoredAsZero) {
  CardDocument doc;
  AddMulti(doc, "M").samples.push_back(RampSample(4, 500));
  SampleData drum = RampSample(3, 9);
  drum.markers.loop = -2;  // what a drum import of 3 frames gives
  AddDrum(doc, "D").samples.push_back(drum);
  CardImage image;
  ASSERT_EQ(BuildCardImage(doc, CardLayout::File, image), kOk);
  const std::size_t rec = 2 * Le32(image, 40) + 14;
  EXPECT_EQ(Le24(image, rec + 6), 32u + 4);  // the drum block's own first value
  CardDocument loaded;
  std::vector<std::uint8_t> bytes(image.begin(), image.end());
  ASSERT_EQ(ParseCardFile(bytes, loaded), kOk);
  EXPECT_EQ(loaded.drumsounds[0].samples[0].frames, drum.frames);
  EXPECT_EQ(loaded.drumsounds[0].samples[0].markers.loop, 0);
}

}  // namespace
}  // namespace tavrin
