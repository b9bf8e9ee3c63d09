// The real-instrument corpus: the recorded notes of the TimGM6mb SoundFont,
// read through the SoundFont reader and imported as the program imports
// them, with our pitch detection and loop search measured against the root
// keys, tunings and loops its designer set, and aubio's YIN pitch tracker
// (aubiopitch) run on the same notes beside ours.
//
// Which samples: every distinct sample (told apart by where its data starts)
// among the zones that a note at velocity 100 plays in a preset of bank 0
// with a program from 0 to 111, the melodic families of General MIDI
// (programs 112 to 119 are its percussive sounds, 120 to 127 its sound
// effects, bank 128 its drum kits), that last at least a quarter second as
// stored: shorter ones (most of this small SoundFont's) are a few hundred
// frames of attack and a loop of a period or two, a waveform rather than a
// recorded note. Nothing else is left out: the rule is applied to every
// sample, never a list of names.
//
// The designer's pitch: a zone plays its sample at its own rate on its root
// key raised by its tuning (coarse and fine tune, the sample's pitch
// correction), so the sample's own pitch is the root key's frequency lowered
// by that tuning. Pitch is measured on each sample as stored and as a held
// key plays it for one second. An answer is right within +-50 cents of it, an
// octave error within 50 cents of one or two octaves off, unpitched when no
// pitch is found. Loops: for zones the designer looped, our first loop
// (FindLoops over the whole sample, with our pitch's period, as
// `tavrin add --find-loop` does) against the designer's, both seams measured
// by SeamDb below on the 31250-frame signal.
//
// Usage: real_instruments [--notes] [FILE.sf2]  (default /usr/share/sounds/sf2/TimGM6mb.sf2)
// --notes also prints one line per note: the designer's pitch, ours, aubio's.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "audio/export.h"
#include "audio/instrument.h"
#include "audio/loop_search.h"
#include "audio/pitch.h"
#include "audio/sf2_reader.h"

namespace {

using namespace tavrin;

struct Note {
  std::string name;
  double expected = 0;     // Hz, the designer's
  double correction = 0;   // the sample header's pitch correction, cents
  SampleData sample;       // at 31250 frames per second
  bool looped = false;
};

enum Class { kRight, kOctave, kUnpitched, kWrong };
const char* kClassNames[] = {"right", "octave error", "unpitched", "wrong note"};

double Cents(double f, double ref) { return 1200.0 * std::log2(f / ref); }

Class Classify(bool pitched, double f, double expected, double& cents) {
  if (!pitched || f <= 0) return kUnpitched;
  cents = Cents(f, expected);
  if (std::fabs(cents) <= 50) return kRight;
  for (double k : {-2400.0, -1200.0, 1200.0, 2400.0}) {
    if (std::fabs(cents - k) <= 50) return kOctave;
  }
  return kWrong;
}

double Median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The seam of a loop [loop, end): the frames played just before the jump
// (those before end) against those just before the place it lands (those
// before loop), over 1 ms: the energy of their difference against the energy
// before end, in dB. Lower is smoother.
// SeamDbBefore: the same over `w` frames ending `back` frames before the seam.
double SeamDbBefore(const std::vector<float>& x, std::int64_t loop, std::int64_t end, std::int64_t back, std::int64_t w) {
  w = std::min<std::int64_t>({w, loop - back, end - loop - back});
  if (w <= 0 || end > static_cast<std::int64_t>(x.size())) return 0;
  double diff = 0, energy = 1e-20;
  for (std::int64_t i = -w - back; i < -back; ++i) {
    const double a = x[static_cast<std::size_t>(end + i)], b = x[static_cast<std::size_t>(loop + i)];
    diff += (a - b) * (a - b);
    energy += a * a;
  }
  return 10 * std::log10(diff / energy + 1e-12);
}
double SeamDb(const std::vector<float>& x, std::int64_t loop, std::int64_t end) {
  const std::int64_t w = std::min<std::int64_t>({31, loop, end - loop});
  if (w <= 0 || end > static_cast<std::int64_t>(x.size())) return 0;
  double diff = 0, energy = 1e-20;
  for (std::int64_t i = -w; i < 0; ++i) {
    const double a = x[static_cast<std::size_t>(end + i)], b = x[static_cast<std::size_t>(loop + i)];
    diff += (a - b) * (a - b);
    energy += a * a;
  }
  return 10 * std::log10(diff / energy + 1e-12);
}

// aubio's YIN: the median of its voiced frames' pitch, 0 when none.
double AubioPitch(const SampleData& s, const std::filesystem::path& dir) {
  const std::string wav = (dir / "note.wav").string();
  if (WriteWavFile(s, wav) != kOk) return -1;
  const std::string command = "aubiopitch -i '" + wav + "' -p yin -u Hz 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::vector<double> voiced;
  double t = 0, f = 0;
  while (std::fscanf(p, "%lf %lf", &t, &f) == 2) {
    if (f > 0) voiced.push_back(f);
  }
  pclose(p);
  return voiced.empty() ? 0 : Median(voiced);
}

struct Tally {
  int count[4] = {};
  std::vector<double> rightCents;
  std::vector<std::string> examples[4];
  void Add(Class c, const Note& n, double got, double cents) {
    ++count[c];
    if (c == kRight) rightCents.push_back(std::fabs(cents));
    if (c != kRight && examples[c].size() < 4) {
      char line[160];
      std::snprintf(line, sizeof line, "%s (%.1f Hz, got %s)", n.name.c_str(), n.expected,
                    got > 0 ? (std::to_string(static_cast<int>(std::lround(got))) + " Hz").c_str() : "none");
      examples[c].push_back(line);
    }
  }
};

void PrintTally(const char* who, const Tally& t, int total) {
  std::printf("  %-22s right %3d (%5.1f %%)  octave %3d  unpitched %3d  wrong %3d  median |cents| of right %.1f\n",
              who, t.count[kRight], 100.0 * t.count[kRight] / total, t.count[kOctave], t.count[kUnpitched],
              t.count[kWrong], Median(t.rightCents));
}

void PrintFailures(const char* who, const Tally& t) {
  for (int c = kOctave; c <= kWrong; ++c) {
    if (t.examples[c].empty()) continue;
    std::printf("  %s, %s:", who, kClassNames[c]);
    for (const std::string& e : t.examples[c]) std::printf(" %s;", e.c_str());
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool listNotes = false;
  std::string path = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--notes") {
      listNotes = true;
    } else {
      path = argv[i];
    }
  }
  if (!std::filesystem::exists(path)) {
    std::printf("real_instruments: %s is not installed (scripts/setup.sh installs timgm6mb-soundfont); skipped\n",
                path.c_str());
    return 0;
  }
  FileSource file;
  SoundFont font;
  InstrumentReport report;
  if (file.Open(path) != kOk || OpenSoundFont(file, font, report) != kOk) {
    std::printf("real_instruments: %s cannot be read: %s\n", path.c_str(), report.refusal.bytes);
    return 1;
  }

