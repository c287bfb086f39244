// What gumbo is given to read a page as a browser with scripting on reads it.
//
// gumbo parses as a browser with scripting off (a <noscript> holds markup)
// and still expands <isindex>, which browsers no longer do. The parser
// therefore hands gumbo a copy of the page in which the start tag of each
// noscript element that a browser reads as raw text is renamed to an
// element that gumbo reads as raw text in the same place (noframes in the
// head, noembed elsewhere, both the same length as "noscript"), its raw text
// hidden, and each isindex start tag renamed to an ordinary element. The
// scan below guesses where those tags are, with the tokenizer's states
// followed closely enough for ordinary pages; html_parser_posix.cpp checks
// each guess against gumbo's tree and parses again when one was wrong.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace glintmark::html {

struct MarkupScan {
  struct Tag {
    std::size_t at;  // its "<"
    bool inHead;     // a noscript guessed to lie in the head
  };
  std::vector<Tag> noscripts;
  std::vector<std::size_t> isindexes;  // every "<isindex", wherever it stands
  // The deepest nesting of elements the scan saw, counted so as to be at
  // least what a browser's stack of open elements reaches on ordinary
  // pages (elements closed only by their own end tag, a sibling of their
  // kind or an enclosing element's end tag).
  std::size_t depth = 0;
  // "<noscript" or "<isindex", in any case, occurs anywhere in the page.
  bool mentioned = false;
};

// The scan stops once the nesting passes maxDepth.
MarkupScan scanMarkup(std::string_view utf8, std::size_t maxDepth);

// Where the start tag at `at` (its "<") ends: just after its ">", or npos
// when the page ends first (a browser then drops the tag).
std::size_t startTagEnd(std::string_view utf8, std::size_t at);

// Where a comment whose text starts at `from` ends: just after its "-->" or
// "--!>", or npos.
std::size_t commentEnd(std::string_view utf8, std::size_t from);

// Where raw text of `tag` that starts at `from` ends: the "<" of the first
// "</tag" followed by a space, "/" or ">" (the name in any case), or the
// page's end.
std::size_t rawTextEnd(std::string_view utf8, std::size_t from, std::string_view tag);

}  // namespace glintmark::html
