// Shared pieces of the command-line tool.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "audio/loop_search.h"
#include "card/document.h"

namespace tavrin::cli {

using Args = std::vector<std::string_view>;

// Each command gets the arguments after its name and returns the exit status.
int CmdNew(const Args& args);
int CmdInfo(const Args& args);
int CmdImage(const Args& args);
int CmdAdd(const Args& args);
int CmdExport(const Args& args);
int CmdImport(const Args& args);
int CmdAnalyze(const Args& args);
int CmdInstruments(const Args& args);
// `add` with --from: a SoundFont preset or instrument, or an SFZ instrument.
int AddInstrument(const Args& args);
int CmdDevices(const Args& args);
int CmdSend(const Args& args);
int CmdBanks(const Args& args);
int CmdClear(const Args& args);
int CmdFit(const Args& args);

// The memory of device `number` (1-based) and whether it takes the wide card
// layout; an exit status other than 0 when there is no such device.
int DeviceMemory(std::string_view command, unsigned long long number, std::uint64_t& capacity, bool& wide);

// Prints "tavrin: <subject>: <message>" on stderr as one line; returns 1.
int Fail(std::string_view subject, std::string_view message);
// Prints a usage error for a command; returns 2.
int Usage(std::string_view text);

// The program's arguments in UTF-8, also set up the console to show UTF-8
// (Windows: from the UTF-16 command line; false when one does not convert
// whole). Elsewhere argv as it is.
bool PlatformArguments(int argc, char** argv, std::vector<std::string>& out);

// The arguments of a command that takes one FILE and an optional --json;
// false when they are anything else.
bool ReadPathAndJson(const Args& args, std::string_view& path, bool& json);

// Parses a whole decimal number into an unsigned 64-bit value.
bool ParseUnsigned(std::string_view text, unsigned long long& out);

// What `add` does to each imported sample beyond the import itself.
struct AddAnalysis {
  bool detectRoot = false;
  bool findLoop = false;
  LoopPreference preference = LoopPreference::kNatural;
  bool crossfadeAuto = false;
  std::int64_t crossfadeFrames = 0;
};
// Crossfade lengths: "auto" or 1 ms to 1 s, in card frames.
bool ParseCrossfade(std::string_view text, AddAnalysis& want);
// Takes --detect-root, --find-loop [natural|compact] or --crossfade VALUE at
// args[i] (moving i past a value it reads). False when args[i] is none of
// them; `bad` when it is one with a wrong value.
bool TakeAnalysisOption(const std::vector<std::string_view>& args, std::size_t& i, AddAnalysis& want, bool& bad);
// Applies --find-loop, --crossfade and --detect-root to an imported sample;
// what could not be done is said on standard output, after `label`.
Result ApplyAnalysis(SampleData& s, const AddAnalysis& want, std::string_view label);
// A relative path completed from the working folder (UTF-8 on every system).
std::string AbsolutePath(std::string_view path);
// Appends the sounds to the card-file (a new one when there is none), under
// the update lock; 0, or the status after the message.
int AddSounds(std::string_view cardPath, std::vector<Sound>& sounds);

// Words for a result code of a file operation ("file not found", ...).
const char* FileErrorText(Result code);

}  // namespace tavrin::cli
