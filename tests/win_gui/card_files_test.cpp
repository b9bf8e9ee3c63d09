// The card-file commands of the main window: the save-changes prompt on every
// path, load failures, the hand-over from a second instance, dropped files
// and the card-file dialogs.
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "card/card_file.h"
#include "gui_test_support_win.h"

namespace tavrin {
namespace {

using test::Boxes;
using test::ShellFiles;
using test::Title;
using test::WindowText;

struct PromptCase {
  const char* what;
  const wchar_t* cardPath;  // the current card-file in the scratch folder; nullptr: unnamed
  UINT trigger;             // WM_CLOSE, a menu command, or 0 for a card-file handed over
  std::vector<test::BoxAnswer> answers;
  std::wstring lastBox;  // the last box seen; of a file dialog only its caption
  std::size_t drums;     // drumsounds afterwards (one before)
  bool modified;
  const wchar_t* title;  // afterwards, after the program's name; "" when closed, nullptr: not looked at
};
void PrintTo(const PromptCase& c, std::ostream* os) { *os << c.what; }

const std::wstring kPrompt = Title(
    L"|Do you want to save the changes you made in the card-file?\n\n"
    L"Your changes will be lost if you don\u2019t save them.");
const std::wstring kSaveFailed = Title(L"|Can't save the card-file");
constexpr wchar_t kUnsavable[] = L"missing-folder\\card.qz";

const PromptCase kPromptCases[] = {
    {"close, cancel", nullptr, WM_CLOSE, {IDCANCEL}, kPrompt, 1, true, L" - Unnamed*"},
    {"close, no", nullptr, WM_CLOSE, {IDNO}, kPrompt, 1, false, L""},
    {"close, yes: saved", L"yes.qz", WM_CLOSE, {IDYES}, kPrompt, 1, false, L""},
    {"close, yes: save fails", kUnsavable, WM_CLOSE, {IDYES, IDOK}, kSaveFailed, 1, true, L" - card*"},
    {"close, yes: cancelled", nullptr, WM_CLOSE, {IDYES, IDCANCEL}, L"Save As|", 1, true, L" - Unnamed*"},
    {"new, no", nullptr, 40001, {IDNO}, kPrompt, 0, false, L" - Unnamed"},
    {"new, yes: save fails", kUnsavable, 40001, {IDYES, IDOK}, kSaveFailed, 1, true, L" - card*"},
    {"open, no: dialog cancelled", nullptr, 40002, {IDNO, IDCANCEL}, L"Open|", 1, false, L" - Unnamed"},
    {"hand-over, cancel", nullptr, 0, {IDCANCEL}, kPrompt, 1, true, L" - Unnamed*"},
    {"hand-over, no", nullptr, 0, {IDNO}, kPrompt, 0, false, L" - asked"},
};

class SaveChangesPromptTest : public test::MainWindowFixture,
                              public ::testing::WithParamInterface<PromptCase> {};

TEST_P(SaveChangesPromptTest, AnswersAndOutcome) {
  const PromptCase& c = GetParam();
  const std::wstring path = c.cardPath ? test::ScratchFolder() + c.cardPath : std::wstring();
  const std::wstring handed = test::SaveCard(L"asked.qz", "ASKED");
  CurrentCardPath() = test::Utf8Path(path);
  test::FillCard(TheDocument(), "PROMPTED");
  Click(MainRow::kDrumAdd);
  const Boxes seen = test::Answering(c.answers, [&] {
    if (c.trigger == WM_CLOSE) SendMessageW(main_, WM_CLOSE, 0, 0);
    if (c.trigger == 0) HandOver(handed);
    if (c.trigger > WM_USER) Menu(static_cast<WORD>(c.trigger));
  });
  ASSERT_EQ(seen.size(), c.answers.size());
  EXPECT_EQ(seen[0], kPrompt);
  EXPECT_EQ(seen.back().substr(0, c.lastBox.size()), c.lastBox);
  EXPECT_EQ(TheDocument().drumsounds.size(), c.drums);
  EXPECT_EQ(TheDocument().modified, c.modified);
  if (c.title) {
    EXPECT_EQ(WindowText(main_), *c.title ? Title(c.title) : std::wstring());
  }
  if (c.cardPath && !IsWindow(main_)) {
    CardDocument saved;
    EXPECT_EQ(LoadCardFile(test::Utf8Path(path).view(), saved), kOk);
    EXPECT_EQ(saved.name.view(), "PROMPTED");
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, SaveChangesPromptTest, ::testing::ValuesIn(kPromptCases));

using CardFileTest = test::MainWindowFixture;

TEST_F(CardFileTest, HandOversThatLoadNothing) {
  const std::wstring card = test::SaveCard(L"refused.qz", "REFUSED");
  wchar_t* data = const_cast<wchar_t*>(card.c_str());
  const DWORD bytes = static_cast<DWORD>(card.size() * 2);
  // Refused: another identifier, no data, far beyond any path, no pointer.
  for (COPYDATASTRUCT cds : {COPYDATASTRUCT{2, bytes, data}, COPYDATASTRUCT{1, 0, data},
                             COPYDATASTRUCT{1, 0x7FFFFFFF, data}, COPYDATASTRUCT{1, 8, nullptr}})
    EXPECT_EQ(SendMessageW(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), FALSE);
  test::Pump();
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed"));
  // Taken but not loaded. 130 characters of two UTF-8 bytes each are more
  // than the 260 bytes a path is kept in: cut, it would name another file.
  const std::wstring bad = test::ScratchFolder() + L"bad.qz";
  std::ofstream(std::filesystem::path(bad)) << "not a card-file at all";
  // The box names the file that failed; a path too long to keep is not named.
  const std::wstring missing = test::ScratchFolder() + L"no-such-card.qz";
  for (const auto& [path, reason] : {std::pair(missing, missing + L"\n\nFile not found"),
                                     {bad, bad + L"\n\nInvalid file format"},
                                     {test::ScratchFolder() + std::wstring(130, L'\u00E9') + L".qz",
                                      L"The path is too long"}}) {
    EXPECT_EQ(test::Answering({IDOK}, [&] { EXPECT_TRUE(HandOver(path)); }),
              Boxes{Title(L"|Can't load the card-file\n\n") + reason});
    EXPECT_EQ(WindowText(main_), Title(L" - Unnamed"));
  }
}

TEST_F(CardFileTest, DroppingCardFiles) {
  IDropTarget* target = MainWindowDropTarget();
  ASSERT_NE(target, nullptr);
  const std::wstring card = test::SaveCard(L"DROPPED.QZ", "DROPPED");
  std::ofstream(std::filesystem::path(test::ScratchFolder() + L"notes.txt")) << "notes";
  IDataObject* text = ShellFiles({L"notes.txt"});
  // A card-file (upper-case extension) among other files.
  IDataObject* files = ShellFiles({L"notes.txt", L"DROPPED.QZ"});
  ASSERT_TRUE(text && files);
  // The drop effect a step answers: 0 enter, 1 over, 2 drop.
  const auto answer = [&](int step, IDataObject* data) {
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    if (step == 0) target->DragEnter(data, 0, POINTL{10, 10}, &effect);
    if (step == 1) target->DragOver(0, POINTL{10, 10}, &effect);
    if (step == 2) target->Drop(data, 0, POINTL{10, 10}, &effect);
    return effect;
  };
  const auto textSteps = [&] {
    for (int step = 0; step < 3; ++step) EXPECT_EQ(answer(step, text), DWORD{DROPEFFECT_NONE}) << step;
  };
  EXPECT_EQ(test::Answering({}, textSteps), Boxes{});  // no load tried
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed"));
  EXPECT_EQ(answer(0, files), DWORD{DROPEFFECT_COPY});
  EXPECT_EQ(answer(1, files), DWORD{DROPEFFECT_COPY});
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed"));  // nothing loaded while it is only dragged over
  target->DragLeave();
  EXPECT_EQ(answer(0, files), DWORD{DROPEFFECT_COPY});
  EXPECT_EQ(answer(2, files), DWORD{DROPEFFECT_COPY});
  test::Pump();  // opened once the drop has returned
  // Loaded with the first entries selected and the list focused.
  EXPECT_EQ(WindowText(main_), Title(L" - DROPPED"));
  EXPECT_EQ(Items(MainRow::kMultiList), L">Piano");
  EXPECT_TRUE(IsWindowEnabled(Control(MainRow::kMultiRemove)));
  EXPECT_EQ(GetFocus(), Control(MainRow::kMultiList));
  // The same file handed over by a second instance while unmodified: nothing
  // happens; dropped again: it is loaded again.
  TheDocument().name.assign("CHANGED");
  EXPECT_TRUE(HandOver(card));
  EXPECT_EQ(TheDocument().name.view(), "CHANGED");
  answer(0, files);
  answer(2, files);
  test::Pump();
  EXPECT_EQ(TheDocument().name.view(), "DROPPED");
  // On a modified card the save prompt comes after the drop has returned:
  // a box inside it would hold the program the file came from.
  TheDocument().modified = true;
  EXPECT_EQ(test::Answering({}, [&] { answer(0, files), answer(2, files); }), Boxes{});
  EXPECT_EQ(test::Answering({IDNO}, test::Pump), Boxes{kPrompt});
  EXPECT_FALSE(TheDocument().modified);
  text->Release();
  files->Release();
}

TEST_F(CardFileTest, DialogsSaveAndOpenAndRememberTheFolder) {
  const wchar_t kKey[] = L"SOFTWARE\\Veltrovana\\Tavrin";
  const std::wstring saved = test::ScratchFolder() + L"saved-as.qz";
  DeleteFileW(saved.c_str());
  test::FillCard(TheDocument(), "SAVED");
  TheDocument().modified = true;
  for (const auto& [command, file, caption, title] :
       {std::tuple(40004, saved, L"Save As|", L" - saved-as"),
        std::tuple(40002, test::SaveCard(L"opened.qz", "OPENED"), L"Open|", L" - opened")}) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"LastCardPath");
    // The file name box of the dialogs is item 0x47C.
    const Boxes seen = test::Answering({{IDOK, 0x47C, file}}, [&] { Menu(static_cast<WORD>(command)); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].rfind(caption, 0), 0u) << seen[0];
    EXPECT_EQ(WindowText(main_), Title(title));
    EXPECT_FALSE(TheDocument().modified);
    wchar_t folder[300] = {};
    DWORD bytes = sizeof(folder);
    RegGetValueW(HKEY_CURRENT_USER, kKey, L"LastCardPath", RRF_RT_REG_SZ, nullptr, folder, &bytes);
    EXPECT_EQ(_wcsicmp(folder, test::ScratchFolder().c_str()), 0) << folder;
  }
  EXPECT_EQ(TheDocument().name.view(), "OPENED");
  CardDocument loaded;
  EXPECT_EQ(LoadCardFile(test::Utf8Path(saved).view(), loaded), kOk);
  EXPECT_EQ(loaded.name.view(), "SAVED");
}

}  // namespace
}  // namespace tavrin
