#include "base/text.h"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

TEST(CutUtf8, KeepsWholeCharacters) {
  EXPECT_EQ(CutUtf8("ABCDEFGHIJ\xC3\xA9", 10), 10u);  // é after the tenth byte
  EXPECT_EQ(CutUtf8("ABCDEFGHI\xC3\xA9", 10), 9u);    // é across it
  EXPECT_EQ(CutUtf8("ABC", 10), 3u);
  EXPECT_EQ(CutUtf8("A\xF0\x9F\x8E\xB9", 4), 1u);  // a four-byte character is never split
  EXPECT_EQ(CutUtf8("A\xF0\x9F\x8E\xB9", 5), 5u);
  EXPECT_EQ(CutUtf8("\xC3\xA9", 0), 0u);
}

TEST(Utf8Text, AssignAppendAndConvertFromUtf16) {
  Utf8Text<10> t;
  t.assign("ABCDEFGHIJKL");
  EXPECT_EQ(t.view(), "ABCDEFGHIJ");
  t.assign("ABCDEFGHI\xC3\xA9");
  EXPECT_EQ(t.view(), "ABCDEFGHI");
  t.append("Z");
  EXPECT_EQ(t.view(), "ABCDEFGHIZ");
  t.append("Y");
  EXPECT_EQ(t.view(), "ABCDEFGHIZ");
  t.assignUtf16(u"ABCDEFGHI\u00E9Z");  // a character that does not fit is skipped, the next one kept
  EXPECT_EQ(t.view(), "ABCDEFGHIZ");
  t.assignUtf16(u"A\U0001F3B9B");
  EXPECT_EQ(t.view(), "A\xF0\x9F\x8E\xB9" "B");
  const char16_t loneLow[] = {u'A', 0xDC00, u'B'};
  t.assignUtf16(Utf16View(loneLow, 3));
  EXPECT_EQ(t.view(), "AB");
  const char16_t highAtEnd[] = {u'A', 0xD83C};
  t.assignUtf16(Utf16View(highAtEnd, 2));
  EXPECT_EQ(t.view(), "A");
}

TEST(Utf16Text, ConvertFromUtf8AppendAndTerminate) {
  Utf16Text<16> t;
  t.assignUtf8("A\x80" "B\xF8" "C");
  EXPECT_EQ(t.view(), u"ABC");
  t.assignUtf8("A\xC3");  // truncated sequence
  EXPECT_EQ(t.view(), u"A");
  t.assignUtf8("\xF4\x90\x80\x80" "D");  // above U+10FFFF
  EXPECT_EQ(t.view(), u"D");
  t.assignUtf8("\xC3\xA9\xF0\x9F\x8E\xB9" "\xF0\x90\x80\x80");  // and the first character past U+FFFF
  EXPECT_EQ(t.view(), u"\u00E9\U0001F3B9\U00010000");
  Utf16Text<2> small;
  small.assignUtf8("A\xF0\x9F\x8E\xB9" "B");  // the pair needs two free units
  EXPECT_EQ(small.view(), u"AB");
  Utf16Text<4> four;
  const char16_t text[] = {u'A', u'B', u'C', 0xD83C, 0xDFB9};
  four.append(Utf16View(text, 5));
  EXPECT_EQ(four.view(), u"ABC");  // the pair does not fit whole
  four.units[3] = u'x';
  EXPECT_EQ(four.terminated()[3], 0);
  four.append(u'D');
  four.append(u'E');
  EXPECT_EQ(four.view(), u"ABCD");
  four.terminated();  // no room: no write past the buffer (into the length)
  EXPECT_EQ(four.length, 4u);
  Utf16Text<2> two;
  two.append(u"ABC");
  EXPECT_EQ(two.view(), u"AB");
}

TEST(Decimal, SignedAndUnsigned) {
  Utf16Text<32> t;
  t.appendDecimal(static_cast<std::int32_t>(-5));
  t.append(u' ');
  t.appendDecimal(0u);
  t.append(u' ');
  t.appendDecimal(static_cast<std::int32_t>(-2147483647 - 1));
  t.append(u' ');
  EXPECT_EQ(t.view(), u"-5 0 -2147483648 ");
  t.clear();
  t.appendDecimal(4294967295u);
  EXPECT_EQ(t.view(), u"4294967295");
  Utf16Text<3> small;
  small.appendDecimal(12345u);
  EXPECT_EQ(small.view(), u"123");
  // UTF-8 text keeps the least significant digits.
  Utf8Text<3> last;
  last.assign("a");
  last.appendDecimal(12345u);
  EXPECT_EQ(last.view(), "a45");
  Utf8Text<8> zero;
  zero.appendDecimal(0u);
  EXPECT_EQ(zero.view(), "0");
}

