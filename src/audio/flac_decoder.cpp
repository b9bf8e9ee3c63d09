#include "audio/flac_decoder.h"

#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "audio/ogg.h"

namespace tavrin {
namespace {

// ---------------------------------------------------------------- checksums

constexpr std::array<std::uint8_t, 256> MakeCrc8Table() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = i;
    for (int b = 0; b < 8; ++b) r = (r & 0x80) ? ((r << 1) ^ 0x07) : (r << 1);
    table[i] = static_cast<std::uint8_t>(r);
  }
  return table;
}

// Eight tables so that the CRC-16 of a frame advances eight bytes per step.
constexpr std::array<std::array<std::uint16_t, 256>, 8> MakeCrc16Tables() {
  std::array<std::array<std::uint16_t, 256>, 8> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = i << 8;
    for (int b = 0; b < 8; ++b) r = (r & 0x8000) ? ((r << 1) ^ 0x8005) : (r << 1);
    t[0][i] = static_cast<std::uint16_t>(r);
  }
  for (unsigned k = 1; k < 8; ++k) {
    for (unsigned i = 0; i < 256; ++i) {
      const unsigned prev = t[k - 1][i];
      t[k][i] = static_cast<std::uint16_t>(((prev << 8) & 0xFFFF) ^ t[0][prev >> 8]);
    }
  }
  return t;
}

constexpr std::array<std::uint8_t, 256> kCrc8Table = MakeCrc8Table();
constexpr std::array<std::array<std::uint16_t, 256>, 8> kCrc16Tables = MakeCrc16Tables();

inline std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) {
#if defined(_MSC_VER) && !defined(__clang__)
    v = _byteswap_uint64(v);
#else
    v = __builtin_bswap64(v);
#endif
  }
  return v;
}

// ---------------------------------------------------------------- bit reader