  // The corpus, by the rule above.
  std::vector<Note> notes;
  std::vector<std::uint64_t> seen;
  std::size_t tooShort = 0;
  int presets = 0;
  for (std::size_t i = 0; i < font.presetCount(); ++i) {
    const Sf2Preset& p = font.presets[i];
    if (p.bank != 0 || p.program > 111) continue;
    ++presets;
    Sf2Choice choice;
    choice.program = p.program;
    std::vector<InstrumentZone> zones;
    InstrumentReport r;
    if (SoundFontZones(font, choice, zones, r) != kOk) continue;
    std::vector<InstrumentZone> fresh;
    for (InstrumentZone& z : zones) {
      if (std::find(seen.begin(), seen.end(), z.first) != seen.end()) continue;
      seen.push_back(z.first);
      fresh.push_back(std::move(z));
    }
    if (fresh.empty() || ReadSoundFontAudio(file, font, fresh, r) != kOk) continue;
    for (InstrumentZone& z : fresh) {
      Note n;
      n.name = z.name.bytes;
      n.expected = 440.0 * std::pow(2.0, (z.rootNote - 69) / 12.0) * std::pow(2.0, -z.cents / 1200.0);
      for (std::size_t k = 0; k + 1 < font.samples.size(); ++k) {
        if (font.samples[k].start <= z.first && z.first < font.samples[k].end) {
          n.correction = font.samples[k].pitchCorrection;
        }
      }
      n.looped = z.loopOn;
      std::vector<InstrumentZone> one;
      one.push_back(std::move(z));
      Sound sound;
      if (ImportZones(sound, one, r) != kOk) continue;
      n.sample = std::move(sound.samples[0]);
      if (n.sample.frameCount() < kCardRate / 4) {
        ++tooShort;
        continue;
      }
      notes.push_back(std::move(n));
    }
  }
  std::printf("real_instruments: %s: %zu samples of at least 0.25 s from %d melodic presets (bank 0, programs "
              "0-111), %zu looped; %zu shorter ones left out\n\n",
              path.c_str(), notes.size(), presets,
              static_cast<std::size_t>(std::count_if(notes.begin(), notes.end(), [](const Note& n) { return n.looped; })),
              tooShort);

