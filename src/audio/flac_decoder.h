// FLAC stream decoder (RFC 9639): metadata blocks and audio frames, native
// ("fLaC") or carried in Ogg. It works on bytes already in memory and yields
// exact integer samples per channel, one frame at a time; what to do with
// them (mixing, scaling) is the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/result.h"

namespace tavrin {

inline constexpr std::uint32_t kFlacMaxChannels = 8;
inline constexpr std::uint32_t kFlacMaxBlockSize = 65535;

// The search for a frame header past damaged data decodes each candidate in
// full before its CRC-16 can refuse it, and a few bytes can code a frame of
// 8 × 65535 samples. The samples of the candidates it refuses are therefore
// limited per stream: this many for each byte of the stream, plus room for
// two frames of the largest size.
inline constexpr std::uint64_t kFlacSearchSamplesPerByte = 16;
inline constexpr std::uint64_t kFlacSearchBaseSamples = 2 * std::uint64_t{8} * 65535;

enum class FlacStatus : std::uint8_t {
  kOk,     // a metadata block or a frame is ready
  kEnd,    // no more metadata blocks (now at the frames), or no more frames
  kError,  // damaged or unsupported data; the stream cannot go on from here
};

enum class FlacContainer : std::uint8_t { kNone, kNative, kOgg, kFramesOnly };

enum class FlacChannelAssignment : std::uint8_t {
  kIndependent,
  kLeftSide,
  kSideRight,
  kMidSide,
};

struct FlacStreamInfo {
  std::uint32_t minBlockSize = 0;
  std::uint32_t maxBlockSize = 0;
  std::uint32_t minFrameSize = 0;
  std::uint32_t maxFrameSize = 0;
  std::uint32_t sampleRate = 0;
  std::uint32_t channels = 0;
  std::uint32_t bitsPerSample = 0;
  std::uint64_t totalSamples = 0;  // 36 bits; 0 = unknown
  std::uint8_t md5[16] = {};
};

struct FlacMetadataBlock {
  std::uint8_t type = 0;
  bool last = false;
  std::span<const std::uint8_t> data;  // the block's body, without its 4-byte header
};

struct FlacFrameHeader {
  std::uint32_t blockSize = 0;
  std::uint32_t sampleRate = 0;     // 0 when only STREAMINFO knows it
  std::uint32_t channels = 0;
  std::uint32_t bitsPerSample = 0;  // resolved through STREAMINFO when the header defers to it
  FlacChannelAssignment assignment = FlacChannelAssignment::kIndependent;
  bool variableBlockSize = false;
  std::uint64_t number = 0;  // frame number (fixed) or first sample number (variable)
};

// Parses the 34-byte STREAMINFO body. False when it is shorter than that.
bool ParseFlacStreamInfo(std::span<const std::uint8_t> body, FlacStreamInfo& info);

// CRC-8 (x^8 + x^2 + x + 1) and CRC-16 (x^16 + x^15 + x^2 + 1), initial value 0.
std::uint8_t FlacCrc8(std::span<const std::uint8_t> bytes);
std::uint16_t FlacCrc16(std::span<const std::uint8_t> bytes);

// Parses a frame header at the start of bytes (sync code included) and checks
// its CRC-8 (unless checkCrc is false). streamBitsPerSample (0 when unknown)
// stands in when the header defers the bit depth to STREAMINFO. Returns the
// header length in bytes, or 0 when there is no valid header there.
std::size_t ParseFlacFrameHeader(std::span<const std::uint8_t> bytes,
                                 std::uint32_t streamBitsPerSample,
                                 FlacFrameHeader& header, bool checkCrc = true);

class FlacDecoder {
 public:
  FlacDecoder() = default;
  FlacDecoder(const FlacDecoder&) = delete;
  FlacDecoder& operator=(const FlacDecoder&) = delete;

  // Takes the whole stream (which must outlive the decoder). The first byte
  // decides the container: 'f' native FLAC ("fLaC"), 'O' Ogg ("OggS", whose
  // FLAC packets are gathered into an owned buffer). 13 for anything else,
  // 4 when the Ogg packets cannot be gathered for lack of memory.
  Result Open(std::span<const std::uint8_t> bytes);

