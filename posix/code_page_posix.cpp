// The ANSI code page on Linux, over iconv.
//
// Conversions go character by character through iconv, with the substitutions
// that Windows' converters make by default ('?' for an unmappable character).
// Case mapping and the lead-byte table are built once per code page from
// iconv and the C.UTF-8 locale's Unicode case mapping, so that "lowercase in
// the code page" means: lowercase the character, and keep the result only if
// the code page can hold it in the same number of bytes.
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <array>
#include <cerrno>
#include <mutex>
#include <unordered_map>
#include <stdexcept>
#include <vector>

#include "core/ascii.h"
#include "core/code_page.h"
#include "core/code_page_utf8.h"

namespace glintmark {
namespace {

class Iconv {
 public:
  Iconv(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
  ~Iconv() {
    if (valid()) iconv_close(m_handle);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

  // Converts [in, in + inSize) as far as it goes; returns errno (0 when all of
  // it converted) and advances in/inSize, appending output to out.
  int convert(const char*& in, std::size_t& inSize, std::string& out) {
    iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
    while (inSize > 0) {
      char buffer[256];
      char* outPtr = buffer;
      std::size_t outLeft = sizeof buffer;
      const std::size_t rc = iconv(m_handle, const_cast<char**>(&in), &inSize, &outPtr, &outLeft);
      out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
      if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) return errno;
    }
    return 0;
  }

 private:
  iconv_t m_handle;
};

char16_t lowerUnicode(char16_t c) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (c < 0x80) return lowerAscii(c);
  if (utf8 == nullptr || (c >= 0xD800 && c <= 0xDFFF)) return c;
  const wint_t lowered = towlower_l(static_cast<wint_t>(c), utf8);
  return lowered <= 0xFFFF ? static_cast<char16_t>(lowered) : c;
}

class IconvCodePage final : public CodePage {
 public:
  IconvCodePage(unsigned number, std::string iconvName)
      : m_number(number),
        m_toWide("UTF-16LE", iconvName.c_str()),
        m_toNarrow(iconvName.c_str(), "UTF-16LE") {
    if (!m_toWide.valid() || !m_toNarrow.valid()) throw std::runtime_error("unknown code page");
    buildTables();
  }

  std::string toNarrow(std::u16string_view wide) const override {
    std::lock_guard lock(m_mutex);
    std::string out;
    out.reserve(wide.size());
    std::size_t i = 0;
    while (i < wide.size()) {
      // Pure ASCII runs convert byte for byte in every ANSI code page we serve.
      if (wide[i] < 0x80) {
        out.push_back(static_cast<char>(wide[i++]));
        continue;
      }
      std::size_t units = 1;
      const bool high = wide[i] >= 0xD800 && wide[i] <= 0xDBFF;
      if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) units = 2;
      const std::string bytes = encodeUnits(&wide[i], units);
      out += bytes.empty() ? std::string("?") : bytes;
      i += units;
    }
    return out;
  }

  std::u16string toWide(std::string_view narrow) const override {
    std::lock_guard lock(m_mutex);
    std::u16string out;
    out.reserve(narrow.size());
    std::size_t i = 0;
    while (i < narrow.size()) {
      const auto byte = static_cast<unsigned char>(narrow[i]);
      if (byte < 0x80) {
        out.push_back(byte);
        ++i;
        continue;
      }
      const std::size_t length = (m_leadBytes[byte] && i + 1 < narrow.size()) ? 2 : 1;
      const char16_t decoded = decode(narrow.substr(i, length));
      if (decoded == 0xFFFD && length == 2) {
        // An undefined pair: the lead byte alone is the bad character; the
        // second byte is looked at again on its own.
        out.push_back(0xFFFD);
        ++i;
        continue;
      }
      out.push_back(decoded);
      i += length;
    }
    return out;
  }

