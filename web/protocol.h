// The request the JavaScript side hands the module, by name: the records of
// a page's body and the integers of glintmark_highlight's `parts` block.
// web/protocol.js holds the same numbers for the JavaScript side; the two
// change together.
#pragma once

#include <cstddef>
#include <cstdint>

namespace glintmark::web {

// The records of the page's body, each a kind followed by its operands (all
// 32-bit): an element's name and a text node's text are (offset, length) in
// the request's text, in UTF-16 units.
enum class PageOp : std::int32_t {
  element = 1,  // offset, length of its lowercase name; its children follow
  end = 2,      // the element opened last is complete
  text = 3,     // offset, length of its text
  other = 4,    // a comment or any other node: kept only for its place
};

// What the document has where a body goes.
enum class BodyKind : std::int32_t { none = 0, body = 1, frameset = 2 };

// The integers of `parts`, by position. A string is (offset, length) in the
// request's text, a negative length for none.
enum class Part : std::size_t {
  urlOffset,
  urlLength,
  referrerOffset,
  referrerLength,
  titleOffset,
  titleLength,
  savedOffset,  // the session's saved search text
  savedLength,
  bodyKind,   // a BodyKind
  options,    // the options word
  linkCount,  // how many (offset, length) pairs `links` holds
  version,    // requestVersion: a check that both sides read the same layout
  count,
};
inline constexpr std::int32_t requestVersion = 1;

}  // namespace glintmark::web
