// Writes small SoundFonts to a folder, as the starting corpus of the
// SoundFont fuzzer: offsets and loops, a global zone, velocity layers, a
// stereo pair by type and by name, layered instruments, 24-bit data, a kit.
#include <string>

#include "seed_file.h"

#include "audio/sf2_bytes.h"

using namespace tavrin::test;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string dir = argv[1];
  int n = 0;
  auto put = [&](const Sf2Build& b) { Write(dir + "/seed" + std::to_string(n++) + ".sf2", b.Build()); };
  const Sf2Build::Sample s{"S", 10, 300, 50, 250, 22050, 62, -5};
  put(OneInstrument({{{53, 0}}}, {s}, 400));
  put(OneInstrument({{{0, 4}, {1, 0xFFFE}, {2, 3}, {3, 0xFFFD}, {54, 1}, {58, 64}, {51, 2}, {52, 0xFFEC}, {53, 0}}},
                    {s}, 400, {{51, 1}, Range(43, 30, 90)}));
  put(OneInstrument({{{58, 70}, {54, 3}}, {Range(44, 0, 63), {53, 0}}, {Range(44, 64, 127), {53, 0}}}, {s}, 400));
  put(OneInstrument({{{53, 0}}, {{53, 1}}}, {{"L", 0, 100, 10, 90, 44100, 60, 0, 0, 4}, {"R", 100, 200, 10, 90, 44100, 60, 0, 0, 2}}, 200));
  put(OneInstrument({{{53, 0}}, {{53, 1}}}, {{"X L", 0, 100, 0, 0, 31250}, {"X R", 100, 200, 0, 0, 31250}}, 200));
  Sf2Build layered = OneInstrument({{Range(43, 0, 59), {53, 0}}, {Range(43, 60, 127), {53, 0}}}, {s}, 400);
  layered.insts.push_back({"B", {{Range(43, 40, 80), {53, 0}}}});
  layered.presets[0].zones.push_back({{41, 1}});
  put(layered);
  Sf2Build deep = OneInstrument({{{53, 0}}}, {s}, 400);
  deep.low.assign(400, 0x55);
  put(deep);
  Sf2Build kit = OneInstrument({{Range(43, 36, 36), {53, 0}}, {Range(43, 38, 40), {53, 0}}}, {s}, 400);
  kit.presets[0].bank = 128;
  put(kit);
  return 0;
}
