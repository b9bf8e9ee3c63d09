// SFZ instruments: the text format's headers with inheritance, #define and
// #include, the opcodes that map samples to keys, velocities, tuning and
// loops; and the .sfz written beside a sound's exported WAV files.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "base/text.h"
#include "audio/instrument.h"

namespace tavrin {

// Where the reader gets the text of the .sfz and of what it includes.
class SfzFiles {
 public:
  virtual ~SfzFiles() = default;
  virtual Result Load(Utf8View path, std::vector<std::uint8_t>& out) = 0;
};

// The files on disk (at most 4 MiB each).
class DiskSfzFiles final : public SfzFiles {
 public:
  Result Load(Utf8View path, std::vector<std::uint8_t>& out) override;
};

struct SfzRegion {
  Utf8Text<520> sample;  // the sample's path, relative ones completed from the .sfz's folder
  Utf8Text<96> where;    // "line 12 of piano.sfz"
  int loKey = 0, hiKey = 127;
  int keyCenter = 60;  // -1: the sample file's own root note
  int transpose = 0, tune = 0;
  int loVel = 0, hiVel = 127;
  std::int64_t offset = 0, end = -1;  // end: the last frame played; -1 the file's last
  int loopMode = -1;                  // -1 as the file says, 0 off, 1 on
  std::int64_t loopStart = -1, loopEnd = -1;  // loopEnd: the loop's last frame
};

// Reads an .sfz into its regions (release-triggered ones are left out and
// noted; opcodes the program does not use are counted and listed once).
// 13 with the reason naming the line for a value that cannot be read, an
// #include that names itself again, nests beyond 16 levels or cannot be
// loaded; 4 no memory.
Result ParseSfz(Utf8View sfzPath, SfzFiles& files, std::vector<SfzRegion>& regions, InstrumentReport& report);

// The zones a note at `velocity` plays, each with its sample file read and
// cut to its offset and end. 13 or the reader's code, naming the region.
Result SfzZones(std::span<const SfzRegion> regions, std::uint8_t velocity, std::vector<InstrumentZone>& zones,
                InstrumentReport& report);

// The .sfz text of a sound whose samples were exported as `fileNames`: one
// region per sample with the keys the card maps it to.
Result BuildSfzText(const Sound& sound, std::span<const Utf8Text<64>> fileNames, std::vector<std::uint8_t>& out);

// Exports the sound's samples as WAV files into folder, then NAME.sfz there
// (NAME the sound's name, "_" for an empty one). The code of the first write
// that failed.
Result ExportSfz(const Sound& sound, Utf8View folder);

}  // namespace tavrin
