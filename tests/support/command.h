// Runs shell commands for the tests that drive the built tool or an encoder
// tool: the exit status and what the command printed.
#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

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

// Whether every program named (separated by spaces) is installed; never on
// Windows, where the Linux tools are out of reach.
inline bool HaveTools(const std::string& names) {
#ifdef _WIN32
  (void)names;
  return false;
#else
  return Quietly("for t in " + names + "; do command -v $t || exit 1; done") == 0;
#endif
}

}  // namespace tavrin::testing