// Reads bits most-significant first from a byte range. The cache holds the
// next bits left-aligned; reads beyond the end see zero bits and are noticed
// through overrun().
class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t size, std::size_t start)
      : data_(data), size_(size), next_(start) {}

  // Ensures at least 57 valid bits in the cache.
  void Refill() {
    if (bits_ > 56) return;
    if (next_ + 8 <= size_) {
      cache_ |= LoadBigEndian64(data_ + next_) >> bits_;
      const unsigned take = (63 - bits_) >> 3;
      next_ += take;
      bits_ += take * 8;
      return;
    }
    while (bits_ <= 56) {
      const std::uint64_t byte = next_ < size_ ? data_[next_] : 0;
      cache_ |= byte << (56 - bits_);
      ++next_;
      bits_ += 8;
    }
  }

  // n <= 57.
  std::uint64_t Read(unsigned n) {
    if (bits_ < n) Refill();
    const std::uint64_t v = (cache_ >> 1) >> (63 - n);
    cache_ = n == 64 ? 0 : cache_ << n;
    bits_ -= n;
    return v;
  }

  // Two's complement number of n bits, n <= 33.
  std::int64_t ReadSigned(unsigned n) {
    if (n == 0) return 0;
    const std::uint64_t v = Read(n);
    return static_cast<std::int64_t>(v << (64 - n)) >> (64 - n);
  }

  // Counts zero bits up to the next one bit and consumes both. False when the
  // run reaches past the data or beyond `limit`.
  bool ReadUnary(std::uint32_t limit, std::uint32_t& count) {
    std::uint64_t q = 0;
    for (;;) {
      if (bits_ == 0) Refill();
      const std::uint64_t c = cache_;
      if (c != 0) {
        const unsigned z = static_cast<unsigned>(std::countl_zero(c));
        if (z < bits_) {
          cache_ = (c << z) << 1;
          bits_ -= z + 1;
          q += z;
          if (q > limit) return false;
          count = static_cast<std::uint32_t>(q);
          return true;
        }
      }
      q += bits_;
      cache_ = 0;
      bits_ = 0;
      if (q > limit || next_ >= size_ + 16) return false;
      Refill();
    }
  }

  // Reads one Rice-coded residual with parameter k (k <= 30) as a folded
  // (zigzag) value. False for a value that does not fit 32 bits or a code
  // running past the data.
  bool ReadRice(unsigned k, std::uint32_t& folded) {
    if (bits_ < 32) Refill();
    std::uint32_t q;
    const std::uint64_t c = cache_;
    const unsigned z = c ? static_cast<unsigned>(std::countl_zero(c)) : 64;
    if (z < bits_) {
      cache_ = (c << z) << 1;
      bits_ -= z + 1;
      q = z;
    } else if (!ReadUnary(0xFFFFFFFFu, q)) {
      return false;
    }
    if (bits_ < k) Refill();
    const std::uint64_t low = (cache_ >> 1) >> (63 - k);
    cache_ <<= k;
    bits_ -= k;
    const std::uint64_t v = (static_cast<std::uint64_t>(q) << k) | low;
    if (v > 0xFFFFFFFFu) return false;
    folded = static_cast<std::uint32_t>(v);
    return true;
  }

  // Reads n Rice-coded residuals with parameter k (k <= 30) into out. The
  // state lives in locals for the loop; codes that do not fit the cache, or
  // that run near the end of the data, take the general path.
  template <class T>
  bool ReadRiceRun(T* out, std::uint32_t n, unsigned k) {
    std::uint64_t cache = cache_;
    unsigned bits = bits_;
    std::size_t next = next_;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (bits < 32 && next + 8 <= size_) {
        cache |= LoadBigEndian64(data_ + next) >> bits;
        const unsigned take = (63 - bits) >> 3;
        next += take;
        bits += take * 8;
      }
      const unsigned z = static_cast<unsigned>(std::countl_zero(cache));
      std::uint64_t v;
      if (z + 1 + k <= bits) {
        const std::uint64_t rest = (cache << z) << 1;
        v = (static_cast<std::uint64_t>(z) << k) | ((rest >> 1) >> (63 - k));
        cache = rest << k;
        bits -= z + 1 + k;
      } else {
        cache_ = cache;
        bits_ = bits;
        next_ = next;
        std::uint32_t u;
        if (!ReadRice(k, u)) return false;
        v = u;
        cache = cache_;
        bits = bits_;
        next = next_;
      }
      if (v > 0xFFFFFFFFu) return false;
      const std::uint32_t u = static_cast<std::uint32_t>(v);
      out[i] = static_cast<T>(static_cast<std::int32_t>((u >> 1) ^ (0u - (u & 1u))));
    }
    cache_ = cache;
    bits_ = bits;
    next_ = next;
    return true;
  }

  void AlignToByte() {
    const unsigned r = bits_ & 7;
    cache_ <<= r;
    bits_ -= r;
  }

  // Byte offset of the next unread bit (valid after AlignToByte).
  std::size_t BytePosition() const { return next_ - bits_ / 8; }
  bool overrun() const { return next_ * 8 - bits_ > size_ * 8; }
  bool farPastEnd() const { return next_ >= size_ + 16; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t next_;
  std::uint64_t cache_ = 0;
  unsigned bits_ = 0;
};

// ---------------------------------------------------------------- prediction

// Residual buffers are int32_t for channels of up to 32 bits and int64_t for
// the 33-bit side channel of 32-bit stereo. Sums run in the matching unsigned
// type: valid streams come out exact, damaged ones wrap instead of
// overflowing.
template <class T>
using UnsignedOf = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;

template <class T>
void RestoreFixed(T* s, std::size_t n, unsigned order) {
  using U = UnsignedOf<T>;
  switch (order) {
    case 1:
      for (std::size_t i = 1; i < n; ++i) s[i] = static_cast<T>(U(s[i]) + U(s[i - 1]));
      break;
    case 2:
      for (std::size_t i = 2; i < n; ++i)
        s[i] = static_cast<T>(U(s[i]) + 2 * U(s[i - 1]) - U(s[i - 2]));
      break;
    case 3:
      for (std::size_t i = 3; i < n; ++i)
        s[i] = static_cast<T>(U(s[i]) + 3 * U(s[i - 1]) - 3 * U(s[i - 2]) + U(s[i - 3]));
      break;
    case 4:
      for (std::size_t i = 4; i < n; ++i)
        s[i] = static_cast<T>(U(s[i]) + 4 * U(s[i - 1]) - 6 * U(s[i - 2]) + 4 * U(s[i - 3]) -
                              U(s[i - 4]));
      break;
    default:
      break;
  }
}

