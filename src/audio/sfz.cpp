#include "audio/sfz.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <utility>

#include "base/alloc.h"
#include "base/file_io.h"
#include "audio/export.h"
#include "audio/import.h"

namespace tavrin {
namespace {

constexpr std::uint64_t kMaxSfzFile = 4u << 20;
constexpr int kMaxIncludeDepth = 16;
// Files read for one .sfz in all: includes that fan out at every level would
// otherwise read the same files millions of times.
constexpr int kMaxFiles = 256;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

using Opcodes = std::vector<std::pair<std::string, std::string>>;

// The header levels whose opcodes a region inherits, outermost first.
enum Level { kControl, kGlobal, kMaster, kGroup, kRegion, kOther, kLevels };

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

// A note as a number or a name: c4 = 60, sharps with # and flats with b,
// octaves from -1.
bool ParseNote(std::string_view v, int& note) {
  if (v.empty()) return false;
  if ((v[0] >= '0' && v[0] <= '9') || v[0] == '-') {
    int n = 0;
    std::size_t i = v[0] == '-' ? 1 : 0;
    if (i == v.size()) return false;
    for (; i < v.size(); ++i) {
      if (v[i] < '0' || v[i] > '9' || n > 1000) return false;
      n = n * 10 + (v[i] - '0');
    }
    note = v[0] == '-' ? -n : n;
    return note >= 0 && note <= 127;
  }
  static constexpr int kSteps[7] = {9, 11, 0, 2, 4, 5, 7};  // a..g
  const char letter = static_cast<char>(v[0] | 0x20);
  if (letter < 'a' || letter > 'g') return false;
  int n = kSteps[letter - 'a'];
  std::size_t i = 1;
  if (i < v.size() && v[i] == '#') ++n, ++i;
  else if (i < v.size() && v[i] == 'b') --n, ++i;
  const bool negative = i < v.size() && v[i] == '-';
  if (negative) ++i;
  if (i + 1 != v.size() || v[i] < '0' || v[i] > '9') return false;
  const int octave = negative ? -(v[i] - '0') : v[i] - '0';
  note = n + 12 * (octave + 1);
  return note >= 0 && note <= 127;
}

bool ParseInt(std::string_view v, std::int64_t& out) {
  if (v.empty()) return false;
  std::size_t i = (v[0] == '-' || v[0] == '+') ? 1 : 0;
  if (i == v.size()) return false;
  std::int64_t n = 0;
  for (; i < v.size(); ++i) {
    if (v[i] == '.') break;  // a fractional part is dropped
    if (v[i] < '0' || v[i] > '9' || n > (std::int64_t{1} << 40)) return false;
    n = n * 10 + (v[i] - '0');
  }
  out = v[0] == '-' ? -n : n;
  return true;
}

struct Parser {
  Parser(SfzFiles& f, InstrumentReport& r, std::vector<SfzRegion>& out) : files(f), report(r), regions(out) {}
  SfzFiles& files;
  InstrumentReport& report;
  std::vector<SfzRegion>& regions;
  std::string folder;  // of the main .sfz, with its separator
  std::vector<std::pair<std::string, std::string>> defines;
  std::vector<std::string> includeStack;
  Opcodes levels[kLevels];
  Level current = kOther;
  bool inRegion = false;
  std::string regionWhere;
  std::vector<std::pair<std::string, int>> unknown;

  static std::string FileName(std::string_view path) {
    std::size_t cut = path.find_last_of("/\\");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
  }

  std::string Resolve(std::string path) const {
    for (char& c : path) {
      if (c == '/' || c == '\\') c = kSeparator;
    }
    const bool absolute = (!path.empty() && path[0] == kSeparator) || (path.size() > 1 && path[1] == ':');
    return absolute ? path : folder + path;
  }

  std::string Substitute(std::string line) const {
    for (std::size_t at = line.find('$'); at != std::string::npos; at = line.find('$', at + 1)) {
      std::size_t end = at + 1;
      while (end < line.size() && IsNameChar(line[end]) && line[end] != '$') ++end;
      // The longest defined name that the text there begins with.
      const std::pair<std::string, std::string>* best = nullptr;
      for (const auto& d : defines) {
        if (line.compare(at, d.first.size(), d.first) == 0 && d.first.size() <= end - at &&
            (best == nullptr || d.first.size() > best->first.size())) {
          best = &d;
        }
      }
      if (best != nullptr) {
        line.replace(at, best->first.size(), best->second);
        at += best->second.size() > 0 ? best->second.size() - 1 : 0;
      }
    }
    return line;
  }

