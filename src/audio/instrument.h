// Multisampled instruments from SoundFont 2 and SFZ files: what both readers
// deliver (one record per zone a note plays, its audio still at the file's
// rate), the report of what was taken and left out, and the step that turns
// the zones into the samples of one Sound through the import pipeline.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <span>
#include <vector>

#include "base/file_io.h"
#include "base/result.h"
#include "base/text.h"
#include "audio/decoded_audio.h"
#include "card/document.h"

namespace tavrin {

using ReportLine = Utf8Text<240>;

// What a reader or the import says about an instrument: notes per zone (left
// out, overlapping, unknown opcodes) and, on failure, the one reason.
struct InstrumentReport {
  std::vector<ReportLine> notes;
  ReportLine refusal;

  // printf-style; a note that cannot be stored for lack of memory is dropped.
  void Note(const char* format, ...);
  // Sets the refusal and returns `code`, for `return report.Refuse(13, ...)`.
  Result Refuse(Result code, const char* format, ...);
};

// A bounded text with its terminating zero, for the %s of a report line:
// Z(name).c lives until the end of the statement.
struct ZText {
  char c[256];
};
template <std::size_t N>
ZText Z(const Utf8Text<N>& t) {
  ZText z;
  const std::size_t n = t.length < sizeof z.c ? t.length : sizeof z.c - 1;
  for (std::size_t i = 0; i < n; ++i) z.c[i] = t.bytes[i];
  z.c[n] = 0;
  return z;
}

// printf into bounded text, cut at a character boundary.
void FormatInto(ReportLine& line, const char* format, std::va_list args);

// One zone of an instrument as a note at the chosen velocity plays it.
struct InstrumentZone {
  Utf8Text<64> name;      // sample name
  Utf8Text<96> where;     // "preset 0:1 "Piano" zone 3", "line 12" ...: for messages
  std::uint8_t loKey = 0, hiKey = 127;
  std::uint8_t loVel = 0, hiVel = 127;
  std::int32_t rootNote = 60;  // the key that plays the sample at its own pitch
  std::int32_t cents = 0;      // tuning on top of that (+ raises the pitch)
  bool loopOn = false;
  std::uint64_t loopStart = 0;  // frames from the zone's first frame
  std::uint64_t loopEnd = 0;    // one past the loop's last frame
  std::uint64_t frameCount = 0; // at `rate`, before the audio is read
  std::uint32_t rate = 0;
  std::uint64_t first = 0;          // SoundFont: first frame in the sample data
  std::int64_t partnerFirst = -1;   // SoundFont: the right channel's, for a stereo zone
  DecodedAudio audio;           // mono at `rate`, once read
};

// Card bytes a Multisound of these zones takes (its record, and per zone a
// zone and sample record and the frames at the card's rate).
std::uint64_t CardBytesOfZones(std::span<const InstrumentZone> zones);

// Root note and transpose from a zone's root and tuning: whole semitones
// beyond +-120 cents move the root note instead (down for a higher pitch).
void RootAndTranspose(std::int32_t rootNote, std::int32_t cents, std::uint8_t& root, std::int8_t& transpose);

// The top keys the card gives zones sorted by their high key: each zone maps
// from the previous one's top key + 1 to its own, so overlapping ranges and
// gaps between ranges are split at their middle; each is noted. The zones
// must be sorted (SortZonesByKey).
void CardTopKeys(std::span<const InstrumentZone> zones, std::vector<std::uint8_t>& topKeys, InstrumentReport& report);
void SortZonesByKey(std::vector<InstrumentZone>& zones);

// Appends one sample per zone (whose audio has been read) to the sound through
// the import pipeline: frames converted and normalised as for a WAV file, the
// loop, root note, tuning and top key from the zone. All or nothing: on
// failure the sound's samples are unchanged and the refusal names the zone.
Result ImportZones(Sound& sound, std::vector<InstrumentZone>& zones, InstrumentReport& report);

// A source of bytes read at offsets: a file through the file layer, or bytes
// in memory (tests, fuzzing).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // Exactly out.size() bytes from offset; 5 when they are not all there.
  virtual Result ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  Result ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

class FileSource final : public ByteSource {
 public:
  Result Open(Utf8View path) { return file_.Open(path); }
  std::uint64_t size() const override { return file_.size(); }
  Result ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override { return file_.ReadAt(offset, out); }
  std::uint64_t bytesRead() const { return file_.bytesRead(); }

 private:
  FileReader file_;
};

}  // namespace tavrin
