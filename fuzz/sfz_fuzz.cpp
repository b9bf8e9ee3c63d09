// SFZ reader on arbitrary text: headers, opcodes, #define and #include (the
// input stands for the .sfz and for one other file it may include, so that
// cycles and nesting are reached without touching the disk).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/sfz.h"

namespace {

struct Files : tavrin::SfzFiles {
  const std::uint8_t* data;
  std::size_t size;
  tavrin::Result Load(tavrin::Utf8View path, std::vector<std::uint8_t>& out) override {
    if (path != "d/main.sfz" && path != "d/a.sfz") return tavrin::kNotFound;
    out.assign(data, data + size);
    return tavrin::kOk;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Files files;
  files.data = data;
  files.size = size;
  std::vector<tavrin::SfzRegion> regions;
  tavrin::InstrumentReport report;
  tavrin::ParseSfz("d/main.sfz", files, regions, report);
  return 0;
}
