// Bounded text: fixed-capacity UTF-8 and UTF-16 buffers. Text never grows on
// the heap; whatever does not fit is cut at a character boundary, never inside
// a multi-byte sequence or a surrogate pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tavrin {

using Utf8View = std::string_view;
using Utf16View = std::u16string_view;

// Longest prefix of at most `limit` bytes that ends on a character boundary.
std::size_t CutUtf8(Utf8View text, std::size_t limit);

// Low-level operations on (buffer, capacity, length). The templates below wrap them.
void AppendUtf8Raw(char* buf, std::size_t cap, std::size_t& len, Utf8View src);
void AppendUtf16Raw(char16_t* buf, std::size_t cap, std::size_t& len, Utf16View src);
void AppendUnit16Raw(char16_t* buf, std::size_t cap, std::size_t& len, char16_t unit);
void ConvertUtf16ToUtf8Raw(char* buf, std::size_t cap, std::size_t& len, Utf16View src);
void ConvertUtf8ToUtf16Raw(char16_t* buf, std::size_t cap, std::size_t& len, Utf8View src);
void AppendDecimal16Raw(char16_t* buf, std::size_t cap, std::size_t& len, std::uint32_t value, bool negative);
void AppendDecimal8Raw(char* buf, std::size_t cap, std::size_t& len, std::uint32_t value);

template <std::size_t N>
struct Utf8Text {
  static constexpr std::size_t kCapacity = N;
  char bytes[N] = {};
  std::size_t length = 0;

  Utf8View view() const { return Utf8View(bytes, length); }
  bool empty() const { return length == 0; }
  void clear() { length = 0; }
  void assign(Utf8View v) { length = 0; AppendUtf8Raw(bytes, N, length, v); }
  void append(Utf8View v) { AppendUtf8Raw(bytes, N, length, v); }
  void assignUtf16(Utf16View v) { length = 0; ConvertUtf16ToUtf8Raw(bytes, N, length, v); }
  void appendUtf16(Utf16View v) { ConvertUtf16ToUtf8Raw(bytes, N, length, v); }
  void appendDecimal(std::uint32_t v) { AppendDecimal8Raw(bytes, N, length, v); }
};

template <std::size_t N>
struct Utf16Text {
  static constexpr std::size_t kCapacity = N;
  char16_t units[N] = {};
  std::size_t length = 0;

  Utf16View view() const { return Utf16View(units, length); }
  bool empty() const { return length == 0; }
  void clear() { length = 0; }
  void assign(Utf16View v) { length = 0; AppendUtf16Raw(units, N, length, v); }
  void append(Utf16View v) { AppendUtf16Raw(units, N, length, v); }
  void append(char16_t unit) { AppendUnit16Raw(units, N, length, unit); }
  void assignUtf8(Utf8View v) { length = 0; ConvertUtf8ToUtf16Raw(units, N, length, v); }
  void appendUtf8(Utf8View v) { ConvertUtf8ToUtf16Raw(units, N, length, v); }
  void appendDecimal(std::uint32_t v) { AppendDecimal16Raw(units, N, length, v, false); }
  void appendDecimal(std::int32_t v) {
    const bool neg = v < 0;
    const std::uint32_t mag = neg ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
    AppendDecimal16Raw(units, N, length, mag, neg);
  }
  // Writes the terminating zero after the text when there is room and returns
  // the buffer, ready for a platform call.
  const char16_t* terminated() {
    if (length < N) units[length] = 0;
    return units;
  }
};

// The UTF-8 length of a UTF-16 text; false when it holds an unpaired
// surrogate (which the conversion would drop).
bool Utf8LengthOfUtf16(Utf16View text, std::size_t& length);

// Converts a path to UTF-8 only when every character fits: a path that would
// be cut, or lose a character, names another file and is refused (false,
// `out` left empty).
template <std::size_t N>
bool AssignPathFromUtf16(Utf8Text<N>& out, Utf16View path) {
  out.clear();
  std::size_t length = 0;
  if (!Utf8LengthOfUtf16(path, length) || length > N) return false;
  out.assignUtf16(path);
  return true;
}

// The UTF-16 length of a UTF-8 text; false when it holds a byte sequence the
// conversion would skip.
bool Utf16LengthOfUtf8(Utf8View text, std::size_t& length);

// Converts a path to UTF-16 only when every character fits with room left
// for the terminating zero; otherwise false and `out` empty.
template <std::size_t N>
bool AssignPathFromUtf8(Utf16Text<N>& out, Utf8View path) {
  out.clear();
  std::size_t length = 0;
  if (!Utf16LengthOfUtf8(path, length) || length >= N) return false;
  out.assignUtf8(path);
  return true;
}

bool EqualUtf16(Utf16View a, Utf16View b);

// Case-insensitive comparison: equal byte lengths, and code point by code
// point the same encoded length and equal after the small folding table.
bool EqualUtf8NoCase(Utf8View a, Utf8View b);

// True for a folder separator: '\' always, and '/' off Windows.
bool IsPathSeparator(char c);

// The text after the last separator of a path.
Utf8View FileNameOfPath(Utf8View path);

// A file name up to its last "."; a leading or trailing "." does not count.
Utf8View StemOfFileName(Utf8View name);

}  // namespace tavrin
