// tavrin: the command-line tool for building, inspecting and sending cards.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "tavrin_version.h"

namespace tavrin::cli {
namespace {

struct Command {
  const char* name;
  int (*run)(const Args&);
  const char* synopsis;
};

constexpr Command kCommands[] = {
    {"new", CmdNew, "new CARD.qz [--name NAME]"},
    {"info", CmdInfo, "info CARD.qz [--json] [--frames]"},
    {"image", CmdImage, "image CARD.qz OUT.bin --layout file|card|wide [--capacity BYTES]"},
    {"add", CmdAdd,
     "add CARD.qz (--multi NAME FILE... | --drum NAME FILE) [--keep-going] [--detect-root]\n"
     "    [--find-loop [natural|compact] [--crossfade auto|MS]]\n"
     "  tavrin add CARD.qz --multi NAME --from FILE.sf2 (--preset BANK:PROG | --preset NAME | --instrument NAME)"
     " [--velocity V] [--detect-root]\n"
     "    [--find-loop [natural|compact] [--crossfade auto|MS]]\n"
     "  tavrin add CARD.qz --multi NAME --from FILE.sfz [--velocity V] [...]\n"
     "  tavrin add CARD.qz --drums --from FILE.sf2 --preset 128:P --keys LO-HI [--velocity V]"},
    {"export", CmdExport, "export CARD.qz (--multi N | --drum N) DIR [--sfz]"},
    {"instruments", CmdInstruments, "instruments FILE.sf2|FILE.sfz [--json]"},
    {"import", CmdImport, "import FILE --json [--drum]"},
    {"analyze", CmdAnalyze, "analyze FILE [--json]"},
    {"fit", CmdFit, "fit CARD.qz [--capacity BYTES | --device N] [--max-transpose SEMITONES] [--apply] [--json]"},
    {"devices", CmdDevices, "devices"},
    {"send", CmdSend, "send CARD.qz [--device N] [--bank B]"},
    {"banks", CmdBanks, "banks [--device N]"},
    {"clear", CmdClear, "clear B... [--device N]"},
};

void PrintHelp(FILE* out) {
  std::fprintf(out, "usage: tavrin COMMAND [ARGS]\n       tavrin --version\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  tavrin %s\n", c.synopsis);
}

}  // namespace

int Fail(std::string_view subject, std::string_view message) {
  std::fprintf(stderr, "tavrin: %.*s: %.*s\n", static_cast<int>(subject.size()), subject.data(),
               static_cast<int>(message.size()), message.data());
  return 1;
}

int Usage(std::string_view text) {
  std::fprintf(stderr, "tavrin: usage: tavrin %.*s\n", static_cast<int>(text.size()), text.data());
  return 2;
}

bool ParseUnsigned(std::string_view text, unsigned long long& out) {
  if (text.empty() || text.size() > 19) return false;
  unsigned long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  out = v;
  return true;
}

const char* FileErrorText(Result code) {
  switch (code) {
    case kOk: return "success";
    case kInvalidArgument: return "the path is empty, too long or not valid";
    case kOutOfMemory: return "out of memory";
    case kTooMuchData: return "the file is incomplete";
    case kEndOfData: return "the file is incomplete";
    case kAccessDenied: return "access denied";
    case kBadFormat: return "unsupported format";
    case kNotFound: return "file not found";
    case kAlreadyExists: return "already exists";
    case kFileTooLarge: return "the file is too big, or its sound too long";
    case kDiskFull: return "the disk is full";
    case kDataError: return "data error";
    case kOpenFailed: return "the file could not be opened";
    default: return "the operation failed";
  }
}

}  // namespace tavrin::cli

int main(int argc, char** argv) {
  using namespace tavrin::cli;
  // On Windows the arguments are taken as UTF-16 and converted whole to
  // UTF-8 (argv holds them in the ANSI code page, which cannot name most files).
  std::vector<std::string> utf8;
  if (!PlatformArguments(argc, argv, utf8)) {
    std::fprintf(stderr, "tavrin: an argument is not valid text\n");
    return 2;
  }
  std::vector<char*> pointers;
  for (std::string& a : utf8) pointers.push_back(a.data());
  argc = static_cast<int>(pointers.size());
  argv = pointers.data();
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintHelp(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("tavrin " TAVRIN_VERSION_TEXT "\n");
    return 0;
  }
  Args args;
  for (int i = 2; i < argc; ++i) args.emplace_back(argv[i]);
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) == 0) return c.run(args);
  }
  std::fprintf(stderr, "tavrin: unknown command '%s'\n", argv[1]);
  PrintHelp(stderr);
  return 2;
}
