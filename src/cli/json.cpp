#include "cli/json.h"

#include <cmath>

namespace tavrin::cli {
namespace {

void Indent(std::FILE* out, int n) {
  for (int i = 0; i < n; ++i) std::fputc(' ', out);
}

// Length of a valid UTF-8 sequence at text[i], or 0.
std::size_t ValidSequence(Utf8View text, std::size_t i) {
  const unsigned char b = static_cast<unsigned char>(text[i]);
  std::size_t n = b < 0x80 ? 1 : b >= 0xC2 && b < 0xE0 ? 2 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xF0 && b < 0xF5 ? 4 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  // The second byte's range rules out overlong forms (E0 80.., F0 80..),
  // surrogates (ED A0..) and code points above U+10FFFF (F4 90..).
  if (n > 2) {
    const unsigned char b1 = static_cast<unsigned char>(text[i + 1]);
    const unsigned char lo = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    if (b1 < lo || b1 > hi) return 0;
  }
  for (std::size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

void Markers(std::FILE* out, const MarkerSet& m) {
  std::fprintf(out, "\"sampleAttribute\": %u, \"start\": %lld, \"loop\": %lld, \"end\": %lld",
               static_cast<unsigned>(m.sampleAttribute), static_cast<long long>(m.start),
               static_cast<long long>(m.loop), static_cast<long long>(m.end));
}

}  // namespace

void WriteJsonString(std::FILE* out, Utf8View text) {
  std::fputc('"', out);
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t n = ValidSequence(text, i);
    if (n == 0) {
      std::fputs("\\ufffd", out);
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      std::fputc('\\', out);
      std::fputc(c, out);
    } else if (c < 0x20) {
      std::fprintf(out, "\\u%04x", c);
    } else {
      std::fwrite(text.data() + i, 1, n, out);
    }
    i += n;
  }
  std::fputc('"', out);
}

void WriteJsonFloat(std::FILE* out, float v) {
  if (!std::isfinite(v)) {
    std::fputs("null", out);
    return;
  }
  std::fprintf(out, "%.9g", static_cast<double>(v));
}

void WriteSampleJson(std::FILE* out, const SampleData& s, const SampleJsonOptions& options, int indent) {
  Indent(out, indent);
  std::fputs("{\"name\": ", out);
  WriteJsonString(out, s.name.view());
  std::fputs(", ", out);
  Markers(out, s.markers);
  std::fprintf(out,
               ", \"loopFlags\": %u, \"loopOn\": %s, \"rootNote\": %u, \"topKey\": %u, \"transpose\": %d, "
               "\"transposeValid\": %s, \"nonTranspose\": %s, \"level\": %d, \"vdfCutoff\": %d, \"decayLevel\": %d, "
               "\"zoneAttribute\": %u, \"frameCount\": %lld",
               s.loopFlags, s.loopOn ? "true" : "false", s.rootNote, s.topKey, s.transpose,
               s.transposeValid ? "true" : "false", s.nonTranspose ? "true" : "false", s.level, s.vdfCutoff,
               s.decayLevel, s.zoneAttribute, static_cast<long long>(s.frameCount()));
  std::fputs(", \"snapshots\": [", out);
  for (std::size_t i = 0; i < s.snapshots.size(); ++i) {
    std::fputs(i ? ", {" : "{", out);
    Markers(out, s.snapshots[i]);
    std::fputc('}', out);
  }
  std::fputc(']', out);
  if (options.frames16) {
    std::fputs(", \"frames16\": [", out);
    for (std::size_t i = 0; i < s.frames.size(); ++i) {
      std::fprintf(out, i ? ", %d" : "%d", FrameToInt16(s.frames[i]));
    }
    std::fputc(']', out);
  }
  if (options.framesFloat) {
    std::fputs(", \"frames\": [", out);
    for (std::size_t i = 0; i < s.frames.size(); ++i) {
      if (i) std::fputs(", ", out);
      WriteJsonFloat(out, s.frames[i]);
    }
    std::fputc(']', out);
  }
  std::fputc('}', out);
}

void WriteSoundJson(std::FILE* out, const Sound& sound, const SampleJsonOptions& options, int indent) {
  Indent(out, indent);
  std::fputs("{\"name\": ", out);
  WriteJsonString(out, sound.name.view());
  std::fprintf(out, ", \"soundType\": \"%s\", \"waveType\": \"%s\", \"samples\": [",
               sound.soundType == SoundType::Drumsound ? "Drumsound" : "Multisound",
               sound.waveType == WaveType::DWGS ? "DWGS" : "PCM");
  for (std::size_t i = 0; i < sound.samples.size(); ++i) {
    std::fputs(i ? ",\n" : "\n", out);
    WriteSampleJson(out, sound.samples[i], options, indent + 2);
  }
  if (!sound.samples.empty()) {
    std::fputc('\n', out);
    Indent(out, indent);
  }
  std::fputs("]}", out);
}

void WriteCardJson(std::FILE* out, const CardDocument& doc, const SampleJsonOptions& options) {
  std::fputs("{\"name\": ", out);
  WriteJsonString(out, doc.name.view());
  const std::vector<Sound>* lists[2] = {&doc.multisounds, &doc.drumsounds};
  const char* keys[2] = {"multisounds", "drumsounds"};
  for (int l = 0; l < 2; ++l) {
    std::fprintf(out, ",\n \"%s\": [", keys[l]);
    for (std::size_t i = 0; i < lists[l]->size(); ++i) {
      std::fputs(i ? ",\n" : "\n", out);
      WriteSoundJson(out, (*lists[l])[i], options, 2);
    }
    std::fputs("]", out);
  }
  const CardStatistics& st = doc.statistics;
  std::fprintf(out,
               ",\n \"statistics\": {\"cardSize\": %u, \"sampleCount\": %lld, \"dwgsMultisoundCount\": %lld, "
               "\"pcmMultisoundCount\": %lld}}\n",
               st.cardSize, static_cast<long long>(st.sampleCount), static_cast<long long>(st.dwgsMultisoundCount),
               static_cast<long long>(st.pcmMultisoundCount));
}

}  // namespace tavrin::cli
