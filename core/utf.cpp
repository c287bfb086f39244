// UTF-8 ⇄ UTF-16, written once for the command-line tool and the HTML model.
#include "core/utf.h"

#include <algorithm>

namespace glintmark {
namespace {

constexpr char16_t kReplacement = u'\xFFFD';
constexpr std::string_view kEncodedReplacement = "\xEF\xBF\xBD";

void appendCodePoint(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Decodes the sequence that starts with the non-ASCII byte text[i]; returns
// the number of bytes it uses (at least 1) and the code point, or kReplacement.
std::size_t decodeSequence(std::string_view text, std::size_t i, char32_t& c) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  std::size_t length;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, min = 0x80, c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, min = 0x800, c = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, min = 0x10000, c = b0 & 0x07;
  } else {
    c = kReplacement;
    return 1;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= text.size() || (byte(i + k) & 0xC0) != 0x80) {
      c = kReplacement;
      return k;
    }
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
  return length;
}

}  // namespace

void appendUtf16(std::u16string& out, std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    char32_t c;
    i += decodeSequence(utf8, i, c);
    appendCodePoint(out, c);
  }
}

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out;
  appendUtf16(out, utf8);
  return out;
}

std::size_t convertUtf8(std::string_view utf8, char16_t* out) {
  char16_t* const start = out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      *out++ = b;
      ++i;
      continue;
    }
    char32_t c;
    i += decodeSequence(utf8, i, c);
    // Four bytes make at most two units, fewer bytes at most one.
    if (c < 0x10000) {
      *out++ = static_cast<char16_t>(c);
    } else {
      c -= 0x10000;
      *out++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *out++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
  }
  return static_cast<std::size_t>(out - start);
}

void appendUtf8(std::string& out, std::u16string_view text) {
  // Written through a pointer in blocks, each given room for its worst case
  // (three bytes a unit) and cut back to what was written: a push_back per
  // byte was a tenth of a highlighting run. Blocks keep the room asked for
  // beyond the string's reserve small.
  constexpr std::size_t block = 4096;
  for (std::size_t from = 0; from < text.size();) {
    std::size_t to = std::min(text.size(), from + block);
    // A surrogate pair is never cut in two.
    if (to < text.size() && text[to - 1] >= 0xD800 && text[to - 1] <= 0xDBFF) ++to;
    const std::size_t size = out.size();
    out.resize(size + 3 * (to - from) + 1);
    char* const start = out.data() + size;
    char* p = start;
    for (std::size_t i = from; i < to; ++i) {
      if (text[i] < 0x80) {
        *p++ = static_cast<char>(text[i]);
      } else {
        putUtf8(p, text, i);
      }
    }
    out.resize(size + static_cast<std::size_t>(p - start));
    from = to;
  }
}

std::string toUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  appendUtf8(out, text);
  return out;
}

bool isValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t c;
    const std::size_t n = decodeSequence(bytes, i, c);
    if (c == kReplacement && bytes.substr(i, n) != kEncodedReplacement) return false;
    i += n;
  }
  return true;
}

}  // namespace glintmark
