#include "audio/sample_kind.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "base/alloc.h"

namespace tavrin {
namespace {

inline std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint32_t Be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline std::uint64_t Le64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(Le32(p)) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}
inline std::uint64_t Be64(const std::uint8_t* p) {
  return (static_cast<std::uint64_t>(Be32(p)) << 32) | static_cast<std::uint64_t>(Be32(p + 4));
}
inline std::int32_t SignExtend24(std::uint32_t v) {
  return static_cast<std::int32_t>(v ^ 0x800000u) - 0x800000;
}
inline float BitsToFloat(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}
inline double BitsToDouble(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
// A stored float that is not a number, infinite, or (a double) beyond what a
// float holds is damaged data: it reads as silence. Kept, it would make the
// peak infinite and the whole normalised sample silent or not a number.
inline float Finite(double v) { return std::fabs(v) <= static_cast<double>(FLT_MAX) ? static_cast<float>(v) : 0.0f; }

constexpr float k2Pow15 = 1.0f / 32768.0f;
constexpr float k2Pow23 = 1.0f / 8388608.0f;
constexpr float k2Pow31 = 1.0f / 2147483648.0f;

// One stored sample of a known kind, the bytes known to be present.
template <SampleKind K>
inline float DecodeAt(const std::uint8_t* p) {
  if constexpr (K == SampleKind::kU8) {
    return static_cast<float>(p[0]) * 0.0078125f - 1.0f;
  } else if constexpr (K == SampleKind::kS8) {
    return static_cast<float>(static_cast<std::int8_t>(p[0])) * 0.0078125f;
  } else if constexpr (K == SampleKind::kS16LE) {
    return static_cast<float>(static_cast<std::int16_t>(p[0] | (p[1] << 8))) * k2Pow15;
  } else if constexpr (K == SampleKind::kS16BE) {
    return static_cast<float>(static_cast<std::int16_t>((p[0] << 8) | p[1])) * k2Pow15;
  } else if constexpr (K == SampleKind::kS24LE) {
    return static_cast<float>(SignExtend24(static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)))) * k2Pow23;
  } else if constexpr (K == SampleKind::kS24BE) {
    return static_cast<float>(SignExtend24(static_cast<std::uint32_t>((p[0] << 16) | (p[1] << 8) | p[2]))) * k2Pow23;
  } else if constexpr (K == SampleKind::kS32LE) {
    return static_cast<float>(static_cast<std::int32_t>(Le32(p))) * k2Pow31;
  } else if constexpr (K == SampleKind::kS32BE) {
    return static_cast<float>(static_cast<std::int32_t>(Be32(p))) * k2Pow31;
  } else if constexpr (K == SampleKind::kF32LE) {
    return Finite(BitsToFloat(Le32(p)));
  } else if constexpr (K == SampleKind::kF32BE) {
    return Finite(BitsToFloat(Be32(p)));
  } else if constexpr (K == SampleKind::kF64LE) {
    return Finite(BitsToDouble(Le64(p)));
  } else if constexpr (K == SampleKind::kF64BE) {
    return Finite(BitsToDouble(Be64(p)));
  } else if constexpr (K == SampleKind::kALaw) {
    return static_cast<float>(ALawToLinear(p[0]) / 4095.0);
  } else {
    return static_cast<float>(ULawToLinear(p[0]) / 8191.0);
  }
}

template <SampleKind K>
void MixKind(const std::uint8_t* p, std::uint64_t frameCount, std::uint32_t channels, float* out, float& peak) {
  constexpr std::uint32_t size = K == SampleKind::kU8 || K == SampleKind::kS8 || K == SampleKind::kALaw ||
                                         K == SampleKind::kULaw
                                     ? 1
                                 : K == SampleKind::kS16LE || K == SampleKind::kS16BE ? 2
                                 : K == SampleKind::kS24LE || K == SampleKind::kS24BE ? 3
                                 : K == SampleKind::kF64LE || K == SampleKind::kF64BE ? 8
                                                                                      : 4;
  float best = peak;
  float bestMag = std::fabs(best);
  if (channels == 1) {
    for (std::uint64_t i = 0; i < frameCount; ++i, p += size) {
      // The sum of one value divided by one: the value itself, except that a
      // negative zero comes out as +0 as it does from the sum.
      const float v = 0.0f + DecodeAt<K>(p);
      out[i] = v;
      if (std::fabs(v) > bestMag) {
        best = v;
        bestMag = std::fabs(v);
      }
    }
  } else {
    const float divisor = static_cast<float>(channels);
    for (std::uint64_t i = 0; i < frameCount; ++i) {
      float sum = 0.0f;
      for (std::uint32_t c = 0; c < channels; ++c, p += size) sum += DecodeAt<K>(p);
      const float v = sum / divisor;
      out[i] = v;
      if (std::fabs(v) > bestMag) {
        best = v;
        bestMag = std::fabs(v);
      }
    }
  }
  peak = best;
}

}  // namespace

std::uint32_t SampleKindSize(SampleKind kind) {
  switch (kind) {
    case SampleKind::kU8:
    case SampleKind::kS8:
    case SampleKind::kALaw:
    case SampleKind::kULaw: return 1;
    case SampleKind::kS16LE:
    case SampleKind::kS16BE: return 2;
    case SampleKind::kS24LE:
    case SampleKind::kS24BE: return 3;
    case SampleKind::kS32LE:
    case SampleKind::kS32BE:
    case SampleKind::kF32LE:
    case SampleKind::kF32BE: return 4;
    case SampleKind::kF64LE:
    case SampleKind::kF64BE: return 8;
    case SampleKind::kNone: break;
  }
  return 0;
}

