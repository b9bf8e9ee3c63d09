#include "app/main_logic.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrin {
namespace {

std::u16string S(Utf16View v) { return std::u16string(v); }

TEST(AppTitle, ProductAndVersion) {
  const AppTitle t = BuildAppTitle(u"Tavrin", (2u << 16) | 1u, (0u << 16) | 7u);
  EXPECT_EQ(S(t.view()), u"Tavrin v2.1.0");
}

TEST(MainTitle, UnnamedAndModified) {
  EXPECT_EQ(S(BuildMainTitle(u"Tavrin v2.1.0", "", false).view()), u"Tavrin v2.1.0 - Unnamed");
  EXPECT_EQ(S(BuildMainTitle(u"Tavrin v2.1.0", "", true).view()), u"Tavrin v2.1.0 - Unnamed*");
}

TEST(MainTitle, FileNameWithoutFolderAndExtension) {
  EXPECT_EQ(S(BuildMainTitle(u"T", "C:\\cards\\my.card.qz", false).view()), u"T - my.card");
  EXPECT_EQ(S(BuildMainTitle(u"T", "C:\\cards\\Piano.qz", true).view()), u"T - Piano*");
}

TEST(Texts, InitFailure) {
  EXPECT_EQ(S(InitFailureText(u"COM & OLE").view()), u"Can't Initialize 'COM & OLE'!\n\nApplication will Exit");
}

TEST(Texts, LoadFailure) {
  EXPECT_EQ(S(LoadFailureText("File not found").view()), u"Can't load the card-file\n\nFile not found");
}

TEST(Texts, PromptUsesTypographicApostrophe) {
  const std::u16string p = kSavePromptText;
  EXPECT_NE(p.find(u"don\u2019t"), std::u16string::npos);
  EXPECT_EQ(p.find(u'\''), std::u16string::npos);
}

TEST(SoundNames, MultiAndDrum) {
  EXPECT_EQ(NewSoundName(SoundType::Multisound, 1).view(), "Multi 1");
  EXPECT_EQ(NewSoundName(SoundType::Multisound, 3).view(), "Multi 3");
  EXPECT_EQ(NewSoundName(SoundType::Drumsound, 2).view(), "Drum 2");
  // Cut to 10 bytes.
  EXPECT_EQ(NewSoundName(SoundType::Multisound, 123456).view(), "Multi 1234");
}

TEST(CardFigures, PositiveAndNegativeFreeMemory) {
  CardStatistics s;
  s.cardSize = 64;
  s.sampleCount = 0;
  CardFigures f = FormatCardFigures(s, 524288);
  EXPECT_EQ(S(f.sampleCount.view()), u"0");
  EXPECT_EQ(S(f.cardSize.view()), u"64 Byte");
  EXPECT_EQ(S(f.freeMemory.view()), u"524224 Byte");
  EXPECT_FALSE(f.freeNegative);
  s.cardSize = 600000;
  s.sampleCount = 3;
  f = FormatCardFigures(s, 524288);
  EXPECT_EQ(S(f.sampleCount.view()), u"3");
  EXPECT_EQ(S(f.freeMemory.view()), u"-75712 Byte");
  EXPECT_TRUE(f.freeNegative);
  s.cardSize = 524288;
  EXPECT_FALSE(FormatCardFigures(s, 524288).freeNegative);
}

TEST(Lists, SelectionAfterRemove) {
  EXPECT_EQ(SelectionAfterRemove(0), 0u);
  EXPECT_EQ(SelectionAfterRemove(1), 0u);
  EXPECT_EQ(SelectionAfterRemove(5), 4u);
}

TEST(Lists, DragTargets) {
  // First of three onto the third: second place.
  EXPECT_EQ(DragDropTarget(0, 2), 1);
  // Onto the extra empty item after the last of three: the end.
  EXPECT_EQ(DragDropTarget(0, 3), 2);
  EXPECT_EQ(DragDropTarget(2, 0), 0);
  EXPECT_EQ(DragDropTarget(1, 1), -1);
  EXPECT_EQ(DragDropTarget(1, 2), -1);  // just below itself: no move
  EXPECT_EQ(DragDropTarget(1, -1), -1);
  EXPECT_FALSE(DragMayBegin(0, 1));
  EXPECT_FALSE(DragMayBegin(-1, 3));
  EXPECT_TRUE(DragMayBegin(0, 2));
}

TEST(Lists, ClearButtonCaption) {
  EXPECT_EQ(S(ClearButtonCaption(0)), u"Clear Selected Bank");
  EXPECT_EQ(S(ClearButtonCaption(1)), u"Clear Selected Bank");
  EXPECT_EQ(S(ClearButtonCaption(3)), u"Clear Selected Banks");
}

TEST(Prompt, NoRunsThePendingAction) {
  PendingActionState p;
  p.Set(PendingAction::Close);
  EXPECT_EQ(p.Answer(PromptAnswer::No), PendingAction::Close);
  EXPECT_EQ(p.pending(), PendingAction::None);
}

TEST(Prompt, CancelForgetsIt) {
  PendingActionState p;
  p.Set(PendingAction::New);
  EXPECT_EQ(p.Answer(PromptAnswer::Cancel), PendingAction::None);
  EXPECT_EQ(p.pending(), PendingAction::None);
  EXPECT_EQ(p.AfterSave(SaveOutcome::Saved), PendingAction::None);
}

TEST(Prompt, YesRunsItOnlyAfterASuccessfulSave) {
  PendingActionState p;
  p.Set(PendingAction::OpenPath);
  EXPECT_EQ(p.Answer(PromptAnswer::Yes), PendingAction::None);
  EXPECT_EQ(p.AfterSave(SaveOutcome::Saved), PendingAction::OpenPath);
  EXPECT_EQ(p.pending(), PendingAction::None);
}

TEST(Prompt, FailedOrCancelledSaveDropsTheAction) {
  PendingActionState p;
  p.Set(PendingAction::Close);
  EXPECT_EQ(p.Answer(PromptAnswer::Yes), PendingAction::None);
  EXPECT_EQ(p.AfterSave(SaveOutcome::Failed), PendingAction::None);
  EXPECT_EQ(p.pending(), PendingAction::None);
  p.Set(PendingAction::Open);
  p.Answer(PromptAnswer::Yes);
  EXPECT_EQ(p.AfterSave(SaveOutcome::Cancelled), PendingAction::None);
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
  // An odd byte count never reads the half unit.
  EXPECT_TRUE(AcceptHandOver(1, 5, path, v));
  EXPECT_EQ(v.size(), 2u);
  EXPECT_TRUE(CommandLineHasPath(2));
  EXPECT_FALSE(CommandLineHasPath(1));
  EXPECT_FALSE(CommandLineHasPath(3));
}

TEST(CardFiles, Extension) {
  EXPECT_TRUE(HasCardFileExtension("C:\\x\\a.qz"));
  EXPECT_TRUE(HasCardFileExtension("a.QZ"));
  EXPECT_FALSE(HasCardFileExtension("a.txt"));
  EXPECT_FALSE(HasCardFileExtension("qz"));
  EXPECT_FALSE(HasCardFileExtension("C:\\a.qz\\file"));
  EXPECT_TRUE(HasCardFileExtension16(u"D:\\cards\\Drums.Qz"));
  EXPECT_FALSE(HasCardFileExtension16(u"D:\\cards\\notes.txt"));
}

TEST(CardFiles, FolderAndSamePath) {
  EXPECT_EQ(S(FolderOfPath16(u"C:\\cards\\a.qz")), u"C:\\cards\\");
  EXPECT_EQ(S(FolderOfPath16(u"a.qz")), u"");
  EXPECT_TRUE(SameCardPath("C:\\Cards\\A.qz", "c:\\cards\\a.QZ"));
  EXPECT_FALSE(SameCardPath("C:\\Cards\\A.qz", "C:\\Cards\\B.qz"));
}

TEST(Banks, RowName) {
  std::uint8_t e[20] = {1, 0, 0, 0, 'P', 'I', 'A', 'N', 'O', 0, 'x'};
  EXPECT_EQ(S(BankRowName(e, 20).view()), u"PIANO");
  e[0] = 0;
  EXPECT_EQ(S(BankRowName(e, 20).view()), u"(empty)");
  std::uint8_t full[20] = {1, 0, 0, 0};
  for (int i = 4; i < 20; ++i) full[i] = 'A';
  EXPECT_EQ(BankRowName(full, 20).length, 16u);
}

}  // namespace
}  // namespace tavrin
