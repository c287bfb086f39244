// TextSearch (internal to html/): findText's search of the body text index,
// with the look-ahead that lets the cache misses of one match overlap the
// work on the one before it. Each range has its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "html/text_index.h"

namespace glintmark::html {

class TextSearch {
 public:
  // findText's search for `text` from a range [rangeStart, rangeEnd) with
  // its count and flags (2: whole words, 4: case-sensitive): true, and the
  // match in [*matchStart, *matchEnd), when it finds one.
  bool find(TextIndex& index, TextIndex::Cursor& cursor, std::u16string_view text,
            std::int32_t count, std::int32_t flags, std::size_t rangeStart, std::size_t rangeEnd,
            std::size_t* matchStart, std::size_t* matchEnd);

 private:
  static constexpr std::size_t npos = TextIndex::npos;

  std::size_t occurrence(const TextIndex& index, const TextIndex::Cursor& cursor,
                         std::u16string_view needle, std::size_t from, std::size_t high);

  // The occurrence after the one found last (occurrence()).
  struct Lookahead {
    std::u16string needle;
    std::uint64_t build = 0;  // 0: none (the index counts its builds from 1)
    std::size_t from = 0, at = npos;
    std::size_t segment = npos;  // the segment of `at`, once looked for
  } m_ahead;
};

}  // namespace glintmark::html
