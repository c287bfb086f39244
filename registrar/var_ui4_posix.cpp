// VarUI4FromStr's rules, reimplemented: parse the text into digits, a power of
// ten and sign flags the way the Automation number parser does with its
// standard flags (everything allowed, the whole text used), then turn that
// into an unsigned 32-bit number.
#include <cstdint>
#include <limits>
#include <vector>

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
bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
int hexLetter(char16_t c) {
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
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
  explicit Parser(std::u16string_view text) : text_(text.substr(0, text.find(u'\0'))) {}

  HResult parse(ParsedNumber* number) {
    number_ = number;
    GLINTMARK_RETURN_IF_FAILED(leadingSymbols());
    if (!decimal_ && !leading_.currency && peek() == u'&') {
      const char16_t kind = peek(1);
      if (kind == u'H' || kind == u'h') number_->baseShift = 4;
      if (kind == u'O' || kind == u'o') number_->baseShift = 3;
      if (number_->baseShift != 0) position_ += 2;
    }
    skipLeadingZeros();
    GLINTMARK_RETURN_IF_FAILED(body());
    if (number_->digits.empty() && leadingZero_) number_->digits.push_back(0);
    if (exponent_.open) return hr::typeMismatch;  // "1e" or "1e-"
    if (number_->baseShift == 0) {
      while (number_->digits.size() > 1 && number_->digits.back() == 0) {
        number_->digits.pop_back();
        ++number_->power10;
      }
    } else {
      number_->power10 = 0;
    }
    trailingSymbols();
    if (leading_.parens && !number_->negative) return hr::typeMismatch;
    if (position_ != text_.size() || number_->digits.empty()) return hr::typeMismatch;
    return hr::ok;
  }

 private:
  char16_t peek(std::size_t ahead = 0) const {
    return position_ + ahead < text_.size() ? text_[position_ + ahead] : u'\0';
  }
  bool hexOrOctal() const { return number_->baseShift != 0; }

  HResult leadingSymbols() {
    while (true) {
      const char16_t c = peek();
      if (c == decimalPoint) {
        decimal_ = true;
        ++position_;
        skipZerosAfterPoint();
        return hr::ok;
      }
      if (c != u'\0' && isWhite(c)) {
        while (peek() != u'\0' && isWhite(peek())) ++position_;
      } else if (c == thousandsSeparator) {
        return hr::typeMismatch;  // not before the first digit
      } else if (c == positiveSign && !leading_.plus) {
        leading_.plus = true;
        ++position_;
      } else if (c == negativeSign && !leading_.minus) {
        leading_.minus = true;
        number_->negative = true;
        ++position_;
      } else if (c == currencySymbol && !leading_.currency) {
        leading_.currency = true;
        ++position_;
      } else if (c == u'(' && !leading_.parens) {
        leading_.parens = true;
        ++position_;
      } else {
        return hr::ok;
      }
    }
  }

  // Zeros right after the decimal point, before any digit, only scale.
  void skipZerosAfterPoint() {
    if (!number_->digits.empty()) return;
    while (peek() == u'0') {
      leadingZero_ = true;
      ++position_;
      --number_->power10;
    }
  }

  void skipLeadingZeros() {
    while (peek() == u'0') {
      leadingZero_ = true;
      ++position_;
    }
  }

  void addDigit(std::uint8_t digit) {
    if (number_->digits.size() >= maxDigits && !hexOrOctal()) {
      // Beyond the digit room a digit only moves the decimal point.
      number_->power10 += decimal_ ? 0 : 1;
      return;
    }
    if (decimal_) --number_->power10;
    number_->digits.push_back(digit);
  }

  // The exponent's digits scale the number; huge exponents saturate.
  void exponentDigits() {
    long long exponent = 0;
    while (isDigit(peek())) {
      if (exponent < 1000000) exponent = exponent * 10 + (peek() - u'0');
      ++position_;
    }
    number_->power10 += exponent_.negative ? -exponent : exponent;
    exponent_.open = false;
  }

  HResult body() {
    while (position_ < text_.size()) {
      const char16_t c = peek();
      if (isDigit(c)) {
        if (exponent_.open) {
          exponentDigits();
          continue;
        }
        if (number_->baseShift == 3 && (c == u'8' || c == u'9')) return hr::ok;
        if (hexOrOctal() && number_->digits.size() >= maxDigits) return hr::overflow;
        addDigit(static_cast<std::uint8_t>(c - u'0'));
      } else if (c == thousandsSeparator && !hexOrOctal()) {
        // accepted anywhere after the first digit, and ignored
      } else if (c == decimalPoint && !hexOrOctal() && !decimal_ && !exponent_.seen) {
        decimal_ = true;
        if (number_->digits.empty()) {
          ++position_;
          skipZerosAfterPoint();
          continue;
        }
      } else if (number_->baseShift == 4 && hexLetter(c) >= 0) {
        if (number_->digits.size() >= maxDigits) return hr::overflow;
        number_->digits.push_back(static_cast<std::uint8_t>(hexLetter(c)));
      } else if ((c == u'e' || c == u'E') && !hexOrOctal() && !leading_.currency && !exponent_.seen) {
        exponent_.seen = true;
        exponent_.open = true;
      } else if (exponent_.open && c == positiveSign) {
        // an explicit positive exponent
      } else if (exponent_.open && c == negativeSign) {
        exponent_.negative = true;
      } else {
        return hr::ok;
      }
      ++position_;
    }
    return hr::ok;
  }

  void trailingSymbols() {
    while (true) {
      const char16_t c = peek();
      if (c == thousandsSeparator) {
        if (hexOrOctal()) return;
        ++position_;
      } else if (c != u'\0' && isWhite(c)) {
        while (peek() != u'\0' && isWhite(peek())) ++position_;
      } else if (c == positiveSign && !leading_.plus) {
        ++position_;
      } else if (c == negativeSign && !leading_.minus) {
        number_->negative = true;
        ++position_;
      } else if (c == u')' && leading_.parens) {
        number_->negative = true;
        ++position_;
      } else if (c == currencySymbol && !hexOrOctal()) {
        ++position_;
      } else {
        return;
      }
    }
  }

  std::u16string_view text_;
  std::size_t position_ = 0;
  ParsedNumber* number_ = nullptr;
  bool decimal_ = false;      // a decimal point was read
  bool leadingZero_ = false;  // a zero was skipped before the first digit
  Leading leading_;
  Exponent exponent_;
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
