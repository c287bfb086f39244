#include "core/unicode.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "core/ascii.h"
#include "core/utf.h"

namespace glintmark::unicode {
namespace {

struct FoldRange {
  char32_t first, last;
  std::int32_t delta;
};

struct Lengthening {
  char16_t folded;
  char16_t units[3];
};

#include "core/unicode_tables.inc"

// Word characters below 0x80 by table: the walks over keywords and the
// whole-word tests mostly meet ASCII.
constexpr std::array<bool, 128> kAsciiWord = [] {
  std::array<bool, 128> table{};
  for (int c = 0; c < 128; ++c) {
    table[static_cast<std::size_t>(c)] = isAsciiAlnum(c);
  }
  return table;
}();

const Lengthening* findLengthening(char16_t folded) {
  const auto* end = std::end(kLengthenings);
  const auto* at = std::lower_bound(std::begin(kLengthenings), end, folded,
                                    [](const Lengthening& l, char16_t c) { return l.folded < c; });
  return at != end && at->folded == folded ? at : nullptr;
}

// Where every lengthening lies (checked by the generator): below U+2000, and
// the Latin and Armenian ligatures.
constexpr char16_t kLengtheningsBelow = 0x2000;
constexpr char16_t kLigaturesFirst = 0xFB00, kLigaturesLast = 0xFB17;

// The same table as bits for the units below U+2000: lengthens() is asked
// of every non-ASCII unit of a page.
constexpr auto kLengthensBits = [] {
  std::array<std::uint32_t, kLengtheningsBelow / 32> bits{};
  for (const Lengthening& l : kLengthenings) {
    if (l.folded < kLengtheningsBelow) bits[l.folded / 32] |= std::uint32_t{1} << (l.folded % 32);
  }
  return bits;
}();

char32_t decodeAt(std::u16string_view text, std::size_t& i) {
  const char32_t c = text[i];
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
      text[i + 1] <= 0xDFFF) {
    return 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
  }
  return c;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// windows-1252's 0x80-0x9F; the five bytes it leaves undefined stand for the
// control characters of the same number, as browsers decode them.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The length of the well-formed UTF-8 sequence at bytes[i], or 0.
std::size_t sequenceLength(std::string_view bytes, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char lead = b(i);
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > bytes.size() || b(i + 1) < low || b(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

bool isWordChar(char32_t c) {
  if (c < 0x80) return kAsciiWord[c];
  if (c == 0x200C || c == 0x200D) return true;
  const auto* end = std::end(kWordRanges);
  const auto* at = std::upper_bound(std::begin(kWordRanges), end, c,
                                    [](char32_t value, const std::uint32_t (&range)[2]) {
                                      return value < range[0];
                                    });
  return at != std::begin(kWordRanges) && c <= (at - 1)[0][1];
}

bool isWordJoiner(char32_t c) { return c == U'\'' || c == 0x2019 || c == 0x05F3 || c == 0x05F4; }

bool standsAlone(char32_t c) {
  return (c >= 0x1100 && c <= 0x11FF) ||    // Hangul Jamo
         (c >= 0x2E80 && c <= 0x2FDF) ||    // CJK and Kangxi radicals
         (c >= 0x3005 && c <= 0x3007) ||    // iteration mark, closing mark, ideographic zero
         (c >= 0x3021 && c <= 0x3029) ||    // Hangzhou numerals
         (c >= 0x3041 && c <= 0x30FF) ||    // Hiragana, Katakana
         (c >= 0x3131 && c <= 0x318E) ||    // Hangul compatibility Jamo
         (c >= 0x31F0 && c <= 0x31FF) ||    // Katakana phonetic extensions
         (c >= 0x3400 && c <= 0x4DBF) ||    // CJK extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||    // CJK unified ideographs
         (c >= 0xA960 && c <= 0xA97F) ||    // Hangul Jamo extended A
         (c >= 0xAC00 && c <= 0xD7FF) ||    // Hangul syllables, Jamo extended B
         (c >= 0xF900 && c <= 0xFAFF) ||    // CJK compatibility ideographs
         (c >= 0xFF66 && c <= 0xFFDC) ||    // halfwidth Katakana and Hangul
         (c >= 0x1B000 && c <= 0x1B16F) ||  // Kana supplement and extended
         (c >= 0x20000 && c <= 0x3FFFF);    // CJK extensions B and later
}

char32_t foldSimple(char32_t c) {
  if (c < 0x10000) return foldUnit(static_cast<char16_t>(c));
  const auto* end = std::end(kAstralFolds);
  const auto* at = std::upper_bound(std::begin(kAstralFolds), end, c,
                                    [](char32_t value, const FoldRange& r) { return value < r.first; });
  if (at == std::begin(kAstralFolds) || c > (at - 1)->last) return c;
  return static_cast<char32_t>(static_cast<std::int64_t>(c) + (at - 1)->delta);
}

char16_t foldUnit(char16_t c) {
  return static_cast<char16_t>(c + kFoldDelta[kFoldBlock[c / 128]][c % 128]);
}

bool lengthens(char16_t folded) {
  if (folded < kLengtheningsBelow) return (kLengthensBits[folded / 32] >> (folded % 32)) & 1;
  return folded >= kLigaturesFirst && folded <= kLigaturesLast && findLengthening(folded);
}

std::u16string_view lengthening(char16_t folded) {
  if (!lengthens(folded)) return {};
  const Lengthening* l = findLengthening(folded);
  return std::u16string_view(l->units, l->units[2] ? 3 : 2);
}

void appendFolded(std::u16string& out, std::u16string_view text) {
  out.reserve(out.size() + text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = decodeAt(text, i);
    if (c >= 0x10000) {
      const char32_t folded = foldSimple(c) - 0x10000;
      out += static_cast<char16_t>(0xD800 + (folded >> 10));
      out += static_cast<char16_t>(0xDC00 + (folded & 0x3FF));
      continue;
    }
    const char16_t folded = foldUnit(static_cast<char16_t>(c));
    if (lengthens(folded)) {
      out += lengthening(folded);
    } else {
      out += folded;
    }
  }
}

std::string foldUtf8(std::string_view utf8) {
  std::u16string folded;
  appendFolded(folded, toUtf16(utf8));
  return toUtf8(folded);
}

std::string decodeFormValue(std::string_view text) {
  // The bytes, and which of them came from escapes.
  std::string bytes;
  std::vector<bool> escaped;
  bytes.reserve(text.size());
  escaped.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      bytes += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      escaped.push_back(true);
      i += 2;
    } else {
      bytes += c == '+' ? ' ' : c;
      escaped.push_back(false);
    }
  }
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    if (const std::size_t length = sequenceLength(bytes, i)) {
      out.append(bytes, i, length);
      i += length;
      continue;
    }
    const auto byte = static_cast<unsigned char>(bytes[i]);
    std::u16string unit(1, byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : char16_t{byte});
    if (!escaped[i]) unit[0] = 0xFFFD;  // a raw byte that is not UTF-8: not from an address
    appendUtf8(out, unit);
    ++i;
  }
  return out;
}

void ExpandedFold::build(std::u16string_view folded) {
  clear();
  m_text.reserve(folded.size() + folded.size() / 8);
  for (std::size_t i = 0; i < folded.size(); ++i) {
    if (!lengthens(folded[i])) {
      m_text += folded[i];
      continue;
    }
    const std::u16string_view units = lengthening(folded[i]);
    m_stretches.push_back({m_text.size(), i, units.size()});
    m_text += units;
  }
}

void ExpandedFold::clear() {
  m_text.clear();
  m_stretches.clear();
}

std::size_t ExpandedFold::toFull(std::size_t position) const {
  // The last stretch before the position.
  const auto at = std::lower_bound(m_stretches.begin(), m_stretches.end(), position,
                                   [](const Stretch& s, std::size_t p) { return s.folded < p; });
  if (at == m_stretches.begin()) return position;
  const Stretch& s = *(at - 1);
  return s.full + s.units + (position - s.folded - 1);
}

std::size_t ExpandedFold::fromFull(std::size_t position) const {
  // The last stretch starting at or before the position.
  const auto at = std::upper_bound(m_stretches.begin(), m_stretches.end(), position,
                                   [](std::size_t p, const Stretch& s) { return p < s.full; });
  if (at == m_stretches.begin()) return position;
  const Stretch& s = *(at - 1);
  if (position == s.full) return s.folded;
  if (position < s.full + s.units) return npos;
  return s.folded + 1 + (position - s.full - s.units);
}

}  // namespace glintmark::unicode
