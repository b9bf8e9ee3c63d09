#include "base/text.h"

#include <cstring>

namespace tavrin {
namespace {

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the UTF-8 sequence introduced by lead byte b, or 0 when b cannot lead.
std::size_t SequenceLength(unsigned char b) {
  if (b < 0x80) return 1;
  if (b < 0xC0) return 0;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  if (b < 0xF8) return 4;
  return 0;
}

std::size_t EncodeUtf8(std::uint32_t cp, char out[4]) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

std::uint32_t Fold(std::uint32_t cp) {
  if (cp >= 0x41 && cp <= 0x5A) return cp + 32;
  if (cp == 0xB5) return cp + 775;
  if (cp >= 0xC0 && cp <= 0xD6) return cp + 32;
  if (cp >= 0xD8 && cp <= 0xDE) return cp + 32;
  return cp;
}

}  // namespace

std::size_t CutUtf8(Utf8View text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t n = limit;
  while (n > 0 && IsContinuation(static_cast<unsigned char>(text[n]))) --n;
  return n;
}

void AppendUtf8Raw(char* buf, std::size_t cap, std::size_t& len, Utf8View src) {
  if (len >= cap) return;
  const std::size_t n = CutUtf8(src, cap - len);
  if (n > 0) std::memcpy(buf + len, src.data(), n);
  len += n;
}

void AppendUtf16Raw(char16_t* buf, std::size_t cap, std::size_t& len, Utf16View src) {
  if (len >= cap) return;
  std::size_t n = src.size();
  const std::size_t room = cap - len;
  if (n > room) {
    n = room;
    if (n > 0 && IsHighSurrogate(src[n - 1])) --n;
  }
  for (std::size_t i = 0; i < n; ++i) buf[len + i] = src[i];
  len += n;
}

void AppendUnit16Raw(char16_t* buf, std::size_t cap, std::size_t& len, char16_t unit) {
  if (len < cap) buf[len++] = unit;
}

void ConvertUtf16ToUtf8Raw(char* buf, std::size_t cap, std::size_t& len, Utf16View src) {
  std::size_t i = 0;
  while (i < src.size() && len < cap) {
    const char16_t u = src[i];
    std::uint32_t cp = u;
    if (IsHighSurrogate(u)) {
      if (i + 1 >= src.size()) break;  // high surrogate at the very end: skipped
      cp = 0x10000 + ((static_cast<std::uint32_t>(u) - 0xD800) << 10) +
           ((static_cast<std::uint32_t>(src[i + 1]) - 0xDC00) & 0x3FF);
      i += 2;
    } else if (IsLowSurrogate(u)) {
      ++i;  // lone low surrogate: skipped
      continue;
    } else {
      ++i;
    }
    char seq[4];
    const std::size_t n = EncodeUtf8(cp, seq);
    if (n <= cap - len) {
      std::memcpy(buf + len, seq, n);
      len += n;
    }
  }
}

void ConvertUtf8ToUtf16Raw(char16_t* buf, std::size_t cap, std::size_t& len, Utf8View src) {
  std::size_t i = 0;
  while (i < src.size() && len < cap) {
    const unsigned char lead = static_cast<unsigned char>(src[i]);
    const std::size_t n = SequenceLength(lead);
    if (n == 0 || i + n > src.size()) {
      ++i;  // stray continuation, invalid lead, or truncated sequence: skip one byte
      continue;
    }
    std::uint32_t cp;
    if (n == 1) {
      cp = lead;
    } else {
      cp = lead & (0x7Fu >> n);
      for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(src[i + k]) & 0x3Fu);
    }
    i += n;
    if (cp > 0x10FFFF) continue;
    if (cp >= 0x10000) {
      if (cap - len < 2) continue;
      cp -= 0x10000;
      buf[len++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      buf[len++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      buf[len++] = static_cast<char16_t>(cp);
    }
  }
}

void AppendDecimal16Raw(char16_t* buf, std::size_t cap, std::size_t& len, std::uint32_t value, bool negative) {
  char16_t digits[11];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (negative) AppendUnit16Raw(buf, cap, len, u'-');
  while (n > 0) AppendUnit16Raw(buf, cap, len, digits[--n]);
}

void AppendDecimal8Raw(char* buf, std::size_t cap, std::size_t& len, std::uint32_t value) {
  char digits[10];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  const std::size_t room = cap > len ? cap - len : 0;
  std::size_t take = n < room ? n : room;  // the least significant digits that fit
  while (take > 0) buf[len++] = digits[--take];
}

bool Utf8LengthOfUtf16(Utf16View text, std::size_t& length) {
  length = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (IsHighSurrogate(u)) {
      if (i + 1 >= text.size() || !IsLowSurrogate(text[i + 1])) return false;
      length += 4;
      ++i;
    } else if (IsLowSurrogate(u)) {
      return false;
    } else {
      length += u < 0x80 ? 1 : (u < 0x800 ? 2 : 3);
    }
  }
  return true;
}

bool Utf16LengthOfUtf8(Utf8View text, std::size_t& length) {
  length = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const std::size_t n = SequenceLength(lead);
    if (n == 0 || i + n > text.size()) return false;
    std::uint32_t cp = n == 1 ? lead : (lead & (0x7Fu >> n));
    for (std::size_t k = 1; k < n; ++k) {
      const unsigned char c = static_cast<unsigned char>(text[i + k]);
      if (!IsContinuation(c)) return false;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    if (cp > 0x10FFFF) return false;
    length += cp >= 0x10000 ? 2 : 1;
    i += n;
  }
  return true;
}

bool EqualUtf16(Utf16View a, Utf16View b) { return a == b; }

bool EqualUtf8NoCase(Utf8View a, Utf8View b) {
  if (a.size() != b.size()) return false;
  std::size_t i = 0;
  while (i < a.size()) {
    const unsigned char la = static_cast<unsigned char>(a[i]);
    const unsigned char lb = static_cast<unsigned char>(b[i]);
    const std::size_t na = SequenceLength(la);
    const std::size_t nb = SequenceLength(lb);
    if (na == 0 || nb == 0 || na != nb || i + na > a.size()) return false;
    std::uint32_t ca = na == 1 ? la : (la & (0x7Fu >> na));
    std::uint32_t cb = nb == 1 ? lb : (lb & (0x7Fu >> nb));
    for (std::size_t k = 1; k < na; ++k) {
      ca = (ca << 6) | (static_cast<unsigned char>(a[i + k]) & 0x3Fu);
      cb = (cb << 6) | (static_cast<unsigned char>(b[i + k]) & 0x3Fu);
    }
    if (Fold(ca) != Fold(cb)) return false;
    i += na;
  }
  return true;
}

bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '\\';
#else
  return c == '\\' || c == '/';
#endif
}

Utf8View FileNameOfPath(Utf8View path) {
  std::size_t i = path.size();
  while (i > 0 && !IsPathSeparator(path[i - 1])) --i;
  return path.substr(i);
}

Utf8View StemOfFileName(Utf8View name) {
  if (name.size() < 2) return name;
  // A dot at the very start or the very end does not separate an extension.
  for (std::size_t i = name.size() - 1; i-- > 1;) {
    if (name[i] == '.') return name.substr(0, i);
  }
  return name;
}

}  // namespace tavrin