// The prediction loops stay scalar: each output sample feeds the next
// prediction, and a vector load of the history right after the scalar store
// of its newest sample stalls on store forwarding, which made the vectorised
// form slower than plain scalar code.
#if defined(__clang__)
#define TAVRIN_SCALAR_LOOP _Pragma("clang loop vectorize(disable) interleave(disable) unroll(full)")
#define TAVRIN_SCALAR_FUNCTION
#elif defined(__GNUC__)
#define TAVRIN_SCALAR_LOOP _Pragma("GCC unroll 32")
#define TAVRIN_SCALAR_FUNCTION __attribute__((optimize("no-tree-vectorize")))
#else
#define TAVRIN_SCALAR_LOOP
#define TAVRIN_SCALAR_FUNCTION
#endif

// 32-bit sums: used when bits per sample + coefficient precision + log2(order)
// keeps every true sum inside 32 bits.
template <unsigned Order>
TAVRIN_SCALAR_FUNCTION void Lpc32(std::int32_t* s, std::size_t n, const std::int32_t* c, unsigned shift) {
  std::uint32_t coef[Order];
  for (unsigned j = 0; j < Order; ++j) coef[j] = static_cast<std::uint32_t>(c[j]);
  // The newest sample stays in a register and enters the sum last, so that
  // the chain from one output to the next is a multiply and three adds.
  std::uint32_t prev = static_cast<std::uint32_t>(s[Order - 1]);
  for (std::size_t i = Order; i < n; ++i) {
    std::uint32_t sum = 0;
    TAVRIN_SCALAR_LOOP
    for (unsigned j = Order - 1; j > 0; --j) sum += coef[j] * static_cast<std::uint32_t>(s[i - 1 - j]);
    sum += coef[0] * prev;
    prev = static_cast<std::uint32_t>(s[i]) + static_cast<std::uint32_t>(static_cast<std::int32_t>(sum) >> shift);
    s[i] = static_cast<std::int32_t>(prev);
  }
}

// 64-bit sums of 32-bit samples: coefficients have at most 15 bits, so 32
// products of a 32-bit sample never leave 64 bits.
template <unsigned Order>
TAVRIN_SCALAR_FUNCTION void Lpc64(std::int32_t* s, std::size_t n, const std::int32_t* c, unsigned shift) {
  std::int64_t coef[Order];
  for (unsigned j = 0; j < Order; ++j) coef[j] = c[j];
  std::int64_t prev = s[Order - 1];
  for (std::size_t i = Order; i < n; ++i) {
    std::int64_t sum = 0;
    TAVRIN_SCALAR_LOOP
    for (unsigned j = Order - 1; j > 0; --j) sum += coef[j] * s[i - 1 - j];
    sum += coef[0] * prev;
    const std::int32_t v = static_cast<std::int32_t>(static_cast<std::uint32_t>(s[i]) +
                                                     static_cast<std::uint32_t>(sum >> shift));
    s[i] = v;
    prev = v;
  }
}

using LpcFn = void (*)(std::int32_t*, std::size_t, const std::int32_t*, unsigned);

template <std::size_t... I>
constexpr std::array<LpcFn, 32> MakeLpc32Table(std::index_sequence<I...>) {
  return {&Lpc32<I + 1>...};
}
template <std::size_t... I>
constexpr std::array<LpcFn, 32> MakeLpc64Table(std::index_sequence<I...>) {
  return {&Lpc64<I + 1>...};
}
constexpr std::array<LpcFn, 32> kLpc32 = MakeLpc32Table(std::make_index_sequence<32>{});
constexpr std::array<LpcFn, 32> kLpc64 = MakeLpc64Table(std::make_index_sequence<32>{});

