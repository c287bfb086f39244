#include "registrar/var_ui4.h"

#include <gtest/gtest.h>

#include <string>

namespace glintmark {
namespace {

// Pins VarUI4FromStr's answers: natively against our conversion, under Wine
// against the system's own function.
TEST(VarUI4FromStr, AnswersAsTheAutomationConversion) {
  struct Row {
    std::u16string text;
    HResult result;
    std::uint32_t value;
  } rows[] = {
      {u"4096", hr::ok, 4096},
      {u"0", hr::ok, 0},
      {u"000123", hr::ok, 123},
      {u"4294967295", hr::ok, 4294967295u},
      {u"4294967296", hr::overflow, 0},
      {u"99999999999999999999999", hr::overflow, 0},
      // blanks around the number
      {u"  42", hr::ok, 42},
      {u"42  ", hr::ok, 42},
      {u"\t\r\n 42 \t", hr::ok, 42},
      {u"4 2", hr::typeMismatch, 0},
      // signs: before or after, negative numbers overflow, minus zero is zero
      {u"+42", hr::ok, 42},
      {u"42+", hr::ok, 42},
      {u"-0", hr::ok, 0},
      {u"-1", hr::overflow, 0},
      {u"1-", hr::overflow, 0},
      {u"(1)", hr::overflow, 0},
      {u"(1", hr::typeMismatch, 0},
      {u"- 5", hr::overflow, 0},
      {u"--5", hr::typeMismatch, 0},
      // hexadecimal and octal
      {u"&H10", hr::ok, 16},
      {u"&hff", hr::ok, 255},
      {u"&HFFFFFFFF", hr::ok, 4294967295u},
      {u"&H100000000", hr::overflow, 0},
      {u"&O17", hr::ok, 15},
      {u"&H", hr::typeMismatch, 0},
      {u"&HG", hr::typeMismatch, 0},
      {u"0xA", hr::typeMismatch, 0},
      {u"0x10", hr::typeMismatch, 0},
      // decimals round half to even; exponents scale
      {u"2.5", hr::ok, 2},
      {u"3.5", hr::ok, 4},
      {u"2.51", hr::ok, 3},
      {u"1e3", hr::ok, 1000},
      {u"1e", hr::typeMismatch, 0},
      {u"1,000", hr::ok, 1000},
      {u",5", hr::typeMismatch, 0},
      // not numbers
      {u"", hr::typeMismatch, 0},
      {u"   ", hr::typeMismatch, 0},
      {u"abc", hr::typeMismatch, 0},
      {u"12abc", hr::typeMismatch, 0},
      {std::u16string(u"7\0" u"9", 3), hr::ok, 7},  // the text ends at its first zero
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text.begin(), row.text.end()));
    std::uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(varUI4FromStr(row.text, &value), row.result);
    EXPECT_EQ(value, succeeded(row.result) ? row.value : 0xDEADBEEF);
  }
}

}  // namespace
}  // namespace glintmark