TEST(Lengths, OfEachEncodingAtItsBoundaries) {
  std::size_t n = 0;
  EXPECT_TRUE(Utf8LengthOfUtf16(u"\u007F\u0080\u07FF\u0800\U0001F3B9", n));
  EXPECT_EQ(n, 1u + 2 + 2 + 3 + 4);
  EXPECT_TRUE(Utf16LengthOfUtf8("\xE0\xA0\x80\xF0\x9F\x8E\xB9", n));
  EXPECT_EQ(n, 3u);
  EXPECT_FALSE(Utf16LengthOfUtf8("\xC3\x41", n));  // no continuation byte
  Utf8Text<8> t;
  t.assignUtf16(u"\u07FF\u0800");  // the last two-byte and the first three-byte character
  EXPECT_EQ(t.view(), "\xDF\xBF\xE0\xA0\x80");
}

TEST(Compare, NoCaseFoldingTableAndUtf16) {
  EXPECT_TRUE(EqualUtf8NoCase("FLAC", "flac"));
  EXPECT_TRUE(EqualUtf8NoCase("\xC3\x84rger", "\xC3\xA4rger"));   // Ärger / ärger
  EXPECT_FALSE(EqualUtf8NoCase("Stra\xC3\x9F" "e", "STRASSE"));   // different lengths per character
  EXPECT_TRUE(EqualUtf8NoCase("\xC3\x98", "\xC3\xB8"));           // Ø / ø
  EXPECT_TRUE(EqualUtf8NoCase("\xC3\x9E", "\xC3\xBE"));           // Þ / þ, the last pair
  EXPECT_FALSE(EqualUtf8NoCase("\xC3\x97", "\xC3\xB7"));          // × and ÷ are not a pair
  EXPECT_TRUE(EqualUtf8NoCase("\xC2\xB5", "\xCE\xBC"));           // µ folds to Greek small mu
  EXPECT_FALSE(EqualUtf8NoCase("ab", "abc"));
  EXPECT_FALSE(EqualUtf8NoCase("\x80" "a", "\x80" "a"));          // invalid lead
  EXPECT_TRUE(EqualUtf8NoCase("", ""));
  EXPECT_TRUE(EqualUtf16(u"abc", u"abc"));
  EXPECT_FALSE(EqualUtf16(u"abc", u"abC"));
}

TEST(Paths, ConversionsRefusePathsThatWouldBeCutOrChanged) {
  Utf8Text<10> out;
  EXPECT_TRUE(AssignPathFromUtf16(out, u"C:\\a\\b.qz"));
  EXPECT_EQ(out.view(), "C:\\a\\b.qz");
  EXPECT_TRUE(AssignPathFromUtf16(out, u"C:\\\u00E9\u00E9.qz"));  // exactly 10 bytes
  EXPECT_EQ(out.length, 10u);
  EXPECT_FALSE(AssignPathFromUtf16(out, u"C:\\\u00E9\u00E9\u00E9.qz"));  // 12 bytes: refused
  EXPECT_TRUE(out.empty());
  const char16_t lone[] = {u'a', 0xD800, u'b'};
  EXPECT_FALSE(AssignPathFromUtf16(out, Utf16View(lone, 3)));
  EXPECT_TRUE(AssignPathFromUtf16(out, u"\U0001F3B9"));
  EXPECT_EQ(out.length, 4u);
  Utf16Text<5> out16;
  EXPECT_TRUE(AssignPathFromUtf8(out16, "ab\xC3\xA9"));
  EXPECT_EQ(out16.view(), u"ab\u00E9");
  EXPECT_FALSE(AssignPathFromUtf8(out16, "abc\xF0\x90\x80\x80"));  // U+10000 takes 2: no room for the zero
  EXPECT_EQ(out16.length, 0u);
  EXPECT_FALSE(AssignPathFromUtf8(out16, "a\x80"));  // a byte the conversion would skip
  EXPECT_FALSE(AssignPathFromUtf8(out16, "a\xC3"));
  EXPECT_TRUE(AssignPathFromUtf8(out16, "ab\xF0\x9F\x8E\xB9"));
  EXPECT_EQ(out16.length, 4u);
}

TEST(FileNames, NameAndStem) {
  EXPECT_EQ(FileNameOfPath("C:\\x\\Kick.WAV"), "Kick.WAV");
  EXPECT_EQ(FileNameOfPath("Kick.WAV"), "Kick.WAV");
  EXPECT_EQ(FileNameOfPath("C:\\x\\"), "");
  EXPECT_EQ(StemOfFileName("Kick.WAV"), "Kick");
  EXPECT_EQ(StemOfFileName("My.Piano C4.wav"), "My.Piano C4");
  EXPECT_EQ(StemOfFileName(".hidden"), ".hidden");
  EXPECT_EQ(StemOfFileName("trailing."), "trailing.");
  EXPECT_EQ(StemOfFileName("noext"), "noext");
#ifndef _WIN32
  EXPECT_EQ(FileNameOfPath("/home/u/Snare.flac"), "Snare.flac");
#endif
}

}  // namespace
}  // namespace tavrin
