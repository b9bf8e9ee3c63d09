// Sample import and export commands (not available yet).
#include "cli/cli.h"

namespace tavrin::cli {

int CmdAdd(const Args&) { return Fail("add", "not available yet"); }
int CmdExport(const Args&) { return Fail("export", "not available yet"); }
int CmdImport(const Args&) { return Fail("import", "not available yet"); }

}  // namespace tavrin::cli