// The 33-bit side channel: wrapping 64-bit sums.
void LpcWide(std::int64_t* s, std::size_t n, const std::int32_t* c, unsigned order, unsigned shift) {
  for (std::size_t i = order; i < n; ++i) {
    std::uint64_t sum = 0;
    for (unsigned j = 0; j < order; ++j)
      sum += static_cast<std::uint64_t>(static_cast<std::int64_t>(c[j])) *
             static_cast<std::uint64_t>(s[i - 1 - j]);
    s[i] = static_cast<std::int64_t>(static_cast<std::uint64_t>(s[i]) +
                                     static_cast<std::uint64_t>(static_cast<std::int64_t>(sum) >> shift));
  }
}

unsigned FloorLog2(unsigned v) { return v ? 31u - static_cast<unsigned>(std::countl_zero(v)) : 0u; }

// ---------------------------------------------------------------- subframes

// Reads the coded residual of one subframe into s[order..blockSize).
template <class T>
bool ReadResidual(BitReader& br, T* s, std::uint32_t blockSize, unsigned order) {
  const unsigned method = static_cast<unsigned>(br.Read(2));
  if (method > 1) return false;
  const unsigned paramBits = method == 0 ? 4 : 5;
  const unsigned escape = method == 0 ? 15 : 31;
  const unsigned partitionOrder = static_cast<unsigned>(br.Read(4));
  const std::uint32_t partitionSize = blockSize >> partitionOrder;
  if ((partitionSize << partitionOrder) != blockSize || partitionSize < order) return false;
  const std::uint32_t partitions = 1u << partitionOrder;

  T* out = s + order;
  for (std::uint32_t p = 0; p < partitions; ++p) {
    const std::uint32_t n = p == 0 ? partitionSize - order : partitionSize;
    const unsigned param = static_cast<unsigned>(br.Read(paramBits));
    if (param == escape) {
      const unsigned bits = static_cast<unsigned>(br.Read(5));
      for (std::uint32_t i = 0; i < n; ++i) out[i] = static_cast<T>(br.ReadSigned(bits));
    } else {
      if (!br.ReadRiceRun(out, n, param)) return false;
    }
    if (br.farPastEnd()) return false;
    out += n;
  }
  return true;
}

// Decodes one subframe of `bps` bits per sample (the side channel's extra bit
// included) into s[0..blockSize).
template <class T>
bool DecodeSubframe(BitReader& br, T* s, std::uint32_t blockSize, unsigned bps) {
  using U = UnsignedOf<T>;
  if (br.Read(1) != 0) return false;
  const unsigned type = static_cast<unsigned>(br.Read(6));
  unsigned wasted = 0;
  if (br.Read(1)) {
    std::uint32_t zeros;
    if (!br.ReadUnary(bps, zeros)) return false;
    wasted = zeros + 1;
    if (wasted >= bps) return false;
  }
  const unsigned sbps = bps - wasted;

  if (type == 0) {
    const T v = static_cast<T>(br.ReadSigned(sbps));
    for (std::uint32_t i = 0; i < blockSize; ++i) s[i] = v;
  } else if (type == 1) {
    for (std::uint32_t i = 0; i < blockSize; ++i) s[i] = static_cast<T>(br.ReadSigned(sbps));
  } else if (type >= 8 && type <= 12) {
    const unsigned order = type - 8;
    if (order > blockSize) return false;
    for (unsigned i = 0; i < order; ++i) s[i] = static_cast<T>(br.ReadSigned(sbps));
    if (!ReadResidual(br, s, blockSize, order)) return false;
    RestoreFixed(s, blockSize, order);
  } else if (type >= 32) {
    const unsigned order = type - 31;
    if (order > blockSize) return false;
    for (unsigned i = 0; i < order; ++i) s[i] = static_cast<T>(br.ReadSigned(sbps));
    const unsigned precision = static_cast<unsigned>(br.Read(4)) + 1;
    if (precision == 16) return false;
    const std::int64_t shift = br.ReadSigned(5);
    if (shift < 0) return false;
    std::int32_t coef[32];
    for (unsigned i = 0; i < order; ++i) coef[i] = static_cast<std::int32_t>(br.ReadSigned(precision));
    if (!ReadResidual(br, s, blockSize, order)) return false;
    if constexpr (sizeof(T) == 4) {
      if (sbps + precision + FloorLog2(order) <= 32)
        kLpc32[order - 1](s, blockSize, coef, static_cast<unsigned>(shift));
      else
        kLpc64[order - 1](s, blockSize, coef, static_cast<unsigned>(shift));
    } else {
      LpcWide(s, blockSize, coef, order, static_cast<unsigned>(shift));
    }
  } else {
    return false;  // reserved subframe type
  }
  if (br.overrun()) return false;
  if (wasted)
    for (std::uint32_t i = 0; i < blockSize; ++i) s[i] = static_cast<T>(U(s[i]) << wasted);
  return true;
}

