// Shared by the seed generators: writes one corpus file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline void Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}
