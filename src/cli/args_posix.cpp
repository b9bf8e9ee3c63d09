// POSIX side of the tool's arguments: they arrive as the bytes given.
#include "cli/cli.h"

namespace tavrin::cli {

bool PlatformArguments(int argc, char** argv, std::vector<std::string>& out) {
  out.clear();
  for (int i = 0; i < argc; ++i) out.emplace_back(argv[i]);
  return true;
}

}  // namespace tavrin::cli