std::uint32_t Be24(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[2];
}

bool IsFrameSync(std::span<const std::uint8_t> b, std::size_t at) {
  return at + 1 < b.size() && b[at] == 0xFF && (b[at + 1] & 0xFE) == 0xF8;
}

}  // namespace

// ---------------------------------------------------------------- public helpers

std::uint8_t FlacCrc8(std::span<const std::uint8_t> bytes) {
  std::uint8_t crc = 0;
  for (std::uint8_t b : bytes) crc = kCrc8Table[crc ^ b];
  return crc;
}

std::uint16_t FlacCrc16(std::span<const std::uint8_t> bytes) {
  unsigned crc = 0;
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
  const auto& t = kCrc16Tables;
  while (n >= 8) {
    crc = t[7][p[0] ^ (crc >> 8)] ^ t[6][p[1] ^ (crc & 0xFF)] ^ t[5][p[2]] ^ t[4][p[3]] ^
          t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    p += 8;
    n -= 8;
  }
  while (n--) crc = ((crc << 8) & 0xFFFF) ^ t[0][(crc >> 8) ^ *p++];
  return static_cast<std::uint16_t>(crc);
}

bool ParseFlacStreamInfo(std::span<const std::uint8_t> b, FlacStreamInfo& info) {
  if (b.size() < 34) return false;
  info.minBlockSize = (static_cast<std::uint32_t>(b[0]) << 8) | b[1];
  info.maxBlockSize = (static_cast<std::uint32_t>(b[2]) << 8) | b[3];
  info.minFrameSize = Be24(&b[4]);
  info.maxFrameSize = Be24(&b[7]);
  info.sampleRate = (static_cast<std::uint32_t>(b[10]) << 12) | (static_cast<std::uint32_t>(b[11]) << 4) |
                    (b[12] >> 4);
  info.channels = ((b[12] >> 1) & 7u) + 1;
  info.bitsPerSample = (((b[12] & 1u) << 4) | (b[13] >> 4)) + 1;
  info.totalSamples = (static_cast<std::uint64_t>(b[13] & 0x0F) << 32) |
                      (static_cast<std::uint64_t>(b[14]) << 24) | (static_cast<std::uint64_t>(b[15]) << 16) |
                      (static_cast<std::uint64_t>(b[16]) << 8) | b[17];
  std::memcpy(info.md5, &b[18], 16);
  return true;
}