  void EndRegion() {
    if (!inRegion) return;
    inRegion = false;
    SfzRegion r;
    r.where.assign(regionWhere);
    Opcodes merged;
    for (int l = kGlobal; l <= kRegion; ++l) merged.insert(merged.end(), levels[l].begin(), levels[l].end());
    std::string defaultPath, sample, trigger;
    for (const auto& [k, v] : levels[kControl]) {
      if (k == "default_path") defaultPath = v;
    }
    for (const auto& [k, v] : merged) {
      if (Take(r, k, v, sample, trigger, defaultPath) == kBadFormat) {
        failed = true;
        return;
      }
    }
    if (trigger == "release" || trigger == "release_key") {
      report.Note("%s plays on key release: left out", Z(r.where).c);
      return;
    }
    if (sample.empty()) {
      report.Note("%s names no sample: left out", Z(r.where).c);
      return;
    }
    const bool absolute = sample[0] == '/' || sample[0] == '\\' || (sample.size() > 1 && sample[1] == ':');
    r.sample.assign(Resolve(absolute ? sample : defaultPath + sample));
    regions.push_back(r);
  }

  bool failed = false;
  int filesRead = 0;

  Result Bad(const SfzRegion& r, std::string_view k, std::string_view v, const char* what) {
    report.Refuse(kBadFormat, "%s: \"%.*s=%.*s\" is not %s", Z(r.where).c, static_cast<int>(k.size()), k.data(),
                  static_cast<int>(v.size()), v.data(), what);
    return kBadFormat;
  }

  Result Take(SfzRegion& r, const std::string& k, const std::string& v, std::string& sample, std::string& trigger,
              std::string& defaultPath) {
    std::int64_t n = 0;
    int note = 0;
    const auto key = [&](int& into) { return ParseNote(v, note) ? (into = note, kOk) : Bad(r, k, v, "a note"); };
    const auto number = [&](auto& into) {
      return ParseInt(v, n) ? (into = static_cast<std::remove_reference_t<decltype(into)>>(n), kOk)
                            : Bad(r, k, v, "a number");
    };
    if (k == "sample") sample = v;
    else if (k == "default_path") defaultPath = v;
    else if (k == "trigger") trigger = v;
    else if (k == "lokey") return key(r.loKey);
    else if (k == "hikey") return key(r.hiKey);
    else if (k == "key") {
      if (Result e = key(r.loKey)) return e;
      r.hiKey = r.keyCenter = r.loKey;
    } else if (k == "pitch_keycenter") {
      if (v == "sample") r.keyCenter = -1;
      else return key(r.keyCenter);
    } else if (k == "transpose") return number(r.transpose);
    else if (k == "tune") return number(r.tune);
    else if (k == "lovel") return number(r.loVel);
    else if (k == "hivel") return number(r.hiVel);
    else if (k == "offset") return number(r.offset);
    else if (k == "end") return number(r.end);
    else if (k == "loop_start" || k == "loopstart") return number(r.loopStart);
    else if (k == "loop_end" || k == "loopend") return number(r.loopEnd);
    else if (k == "loop_mode" || k == "loopmode") {
      if (v == "no_loop" || v == "one_shot") r.loopMode = 0;
      else if (v == "loop_continuous" || v == "loop_sustain") r.loopMode = 1;
      else return Bad(r, k, v, "a loop mode");
    } else {
      auto it = std::find_if(unknown.begin(), unknown.end(), [&](const auto& u) { return u.first == k; });
      if (it == unknown.end()) unknown.emplace_back(k, 1);
      else ++it->second;
    }
    return kOk;
  }

  void Opcode(std::string k, std::string v) {
    if (current == kOther) return;
    if (current == kControl && k != "default_path") {
      // Control opcodes beyond the sample folder (MIDI set-up, labels) change no sample.
      auto it = std::find_if(unknown.begin(), unknown.end(), [&](const auto& u) { return u.first == k; });
      if (it == unknown.end()) unknown.emplace_back(k, 1);
      else ++it->second;
      return;
    }
    levels[current].emplace_back(std::move(k), std::move(v));
  }

