// Cards the builder refuses say why, naming the sound and sample; card-files
// whose zones share samples beyond reason are refused on load.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "card/card_file.h"
#include "card/card_image.h"
#include "card/card_test_util.h"
#include "support/temp_dir.h"

namespace tavrin::testing {
namespace {

struct RefusalCase {
  const char* what;
  std::function<void(CardDocument&)> make;
  const char* reason;
};

TEST(BuildRefusal, NamesTheSoundAndSample) {
  const RefusalCase cases[] = {
      {"later DWGS set of another shape",
       [](CardDocument& d) {
         AddDwgsWaves(AddMulti(d, "Saw", WaveType::DWGS), 1);
         AddMulti(d, "Strings", WaveType::DWGS).samples.push_back(RampSample(8));
       },
       "Multisound \"Strings\": its DWGS set differs in shape from the first DWGS Multisound"},
      {"start past end",
       [](CardDocument& d) {
         SampleData s = RampSample(10);
         s.name.assign("Pad C3");
         s.markers.start = 9;
         s.markers.end = 5;
         AddMulti(d, "Pad").samples.push_back(s);
       },
       "Sample \"Pad C3\" of \"Pad\": Start or Loop lies past End"},
      {"loop past end",
       [](CardDocument& d) {
         SampleData s = RampSample(10);
         s.name.assign("K");
         s.markers.loop = 8;
         s.markers.end = 7;
         AddDrum(d, "Kick").samples.push_back(s);
       },
       "Sample \"K\" of \"Kick\": Start or Loop lies past End"},
      {"end beyond the frames",
       [](CardDocument& d) {
         SampleData s = RampSample(10);
         s.name.assign("S");
         s.markers.end = 11;
         AddMulti(d, "M").samples.push_back(s);
       },
       "Sample \"S\" of \"M\": a marker lies outside the sample"},
      {"no frames",
       [](CardDocument& d) {
         SampleData s;
         s.name.assign("E");
         AddMulti(d, "Z").samples.push_back(s);
       },
       "Sample \"E\" of \"Z\": it holds no frames"},
      {"256 zones",
       [](CardDocument& d) {
         Sound& s = AddMulti(d, "Big");
         for (int i = 0; i < 256; ++i) s.samples.push_back(RampSample(2));
       },
       "Multisound \"Big\": it has more than 255 samples"},
      {"first DWGS set ends early while another follows",
       [](CardDocument& d) {
         Sound& a = AddMulti(d, "A", WaveType::DWGS);
         AddDwgsWaves(a, 1);
         a.samples.back().name.assign("A 8");
         a.samples.back().markers.end = 3;
         AddDwgsWaves(AddMulti(d, "B", WaveType::DWGS), 2);
       },
       "Sample \"A 8\" of \"A\": End must lie at the last frame while other DWGS Multisounds follow"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.what);
    CardDocument doc;
    c.make(doc);
    CardImage image;
    BuildRefusal refusal;
    EXPECT_EQ(BuildCardImage(doc, CardLayout::Card, image, nullptr, &refusal), kTooMuchData);
    EXPECT_EQ(std::string(refusal.view()), c.reason);
    SaveReport outcome;
    EXPECT_EQ(SaveCardFile("/nonexistent-folder/x.qz", doc, &outcome), kTooMuchData);
    EXPECT_EQ(std::string(outcome.refusal.view()), c.reason);
  }
}

TEST(BuildRefusal, SaveCountsTheSoundsLeftOut) {
  CardDocument doc;
  AddMulti(doc, "Real").samples.push_back(RampSample(4));
  AddMulti(doc, "Empty1");
  AddDrum(doc, "Empty2");
  TempDir dir;
  SaveReport outcome;
  ASSERT_EQ(SaveCardFile(dir.File("c.qz"), doc, &outcome), kOk);
  EXPECT_EQ(outcome.soundsLeftOut, 2u);
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

}  // namespace
}  // namespace tavrin::testing
