#include "card/card_image.h"

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "card/card_file.h"
#include "card_test_util.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

TEST(CardImage, EmptyCard) {
  CardDocument doc;
  std::vector<std::uint8_t> file(64, 0);
  const char head[] = "KORG\x0F\x00" "Corvask   ";
  std::copy(head, head + 16, file.begin());
  for (std::size_t o : {16, 24, 32, 40}) file[o] = 32;
  EXPECT_EQ(Build(doc), file);
  // The card layout fills the capacity with 0xFF.
  const auto card = Build(doc, CardLayout::Card);
  ASSERT_EQ(card.size(), 524288u);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), card.begin()));
  EXPECT_EQ(std::count(card.begin() + 64, card.end(), 0xFF), 524288 - 64);
  EXPECT_EQ(Build(doc, CardLayout::WideCard).size(), 524288u);
}

// A small card whose every byte is worked out here by hand.
TEST(CardImage, ExactBytesOfASmallCard) {
  CardDocument doc;
  doc.name.assign("AB");
  SampleData s = MakeSample({0, 16384, -32767}, 1, 60);
  s.topKey = 70;
  s.transpose = -3;
  s.level = -10;
  s.vdfCutoff = 5;
  s.decayLevel = -5;
  s.loopFlags = 4;
  s.markers.sampleAttribute = 0x1234;
  AddMulti(doc, "M").samples.push_back(s);
  AddDrum(doc, "D").samples.push_back(MakeSample({7, -7}, 0, 36));
  const std::vector<std::uint8_t> expected = {
      // Header. The tables follow the 5 values: 1 multisound (1 PCM) at word 37, 1 drumsound at 44,
      // 1 zone at 50, 2 sample records at 55.
      'K', 'O', 'R', 'G', 0x0F, 0, 'A', 'B', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
      37, 0, 0, 0, 1, 0, 1, 0, 44, 0, 0, 0, 1, 0, 0, 0,
      50, 0, 0, 0, 1, 0, 0, 0, 55, 0, 0, 0, 2, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      // Values: 0, 16384, -32767, then the drum's 7, -7.
      0x00, 0x00, 0x00, 0x40, 0x01, 0x80, 0x07, 0x00, 0xF9, 0xFF,
      // Multisound: first zone 0, PCM, 1 zone, name.
      0, 0, 0, 1, 'M', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
      // Drumsound: sample record 1, name.
      1, 0, 'D', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
      // Zone: sample record 0, top key 70, attribute 5, transpose -3, root 60, level -10, cutoff 5, decay -5.
      0, 0, 70, 5, 0xFD, 60, 0xF6, 5, 0xFB, 0,
      // Sample records: attribute, start (block + start + 2), loop, loop flags, end; blocks at 32 and 35.
      0x34, 0x12, 34, 0, 0, 0, 33, 0, 0, 4, 35, 0, 0, 0,
      0, 0, 37, 0, 0, 0, 35, 0, 0, 0, 37, 0, 0, 0};
  EXPECT_EQ(Build(doc), expected);
}

// The wide card stores each header and table byte b as 0xFF, b; values are not widened.
TEST(CardImage, ExactBytesOfASmallWideCard) {
  CardDocument doc;
  doc.cardCapacity = 4096;
  AddMulti(doc, "M").samples.push_back(MakeSample({1, 2, 3}, 1));
  AddDrum(doc, "D").samples.push_back(MakeSample({4}));
  const std::vector<std::uint8_t> narrow = {
      // Header: format word 0x1F; tables at word 64 + 4 values: multisounds 68, drumsounds 82, zones 94,
      // sample records 104; bytes 48..63 repeat 32..47.
      'K', 'O', 'R', 'G', 0x1F, 0, 'C', 'o', 'r', 'v', 'a', 's', 'k', ' ', ' ', ' ',
      68, 0, 0, 0, 1, 0, 1, 0, 82, 0, 0, 0, 1, 0, 0, 0,
      94, 0, 0, 0, 1, 0, 0, 0, 104, 0, 0, 0, 2, 0, 0, 0,
      94, 0, 0, 0, 1, 0, 0, 0, 104, 0, 0, 0, 2, 0, 0, 0,
      // Multisound, drumsound, zone, sample records (blocks at words 64 and 67).
      0, 0, 0, 1, 'M', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
      1, 0, 'D', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
      0, 0, 96, 5, 0, 60, 0, 0, 0, 0,
      0, 0, 66, 0, 0, 0, 65, 0, 0, 0, 67, 0, 0, 0,
      0, 0, 69, 0, 0, 0, 67, 0, 0, 0, 68, 0, 0, 0};
  std::vector<std::uint8_t> expected(4096, 0xFF);
  for (std::size_t k = 0; k < 64; ++k) expected[2 * k + 1] = narrow[k];
  const std::uint8_t values[] = {1, 0, 2, 0, 3, 0, 4, 0};
  std::copy(values, values + 8, expected.begin() + 128);
  for (std::size_t k = 64; k < narrow.size(); ++k) expected[136 + 2 * (k - 64) + 1] = narrow[k];
  EXPECT_EQ(Build(doc, CardLayout::WideCard), expected);
}

