#include "app/main_logic.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrin {
namespace {

std::u16string S(Utf16View v) { return std::u16string(v); }

TEST(Texts, TitlesAndMessages) {
  EXPECT_EQ(S(BuildAppTitle(u"Tavrin", (2u << 16) | 1u, (0u << 16) | 7u).view()), u"Tavrin v2.1.0");
  EXPECT_EQ(S(BuildMainTitle(u"Tavrin v2.1.0", "", false).view()), u"Tavrin v2.1.0 - Unnamed");
  EXPECT_EQ(S(BuildMainTitle(u"Tavrin v2.1.0", "", true).view()), u"Tavrin v2.1.0 - Unnamed*");
  // The card-file's name without folder and extension.
  EXPECT_EQ(S(BuildMainTitle(u"T", "C:\\cards\\my.card.qz", false).view()), u"T - my.card");
  EXPECT_EQ(S(BuildMainTitle(u"T", "C:\\cards\\Piano.qz", true).view()), u"T - Piano*");
  EXPECT_EQ(S(InitFailureText(u"COM & OLE").view()),
            u"Can't Initialize 'COM & OLE'!\n\nApplication will Exit");
  EXPECT_EQ(S(LoadFailureText("File not found").view()), u"Can't load the card-file\n\nFile not found");
  const std::u16string prompt = kSavePromptText;  // with the typographic apostrophe
  EXPECT_NE(prompt.find(u"don\u2019t"), std::u16string::npos);
  EXPECT_EQ(prompt.find(u'\''), std::u16string::npos);
}

TEST(Texts, SoundNamesAndCardFigures) {
  EXPECT_EQ(NewSoundName(SoundType::Multisound, 3).view(), "Multi 3");
  EXPECT_EQ(NewSoundName(SoundType::Drumsound, 2).view(), "Drum 2");
  EXPECT_EQ(NewSoundName(SoundType::Multisound, 123456).view(), "Multi 1234");  // cut to 10 bytes
  CardStatistics s{64, 0, 0, 0};
  CardFigures f = FormatCardFigures(s, 524288);
  EXPECT_EQ(S(f.sampleCount.view()), u"0");
  EXPECT_EQ(S(f.cardSize.view()), u"64 Byte");
  EXPECT_EQ(S(f.freeMemory.view()), u"524224 Byte");
  EXPECT_FALSE(f.freeNegative);
  s = {600000, 3, 0, 0};
  f = FormatCardFigures(s, 524288);
  EXPECT_EQ(S(f.sampleCount.view()), u"3");
  EXPECT_EQ(S(f.freeMemory.view()), u"-75712 Byte");
  EXPECT_TRUE(f.freeNegative);
  s.cardSize = 524288;
  EXPECT_FALSE(FormatCardFigures(s, 524288).freeNegative);
}

TEST(Lists, SelectionDragAndCaption) {
  EXPECT_EQ(SelectionAfterRemove(0), 0u);
  EXPECT_EQ(SelectionAfterRemove(1), 0u);
  EXPECT_EQ(SelectionAfterRemove(5), 4u);
  EXPECT_EQ(DragDropTarget(0, 2), 1);   // the first of three onto the third: second place
  EXPECT_EQ(DragDropTarget(0, 3), 2);   // onto the extra empty item after the last: the end
  EXPECT_EQ(DragDropTarget(2, 0), 0);
  EXPECT_EQ(DragDropTarget(1, 1), -1);
  EXPECT_EQ(DragDropTarget(1, 2), -1);  // just below itself: no move
  EXPECT_EQ(DragDropTarget(1, -1), -1);
  EXPECT_EQ(DragDropTarget(-1, 1), -1);
  EXPECT_FALSE(DragMayBegin(0, 1));
  EXPECT_FALSE(DragMayBegin(-1, 3));
  EXPECT_TRUE(DragMayBegin(0, 2));
  EXPECT_EQ(S(ClearButtonCaption(1)), u"Clear Selected Bank");
  EXPECT_EQ(S(ClearButtonCaption(2)), u"Clear Selected Banks");
}

// The pending action runs at once on No and after a successful save on Yes; Cancel, a failed and a
// cancelled save drop it. Nothing stays pending after the save.
TEST(Prompt, PendingAction) {
  struct Case {
    PendingAction action;
    PromptAnswer answer;
    PendingAction now, pendingThen;
    SaveOutcome outcome;
    PendingAction afterSave;
  };
  using A = PendingAction;
  using P = PromptAnswer;
  using O = SaveOutcome;
  const Case cases[] = {{A::Close, P::No, A::Close, A::None, O::Saved, A::None},
                        {A::New, P::Cancel, A::None, A::None, O::Saved, A::None},
                        {A::OpenPath, P::Yes, A::None, A::OpenPath, O::Saved, A::OpenPath},
                        {A::Close, P::Yes, A::None, A::Close, O::Failed, A::None},
                        {A::Open, P::Yes, A::None, A::Open, O::Cancelled, A::None}};
  for (const Case& c : cases) {
    PendingActionState p;
    p.Set(c.action);
    EXPECT_EQ(p.Answer(c.answer), c.now);
    EXPECT_EQ(p.pending(), c.pendingThen);
    EXPECT_EQ(p.AfterSave(c.outcome), c.afterSave);
    EXPECT_EQ(p.pending(), A::None);
  }
}

TEST(Dpi, Scaling) {
  EXPECT_EQ(ScaleRectToDpi(10, 256, 23, 23, 96, 96), (PixelRect{10, 256, 23, 23}));
  EXPECT_EQ(ScaleRectToDpi(10, 256, 23, 23, 144, 144), (PixelRect{15, 384, 34, 34}));
  EXPECT_EQ(FontHeightForDpi(10, 96), -13);
  EXPECT_EQ(FontHeightForDpi(10, 144), -20);
  EXPECT_EQ(FontHeightForDpi(13, 96), -17);
}

TEST(HandOver, AcceptsOnlyIdentifierOneWithBoundedData) {
  const char16_t path[] = u"C:\\a.qz";
  Utf16View v;
  EXPECT_TRUE(AcceptHandOver(1, 14, path, v));
  EXPECT_EQ(S(v), u"C:\\a.qz");
  EXPECT_FALSE(AcceptHandOver(2, 14, path, v));
  EXPECT_TRUE(v.empty());
  EXPECT_FALSE(AcceptHandOver(1, 14, nullptr, v));
  EXPECT_FALSE(AcceptHandOver(1, 0, path, v));
  EXPECT_FALSE(AcceptHandOver(1, 1, path, v));
  EXPECT_FALSE(AcceptHandOver(1, 2 * kHandOverMaxUnits + 2, path, v));
  EXPECT_TRUE(AcceptHandOver(1, 2 * kHandOverMaxUnits, path, v));
  EXPECT_TRUE(AcceptHandOver(1, 5, path, v));  // an odd byte count never reads the half unit
  EXPECT_EQ(v.size(), 2u);
  EXPECT_TRUE(CommandLineHasPath(2));
  EXPECT_FALSE(CommandLineHasPath(1));
  EXPECT_FALSE(CommandLineHasPath(3));
}

// A card-file that arrives while the editor is open and the question is
// being asked: the later one is taken, and it waits for the editor to close.
TEST(CardFiles, ArrivingWhileAsking) {
  ArrivingCardFile a;
  a.Arrive(u"a.qz", true);
  EXPECT_EQ(a.Take(true), ArrivingCardFile::Next::Ask);
  a.Arrive(u"b.qz", false);
  EXPECT_EQ(a.Take(true), ArrivingCardFile::Next::Nothing);
  a.Answer(true);
  EXPECT_EQ(a.Take(true), ArrivingCardFile::Next::Nothing);
  EXPECT_EQ(a.Take(false), ArrivingCardFile::Next::Open);
  EXPECT_TRUE(S(a.path()) == u"b.qz" && !a.handedOver());
}

TEST(CardFiles, ExtensionFolderAndSamePath) {
  EXPECT_TRUE(HasCardFileExtension("C:\\x\\a.qz"));
  EXPECT_TRUE(HasCardFileExtension("a.QZ"));
  EXPECT_FALSE(HasCardFileExtension("a.txt"));
  EXPECT_FALSE(HasCardFileExtension("qz"));
  EXPECT_FALSE(HasCardFileExtension("C:\\a.qz\\file"));
  EXPECT_TRUE(HasCardFileExtension16(u"D:\\cards\\Drums.Qz"));
  EXPECT_FALSE(HasCardFileExtension16(u"D:\\cards\\notes.txt"));
  EXPECT_EQ(S(FolderOfPath16(u"C:\\cards\\a.qz")), u"C:\\cards\\");
  EXPECT_EQ(S(FolderOfPath16(u"a.qz")), u"");
  EXPECT_TRUE(SameCardPath("C:\\Cards\\A.qz", "c:\\cards\\a.QZ"));
  EXPECT_FALSE(SameCardPath("C:\\Cards\\A.qz", "C:\\Cards\\B.qz"));
}

TEST(Banks, RowName) {
  std::uint8_t e[20] = {1, 0, 0, 0, 'P', 'I', 'A', 'N', 'O', 0, 'x'};
  EXPECT_EQ(S(BankRowName(e, 20).view()), u"PIANO");
  EXPECT_EQ(S(BankRowName(e, 19).view()), u"(empty)");
  e[0] = 0;
  EXPECT_EQ(S(BankRowName(e, 20).view()), u"(empty)");
  std::uint8_t full[20] = {1, 0, 0, 0};
  for (int i = 4; i < 20; ++i) full[i] = 'A';
  EXPECT_EQ(BankRowName(full, 20).length, 16u);
}

}  // namespace
}  // namespace tavrin