std::size_t ParseFlacFrameHeader(std::span<const std::uint8_t> b, std::uint32_t streamBitsPerSample,
                                 FlacFrameHeader& h, bool checkCrc) {
  if (b.size() < 6 || !IsFrameSync(b, 0)) return 0;
  h.variableBlockSize = (b[1] & 1) != 0;
  const unsigned blockBits = b[2] >> 4;
  const unsigned rateBits = b[2] & 0x0F;
  const unsigned channelBits = b[3] >> 4;
  const unsigned depthBits = (b[3] >> 1) & 7;
  if (blockBits == 0 || rateBits == 15 || channelBits > 10 || depthBits == 3 || (b[3] & 1)) return 0;

  // Coded number: the UTF-8 pattern extended to seven bytes.
  std::size_t pos = 4;
  const std::uint8_t first = b[pos++];
  unsigned extra;
  std::uint64_t number;
  if (first < 0x80) {
    extra = 0;
    number = first;
  } else if (first == 0xFF || (first & 0xC0) == 0x80) {
    return 0;
  } else {
    extra = static_cast<unsigned>(std::countl_one(first)) - 1;  // 1..6
    number = first & (0x3Fu >> extra);
  }
  if (pos + extra > b.size()) return 0;
  for (unsigned i = 0; i < extra; ++i) {
    const std::uint8_t c = b[pos++];
    if ((c & 0xC0) != 0x80) return 0;
    number = (number << 6) | (c & 0x3F);
  }
  h.number = number;

  if (blockBits == 1) {
    h.blockSize = 192;
  } else if (blockBits <= 5) {
    h.blockSize = 144u << blockBits;
  } else if (blockBits == 6) {
    if (pos + 1 > b.size()) return 0;
    h.blockSize = b[pos++] + 1u;
  } else if (blockBits == 7) {
    if (pos + 2 > b.size()) return 0;
    h.blockSize = ((static_cast<std::uint32_t>(b[pos]) << 8) | b[pos + 1]) + 1u;
    pos += 2;
    if (h.blockSize > kFlacMaxBlockSize) return 0;
  } else {
    h.blockSize = 1u << blockBits;
  }

  static const std::uint32_t kRates[12] = {0,     88200, 176400, 192000, 8000,  16000,
                                           22050, 24000, 32000,  44100,  48000, 96000};
  if (rateBits < 12) {
    h.sampleRate = kRates[rateBits];
  } else if (rateBits == 12) {
    if (pos + 1 > b.size()) return 0;
    h.sampleRate = b[pos++] * 1000u;
  } else {
    if (pos + 2 > b.size()) return 0;
    const std::uint32_t v = (static_cast<std::uint32_t>(b[pos]) << 8) | b[pos + 1];
    pos += 2;
    h.sampleRate = rateBits == 13 ? v : v * 10;
  }

  if (channelBits < 8) {
    h.channels = channelBits + 1;
    h.assignment = FlacChannelAssignment::kIndependent;
  } else {
    h.channels = 2;
    h.assignment = channelBits == 8    ? FlacChannelAssignment::kLeftSide
                   : channelBits == 9 ? FlacChannelAssignment::kSideRight
                                      : FlacChannelAssignment::kMidSide;
  }

  static const std::uint32_t kDepths[8] = {0, 8, 12, 0, 16, 20, 24, 32};
  h.bitsPerSample = depthBits == 0 ? streamBitsPerSample : kDepths[depthBits];
  if (h.bitsPerSample < 4 || h.bitsPerSample > 32) return 0;

  if (pos + 1 > b.size()) return 0;
  if (checkCrc && FlacCrc8(b.subspan(0, pos)) != b[pos]) return 0;
  return pos + 1;
}

// ---------------------------------------------------------------- decoder

Result FlacDecoder::Open(std::span<const std::uint8_t> bytes) {
  data_ = {};
  pos_ = 0;
  hasStreamInfo_ = false;
  inMetadata_ = false;
  outOfMemory_ = false;
  samplesDecoded_ = 0;
  searchRefused_ = 0;
  searchExhausted_ = false;
  container_ = FlacContainer::kNone;
  if (bytes.empty()) return kBadFormat;
  if (bytes[0] == 'f') {
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "fLaC", 4) != 0) return kBadFormat;
    data_ = bytes;
    container_ = FlacContainer::kNative;
  } else if (bytes[0] == 'O') {
    if (Result r = ExtractFlacFromOgg(bytes, demuxed_, verifyChecksums_); r != kOk) return r;
    data_ = demuxed_;
    container_ = FlacContainer::kOgg;
  } else {
    return kBadFormat;
  }
  pos_ = 4;
  inMetadata_ = true;
  return kOk;
}

