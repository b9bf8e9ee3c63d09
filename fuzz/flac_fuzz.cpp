// Fuzz target for the FLAC reader: native FLAC and FLAC in Ogg (the first
// byte decides), through the reader as the program runs it, and through the
// core decoder with its checksums ignored so that mutations reach the
// subframes and residuals, also as a bare frame stream.
#include <cstddef>
#include <cstdint>
#include <span>

#include "audio/flac_decoder.h"
#include "audio/flac_reader.h"

namespace {

void DecodeCore(std::span<const std::uint8_t> bytes, bool bare) {
  tavrin::FlacDecoder dec;
  dec.SetVerifyChecksums(false);
  if ((bare ? dec.OpenFrames(bytes) : dec.Open(bytes)) != tavrin::kOk) return;
  tavrin::FlacMetadataBlock block;
  while (dec.NextMetadataBlock(block) == tavrin::FlacStatus::kOk) {
  }
  // A few bytes can code a frame of 8 × 65535 samples; bounding the samples
  // decoded keeps one input's work small.
  std::uint64_t samples = 0;
  while (samples < (std::uint64_t{1} << 21) && dec.DecodeFrame() == tavrin::FlacStatus::kOk)
    samples += std::uint64_t{dec.frame().blockSize} * dec.frame().channels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  tavrin::DecodedAudio audio;
  (void)tavrin::DecodeFlacFile(bytes, audio, std::uint64_t{1} << 20);
  DecodeCore(bytes, false);
  DecodeCore(bytes, true);
  return 0;
}