std::int32_t ALawToLinear(std::uint8_t byte) {
  const std::uint32_t b = byte ^ 0x55u;
  const std::int32_t e = static_cast<std::int32_t>((b >> 4) & 7u);
  const std::int32_t m = static_cast<std::int32_t>(b & 15u);
  const std::int32_t magnitude = e == 0 ? 2 * m + 1 : (m << e) + (1 << (e + 4)) + (1 << (e - 1));
  return (b & 0x80u) ? magnitude : -magnitude;
}

std::int32_t ULawToLinear(std::uint8_t byte) {
  const std::uint32_t b = static_cast<std::uint8_t>(~byte);
  const std::int32_t e = static_cast<std::int32_t>((b >> 4) & 7u);
  const std::int32_t m = static_cast<std::int32_t>(b & 15u);
  const std::int32_t magnitude = ((2 * m + 33) << e) - 33;
  return (b & 0x80u) ? -magnitude : magnitude;
}

float DecodeSample(ByteView& view, std::uint64_t& pos, SampleKind kind) {
  const std::uint32_t size = SampleKindSize(kind);
  const std::uint64_t at = pos;
  pos += size;
  if (size == 0 || !view.Need(at, size)) return 0.0f;
  const std::uint8_t* p = view.data() + at;
  switch (kind) {
    case SampleKind::kU8: return DecodeAt<SampleKind::kU8>(p);
    case SampleKind::kS8: return DecodeAt<SampleKind::kS8>(p);
    case SampleKind::kS16LE: return DecodeAt<SampleKind::kS16LE>(p);
    case SampleKind::kS16BE: return DecodeAt<SampleKind::kS16BE>(p);
    case SampleKind::kS24LE: return DecodeAt<SampleKind::kS24LE>(p);
    case SampleKind::kS24BE: return DecodeAt<SampleKind::kS24BE>(p);
    case SampleKind::kS32LE: return DecodeAt<SampleKind::kS32LE>(p);
    case SampleKind::kS32BE: return DecodeAt<SampleKind::kS32BE>(p);
    case SampleKind::kF32LE: return DecodeAt<SampleKind::kF32LE>(p);
    case SampleKind::kF32BE: return DecodeAt<SampleKind::kF32BE>(p);
    case SampleKind::kF64LE: return DecodeAt<SampleKind::kF64LE>(p);
    case SampleKind::kF64BE: return DecodeAt<SampleKind::kF64BE>(p);
    case SampleKind::kALaw: return DecodeAt<SampleKind::kALaw>(p);
    case SampleKind::kULaw: return DecodeAt<SampleKind::kULaw>(p);
    case SampleKind::kNone: break;
  }
  return 0.0f;
}

Result DecodeAndMix(const ByteView& view, std::uint64_t start, std::uint64_t frameCount, std::uint32_t channels,
                    SampleKind kind, std::vector<float>& frames, float& peak) {
  const std::uint64_t size = SampleKindSize(kind);
  if (size == 0 || channels == 0) return kBadFormat;
  // The bytes the frames need, checked before anything is allocated: a count
  // far beyond the data must not reserve memory the file cannot fill.
  const std::uint64_t available = view.Has(start, 0) ? view.size() - start : 0;
  if (!view.Has(start, 0) || frameCount > available / size / channels) return kTooMuchData;
  if (Result r = TryResize(frames, static_cast<std::size_t>(frameCount))) return r;
  const std::uint8_t* p = view.data() + start;
  float* out = frames.data();
  switch (kind) {
    case SampleKind::kU8: MixKind<SampleKind::kU8>(p, frameCount, channels, out, peak); break;
    case SampleKind::kS8: MixKind<SampleKind::kS8>(p, frameCount, channels, out, peak); break;
    case SampleKind::kS16LE: MixKind<SampleKind::kS16LE>(p, frameCount, channels, out, peak); break;
    case SampleKind::kS16BE: MixKind<SampleKind::kS16BE>(p, frameCount, channels, out, peak); break;
    case SampleKind::kS24LE: MixKind<SampleKind::kS24LE>(p, frameCount, channels, out, peak); break;
    case SampleKind::kS24BE: MixKind<SampleKind::kS24BE>(p, frameCount, channels, out, peak); break;
    case SampleKind::kS32LE: MixKind<SampleKind::kS32LE>(p, frameCount, channels, out, peak); break;
    case SampleKind::kS32BE: MixKind<SampleKind::kS32BE>(p, frameCount, channels, out, peak); break;
    case SampleKind::kF32LE: MixKind<SampleKind::kF32LE>(p, frameCount, channels, out, peak); break;
    case SampleKind::kF32BE: MixKind<SampleKind::kF32BE>(p, frameCount, channels, out, peak); break;
    case SampleKind::kF64LE: MixKind<SampleKind::kF64LE>(p, frameCount, channels, out, peak); break;
    case SampleKind::kF64BE: MixKind<SampleKind::kF64BE>(p, frameCount, channels, out, peak); break;
    case SampleKind::kALaw: MixKind<SampleKind::kALaw>(p, frameCount, channels, out, peak); break;
    case SampleKind::kULaw: MixKind<SampleKind::kULaw>(p, frameCount, channels, out, peak); break;
    case SampleKind::kNone: break;
  }
  return kOk;
}

}  // namespace tavrin