  void lowerInPlace(char* text, std::size_t length) const override {
    std::size_t i = 0;
    while (i < length) {
      const auto byte = static_cast<unsigned char>(text[i]);
      if (m_leadBytes[byte] && i + 1 < length) {
        const auto trail = static_cast<unsigned char>(text[i + 1]);
        const auto it = m_lowerPairs.find(static_cast<std::uint16_t>(byte << 8 | trail));
        if (it != m_lowerPairs.end()) {
          text[i] = static_cast<char>(it->second >> 8);
          text[i + 1] = static_cast<char>(it->second & 0xFF);
        }
        i += 2;
        continue;
      }
      text[i] = static_cast<char>(m_lowerSingle[byte]);
      ++i;
    }
  }

  bool isLeadByte(unsigned char byte) const override { return m_leadBytes[byte]; }
  bool isDoubleByte() const override { return m_doubleByte; }
  std::string name() const override { return std::to_string(m_number); }

 private:
  std::string encodeUnits(const char16_t* units, std::size_t count) const {
    const char* in = reinterpret_cast<const char*>(units);
    std::size_t inSize = count * 2;
    std::string out;
    if (m_toNarrow.convert(in, inSize, out) != 0) return {};
    return out;
  }

  char16_t decode(std::string_view bytes) const {
    const char* in = bytes.data();
    std::size_t inSize = bytes.size();
    std::string out;
    if (m_toWide.convert(in, inSize, out) != 0 || out.size() != 2) return 0xFFFD;
    return static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                 static_cast<unsigned char>(out[1]) << 8);
  }

  void buildTables() {
    for (unsigned b = 0; b < 256; ++b) {
      m_lowerSingle[b] = static_cast<unsigned char>(b);
      if (b < 0x80) continue;
      const char byte = static_cast<char>(b);
      const char* in = &byte;
      std::size_t inSize = 1;
      std::string out;
      m_leadBytes[b] = m_toWide.convert(in, inSize, out) == EINVAL;
      m_doubleByte = m_doubleByte || m_leadBytes[b];
    }
    for (unsigned b = 0; b < 256; ++b) {
      if (m_leadBytes[b]) continue;
      const char16_t wide = decode(std::string_view(reinterpret_cast<const char*>(&b), 1));
      if (wide == 0xFFFD) continue;
      const char16_t lowered = lowerUnicode(wide);
      if (lowered == wide) continue;
      const std::string back = encodeUnits(&lowered, 1);
      if (back.size() == 1) m_lowerSingle[b] = static_cast<unsigned char>(back[0]);
    }
    if (!m_doubleByte) return;
    for (unsigned lead = 0x80; lead < 256; ++lead) {
      if (!m_leadBytes[lead]) continue;
      for (unsigned trail = 0x40; trail < 256; ++trail) {
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        const char16_t wide = decode(std::string_view(pair, 2));
        if (wide == 0xFFFD) continue;
        const char16_t lowered = lowerUnicode(wide);
        if (lowered == wide) continue;
        const std::string back = encodeUnits(&lowered, 1);
        if (back.size() == 2 && m_leadBytes[static_cast<unsigned char>(back[0])]) {
          m_lowerPairs[static_cast<std::uint16_t>(lead << 8 | trail)] = static_cast<std::uint16_t>(
              static_cast<unsigned char>(back[0]) << 8 | static_cast<unsigned char>(back[1]));
        }
      }
    }
  }

  unsigned m_number;
  mutable Iconv m_toWide;
  mutable Iconv m_toNarrow;
  mutable std::mutex m_mutex;  // an iconv descriptor keeps state: one conversion at a time
  std::array<bool, 256> m_leadBytes{};
  std::array<unsigned char, 256> m_lowerSingle{};
  std::unordered_map<std::uint16_t, std::uint16_t> m_lowerPairs;
  bool m_doubleByte = false;
};

}  // namespace

std::unique_ptr<CodePage> makeCodePage(unsigned number) {
  if (number == 65001) return makeUtf8CodePage();
  try {
    return std::make_unique<IconvCodePage>(number, "WINDOWS-" + std::to_string(number));
  } catch (const std::runtime_error&) {
    try {
      return std::make_unique<IconvCodePage>(number, "CP" + std::to_string(number));
    } catch (const std::runtime_error&) {
      return nullptr;
    }
  }
}

const CodePage& ansiCodePage() {
  static const std::unique_ptr<CodePage> windows1252 = makeCodePage(1252);
  return *windows1252;
}

}  // namespace glintmark