// PCM multisounds go first, keeping their order; zones are sorted by root note (equal roots keep
// their order) and top keys completed: one below the next root, 127 for the last, the user's kept.
TEST(CardImage, PcmFirstZonesSortedTopKeysCompleted) {
  CardDocument doc;
  AddDwgsWaves(AddMulti(doc, "Dw", WaveType::DWGS), 1);
  AddMulti(doc, "One").samples.push_back(RampSample(2));
  AddMulti(doc, "Keys");
  AddMulti(doc, "Same");
  for (std::uint8_t root : {72, 48, 60}) {
    doc.multisounds[2].samples.push_back(RampSample(4, root, root));
    doc.multisounds[2].samples.back().nonTranspose = true;
  }
  SampleData a = RampSample(2, 1, 60), b = RampSample(2, 2, 60), c = RampSample(2, 3, 0);
  a.topKey = 90;
  b.topKey = 91;
  c.nonTranspose = true;
  doc.multisounds[3].samples = {a, b, c, c};
  const auto img = Build(doc);
  std::string order;
  for (const Sound& s : doc.multisounds) order += std::string(s.name.view()) + " ";
  EXPECT_EQ(order, "One Keys Same Dw ");
  EXPECT_EQ(doc.multisounds[1].samples[0].rootNote, 48);  // the document keeps the new order
  EXPECT_EQ(doc.multisounds[1].samples[0].topKey, 59);
  // After the 8 DWGS zones and One's: root (0x80: non-transposing) and top key.
  const int expected[7][2] = {{0xB0, 59}, {0xBC, 71}, {0xC8, 127},  // Keys
                              {0x80, 0},  {0x80, 59}, {60, 90},    {60, 91}};  // Same
  for (std::size_t j = 0; j < 7; ++j) {
    EXPECT_EQ(img[2 * Le32(img, 32) + 10 * (9 + j) + 5], expected[j][0]) << j;
    EXPECT_EQ(img[2 * Le32(img, 32) + 10 * (9 + j) + 2], expected[j][1]) << j;
  }
}