  // Pitch: ours and aubio's on the same notes, twice: the samples as stored
  // (many of this small SoundFont's are a few hundred frames of attack and a
  // loop of a few periods), and as a held key plays them for one second (the
  // loop repeated), which is what a recording of the note would hold.
  const bool haveAubio = std::system("command -v aubiopitch >/dev/null 2>&1") == 0;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tavrin-real-instruments-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  std::vector<double> lengths;
  for (const Note& n : notes) lengths.push_back(n.sample.frameCount() * 1000.0 / kCardRate);
  std::printf("sample lengths: median %.0f ms, %zu of %zu shorter than 100 ms\n\n", Median(lengths),
              static_cast<std::size_t>(std::count_if(lengths.begin(), lengths.end(), [](double ms) { return ms < 100; })),
              lengths.size());
  for (const bool held : {false, true}) {
    Tally ours, aubio;
    std::vector<double> asRead, flipped, apart;
    if (listNotes) std::printf("notes %s:\n", held ? "held for one second" : "as stored");
    for (const Note& n : notes) {
      SampleData played;
      played.frames = n.sample.frames;
      if (held && n.looped && n.sample.markers.end > n.sample.markers.loop) {
        played.frames.resize(static_cast<std::size_t>(n.sample.markers.end));
        for (std::int64_t i = n.sample.markers.loop; played.frames.size() < kCardRate; ++i) {
          if (i == n.sample.markers.end) i = n.sample.markers.loop;
          played.frames.push_back(n.sample.frames[static_cast<std::size_t>(i)]);
        }
      }
      PitchEstimate e;
      DetectPitch(played.frames.data(), played.frames.size(), kCardRate, e);
      double cents = 0;
      const Class c = Classify(e.pitched, e.frequency, n.expected, cents);
      ours.Add(c, n, e.pitched ? e.frequency : 0, cents);
      if (c == kRight && std::fabs(n.correction) >= 3) {
        asRead.push_back(std::fabs(cents));
        flipped.push_back(std::fabs(Cents(e.frequency, n.expected * std::pow(2.0, 2 * n.correction / 1200.0))));
      }
      double f = -1, ac = 0;
      if (haveAubio) {
        f = AubioPitch(played, dir);
        const Class ca = Classify(f > 0, f, n.expected, ac);  // sets ac before Add reads it
        aubio.Add(ca, n, f, ac);
        if (c == kRight && ca == kRight) apart.push_back(std::fabs(Cents(e.frequency, f)));
      }
      if (listNotes) {
        std::printf("  %-20s designer %8.2f Hz  ours %8.2f Hz (%s, %+7.1f cents)  aubio %8.2f Hz (%+7.1f cents)\n",
                    n.name.c_str(), n.expected, e.pitched ? e.frequency : 0.0, kClassNames[c], cents, f, ac);
      }
    }
    const int total = static_cast<int>(notes.size());
    std::printf("pitch against the designer's root key and tuning, %d notes %s:\n", total,
                held ? "held for one second (looped zones' loops repeated)" : "as stored");
    PrintTally("ours (DetectPitch)", ours, total);
    if (haveAubio) {
      PrintTally("aubio (aubiopitch yin)", aubio, total);
    } else {
      std::printf("  aubio: aubiopitch is not installed (scripts/setup.sh installs aubio-tools)\n");
    }
    PrintFailures("ours", ours);
    if (haveAubio) {
      PrintFailures("aubio", aubio);
      std::printf("  ours against aubio, %zu notes both name right: median |cents| %.1f (how far two trackers agree; "
                  "the designer's tuning lies further from both)\n",
                  apart.size(), Median(apart));
    }
    std::printf("  pitch correction sign, %zu right notes with |correction| >= 3 cents: median |cents| as read %.1f, "
                "with its sign flipped %.1f\n\n",
                asRead.size(), Median(asRead), Median(flipped));
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);

