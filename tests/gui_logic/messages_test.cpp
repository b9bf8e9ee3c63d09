// The texts of the main window's boxes and status line after loads and saves.
#include <gtest/gtest.h>

#include <string>

#include "app/main_logic.h"

namespace tavrin {
namespace {

std::u16string S(Utf16View v) { return std::u16string(v); }

TEST(Messages, LoadAndSaveFailuresSayWhichAndWhy) {
  EXPECT_EQ(S(LoadFailureText("Invalid file format", u"C:\\cards\\x.qz").view()),
            u"Can't load the card-file\n\nC:\\cards\\x.qz\n\nInvalid file format");
  const struct {
    Result result;
    const char* refusal;
    const char16_t* text;
  } rows[] = {
      {kTooMuchData, "Sample \"Pad C3\" of \"Pad\": Start or Loop lies past End",
       u"Can't save the card-file\n\nSample \"Pad C3\" of \"Pad\": Start or Loop lies past End"},
      {kTooMuchData, "", u"Can't save the card-file\n\nThe card is larger than a card-file can be (16 MiB)."},
      {kAccessDenied, "", u"Can't save the card-file\n\nAccess denied: the file may be read-only or in use."},
      {kDiskFull, "", u"Can't save the card-file\n\nThe disk is full."},
      {kFailed, "", u"Can't save the card-file"},
  };
  for (const auto& r : rows) EXPECT_EQ(S(SaveFailureText(r.result, r.refusal).view()), r.text) << r.result;
  EXPECT_EQ(S(LeftOutText(0).view()), u"");
  EXPECT_EQ(S(LeftOutText(1).view()), u"1 sound without samples was not saved");
  EXPECT_EQ(S(LeftOutText(2).view()), u"2 sounds without samples were not saved");
}

}  // namespace
}  // namespace tavrin
