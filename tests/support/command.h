// Runs shell commands for the tests that drive the built tool or an encoder
// tool: the exit status and what the command printed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace tavrin::testing {

struct CommandRun {
  int status = -1;  // -1 when the command did not end normally
  std::string out, err;
};

// Runs `command` through the shell and collects its standard output; with
// `errFile`, its error output goes there and is collected too.
inline CommandRun RunCommand(const std::string& command, const std::string& errFile = "") {
  CommandRun run;
  const std::string full = errFile.empty() ? command : command + " 2>\"" + errFile + "\"";
#ifdef _WIN32
  FILE* p = ::_popen(full.c_str(), "r");
#else
  FILE* p = ::popen(full.c_str(), "r");
#endif
  if (!p) return run;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) run.out.append(buf, n);
#ifdef _WIN32
  run.status = ::_pclose(p);
#else
  const int raw = ::pclose(p);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  if (!errFile.empty()) {
    std::ifstream in(errFile, std::ios::binary);
    run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return run;
}

// The exit status of `command`, whatever it prints discarded.
inline int Quietly(const std::string& command) { return RunCommand(command + " >/dev/null 2>&1").status; }

// Whether every program named (separated by spaces) is installed. On
// Windows (under Wine, where the Linux tools cannot run) the files they make
// come from the native run instead: see MakeWithTool.
inline bool HaveTools(const std::string& names) {
#ifdef _WIN32
  (void)names;
  return std::getenv("TAVRIN_TOOL_FILES") != nullptr;
#else
  return Quietly("for t in " + names + "; do command -v $t || exit 1; done") == 0;
#endif
}

// Runs an encoder tool's `command` in the folder `dir`; `outputs` are the
// files it makes there (names in dir). With TAVRIN_TOOL_FILES naming a
// folder, the native run keeps them there under a key of the command and of
// the folder's files before the run, and the Windows build takes them from
// there, so both builds read the same tool-made files (scripts/test.sh runs
// the native build first). True when the outputs are there.
inline bool MakeWithTool(const TempDir& dir, const std::string& command, const std::vector<std::string>& outputs) {
  namespace fs = std::filesystem;
  std::uint64_t h = 14695981039346656037ull;
  const auto mix = [&h](const std::string& bytes) {
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  };
  mix(command);
  std::vector<fs::path> names = dir.Entries();
  std::sort(names.begin(), names.end());
  for (const fs::path& n : names) {
    const auto bytes = ReadBytes(dir.File(n.generic_string()));
    mix(n.generic_string() + '\0' + std::string(bytes.begin(), bytes.end()));
  }
  const char* env = std::getenv("TAVRIN_TOOL_FILES");
  const std::string kept = env ? env : "";
  const auto keptFile = [&](std::size_t i) {
    return fs::path((kept.starts_with("/") && fs::path::preferred_separator == '\\' ? "Z:" : "") + kept) /
           (std::to_string(h) + "-" + std::to_string(i));
  };
  std::error_code ec;
#ifdef _WIN32
  for (std::size_t i = 0; i < outputs.size() && !ec; ++i)
    fs::copy_file(keptFile(i), dir.path() / outputs[i], fs::copy_options::overwrite_existing, ec);
  return !kept.empty() && !ec;
#else
  if (Quietly("cd \"" + dir.path().string() + "\" && " + command) != 0) return false;
  if (!kept.empty()) fs::create_directories(kept, ec);
  for (std::size_t i = 0; i < outputs.size() && !kept.empty(); ++i) {
    const fs::path part = keptFile(i).string() + ".part";  // whole files only
    fs::copy_file(dir.path() / outputs[i], part, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(part, keptFile(i), ec);
  }
  return true;
#endif
}

}  // namespace tavrin::testing