Result FlacDecoder::OpenFrames(std::span<const std::uint8_t> bytes) {
  data_ = bytes;
  pos_ = 0;
  hasStreamInfo_ = false;
  inMetadata_ = false;
  outOfMemory_ = false;
  samplesDecoded_ = 0;
  searchRefused_ = 0;
  searchExhausted_ = false;
  container_ = FlacContainer::kFramesOnly;
  return kOk;
}

FlacStatus FlacDecoder::NextMetadataBlock(FlacMetadataBlock& block) {
  if (!inMetadata_) return FlacStatus::kEnd;
  if (data_.size() - pos_ < 4) return FlacStatus::kError;
  const std::uint8_t head = data_[pos_];
  const std::size_t length = Be24(&data_[pos_ + 1]);
  block.type = head & 0x7F;
  block.last = (head & 0x80) != 0;
  if (block.type == 127 || length > data_.size() - pos_ - 4) return FlacStatus::kError;
  block.data = data_.subspan(pos_ + 4, length);
  if (block.type == 0) {
    FlacStreamInfo info;
    if (ParseFlacStreamInfo(block.data, info)) {
      streamInfo_ = info;
      hasStreamInfo_ = true;
    }
  }
  pos_ += 4 + length;
  if (block.last) inMetadata_ = false;
  return FlacStatus::kOk;
}

Result FlacDecoder::AllocateBuffers() {
  std::uint32_t want = 4096;
  if (hasStreamInfo_ && streamInfo_.maxBlockSize >= 16) want = streamInfo_.maxBlockSize;
  return EnsureCapacity(want) ? kOk : kOutOfMemory;
}

bool FlacDecoder::EnsureCapacity(std::uint32_t blockSize) {
  if (blockSize <= capacity_) return true;
  samples_.reset(new (std::nothrow) std::int32_t[std::size_t{kFlacMaxChannels} * blockSize]);
  wide_.reset(new (std::nothrow) std::int64_t[blockSize]);
  if (!samples_ || !wide_) {
    samples_.reset();
    wide_.reset();
    capacity_ = 0;
    outOfMemory_ = true;
    return false;
  }
  capacity_ = blockSize;
  return true;
}

FlacStatus FlacDecoder::DecodeFrame() {
  while (inMetadata_) {
    FlacMetadataBlock block;
    if (NextMetadataBlock(block) != FlacStatus::kOk) return FlacStatus::kError;
  }
  if (!samples_ && AllocateBuffers() != kOk) return FlacStatus::kError;

  // A frame header right here is decoded or reported broken; anything else
  // is skipped up to the first valid frame header.
  if (IsFrameSync(data_, pos_)) return DecodeFrameAt(pos_, false);
  for (std::size_t at = pos_; at + 1 < data_.size(); ++at) {
    if (searchExhausted_) return FlacStatus::kError;
    if (!IsFrameSync(data_, at)) continue;
    const std::size_t saved = pos_;
    if (DecodeFrameAt(at, true) == FlacStatus::kOk) return FlacStatus::kOk;
    pos_ = saved;
  }
  pos_ = data_.size();
  return FlacStatus::kEnd;
}

FlacStatus FlacDecoder::DecodeFrameAt(std::size_t start, bool searching) {
  const std::span<const std::uint8_t> rest = data_.subspan(start);
  FlacFrameHeader h;
  const std::size_t headerSize =
      ParseFlacFrameHeader(rest, hasStreamInfo_ ? streamInfo_.bitsPerSample : 0, h, verifyChecksums_);
  if (headerSize == 0) return FlacStatus::kError;
  // A candidate of the search is decoded only while the allowance has room
  // for all its samples, and charged with them when it is refused.
  const std::uint64_t cost = std::uint64_t{h.blockSize} * h.channels;
  if (searching) {
    const std::uint64_t allowance = kFlacSearchBaseSamples + kFlacSearchSamplesPerByte * data_.size();
    if (cost > allowance - searchRefused_) {
      searchExhausted_ = true;
      return FlacStatus::kError;
    }
  }
  if (!EnsureCapacity(h.blockSize)) return FlacStatus::kError;
  samplesDecoded_ += cost;
  std::size_t frameBytes = 0;
  const FlacStatus status = DecodeFrameBody(rest, headerSize, h, frameBytes);
  if (status != FlacStatus::kOk) {
    if (searching) searchRefused_ += cost;
    return status;
  }
  frame_ = h;
  pos_ = start + frameBytes;
  return FlacStatus::kOk;
}

