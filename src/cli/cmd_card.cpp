#include "cli/cli.h"

namespace tavrin::cli {

int CmdNew(const Args&) { return Fail("new", "not available yet"); }
int CmdInfo(const Args&) { return Fail("info", "not available yet"); }
int CmdImage(const Args&) { return Fail("image", "not available yet"); }

}  // namespace tavrin::cli
