// Writes small .sfz texts to a folder, as the starting corpus of the SFZ
// fuzzer: every header and the opcodes the reader takes, #define, #include of
// itself and of another file, comments, note names and paths with spaces.
#include <string>
#include <vector>

#include "seed_file.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string dir = argv[1];
  const char* texts[] = {
      "<control> default_path=s\\\n<global> lovel=1 <master> tune=3 <group> lokey=c4 hikey=e#4\n"
      "<region> sample=a b.wav pitch_keycenter=60 transpose=-1 offset=4 end=99 loop_mode=loop_continuous "
      "loop_start=5 loop_end=50 volume=3\n",
      "#define $K 61\n<region> sample=x.flac key=$K trigger=release\n<region> sample=y.aif key=Bb-1 // note\n",
      "/* block\n comment */ <region> sample=z.wav pitch_keycenter=sample loop_mode=one_shot\n#include \"a.sfz\"\n",
      "#include \"main.sfz\"\n",
      "<curve> v000=0 <region> sample=/abs/q.wav lokey=0 hikey=127 hivel=20 <region> sample=r.wav lovel=21\n",
  };
  int n = 0;
  for (const char* t : texts) {
    const std::string s(t);
    Write(dir + "/seed" + std::to_string(n++) + ".sfz", std::vector<std::uint8_t>(s.begin(), s.end()));
  }
  return 0;
}
