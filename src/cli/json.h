// JSON output of the card, its sounds and samples, with the document's field
// names as keys. Shared by `tavrin info --json` and `tavrin import --json`.
#pragma once

#include <cstdio>

#include "card/document.h"

namespace tavrin::cli {

// Writes a JSON string; invalid UTF-8 bytes become U+FFFD.
void WriteJsonString(std::FILE* out, Utf8View text);
// Writes a float so that reading it back gives the same float.
void WriteJsonFloat(std::FILE* out, float v);

struct SampleJsonOptions {
  bool frames16 = false;    // add "frames16": the values as the card stores them
  bool framesFloat = false; // add "frames": the float values
};

void WriteSampleJson(std::FILE* out, const SampleData& s, const SampleJsonOptions& options, int indent);
void WriteSoundJson(std::FILE* out, const Sound& sound, const SampleJsonOptions& options, int indent);
void WriteCardJson(std::FILE* out, const CardDocument& doc, const SampleJsonOptions& options);

}  // namespace tavrin::cli
