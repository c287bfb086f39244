// A script element's text as the HTML tokenizer reads it: where it ends.
// Used where a script's text is read (the parser's pre-pass over a page's
// bytes) and where it is written (the serialiser, over UTF-16 text).
#pragma once

#include <cstddef>
#include <string_view>
#include <type_traits>

#include "core/ascii.h"

namespace glintmark::html {

// Whether `text` holds `tag` at `at`, in any ASCII case, then a space, "/"
// or ">" (as a tokenizer reading raw text recognises a tag name). The end of
// the text does not count.
template <typename Char>
bool tagNameAt(std::basic_string_view<Char> text, std::size_t at, std::string_view tag) {
  if (at + tag.size() >= text.size()) return false;
  for (std::size_t i = 0; i < tag.size(); ++i) {
    const auto c = static_cast<std::make_unsigned_t<Char>>(text[at + i]);
    if (c >= 0x80 || lowerAscii(static_cast<char>(c)) != tag[i]) return false;
  }
  const Char after = text[at + tag.size()];
  return after == '\t' || after == '\n' || after == '\f' || after == '\r' || after == ' ' || after == '/' ||
         after == '>';
}

// Calls visit(i) for each place in a script's text where the tokenizer would
// end the script (a "</script" there), until visit answers false: an end tag
// in script data or in its escaped state ("<!--" ... "-->"), but not in the
// double-escaped state ("<!--<script>" ... "</script>"), where a "</script"
// only leaves that state.
template <typename Char, typename Visit>
void scriptEnds(std::basic_string_view<Char> text, Visit visit) {
  enum class State { data, escaped, doubleEscaped } state = State::data;
  const auto at = [&](std::size_t i, std::string_view s) {
    if (i + s.size() > text.size()) return false;
    for (std::size_t j = 0; j < s.size(); ++j) {
      if (text[i + j] != static_cast<Char>(s[j])) return false;
    }
    return true;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '<' && text[i] != '-') continue;
    if (at(i, "<!--")) {
      if (state == State::data) state = State::escaped;
      ++i;  // its dashes may end it at once ("<!-->")
      continue;
    }
    if (at(i, "-->")) {
      state = State::data;
      i += 2;
      continue;
    }
    if (state == State::escaped && text[i] == '<' && tagNameAt(text, i + 1, "script")) {
      state = State::doubleEscaped;
      continue;
    }
    if (at(i, "</") && tagNameAt(text, i + 2, "script")) {
      if (state == State::doubleEscaped) {
        state = State::escaped;
      } else if (!visit(i)) {
        return;
      }
    }
  }
}

}  // namespace glintmark::html
