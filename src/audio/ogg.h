// Ogg pages and packets (RFC 3533), as far as FLAC in Ogg needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"

namespace tavrin {

// The Ogg page checksum: CRC-32 with polynomial 0x04C11DB7, not reflected,
// initial value 0, computed with the page's checksum field set to zero.
std::uint32_t OggCrc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

struct OggPage {
  std::uint8_t headerType = 0;  // 0x01 continued packet, 0x02 first page, 0x04 last page
  std::uint64_t granulePosition = 0;
  std::uint32_t serial = 0;
  std::uint32_t sequence = 0;
  std::span<const std::uint8_t> lacing;  // the segment table
  std::span<const std::uint8_t> body;
  std::size_t size = 0;  // header, segment table and body
};

enum class OggPageStatus : std::uint8_t { kOk, kNotAPage, kTruncated, kBadChecksum };

// Parses the page that begins at the start of bytes and verifies its checksum
// (unless checkCrc is false).
OggPageStatus ParseOggPage(std::span<const std::uint8_t> bytes, OggPage& page, bool checkCrc = true);

// Gathers the FLAC stream carried in Ogg (the first logical stream whose
// first packet is the FLAC mapping header) as native FLAC bytes: "fLaC", the
// STREAMINFO of the mapping header and the metadata block of every header
// packet (the "last block" flag set on the final one only), then the audio
// packets, one frame each, in order. Reading stops at the stream's last page,
// at a damaged or missing page, or at the end of the data; a packet cut off
// there is dropped. 13 when no FLAC stream is found, 4 without memory.
Result ExtractFlacFromOgg(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out,
                          bool checkCrc = true);

}  // namespace tavrin
