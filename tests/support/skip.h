// Tests that cannot run here (no test corpus, no encoder tool) skip with one
// line saying what was not checked and how to make it run. The line is also
// appended to the file named by TAVRIN_SKIP_LOG, so that the test command can
// list every skipped group at its end.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace tavrin::testing {

inline void NoteSkippedGroup(const std::string& line) {
  const char* log = std::getenv("TAVRIN_SKIP_LOG");
  if (!log || !*log) return;
  if (std::FILE* f = std::fopen(log, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

// The shared test corpus: $TAVRIN_TESTDATA, else ../shared/testdata beside
// the checkout.
inline std::filesystem::path TestDataDir() {
  const char* env = std::getenv("TAVRIN_TESTDATA");
  if (env && *env) return std::filesystem::path(env);
  return (std::filesystem::path(TAVRIN_SHARED_DIR) / "testdata").lexically_normal();
}

// Empty when `sub` of the corpus is there; otherwise the skip line.
inline std::string MissingTestData(const char* sub) {
  const std::filesystem::path dir = TestDataDir() / sub;
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return {};
  return std::string("test corpus ") + sub + ": not found in " + dir.string() +
         "; set TAVRIN_TESTDATA to the folder that holds it";
}

// The skip line for files made by an encoder tool that is not at hand.
inline std::string ToolMissing(const char* tools) {
#ifdef _WIN32
  return std::string("files made by ") + tools +
         ": the Linux tools cannot run under Wine; set TAVRIN_TOOL_FILES to the folder where the native "
         "tests kept them (scripts/test.sh does)";
#else
  return std::string("files made by ") + tools + ": not installed; scripts/setup.sh installs it";
#endif
}

}  // namespace tavrin::testing

#define TAVRIN_SKIP_GROUP(line)                         \
  do {                                                  \
    const std::string tavrin_skip_line_ = (line);       \
    ::tavrin::testing::NoteSkippedGroup(tavrin_skip_line_); \
    GTEST_SKIP() << tavrin_skip_line_;                  \
  } while (0)
