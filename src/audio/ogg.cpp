#include "audio/ogg.h"

#include <array>
#include <cstring>

#include "base/alloc.h"

namespace tavrin {
namespace {

constexpr std::array<std::uint32_t, 256> MakeOggCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i << 24;
    for (int b = 0; b < 8; ++b) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : (r << 1);
    table[i] = r;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kOggCrcTable = MakeOggCrcTable();

constexpr std::size_t kPageHeaderSize = 27;
constexpr std::uint8_t kContinued = 0x01;
constexpr std::uint8_t kFirstPage = 0x02;
constexpr std::uint8_t kLastPage = 0x04;

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool IsCapture(std::span<const std::uint8_t> b, std::size_t at) {
  return at + 4 <= b.size() && b[at] == 'O' && b[at + 1] == 'g' && b[at + 2] == 'g' && b[at + 3] == 'S';
}

Result Append(std::vector<std::uint8_t>& v, const std::uint8_t* p, std::size_t n) {
  if (n == 0) return kOk;
  const std::size_t old = v.size();
  if (Result r = TryResize(v, old + n); r != kOk) return r;
  std::memcpy(v.data() + old, p, n);
  return kOk;
}

// Turns the packets of one logical FLAC stream into native FLAC bytes.
struct FlacPacketSink {
  std::vector<std::uint8_t>& out;
  std::size_t packets = 0;
  bool inHeaders = true;
  bool broken = false;
  std::size_t lastBlockAt = 0;  // offset of the last metadata block header written

  void EndHeaders() {
    if (inHeaders && packets > 0) out[lastBlockAt] |= 0x80;
    inHeaders = false;
  }

  // Returns 4 without memory; a malformed packet sets `broken`.
  Result Take(std::span<const std::uint8_t> packet) {
    if (packets == 0) {
      // Mapping header: 0x7F "FLAC", version 1.x, header count, "fLaC",
      // then the STREAMINFO block with its header.
      static const std::uint8_t kMagic[5] = {0x7F, 'F', 'L', 'A', 'C'};
      if (packet.size() < 51 || std::memcmp(packet.data(), kMagic, 5) != 0 || packet[5] != 1 ||
          std::memcmp(packet.data() + 9, "fLaC", 4) != 0 || (packet[13] & 0x7F) != 0) {
        broken = true;
        return kOk;
      }
      if (Result r = Append(out, packet.data() + 9, 4 + 4 + 34); r != kOk) return r;
      lastBlockAt = 4;
      out[lastBlockAt] &= 0x7F;
      const std::uint32_t length = (static_cast<std::uint32_t>(packet[14]) << 16) |
                                   (static_cast<std::uint32_t>(packet[15]) << 8) | packet[16];
      if (length != 34) {
        // Keep the block exactly as long as its header says: 34 bytes here.
        out[5] = 0;
        out[6] = 0;
        out[7] = 34;
      }
      ++packets;
      return kOk;
    }
    ++packets;
    if (inHeaders && !packet.empty() && packet[0] != 0xFF) {
      // One metadata block per header packet.
      if (packet.size() < 4) {
        broken = true;
        return kOk;
      }
      const std::size_t length = (static_cast<std::size_t>(packet[1]) << 16) |
                                 (static_cast<std::size_t>(packet[2]) << 8) | packet[3];
      if (length > packet.size() - 4) {
        broken = true;
        return kOk;
      }
      const std::size_t at = out.size();
      if (Result r = Append(out, packet.data(), 4 + length); r != kOk) return r;
      out[at] &= 0x7F;
      lastBlockAt = at;
      return kOk;
    }
    EndHeaders();
    return Append(out, packet.data(), packet.size());
  }
};

}  // namespace

std::uint32_t OggCrc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
  for (std::uint8_t b : bytes) crc = (crc << 8) ^ kOggCrcTable[((crc >> 24) ^ b) & 0xFF];
  return crc;
}