  void Header(std::string_view name, int line, const std::string& file) {
    EndRegion();
    static constexpr std::pair<const char*, Level> kHeaders[] = {
        {"control", kControl}, {"global", kGlobal}, {"master", kMaster}, {"group", kGroup}, {"region", kRegion}};
    current = kOther;
    for (const auto& [n, l] : kHeaders) {
      if (name == n) current = l;
    }
    if (current == kOther) {
      std::string h(1, '<');  // built by appends: "<" + string trips GCC 12's -Wrestrict
      h.append(name).push_back('>');
      auto it = std::find_if(unknown.begin(), unknown.end(), [&](const auto& u) { return u.first == h; });
      if (it == unknown.end()) unknown.emplace_back(h, 1);
      else ++it->second;
      return;
    }
    for (int l = current; l <= kRegion; ++l) {
      if (l != kControl || current == kControl) levels[l].clear();
    }
    if (current == kRegion) {
      inRegion = true;
      regionWhere = "region at line " + std::to_string(line) + " of " + FileName(file);
    }
  }

  Result File(const std::string& path, int depth, const std::string& from) {
    if (depth > kMaxIncludeDepth) {
      return report.Refuse(kBadFormat, "%s: #include nests deeper than %d files", from.c_str(), kMaxIncludeDepth);
    }
    if (std::find(includeStack.begin(), includeStack.end(), path) != includeStack.end()) {
      return report.Refuse(kBadFormat, "%s: #include \"%s\" includes itself", from.c_str(), FileName(path).c_str());
    }
    if (++filesRead > kMaxFiles) {
      return report.Refuse(kBadFormat, "%s: the .sfz and its #include files pass %d files", from.c_str(), kMaxFiles);
    }
    std::vector<std::uint8_t> bytes;
    if (Result r = files.Load(path, bytes)) {
      if (depth == 0) return r;
      return report.Refuse(r == kOutOfMemory ? r : kBadFormat, "%s: #include \"%s\" cannot be read", from.c_str(),
                           FileName(path).c_str());
    }
    includeStack.push_back(path);
    const std::string text(bytes.begin(), bytes.end());
    const std::string name = FileName(path);
    bool inComment = false;
    int lineNumber = 0;
    for (std::size_t at = 0; at < text.size() && !failed;) {
      std::size_t eol = text.find('\n', at);
      if (eol == std::string::npos) eol = text.size();
      std::string line = text.substr(at, eol - at);
      at = eol + 1;
      ++lineNumber;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // Block comments, then line comments.
      std::string kept;
      for (std::size_t i = 0; i < line.size(); ++i) {
        if (inComment) {
          if (line.compare(i, 2, "*/") == 0) inComment = false, ++i;
        } else if (line.compare(i, 2, "/*") == 0) {
          inComment = true, ++i;
        } else if (line.compare(i, 2, "//") == 0) {
          break;
        } else {
          kept += line[i];
        }
      }
      const std::string here = "line " + std::to_string(lineNumber) + " of " + name;
      const std::size_t first = kept.find_first_not_of(" \t");
      if (first == std::string::npos) continue;
      if (kept.compare(first, 7, "#define") == 0) {
        std::size_t p = kept.find('$', first);
        if (p == std::string::npos) continue;
        std::size_t e = p + 1;
        while (e < kept.size() && IsNameChar(kept[e]) && kept[e] != '$') ++e;
        std::size_t vs = kept.find_first_not_of(" \t", e);
        std::size_t ve = kept.find_last_not_of(" \t");
        std::string value = vs == std::string::npos ? "" : kept.substr(vs, ve - vs + 1);
        defines.emplace_back(kept.substr(p, e - p), value);
        continue;
      }
      if (kept.compare(first, 8, "#include") == 0) {
        const std::size_t q1 = kept.find('"', first);
        const std::size_t q2 = q1 == std::string::npos ? q1 : kept.find('"', q1 + 1);
        if (q2 == std::string::npos) return report.Refuse(kBadFormat, "%s: #include without a quoted file name", here.c_str());
        if (Result r = File(Resolve(Substitute(kept.substr(q1 + 1, q2 - q1 - 1))), depth + 1, here)) return r;
        continue;
      }
      Line(Substitute(kept), lineNumber, name);
    }
    includeStack.pop_back();
    return failed ? kBadFormat : kOk;
  }