TEST(CardImage, LaterDwgsSetsShareTheFirstOnesRecordsAndFollowItsLastWave) {
  CardDocument doc;
  AddDwgsWaves(AddMulti(doc, "Dw1", WaveType::DWGS), 1);
  AddDwgsWaves(AddMulti(doc, "Dw2", WaveType::DWGS), 2);
  AddMulti(doc, "Pcm").samples.push_back(RampSample(10));
  const Sound second = doc.multisounds[1];
  const auto img = Build(doc);
  EXPECT_EQ(doc.multisounds[0].name.view(), "Pcm");  // PCM moved ahead
  // The tables follow 2 * 1020 DWGS and 10 PCM values: 3 multisounds (1 PCM) at word 2082, no drumsounds
  // and 9 zones at 2103, 9 sample records at 2148.
  const CardImage header = {0x22, 8, 0, 0, 3, 0, 1, 0, 0x37, 8, 0, 0, 0, 0, 0, 0,
                            0x37, 8, 0, 0, 9, 0, 0, 0, 0x64, 8, 0, 0, 9, 0, 0, 0};
  EXPECT_EQ(Bytes(img, 16, 32), header);
  // The PCM multisound's zone follows the 8 DWGS zones, which both DWGS multisounds use.
  const std::vector<std::uint8_t> multis = {8, 0, 0, 1, 'P', 'c', 'm', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                            0, 0, 2, 8, 'D', 'w', '1', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                            0, 0, 2, 8, 'D', 'w', '2', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  EXPECT_EQ(Bytes(img, 2 * 2082, 42), multis);
  for (std::uint32_t j = 0; j < 9; ++j) EXPECT_EQ(Le16(img, 2 * 2103 + 10 * j), j);
  // Block 7, the 4-frame wave at word 1048 (start 2, no PCM offset), is followed by the second set;
  // the PCM block at 2072 follows that.
  const std::vector<std::uint8_t> records = {0, 0, 0x1A, 4, 0, 0, 0x18, 4, 0, 4, 0x1C, 4, 0, 0,
                                             0, 0, 0x1A, 8, 0, 0, 0x18, 8, 0, 0, 0x22, 8, 0, 0};
  EXPECT_EQ(Bytes(img, 2 * 2148 + 14 * 7, 28), records);
  std::size_t o = 2 * (32 + 1020);
  for (const SampleData& s : second.samples) {
    for (float f : s.frames) {
      ASSERT_EQ(static_cast<std::int16_t>(Le16(img, o)), FrameToInt16(f));
      o += 2;
    }
  }
}

TEST(CardImage, NegativeLoopOfAShortDrumIsStoredAsZero) {
  CardDocument doc;
  AddMulti(doc, "M").samples.push_back(RampSample(4, 500));
  SampleData drum = RampSample(3, 9);
  drum.markers.loop = -2;  // what a drum import of 3 frames gives
  AddDrum(doc, "D").samples.push_back(drum);
  const auto img = Build(doc);
  EXPECT_EQ(Le24(img, 2 * Le32(img, 40) + 14 + 6), 32u + 4);  // the drum block's own first value
  CardDocument loaded;
  ASSERT_EQ(ParseCardFile(img, loaded), kOk);
  EXPECT_EQ(loaded.drumsounds[0].samples[0].frames, drum.frames);
  EXPECT_EQ(loaded.drumsounds[0].samples[0].markers.loop, 0);
}

TEST(CardImage, SizeLimits) {
  CardDocument doc;
  AddMulti(doc, "M").samples.push_back(RampSample(100));
  const CardImage file = Build(doc);
  const std::uint64_t size = file.size();
  CardImage image = {9};
  std::uint64_t required = 0;
  doc.cardCapacity = static_cast<std::uint32_t>(size - 1);  // one byte short: the image stays untouched
  EXPECT_EQ(BuildCardImage(doc, CardLayout::Card, image, &required), kTooMuchData);
  EXPECT_EQ(required, size);
  EXPECT_EQ(image, CardImage{9});
  doc.cardCapacity = static_cast<std::uint32_t>(size);
  EXPECT_EQ(BuildCardImage(doc, CardLayout::Card, image, &required), kOk);
  EXPECT_EQ(image, file);
  // A card-file larger than loading accepts is refused.
  doc.multisounds[0].samples[0] = MakeSample(std::vector<int>(8 * 1024 * 1024, 0));
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image, &required), kTooMuchData);
  EXPECT_EQ(required, 64u + 16777216 + 14 + 10 + 14);
  // The largest card-file that loads builds.
  doc.multisounds[0].samples[0] = MakeSample(std::vector<int>((16777216 - 64 - 14 - 10 - 14) / 2, 0));
  EXPECT_EQ(BuildCardImage(doc, CardLayout::File, image, &required), kOk);
  EXPECT_EQ(image.size(), 16777216u);
}

// Builders of documents the image cannot hold, and of the largest ones it can.
void Zones(CardDocument& d, std::size_t n) { AddMulti(d, "M").samples.assign(n, RampSample(1)); }
void Drums(CardDocument& d, int n) {
  d.cardCapacity = 2u << 20;
  for (int i = 0; i < n; ++i) AddDrum(d, "D").samples.push_back(RampSample(1));
}
void Markers(CardDocument& d, MarkerSet m, std::size_t frames = 10, bool drum = false) {
  SampleData s = RampSample(frames);
  s.name.assign("S");
  s.markers = m;
  (drum ? AddDrum(d, "Kick") : AddMulti(d, "M")).samples.push_back(s);
}
// `sets` DWGS wave sets, the first one changed: 1 a wave fewer, 2 a wave shorter, 3 its last wave ending
// before its last frame.
void Dwgs(CardDocument& d, int sets, int change) {
  for (int k = 1; k <= sets; ++k) AddDwgsWaves(AddMulti(d, k == 1 ? "Dw1" : "Dw2", WaveType::DWGS), k);
  std::vector<SampleData>& w = d.multisounds[0].samples;
  if (change == 1) w.pop_back();
  if (change == 2) w[0] = RampSample(511);
  if (change == 3) w[7].markers.end = 3;
  w.back().name.assign("W8");
}
void LoopAt(CardDocument& d, std::int64_t loop) {
  d.cardCapacity = 40u << 20;
  SampleData s;
  s.name.assign("Big C4");
  s.frames.assign(1u << 24, 0.0f);
  s.markers = {0, 0, loop, static_cast<std::int64_t>(s.frames.size())};
  AddMulti(d, "Big").samples.push_back(std::move(s));
}