OggPageStatus ParseOggPage(std::span<const std::uint8_t> bytes, OggPage& page, bool checkCrc) {
  if (!IsCapture(bytes, 0)) return OggPageStatus::kNotAPage;
  if (bytes.size() < kPageHeaderSize) return OggPageStatus::kTruncated;
  if (bytes[4] != 0) return OggPageStatus::kNotAPage;  // stream structure version
  const std::size_t segments = bytes[26];
  if (bytes.size() < kPageHeaderSize + segments) return OggPageStatus::kTruncated;
  std::size_t bodySize = 0;
  for (std::size_t i = 0; i < segments; ++i) bodySize += bytes[kPageHeaderSize + i];
  const std::size_t size = kPageHeaderSize + segments + bodySize;
  if (bytes.size() < size) return OggPageStatus::kTruncated;

  static const std::uint8_t kZeros[4] = {0, 0, 0, 0};
  std::uint32_t crc = OggCrc32(bytes.subspan(0, 22));
  crc = OggCrc32(kZeros, crc);
  crc = OggCrc32(bytes.subspan(26, size - 26), crc);
  if (checkCrc && crc != Le32(bytes.data() + 22)) return OggPageStatus::kBadChecksum;

  page.headerType = bytes[5];
  page.granulePosition = static_cast<std::uint64_t>(Le32(bytes.data() + 6)) |
                         (static_cast<std::uint64_t>(Le32(bytes.data() + 10)) << 32);
  page.serial = Le32(bytes.data() + 14);
  page.sequence = Le32(bytes.data() + 18);
  page.lacing = bytes.subspan(kPageHeaderSize, segments);
  page.body = bytes.subspan(kPageHeaderSize + segments, bodySize);
  page.size = size;
  return OggPageStatus::kOk;
}

Result ExtractFlacFromOgg(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out, bool checkCrc) {
  out.clear();
  if (Result r = TryReserve(out, bytes.size()); r != kOk) return r;
  FlacPacketSink sink{out};
  std::vector<std::uint8_t> packet;  // a packet being gathered across pages
  bool havePartial = false;
  bool chosen = false;
  std::uint32_t serial = 0;
  std::uint32_t nextSequence = 0;

  std::size_t pos = 0;
  while (pos < bytes.size() && !sink.broken) {
    OggPage page;
    const OggPageStatus status = ParseOggPage(bytes.subspan(pos), page, checkCrc);
    if (status == OggPageStatus::kTruncated) break;
    if (status != OggPageStatus::kOk) {
      if (chosen) break;  // a damaged page of our stream ends it
      // Before the stream is found: look for the next capture pattern.
      ++pos;
      while (pos < bytes.size() && !IsCapture(bytes, pos)) ++pos;
      continue;
    }
    pos += page.size;

    if (!chosen) {
      static const std::uint8_t kMagic[5] = {0x7F, 'F', 'L', 'A', 'C'};
      if (!(page.headerType & kFirstPage) || page.body.size() < 5 ||
          std::memcmp(page.body.data(), kMagic, 5) != 0) {
        continue;  // another logical stream
      }
      chosen = true;
      serial = page.serial;
      nextSequence = page.sequence;
    }
    if (page.serial != serial) continue;
    if (page.sequence != nextSequence) break;  // a page went missing
    ++nextSequence;

    if (!(page.headerType & kContinued) && havePartial) {
      packet.clear();  // the rest of that packet never came
      havePartial = false;
    }
    bool dropFirst = (page.headerType & kContinued) && !havePartial;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < page.lacing.size(); ++i) {
      const std::size_t n = page.lacing[i];
      if (!dropFirst) {
        if (Result r = Append(packet, page.body.data() + offset, n); r != kOk) return r;
        havePartial = true;
      }
      offset += n;
      if (n < 255) {
        if (!dropFirst) {
          if (Result r = sink.Take(packet); r != kOk) return r;
          if (sink.broken) break;
        }
        dropFirst = false;
        packet.clear();
        havePartial = false;
      }
    }
    if (page.headerType & kLastPage) break;
  }

  if (sink.packets == 0) return kBadFormat;
  sink.EndHeaders();
  return kOk;
}

}  // namespace tavrin