  // Headers and opcodes of one line. A value runs to the next header, the
  // next "name=" after a space, or the line's end: sample paths may hold spaces.
  void Line(const std::string& s, int line, const std::string& file) {
    std::size_t i = 0;
    while (i < s.size() && !failed) {
      if (s[i] == ' ' || s[i] == '\t') {
        ++i;
      } else if (s[i] == '<') {
        const std::size_t close = s.find('>', i);
        if (close == std::string::npos) return;
        Header(std::string_view(s).substr(i + 1, close - i - 1), line, file);
        i = close + 1;
      } else {
        std::size_t eq = i;
        while (eq < s.size() && IsNameChar(s[eq])) ++eq;
        if (eq == i || eq >= s.size() || s[eq] != '=') {  // not an opcode: skip the word
          while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
          continue;
        }
        std::size_t end = eq + 1;
        for (; end < s.size(); ++end) {
          if (s[end] == '<') break;
          if (s[end] == ' ' || s[end] == '\t') {
            std::size_t n = end;
            while (n < s.size() && (s[n] == ' ' || s[n] == '\t')) ++n;
            std::size_t w = n;
            while (w < s.size() && IsNameChar(s[w])) ++w;
            if (n < s.size() && (s[n] == '<' || (w > n && w < s.size() && s[w] == '='))) break;
          }
        }
        std::string value = s.substr(eq + 1, end - eq - 1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        Opcode(s.substr(i, eq - i), std::move(value));
        i = end;
      }
    }
  }
};

// The frame of greatest magnitude, with its sign.
float PeakOf(const std::vector<float>& frames) {
  float peak = 0.0f;
  for (float f : frames) {
    if (std::fabs(f) > std::fabs(peak)) peak = f;
  }
  return peak;
}

Result Zone(const SfzRegion& r, InstrumentZone& z, InstrumentReport& report) {
  z.where = r.where;
  z.name.assign(StemOfFileName(FileNameOfPath(r.sample.view())));
  bool fromWav = false;
  DecodedAudio& a = z.audio;
  if (Result e = ReadSampleByExtension(r.sample.view(), a, fromWav)) {
    const char* why = e == kNotFound ? "is not there" : e == kBadFormat ? "is not a sample file the program reads"
                                                                        : "cannot be read";
    return report.Refuse(e, "%s: the sample \"%s\" %s", Z(r.where).c, Z(r.sample).c, why);
  }
  const std::int64_t n = static_cast<std::int64_t>(a.frames.size());
  const std::int64_t last = r.end < 0 || r.end >= n ? n - 1 : r.end;
  if (r.offset < 0 || r.offset > last) {
    return report.Refuse(kBadFormat, "%s: offset %lld lies past the end of \"%s\" (%lld frames)", Z(r.where).c,
                         static_cast<long long>(r.offset), Z(z.name).c, static_cast<long long>(n));
  }
  // The file's own loop and root, unless the region sets them.
  bool loop = false;
  std::int64_t loopStart = 0, loopEnd = 0;
  if (a.hasSmpl && !a.loops.empty()) {
    loop = true;

    loopStart = a.loops[0].start;
    loopEnd = a.loops[0].end;
  } else if (a.hasInst && a.sustainLoop.playMode != 0) {
    loop = true;
    loopStart = a.sustainLoop.begin;
    loopEnd = a.sustainLoop.end;
  }
  const bool fileLoop = loop;
  const int fileRoot = a.hasSmpl ? a.unityNote : a.hasInst ? a.instRootNote : 60;
  if (r.loopMode >= 0) loop = r.loopMode == 1;
  if (r.loopStart >= 0) loopStart = r.loopStart;
  if (r.loopEnd >= 0) loopEnd = r.loopEnd + 1;
  if (loop && r.loopStart < 0 && r.loopEnd < 0 && !fileLoop) {
    loopStart = r.offset;  // a loop mode without points loops the whole sample
    loopEnd = last + 1;
  }
  if (loop && (loopStart < r.offset || loopEnd <= loopStart || loopEnd > last + 1)) {
    return report.Refuse(kBadFormat, "%s: the loop (%lld to %lld) lies outside the sample's frames (%lld to %lld)",
                         Z(r.where).c, static_cast<long long>(loopStart), static_cast<long long>(loopEnd - 1),
                         static_cast<long long>(r.offset), static_cast<long long>(last));
  }
  if (r.offset > 0 || last + 1 < n) {
    a.frames.erase(a.frames.begin() + (last + 1), a.frames.end());
    a.frames.erase(a.frames.begin(), a.frames.begin() + r.offset);
    a.peak = PeakOf(a.frames);
  }
  z.loopOn = loop;
  z.loopStart = loop ? static_cast<std::uint64_t>(loopStart - r.offset) : 0;
  z.loopEnd = loop ? static_cast<std::uint64_t>(loopEnd - r.offset) : 0;
  z.rootNote = r.keyCenter >= 0 ? r.keyCenter : std::min(fileRoot, 127);
  z.cents = r.tune + 100 * r.transpose;
  z.loKey = static_cast<std::uint8_t>(std::clamp(r.loKey, 0, 127));
  z.hiKey = static_cast<std::uint8_t>(std::clamp(r.hiKey, 0, 127));
  z.loVel = static_cast<std::uint8_t>(std::clamp(r.loVel, 0, 127));
  z.hiVel = static_cast<std::uint8_t>(std::clamp(r.hiVel, 0, 127));
  z.rate = a.sampleRate;
  z.frameCount = a.frames.size();
  return kOk;
}

void AppendText(std::string& out, const char* format, long long a, long long b = 0) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  out += buffer;
}

}  // namespace

Result DiskSfzFiles::Load(Utf8View path, std::vector<std::uint8_t>& out) { return ReadWholeFile(path, kMaxSfzFile, out); }

Result ParseSfz(Utf8View sfzPath, SfzFiles& files, std::vector<SfzRegion>& regions, InstrumentReport& report) {
  regions.clear();
  try {
    Parser p(files, report, regions);
    const std::size_t cut = sfzPath.find_last_of(kSeparator == '/' ? "/" : "/\\");
    p.folder = cut == Utf8View::npos ? std::string() : std::string(sfzPath.substr(0, cut + 1));
    Result r = p.File(std::string(sfzPath), 0, std::string(Parser::FileName(sfzPath)));
    if (r == kOk) {
      p.EndRegion();
      if (p.failed) r = kBadFormat;
    }
    if (r != kOk) return r;
    if (!p.unknown.empty()) {
      std::string list;
      int total = 0;
      for (const auto& [name, count] : p.unknown) {
        list += (list.empty() ? "" : ", ") + name;
        total += count;
      }
      report.Note("%d opcode%s this program does not use, left out: %s", total, total == 1 ? "" : "s", list.c_str());
    }
    if (regions.empty()) return report.Refuse(kBadFormat, "the .sfz has no region that plays a sample");
    return kOk;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::length_error&) {
    return kOutOfMemory;
  }
}

Result SfzZones(std::span<const SfzRegion> regions, std::uint8_t velocity, std::vector<InstrumentZone>& zones,
                InstrumentReport& report) {
  zones.clear();
  for (const SfzRegion& r : regions) {
    if (velocity < r.loVel || velocity > r.hiVel) continue;
    InstrumentZone z;
    if (Result e = Zone(r, z, report)) return e;
    if (Result e = TryPushBack(zones, std::move(z))) return e;
  }
  if (zones.empty()) return report.Refuse(kBadFormat, "no region of the .sfz plays at velocity %u", velocity);
  return kOk;
}

Result BuildSfzText(const Sound& sound, std::span<const Utf8Text<64>> fileNames, std::vector<std::uint8_t>& out) {
  if (fileNames.size() != sound.samples.size()) return kInvalidArgument;
  try {
    std::vector<std::size_t> order(sound.samples.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return sound.samples[a].topKey < sound.samples[b].topKey; });
    std::string text = "// ";
    text.append(sound.name.view());
    text += "\n<group>\n";
    int lo = 0;
    for (std::size_t i : order) {
      const SampleData& s = sound.samples[i];
      text += "<region> sample=";
      text.append(fileNames[i].view());
      AppendText(text, "\nlokey=%lld hikey=%lld", lo, s.topKey);
      AppendText(text, " pitch_keycenter=%lld tune=%lld", s.rootNote, s.transpose);
      if ((s.loopFlags & LoopFlags::kForward) != 0 && s.markers.loop >= 0 && s.markers.end > s.markers.loop) {
        AppendText(text, "\nloop_mode=loop_continuous loop_start=%lld loop_end=%lld\n", s.markers.loop,
                   s.markers.end - 1);
      } else {
        text += "\nloop_mode=no_loop\n";
      }
      lo = s.topKey + 1;
    }
    out.assign(text.begin(), text.end());
    return kOk;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
}

Result ExportSfz(const Sound& sound, Utf8View folder) {
  std::vector<Utf8Text<64>> names;
  if (Result r = ExportSamples(sound, folder, &names)) return r;
  std::vector<std::uint8_t> text;
  if (Result r = BuildSfzText(sound, names, text)) return r;
  Utf8Text<64> file = ExportFileName(sound.name.empty() ? Utf8View("_") : sound.name.view(), 1, 48);
  file.length -= 4;  // ".wav"
  file.append(".sfz");
  Utf8Text<320> path;
  path.append(folder);
  if (!folder.empty() && !IsPathSeparator(folder.back())) path.append(Utf8View(&kSeparator, 1));
  path.append(file.view());
  return WriteWholeFile(path.view(), text);
}

}  // namespace tavrin
