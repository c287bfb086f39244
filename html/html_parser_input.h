// What gumbo is given to read a page as a browser with scripting on reads it.
//
// gumbo parses as a browser with scripting off (a <noscript> holds markup)
// and still expands <isindex>, which browsers no longer do. The parser
// therefore hands gumbo a copy of the page in which the start tag of each
// noscript element that a browser reads as raw text is renamed to an
// element that gumbo reads as raw text in the same place (noframes in the
// head, noembed elsewhere, both the same length as "noscript"), its raw text
// hidden, each isindex start tag renamed to an ordinary element, and select
// tags renamed to applet (see MarkupScan::selects). The
// scan below guesses where those tags are, with the tokenizer's states
// followed closely enough for ordinary pages; html_parser_posix.cpp checks
// each guess against gumbo's tree and parses again when one was wrong.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glintmark::html {

// Shapes of a page that would make gumbo's time or tree grow faster than the
// page: the scan stops once one is passed, and the page is refused.
struct MarkupLimits {
  std::size_t depth;       // elements open at once
  std::size_t attributes;  // distinct attributes on one tag (gumbo checks each against all before it)
  std::size_t rebuilt;     // formatting elements the tree builder rebuilds, over the whole page
};

struct MarkupScan {
  struct Tag {
    std::size_t at;  // its "<"
    bool inHead;     // a noscript guessed to lie in the head
  };
  std::vector<Tag> noscripts;
  std::vector<std::size_t> isindexes;  // every "<isindex", wherever it stands
  std::vector<std::size_t> isindexEnds;  // every "</isindex", likewise
  // "acronym" occurs nowhere in the page, in any case: gumbo may be given
  // isindex tags under that name (an ordinary element it knows), and any
  // "acronym" in its tree is one of them.
  bool acronymFree = false;
  // Select start tags in HTML content, and the tags that close them: a
  // browser parses a select's content with the body's rules, which gumbo
  // follows for an applet (an element of the same scope and length) but not
  // for a select. Among the closing tags: applet end tags inside a select
  // (dropped by a browser, they would close the renamed select), and the
  // select and input start tags that close an open select (a browser drops
  // such a select start tag), before which gumbo is given an applet end tag.
  std::vector<std::size_t> selects;
  struct SelectEnd {
    std::size_t at;      // its "<"
    std::size_t select;  // the "<" of the select it closes
    // A tag that closes the select other than its own end tag: just after
    // a select start tag's ">" (gumbo is given "</applet>" in its place),
    // or `at` for others (an input, a template's end tag...: given
    // "</applet>" before them). 0 for an end tag of its own.
    std::size_t end = 0;
  };
  std::vector<SelectEnd> selectEnds;
  // Formatting elements left open in a select: a browser opens them again
  // after it (its select puts no marker in the list of active formatting
  // elements), where gumbo, for which the renamed select does, has
  // forgotten them. gumbo is given the page's bytes [from, to) in place of
  // [at, end): their start tags again where a browser reopens them, nothing
  // in place of an end tag of one that a browser drops.
  struct Reopened {
    std::size_t at, end;
    std::size_t from, to;
    std::size_t select;  // the "<" of the select that left it open
  };
  std::vector<Reopened> reopened;
  // End tags gumbo is given before the tag at `at`, where a browser closes
  // elements that gumbo leaves open: SVG and MathML content at an end tag
  // of p or br (up to an element that holds HTML); paragraphs, list items
  // and options at an option or optgroup start tag inside a select (then
  // given only while that select is renamed).
  struct EndTags {
    std::size_t at;
    std::string tags;
    std::size_t select = std::string_view::npos;  // its "<"
  };
  std::vector<EndTags> endTags;
  // The deepest nesting of elements the scan saw, counted so as to be at
  // least what a browser's stack of open elements reaches on ordinary
  // pages (elements closed only by their own end tag, a sibling of their
  // kind or an enclosing element's end tag; formatting elements that text
  // or a phrasing tag reopens after an enclosing element closed them).
  std::size_t depth = 0;
  std::size_t attributes = 0;  // the most distinct attributes of one tag
  // The formatting elements reopened so, counted on the high side.
  std::size_t rebuilt = 0;
  // "<noscript" or "<isindex", in any case, occurs anywhere in the page.
  bool mentioned = false;
};

// The scan stops once one of the limits is passed.
MarkupScan scanMarkup(std::string_view utf8, const MarkupLimits& limits);

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

// Characters gumbo reads as U+FFFD where browsers keep them: controls other
// than whitespace and NUL, and noncharacters. gumbo is given each as a
// private-use character that the page does not use, and our tree gets the
// character back.
class Placeholders {
 public:
  // The page with each of those characters replaced, or nothing when it has
  // none (or uses every block of private-use characters that could stand for
  // them: gumbo's U+FFFD then stays).
  std::optional<std::string> protect(std::string_view utf8);
  bool active() const { return m_base != 0; }
  // Text of gumbo's tree, with the characters back.
  std::string restore(std::string_view text) const;

 private:
  char32_t m_base = 0;  // the placeholder of the first character, once protected
};

}  // namespace glintmark::html