  // Takes a stream of bare frames without signature or metadata (as received
  // from a multicast); the first frame is searched for.
  Result OpenFrames(std::span<const std::uint8_t> bytes);

  FlacContainer container() const { return container_; }

  // Fuzzing only: ignore the CRC-8, CRC-16 and Ogg page checksums so that
  // mutated input reaches the subframe decoding. Set before Open.
  void SetVerifyChecksums(bool verify) { verifyChecksums_ = verify; }

  // Steps through the metadata section: kOk with the next block, kEnd after
  // the last block (the decoder then stands at the audio frames), kError for
  // a broken section (a block running past the data, the forbidden type 127).
  // Every STREAMINFO block seen is parsed and kept.
  FlacStatus NextMetadataBlock(FlacMetadataBlock& block);

  bool hasStreamInfo() const { return hasStreamInfo_; }
  const FlacStreamInfo& streamInfo() const { return streamInfo_; }

  // Channel buffers for the frames: eight channels of the largest block size
  // STREAMINFO announces (4096 samples when it is unknown); 4 without memory.
  // DecodeFrame allocates them itself when this was not called, and grows
  // them for a larger frame (up to 8 × 65535 samples).
  Result AllocateBuffers();
  // True when a frame could not be decoded for lack of memory.
  bool outOfMemory() const { return outOfMemory_; }

  // Decodes the next frame into the channel buffers: kOk, kEnd when no frame
  // header is left in the data, kError for a damaged frame (bad subframe,
  // data ending inside the frame, CRC-16 mismatch) or missing memory.
  // Garbage before a frame header is skipped; the search also ends with
  // kError once the candidates it refused have used up their allowance
  // (kFlacSearchSamplesPerByte for each byte of the stream, plus
  // kFlacSearchBaseSamples), so that a small stream cannot cost much more
  // work than its frames deliver.
  FlacStatus DecodeFrame();

  // Samples (block size × channels) of every frame whose decoding began,
  // refused ones included: the decoder's work so far.
  std::uint64_t samplesDecoded() const { return samplesDecoded_; }

  const FlacFrameHeader& frame() const { return frame_; }
  const std::int32_t* channel(std::uint32_t index) const {
    return samples_.get() + static_cast<std::size_t>(index) * capacity_;
  }
  // Byte offset of the next unread byte in the (possibly demultiplexed) stream.
  std::size_t position() const { return pos_; }

 private:
  FlacStatus DecodeFrameAt(std::size_t start, bool searching);
  // The subframes and CRC-16 of a frame whose header (headerSize bytes at
  // the start of rest) is h; frameBytes is set to the frame's length.
  FlacStatus DecodeFrameBody(std::span<const std::uint8_t> rest, std::size_t headerSize,
                             const FlacFrameHeader& h, std::size_t& frameBytes);
  bool EnsureCapacity(std::uint32_t blockSize);

  std::span<const std::uint8_t> data_;
  std::vector<std::uint8_t> demuxed_;  // the FLAC packets of an Ogg stream
  std::size_t pos_ = 0;
  FlacContainer container_ = FlacContainer::kNone;
  bool inMetadata_ = false;
  bool verifyChecksums_ = true;
  bool outOfMemory_ = false;
  std::uint32_t capacity_ = 0;  // samples per channel buffer
  std::uint64_t samplesDecoded_ = 0;
  std::uint64_t searchRefused_ = 0;  // samples of candidates the search refused
  bool searchExhausted_ = false;     // the search's allowance is used up
  bool hasStreamInfo_ = false;
  FlacStreamInfo streamInfo_;
  FlacFrameHeader frame_;
  // Left uninitialised: every frame writes the samples it exposes.
  std::unique_ptr<std::int32_t[]> samples_;  // kFlacMaxChannels × kFlacMaxBlockSize
  std::unique_ptr<std::int64_t[]> wide_;     // the 33-bit side channel of 32-bit streams
};

}  // namespace tavrin
