#include "core/code_page_utf8.h"

#include "core/ascii.h"
#include "core/utf.h"

namespace glintmark {

namespace {

// The lowercase of a capital letter whose lowercase takes as many UTF-8 bytes
// (Latin-1, Latin Extended-A, Greek, Cyrillic), or c itself.
char32_t lowerSameLength(char32_t c) {
  if (c < 0x80) return lowerAscii(c);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x178) {
    const bool evenUpper = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenUpper && c % 2 == 0) || (oddUpper && c % 2 == 1)) return c + 1;
    return c;
  }
  if (c == 0x178) return 0xFF;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 63;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  return c;
}

class Utf8CodePage final : public CodePage {
 public:
  std::string toNarrow(std::u16string_view wide) const override {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
      const char16_t c = wide[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
          wide[i + 1] <= 0xDFFF) {
        appendUtf8(out, wide.substr(i, 2));
        ++i;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        out += '?';
      } else {
        appendUtf8(out, wide.substr(i, 1));
      }
    }
    return out;
  }

  std::u16string toWide(std::string_view narrow) const override { return toUtf16(narrow); }

  void lowerInPlace(char* text, std::size_t length) const override {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < length;) {
      const unsigned char b = byte(i);
      if (b < 0x80) {
        text[i] = lowerAscii(text[i]);
        ++i;
      } else if ((b & 0xE0) == 0xC0 && i + 1 < length && (byte(i + 1) & 0xC0) == 0x80) {
        // Every letter with a same-length lowercase lies in the two-byte range.
        const char32_t c = (char32_t(b & 0x1F) << 6) | (byte(i + 1) & 0x3F);
        const char32_t lower = lowerSameLength(c);
        if (lower != c && lower >= 0x80 && lower < 0x800) {
          text[i] = static_cast<char>(0xC0 | (lower >> 6));
          text[i + 1] = static_cast<char>(0x80 | (lower & 0x3F));
        }
        i += 2;
      } else {
        ++i;  // the rest of a longer sequence, or a stray byte, stays as it is
      }
    }
  }

  bool isLeadByte(unsigned char) const override { return false; }
  bool isDoubleByte() const override { return false; }
  std::string name() const override { return "65001"; }
  bool isUtf8() const override { return true; }
};

}  // namespace

std::unique_ptr<CodePage> makeUtf8CodePage() { return std::make_unique<Utf8CodePage>(); }

}  // namespace glintmark
