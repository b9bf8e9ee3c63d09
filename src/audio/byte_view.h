// A bounds-checked view of a whole file held in memory. A read of a field that
// does not lie wholly inside the bytes yields 0 and sets the sticky `short`
// flag; parsing goes on and the caller turns the flag into result 5 at its
// next checkpoint. Offsets are 64-bit, so no offset arithmetic can wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "base/text.h"

namespace tavrin {

class ByteView {
 public:
  ByteView() = default;
  explicit ByteView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint64_t size() const { return bytes_.size(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  bool isShort() const { return short_; }
  void clearShort() { short_ = false; }
  void markShort() { short_ = true; }

  // True when [pos, pos + n) lies inside the bytes.
  bool Has(std::uint64_t pos, std::uint64_t n) const {
    return pos <= bytes_.size() && n <= bytes_.size() - pos;
  }
  // Like Has, but a range that does not fit also sets the short flag.
  bool Need(std::uint64_t pos, std::uint64_t n) {
    if (Has(pos, n)) return true;
    short_ = true;
    return false;
  }

  std::uint8_t U8(std::uint64_t pos) { return Need(pos, 1) ? bytes_[pos] : 0; }
  std::uint16_t U16LE(std::uint64_t pos) {
    if (!Need(pos, 2)) return 0;
    return static_cast<std::uint16_t>(bytes_[pos] | (bytes_[pos + 1] << 8));
  }
  std::uint16_t U16BE(std::uint64_t pos) {
    if (!Need(pos, 2)) return 0;
    return static_cast<std::uint16_t>((bytes_[pos] << 8) | bytes_[pos + 1]);
  }
  std::uint32_t U32LE(std::uint64_t pos) {
    if (!Need(pos, 4)) return 0;
    return static_cast<std::uint32_t>(bytes_[pos]) | (static_cast<std::uint32_t>(bytes_[pos + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes_[pos + 2]) << 16) | (static_cast<std::uint32_t>(bytes_[pos + 3]) << 24);
  }
  std::uint32_t U32BE(std::uint64_t pos) {
    if (!Need(pos, 4)) return 0;
    return (static_cast<std::uint32_t>(bytes_[pos]) << 24) | (static_cast<std::uint32_t>(bytes_[pos + 1]) << 16) |
           (static_cast<std::uint32_t>(bytes_[pos + 2]) << 8) | static_cast<std::uint32_t>(bytes_[pos + 3]);
  }
  std::uint64_t U64BE(std::uint64_t pos) {
    if (!Need(pos, 8)) return 0;
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | bytes_[pos + static_cast<std::uint64_t>(i)];
    return v;
  }
  // A four-character chunk identifier, first character in the high byte, so
  // that it compares with FourCC("RIFF") whatever the file's byte order.
  std::uint32_t Tag(std::uint64_t pos) { return U32BE(pos); }

 private:
  std::span<const std::uint8_t> bytes_;
  bool short_ = false;
};

constexpr std::uint32_t FourCC(const char (&s)[5]) {
  return (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[0])) << 24) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[2])) << 8) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[3]));
}

// Reads a whole sample file for the readers: at most 16 MiB (22 beyond).
Result ReadSampleFile(Utf8View path, std::vector<std::uint8_t>& bytes);

}  // namespace tavrin