FlacStatus FlacDecoder::DecodeFrameBody(std::span<const std::uint8_t> rest, std::size_t headerSize,
                                        const FlacFrameHeader& h, std::size_t& frameBytes) {
  BitReader br(rest.data(), rest.size(), headerSize);
  const std::uint32_t n = h.blockSize;
  const bool wide = h.bitsPerSample == 32 && h.assignment != FlacChannelAssignment::kIndependent;
  for (std::uint32_t ch = 0; ch < h.channels; ++ch) {
    bool side = false;
    if (h.assignment == FlacChannelAssignment::kLeftSide || h.assignment == FlacChannelAssignment::kMidSide)
      side = ch == 1;
    else if (h.assignment == FlacChannelAssignment::kSideRight)
      side = ch == 0;
    const unsigned bps = h.bitsPerSample + (side ? 1 : 0);
    bool ok;
    if (side && wide)
      ok = DecodeSubframe(br, wide_.get(), n, bps);
    else
      ok = DecodeSubframe(br, samples_.get() + static_cast<std::size_t>(ch) * capacity_, n, bps);
    if (!ok) return FlacStatus::kError;
  }
  br.AlignToByte();
  const std::size_t crcAt = br.BytePosition();
  if (crcAt + 2 > rest.size()) return FlacStatus::kError;
  const std::uint16_t stored = static_cast<std::uint16_t>((rest[crcAt] << 8) | rest[crcAt + 1]);
  if (verifyChecksums_ && FlacCrc16(rest.subspan(0, crcAt)) != stored) return FlacStatus::kError;

  std::int32_t* a = samples_.get();
  std::int32_t* b = samples_.get() + capacity_;
  const std::int64_t* w = wide_.get();
  switch (h.assignment) {
    case FlacChannelAssignment::kIndependent:
      break;
    case FlacChannelAssignment::kLeftSide:  // right = left - side
      if (wide)
        for (std::uint32_t i = 0; i < n; ++i)
          b[i] = static_cast<std::int32_t>(static_cast<std::uint64_t>(a[i]) - static_cast<std::uint64_t>(w[i]));
      else
        for (std::uint32_t i = 0; i < n; ++i)
          b[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(a[i]) - static_cast<std::uint32_t>(b[i]));
      break;
    case FlacChannelAssignment::kSideRight:  // left = side + right
      if (wide)
        for (std::uint32_t i = 0; i < n; ++i)
          a[i] = static_cast<std::int32_t>(static_cast<std::uint64_t>(w[i]) + static_cast<std::uint64_t>(b[i]));
      else
        for (std::uint32_t i = 0; i < n; ++i)
          a[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(a[i]) + static_cast<std::uint32_t>(b[i]));
      break;
    case FlacChannelAssignment::kMidSide:
      for (std::uint32_t i = 0; i < n; ++i) {
        const std::int64_t side = wide ? w[i] : b[i];
        const std::uint64_t mid = (static_cast<std::uint64_t>(static_cast<std::int64_t>(a[i])) << 1) |
                                  (static_cast<std::uint64_t>(side) & 1u);
        a[i] = static_cast<std::int32_t>(static_cast<std::int64_t>(mid + static_cast<std::uint64_t>(side)) >> 1);
        b[i] = static_cast<std::int32_t>(static_cast<std::int64_t>(mid - static_cast<std::uint64_t>(side)) >> 1);
      }
      break;
  }
  frameBytes = crcAt + 2;
  return FlacStatus::kOk;
}

}  // namespace tavrin
