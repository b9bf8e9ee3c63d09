// Sample export: one mono 16-bit 31250 Hz WAV file per sample, carrying the
// loop, root note, transpose and the program's 28-byte parameter block in a
// "smpl" chunk, so that importing the file restores those settings.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "base/text.h"
#include "card/document.h"

namespace tavrin {

// The complete file image of one sample. 5 when it would exceed the 4 GiB a
// RIFF size can state, 4 no memory.
Result BuildWavImage(const SampleData& sample, std::vector<std::uint8_t>& out);

// Builds the image and writes it as the new content of path.
Result WriteWavFile(const SampleData& sample, Utf8View path);

// The file name of one exported sample (without folder), at most `budget`
// bytes: the name with control characters and < > : " / \ | ? * removed, "_"
// in front when what is left before its first "." is a reserved device name,
// " (n)" added for n >= 2, then ".wav"; the name part is cut (never inside a
// UTF-8 character) so that the whole stays within the budget.
Utf8Text<64> ExportFileName(Utf8View sampleName, std::uint32_t number, std::size_t budget);

// Writes every sample of the sound into folder, in order. 0 when all were
// written; otherwise the code of the first that failed (no later sample is
// written). 5 when the folder is 260 bytes or longer. Samples whose file names
// would be equal (ignoring case) get " (2)", " (3)", ... in list order.
// `fileNames`, when given, receives the file name each sample was written as.
Result ExportSamples(const Sound& sound, Utf8View folder, std::vector<Utf8Text<64>>* fileNames = nullptr);

}  // namespace tavrin
