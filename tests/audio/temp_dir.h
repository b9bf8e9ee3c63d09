// A fresh folder under the system's temporary folder, removed afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace tavrin::test {

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = std::filesystem::temp_directory_path(ec) / ("tavrin-audio-" + std::to_string(rd()));
      if (std::filesystem::create_directory(path_, ec)) return;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const std::string p = File(name);
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return p;
  }

 private:
  std::filesystem::path path_;
};

inline std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace tavrin::test
