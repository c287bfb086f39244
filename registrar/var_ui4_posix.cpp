// VarUI4FromStr's rules, reimplemented: parse the text into digits, a power of
// ten and sign flags the way the Automation number parser does with its
// standard flags (everything allowed, the whole text used), then turn that
// into an unsigned 32-bit number.
#include <cstdint>
#include <limits>
#include <vector>

#include "core/ascii.h"
#include "registrar/var_ui4.h"

namespace glintmark {
namespace {

// The number characters of the U.S. English locale.
constexpr char16_t negativeSign = u'-';
constexpr char16_t positiveSign = u'+';
constexpr char16_t decimalPoint = u'.';
constexpr char16_t thousandsSeparator = u',';
constexpr char16_t currencySymbol = u'$';

// Room for digits, as the Automation parser has; further digits only scale.
constexpr std::size_t maxDigits = 1024;

bool isWhite(char16_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

struct ParsedNumber {
  std::vector<std::uint8_t> digits;  // most significant first
  long long power10 = 0;             // value = digits * 10^power10
  int baseShift = 0;                 // 4 for hexadecimal, 3 for octal
  bool negative = false;
};

// The signs and symbols read before the digits; each may stand there once,
// and the trailing ones depend on them.
struct Leading {
  bool plus = false;
  bool minus = false;
  bool currency = false;
  bool parens = false;
};

// The exponent: whether an "e" was read, whether its digits are still
// expected, and its sign.
struct Exponent {
  bool seen = false;
  bool open = false;
  bool negative = false;
};

class Parser {
 public:
  explicit Parser(std::u16string_view text) : m_text(text.substr(0, text.find(u'\0'))) {}

  HResult parse(ParsedNumber* number) {
    m_number = number;
    GLINTMARK_RETURN_IF_FAILED(leadingSymbols());
    if (!m_decimal && !m_leading.currency && peek() == u'&') {
      const char16_t kind = peek(1);
      if (kind == u'H' || kind == u'h') m_number->baseShift = 4;
      if (kind == u'O' || kind == u'o') m_number->baseShift = 3;
      if (m_number->baseShift != 0) m_position += 2;
    }
    skipLeadingZeros();
    GLINTMARK_RETURN_IF_FAILED(body());
    if (m_number->digits.empty() && m_leadingZero) m_number->digits.push_back(0);
    if (m_exponent.open) return hr::typeMismatch;  // "1e" or "1e-"
    if (m_number->baseShift == 0) {
      while (m_number->digits.size() > 1 && m_number->digits.back() == 0) {
        m_number->digits.pop_back();
        ++m_number->power10;
      }
    } else {
      m_number->power10 = 0;
    }
    trailingSymbols();
    if (m_leading.parens && !m_number->negative) return hr::typeMismatch;
    if (m_position != m_text.size() || m_number->digits.empty()) return hr::typeMismatch;
    return hr::ok;
  }

 private:
  char16_t peek(std::size_t ahead = 0) const {
    return m_position + ahead < m_text.size() ? m_text[m_position + ahead] : u'\0';
  }
  bool hexOrOctal() const { return m_number->baseShift != 0; }

  HResult leadingSymbols() {
    while (true) {
      const char16_t c = peek();
      if (c == decimalPoint) {
        m_decimal = true;
        ++m_position;
        skipZerosAfterPoint();
        return hr::ok;
      }
      if (c != u'\0' && isWhite(c)) {
        while (peek() != u'\0' && isWhite(peek())) ++m_position;
      } else if (c == thousandsSeparator) {
        return hr::typeMismatch;  // not before the first digit
      } else if (c == positiveSign && !m_leading.plus) {
        m_leading.plus = true;
        ++m_position;
      } else if (c == negativeSign && !m_leading.minus) {
        m_leading.minus = true;
        m_number->negative = true;
        ++m_position;
      } else if (c == currencySymbol && !m_leading.currency) {
        m_leading.currency = true;
        ++m_position;
      } else if (c == u'(' && !m_leading.parens) {
        m_leading.parens = true;
        ++m_position;
      } else {
        return hr::ok;
      }
    }
  }

  // Zeros right after the decimal point, before any digit, only scale.
  void skipZerosAfterPoint() {
    if (!m_number->digits.empty()) return;
    while (peek() == u'0') {
      m_leadingZero = true;
      ++m_position;
      --m_number->power10;
    }
  }

  void skipLeadingZeros() {
    while (peek() == u'0') {
      m_leadingZero = true;
      ++m_position;
    }
  }

  void addDigit(std::uint8_t digit) {
    if (m_number->digits.size() >= maxDigits && !hexOrOctal()) {
      // Beyond the digit room a digit only moves the decimal point.
      m_number->power10 += m_decimal ? 0 : 1;
      return;
    }
    if (m_decimal) --m_number->power10;
    m_number->digits.push_back(digit);
  }

  // The exponent's digits scale the number; huge exponents saturate.
  void exponentDigits() {
    long long exponent = 0;
    while (isAsciiDigit(peek())) {
      if (exponent < 1000000) exponent = exponent * 10 + (peek() - u'0');
      ++m_position;
    }
    m_number->power10 += m_exponent.negative ? -exponent : exponent;
    m_exponent.open = false;
  }

  HResult body() {
    while (m_position < m_text.size()) {
      const char16_t c = peek();
      if (isAsciiDigit(c)) {
        if (m_exponent.open) {
          exponentDigits();
          continue;
        }
        if (m_number->baseShift == 3 && (c == u'8' || c == u'9')) return hr::ok;
        if (hexOrOctal() && m_number->digits.size() >= maxDigits) return hr::overflow;
        addDigit(static_cast<std::uint8_t>(c - u'0'));
      } else if (c == thousandsSeparator && !hexOrOctal()) {
        // accepted anywhere after the first digit, and ignored
      } else if (c == decimalPoint && !hexOrOctal() && !m_decimal && !m_exponent.seen) {
        m_decimal = true;
        if (m_number->digits.empty()) {
          ++m_position;
          skipZerosAfterPoint();
          continue;
        }
      } else if (m_number->baseShift == 4 && hexDigitValue(c) >= 0) {
        if (m_number->digits.size() >= maxDigits) return hr::overflow;
        m_number->digits.push_back(static_cast<std::uint8_t>(hexDigitValue(c)));
      } else if ((c == u'e' || c == u'E') && !hexOrOctal() && !m_leading.currency && !m_exponent.seen) {
        m_exponent.seen = true;
        m_exponent.open = true;
      } else if (m_exponent.open && c == positiveSign) {
        // an explicit positive exponent
      } else if (m_exponent.open && c == negativeSign) {
        m_exponent.negative = true;
      } else {
        return hr::ok;
      }
      ++m_position;
    }
    return hr::ok;
  }

  void trailingSymbols() {
    while (true) {
      const char16_t c = peek();
      if (c == thousandsSeparator) {
        if (hexOrOctal()) return;
        ++m_position;
      } else if (c != u'\0' && isWhite(c)) {
        while (peek() != u'\0' && isWhite(peek())) ++m_position;
      } else if (c == positiveSign && !m_leading.plus) {
        ++m_position;
      } else if (c == negativeSign && !m_leading.minus) {
        m_number->negative = true;
        ++m_position;
      } else if (c == u')' && m_leading.parens) {
        m_number->negative = true;
        ++m_position;
      } else if (c == currencySymbol && !hexOrOctal()) {
        ++m_position;
      } else {
        return;
      }
    }
  }

  std::u16string_view m_text;
  std::size_t m_position = 0;
  ParsedNumber* m_number = nullptr;
  bool m_decimal = false;      // a decimal point was read
  bool m_leadingZero = false;  // a zero was skipped before the first digit
  Leading m_leading;
  Exponent m_exponent;
};

HResult toUnsigned32(const ParsedNumber& number, std::uint32_t* out) {
  constexpr std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
  std::uint64_t value = 0;
  if (number.baseShift != 0) {
    // Hexadecimal and octal carry no sign.
    for (std::uint8_t digit : number.digits) {
      value = (value << number.baseShift) + digit;
      if (value > limit) return hr::overflow;
    }
    *out = static_cast<std::uint32_t>(value);
    return hr::ok;
  }
  if (number.digits.size() == 1 && number.digits[0] == 0) {
    *out = 0;  // zero at any scale, with any sign
    return hr::ok;
  }
  const auto count = static_cast<long long>(number.digits.size());
  const long long whole = count + number.power10;  // digits before the point
  if (whole > 20) return hr::overflow;
  for (long long i = 0; i < whole; ++i) {
    value = value * 10 + (i < count ? number.digits[static_cast<std::size_t>(i)] : 0);
    if (value > limit) return hr::overflow;
  }
  // Round half to even on the first dropped digit (the rest only break ties).
  if (whole >= 0 && whole < count) {
    const std::uint8_t first = number.digits[static_cast<std::size_t>(whole)];
    bool more = false;
    for (long long i = whole + 1; i < count; ++i) more = more || number.digits[static_cast<std::size_t>(i)] != 0;
    if (first > 5 || (first == 5 && (more || (value & 1) != 0))) ++value;
    if (value > limit) return hr::overflow;
  }
  if (number.negative && value != 0) return hr::overflow;
  *out = static_cast<std::uint32_t>(value);
  return hr::ok;
}

}  // namespace

HResult varUI4FromStr(std::u16string_view text, std::uint32_t* out) {
  ParsedNumber number;
  GLINTMARK_RETURN_IF_FAILED(Parser(text).parse(&number));
  return toUnsigned32(number, out);
}

}  // namespace glintmark
