// Device commands (not available yet).
#include "cli/cli.h"

namespace tavrin::cli {

int CmdDevices(const Args&) { return Fail("devices", "not available yet"); }
int CmdSend(const Args&) { return Fail("send", "not available yet"); }
int CmdBanks(const Args&) { return Fail("banks", "not available yet"); }
int CmdClear(const Args&) { return Fail("clear", "not available yet"); }

}  // namespace tavrin::cli