  // Loops: our first loop against the designer's.
  int looped = 0, none = 0, asSmooth = 0, within3 = 0, inTune = 0, longEnough = 0, sustained = 0;
  int compactFound = 0, compactNoLonger = 0, compactSmooth = 0, ownSmooth = 0, writtenSmooth = 0, crossfaded = 0;
  int designerFaded = 0, designerUnmeasured = 0, plainTheirs = 0, plainSmooth = 0;
  int detunedTheirs = 0, attackTheirs = 0, allowedTheirs = 0, allowedSmooth = 0;
  // Each designer loop falls in one kind, the first that fits.
  enum Kind { kOffPeriods, kInAttack, kFaded, kFromStart, kPlain, kKinds };
  static constexpr const char* kKindName[kKinds] = {"off whole periods", "in the attack", "crossfaded",
                                                    "from the first frames", "plain"};
  static constexpr const char* kKindTag[kKinds] = {" [theirs off periods]", " [theirs in the attack]", " [theirs crossfaded]",
                                                   " [theirs from the start]", ""};
  int kindCount[kKinds] = {}, kindWorse[kKinds] = {}, kindOwnBetter[kKinds] = {};
  std::vector<double> ourPeriods, ourMs, theirPeriods, theirMs, ourDb, theirDb;
  for (const Note& n : notes) {
    if (!n.looped) continue;
    ++looped;
    const SampleData& s = n.sample;
    PitchEstimate e;
    DetectPitch(s.frames.data(), s.frames.size(), kCardRate, e);
    LoopSearchOptions options;
    options.to = s.frameCount();
    options.period = e.pitched ? kCardRate / e.frequency : 0.0;
    std::vector<LoopCandidate> found;
    FindLoops(s.frames.data(), s.frames.size(), options, found);
    const double period = kCardRate / n.expected;
    const double theirs = SeamDb(s.frames, s.markers.loop, s.markers.end);
    theirDb.push_back(theirs);
    theirPeriods.push_back((s.markers.end - s.markers.loop) / period);
    theirMs.push_back((s.markers.end - s.markers.loop) * 1000.0 / kCardRate);
    if (found.empty()) {
      ++none;
      continue;
    }
    const LoopCandidate& c = found.front();
    inTune += std::fabs(c.tuningCents) <= 2.0 ? 1 : 0;
    // "Where the sustain allows": a steady part of 200 ms or more.
    if (s.frameCount() - static_cast<std::int64_t>(SteadyStart(s.frames.data(), s.frames.size())) >= kCardRate / 5) {
      ++sustained;
      longEnough += c.lengthMs >= 100.0 ? 1 : 0;
    }
    const auto compact = std::find_if(found.begin(), found.end(),
                                      [](const LoopCandidate& k) { return k.kind == LoopPreference::kCompact; });
    if (compact != found.end()) {
      ++compactFound;
      compactNoLonger += compact->end - compact->loop <= s.markers.end - s.markers.loop ? 1 : 0;
      compactSmooth += SeamDb(s.frames, compact->loop, compact->end) <= theirs ? 1 : 0;
    }
    const double mine = SeamDb(s.frames, c.loop, c.end);
    // The same two loops on the search's own measure (2 periods before the
    // seam, 1 after), and ours as `add --find-loop --crossfade auto` writes it.
    const double ownTheirs = SeamErrorDb(s.frames.data(), s.frames.size(), s.markers.loop, s.markers.end, options.period);
    SampleData written = s;
    ApplyLoop(written, c);
    const bool faded = CrossfadeLoopAuto(written) > 0;
    const double asWritten = SeamDb(written.frames, c.loop, c.end);
    ownSmooth += c.errorDb <= ownTheirs ? 1 : 0;
    // A designer's loop whose seam is far better right at the jump than
    // 10-20 ms before it: crossfaded into the sample data, or placed where an
    // ensemble's voices line up for a moment (the two look alike here). One
    // that jumps to the sample's first frames has no frames before Loop to
    // measure.
    const bool unmeasured = s.markers.loop < 31;
    const bool theirsFaded = !unmeasured && theirs <= SeamDbBefore(s.frames, s.markers.loop, s.markers.end, 312, 312) - 10.0;
    designerFaded += theirsFaded ? 1 : 0;
    designerUnmeasured += unmeasured ? 1 : 0;
    if (!theirsFaded && !unmeasured) {
      ++plainTheirs;
      plainSmooth += mine <= theirs ? 1 : 0;
    }
    Kind kind = theirsFaded ? kFaded : unmeasured ? kFromStart : kPlain;
    // The designer's loops our search may pick too: in tune (within 2 cents
    // of whole periods of our pitch) and starting after the attack.
    if (options.period > 0.0) {
      const double k = (s.markers.end - s.markers.loop) / options.period;
      const bool tuned = std::fabs(1200.0 * std::log2(std::max(1.0, std::round(k)) / k)) <= 2.0;
      const bool steady = s.markers.loop >= static_cast<std::int64_t>(SteadyStart(s.frames.data(), s.frames.size()));
      if (!tuned || !steady) kind = !tuned ? kOffPeriods : kInAttack;
      detunedTheirs += tuned ? 0 : 1;
      attackTheirs += steady ? 0 : 1;
      if (tuned && steady) {
        ++allowedTheirs;
        allowedSmooth += mine <= theirs ? 1 : 0;
      }
    }
    ++kindCount[kind];
    if (mine > theirs) {
      ++kindWorse[kind];
      kindOwnBetter[kind] += c.errorDb <= ownTheirs ? 1 : 0;
    }
    writtenSmooth += asWritten <= theirs ? 1 : 0;
    crossfaded += faded ? 1 : 0;
    if (listNotes) {
      std::printf("  loop %-20s designer %6.1f ms %6.1f dB (own %6.1f)  ours %6.1f ms %6.1f dB (own %6.1f, %+4.1f cents)%s%s%s\n",
                  n.name.c_str(), (s.markers.end - s.markers.loop) * 1000.0 / kCardRate, theirs, ownTheirs, c.lengthMs,
                  mine, c.errorDb, c.tuningCents, faded ? " crossfaded" : "", mine <= theirs ? "" : " (less smooth)",
                  kKindTag[kind]);
    }
    ourDb.push_back(mine);
    asSmooth += mine <= theirs ? 1 : 0;
    within3 += mine <= theirs + 3 ? 1 : 0;
    ourPeriods.push_back((c.end - c.loop) / period);
    ourMs.push_back((c.end - c.loop) * 1000.0 / kCardRate);
  }
  std::printf("loops, %d zones the designer looped (seams: 1 ms before the jump against 1 ms before where it lands):\n",
              looped);
  if (looped > 0) {
    std::printf("  our first loop as smooth as the designer's or smoother: %d (%.1f %%); within 3 dB: %d (%.1f %%)\n",
                asSmooth, 100.0 * asSmooth / looped, within3, 100.0 * within3 / looped);
    std::printf("  on the search's own measure (2 periods before the seam, 1 after): as smooth %d (%.1f %%)\n", ownSmooth,
                100.0 * ownSmooth / looped);
    std::printf("  as `add --find-loop --crossfade auto` writes it (%d crossfaded): as smooth %d (%.1f %%)\n", crossfaded,
                writtenSmooth, 100.0 * writtenSmooth / looped);
    std::printf("  the designer's loops: %d jump to the sample's first frames (nothing before Loop to measure), %d have "
                "a 1 ms seam 10 dB better than 10-20 ms before (crossfaded, or a moment an ensemble lines up); against "
                "the other %d, ours as smooth: %d (%.1f %%)\n",
                designerUnmeasured, designerFaded, plainTheirs, plainSmooth, 100.0 * plainSmooth / std::max(1, plainTheirs));
    std::printf("  the designer's loops: %d more than 2 cents off whole periods of our pitch, %d starting in the "
                "attack; against the other %d (loops the search may pick too), ours as smooth: %d (%.1f %%)\n",
                detunedTheirs, attackTheirs, allowedTheirs, allowedSmooth, 100.0 * allowedSmooth / std::max(1, allowedTheirs));
    std::printf("  where ours is less smooth, by the designer's loop (each of the first kind that fits; ours "
                "as smooth on the search's own measure):\n");
    for (int k = 0; k < kKinds; ++k) {
      std::printf("    %-22s %2d of %3d (%d)\n", kKindName[k], kindWorse[k], kindCount[k], kindOwnBetter[k]);
    }
    std::printf("  no loop found: %d (%.1f %%)\n", none, 100.0 * none / looped);
    std::printf("  first (natural) loop within 2 cents of whole periods: %d of %d (%.1f %%)\n", inTune, looped - none,
                100.0 * inTune / std::max(1, looped - none));
    std::printf("  first (natural) loop of 100 ms or more where the steady part lasts 200 ms: %d of %d\n", longEnough,
                sustained);
    std::printf("  compact loop: listed for %d; no longer than the designer's %d (%.1f %%); as smooth %d (%.1f %%)\n",
                compactFound, compactNoLonger, 100.0 * compactNoLonger / std::max(1, compactFound), compactSmooth,
                100.0 * compactSmooth / std::max(1, compactFound));
    std::printf("  median seam: ours %.1f dB, the designer's %.1f dB\n", Median(ourDb), Median(theirDb));
    std::printf("  median loop length: ours %.1f periods / %.1f ms, the designer's %.1f periods / %.1f ms\n",
                Median(ourPeriods), Median(ourMs), Median(theirPeriods), Median(theirMs));
  }
  return 0;
}