// Each refusal says why, naming the sound and sample, and leaves the output alone.
TEST(CardImage, WhatTheImageCannotHoldIsRefusedWithItsReason) {
  const std::string past = "Sample \"S\" of \"M\": Start or Loop lies past End";
  const std::string outside = "Sample \"S\" of \"M\": a marker lies outside the sample";
  const std::string none = "Sample \"S\" of \"M\": it holds no frames";
  const std::string shape = "Multisound \"Dw2\": its DWGS set differs in shape from the first DWGS Multisound";
  struct Case {
    const char* what;
    void (*make)(CardDocument&);
    std::string reason;  // empty: built
  };
  const Case cases[] = {
      {"255 zones", [](CardDocument& d) { Zones(d, 255); }, ""},
      {"256 zones", [](CardDocument& d) { Zones(d, 256); }, "Multisound \"M\": it has more than 255 samples"},
      {"65535 drumsounds", [](CardDocument& d) { Drums(d, 65535); }, ""},
      {"65536 drumsounds", [](CardDocument& d) { Drums(d, 65536); },
       "the card holds at most 65535 sounds, zones and samples of each kind"},
      {"markers inside", [](CardDocument& d) { Markers(d, {0, 3, 5, 8}); }, ""},
      {"loop at the end", [](CardDocument& d) { Markers(d, {0, 3, 10, 10}); }, ""},
      {"every marker at 0", [](CardDocument& d) { Markers(d, {0, 0, 0, 0}); }, ""},
      {"end past the frames", [](CardDocument& d) { Markers(d, {0, 0, 0, 11}); }, outside},
      {"start past end", [](CardDocument& d) { Markers(d, {0, 5, 3, 4}); }, past},
      {"loop past end", [](CardDocument& d) { Markers(d, {0, 3, 9, 8}); }, past},
      {"a drum's loop past end", [](CardDocument& d) { Markers(d, {0, 3, 9, 8}, 10, true); },
       "Sample \"S\" of \"Kick\": Start or Loop lies past End"},
      {"negative start", [](CardDocument& d) { Markers(d, {0, -1, 0, 8}); }, outside},
      {"unset with frames", [](CardDocument& d) { Markers(d, {0, -1, -1, -1}); }, outside},
      {"unset without frames", [](CardDocument& d) { Markers(d, {0, -1, -1, -1}, 0); }, none},
      {"past the end without frames", [](CardDocument& d) { Markers(d, {0, 0, 0, 1}, 0); }, none},
      {"DWGS sets alike", [](CardDocument& d) { Dwgs(d, 2, 0); }, ""},
      {"DWGS sets of different wave counts", [](CardDocument& d) { Dwgs(d, 2, 1); }, shape},
      {"DWGS waves of different lengths", [](CardDocument& d) { Dwgs(d, 2, 2); }, shape},
      {"first set's last wave ending early", [](CardDocument& d) { Dwgs(d, 2, 3); },
       "Sample \"W8\" of \"Dw1\": End must lie at the last frame while other DWGS Multisounds follow"},
      {"a lone set's last wave ending early", [](CardDocument& d) { Dwgs(d, 1, 3); }, ""},
      {"largest loop address", [](CardDocument& d) { LoopAt(d, 0xFFFFFF - 32); }, ""},
      {"loop address past 24 bits", [](CardDocument& d) { LoopAt(d, 0xFFFFFF - 31); },
       "Sample \"Big C4\": its addresses lie beyond what the card can address"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CardDocument doc;
    c.make(doc);
    CardImage image = {1, 2, 3};
    BuildRefusal refusal;
    refusal.assign("x");
    const Result expected = c.reason.empty() ? kOk : kTooMuchData;
    EXPECT_EQ(BuildCardImage(doc, CardLayout::Card, image, nullptr, &refusal), expected);
    EXPECT_EQ(std::string(refusal.view()), c.reason);
    if (!c.reason.empty()) {
      EXPECT_EQ(image, (CardImage{1, 2, 3}));
    }
  }
  // A save passes the reason on.
  CardDocument doc;
  Markers(doc, {0, 5, 3, 4});
  SaveReport outcome;
  EXPECT_EQ(SaveCardFile("/nonexistent-folder/x.qz", doc, &outcome), kTooMuchData);
  EXPECT_EQ(std::string(outcome.refusal.view()), past);
}

}  // namespace
}  // namespace tavrin
