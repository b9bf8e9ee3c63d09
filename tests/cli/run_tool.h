// Runs the tavrin tool and collects its exit status, stdout and stderr.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace tavrin::testing {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline ToolRun RunTool(const std::string& args, const std::string& errFile, const std::string& env = "") {
  ToolRun run;
  const std::string cmd = env + " " + TAVRIN_CLI + " " + args + " 2>" + errFile;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return run;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) run.out.append(buf, n);
  const int raw = ::pclose(p);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream in(errFile);
  run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

}  // namespace tavrin::testing
