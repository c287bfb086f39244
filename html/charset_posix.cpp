// Conversion of a page's bytes to UTF-8 with iconv.
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <string_view>

#include "html/charset.h"

namespace glintmark::html {

namespace {

// The converter's name for an encoding where it differs, chosen to decode as
// browsers do: their Shift_JIS is Microsoft's code page 932, their EUC-KR is
// code page 949, their GBK is read by the GB18030 decoder and their Big5
// includes HKSCS.
const char* iconvName(const std::string& charset) {
  static constexpr struct {
    std::string_view encoding;
    const char* iconv;
  } names[] = {{"SHIFT_JIS", "CP932"},       {"EUC-KR", "CP949"},
               {"GBK", "GB18030"},            {"BIG5", "BIG5-HKSCS"},
               {"WINDOWS-874", "CP874"},      {"ISO-8859-8-I", "ISO-8859-8"},
               {"X-MAC-CYRILLIC", "MAC-CYRILLIC"}};
  for (const auto& row : names) {
    if (row.encoding == charset) return row.iconv;
  }
  return charset.c_str();
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// windows-1252 as browsers read it: every byte is a character, the five that
// Microsoft left undefined are the C1 controls of the same number.
std::string windows1252ToUtf8(std::string_view bytes) {
  static constexpr char16_t high[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char byte : bytes) {
    const auto b = static_cast<unsigned char>(byte);
    appendUtf8(out, b >= 0x80 && b < 0xA0 ? high[b - 0x80] : b);
  }
  return out;
}

}  // namespace

std::optional<std::string> convertToUtf8(std::string_view bytes, const std::string& charset) {
  if (charset == "WINDOWS-1252") return windows1252ToUtf8(bytes);
  if (charset == "REPLACEMENT") return bytes.empty() ? std::string() : std::string("\xEF\xBF\xBD");
  if (charset == "X-USER-DEFINED") {
    std::string out;
    for (const char byte : bytes) {
      const auto b = static_cast<unsigned char>(byte);
      appendUtf8(out, b < 0x80 ? b : 0xF780 + b - 0x80);
    }
    return out;
  }
  iconv_t converter = iconv_open("UTF-8", iconvName(charset));
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2 + 16);
  char buffer[16384];
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* to = buffer;
    std::size_t toLeft = sizeof buffer;
    const std::size_t result = iconv(converter, &in, &inLeft, &to, &toLeft);
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    if (result != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // An invalid sequence (EILSEQ) or one cut off at the end (EINVAL): a
    // replacement character, and on with the next byte.
    out += "\xEF\xBF\xBD";
    if (errno == EINVAL) break;
    const std::size_t skip = std::min<std::size_t>(inLeft, charset.rfind("UTF-16", 0) == 0 ? 2 : 1);
    in += skip;
    inLeft -= skip;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
  }
  // Flush any shift state.
  char* to = buffer;
  std::size_t toLeft = sizeof buffer;
  iconv(converter, nullptr, nullptr, &to, &toLeft);
  out.append(buffer, static_cast<std::size_t>(to - buffer));
  iconv_close(converter);
  return out;
}

}  // namespace glintmark::html
