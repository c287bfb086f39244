// KeywordList, splitKeywords and isStopWord: the words to highlight on a page.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/code_page.h"

namespace glintmark {

struct KeywordList {
  // In text order, each at least 2 bytes with no separator byte; in the
  // UTF-8 code page, at least 2 characters (or one that makes a word by
  // itself) with no separator character, folded.
  std::vector<std::string> words;
  bool fromTitle = false;          // the text was the page title (whole-word search)
};

// splitKeywords
//
// Cuts `text` (zero-terminated, not modified) into words at the 45 separator
// bytes (tab, line feed, space, digits, ASCII punctuation), byte by byte, and
// keeps words of 2 bytes or more. Only when `fromTitle` is set: stops once 5
// words are accepted, skips a word that `pageUrl` (nullptr when the page URL
// was empty) contains as a substring, and skips stop words.
//
// In the UTF-8 code page (CodePage::isUtf8) a search text is decoded first
// (unicode::decodeFormValue), and words follow Unicode's rules: runs of
// letters, combining marks and digits (an apostrophe between two of them
// included), at least 2 characters long or one Han, Kana or Hangul
// character, each folded in full (unicode::appendFolded). A title is not
// decoded; its URL test compares with the decoded, folded page URL.
//
//   splitKeywords("%22new+york%22", false, nullptr, cp).words == {"new", "york"}
//   splitKeywords("stra%c3%9fe+%e6%9d%b1", false, nullptr, utf8).words == {"strasse", "東"}
KeywordList splitKeywords(const char* text, bool fromTitle, const char* pageUrl,
                          const CodePage& codePage);

// The most distinct words one page pass searches for. Each one costs a
// search over the whole body text and can add a span around every match,
// nested in the spans of words found at the same place; search engines read
// no more than 32 words of a query (the rest are ignored), so a longer list
// is not a search whose results led here.
inline constexpr std::size_t kMaxSearchedWords = 32;

// KeywordSearch: one word the pass searches for, and the position in the
// KeywordList whose palette colour its marks take.
struct KeywordSearch {
  std::string_view word;  // into the KeywordList
  std::size_t colourPosition = 0;
};

// keywordSearches
//
// The searches that mark `list`'s words (not modified; the result points
// into it): each distinct word once, in the order of its first place in the
// list, at most kMaxSearchedWords of them (later new words are dropped). A
// word listed again is not searched again: searching it again would wrap
// each of its marks in one more span, nested inside the earlier one, whose
// background is the one that shows. So its colour is that of its last place
// in the list, which is what a page showed of it, at the cost of one search.
// An empty list gives no searches.
//
//   keywordSearches({"cat", "dog", "cat"}) == {{"cat", 2}, {"dog", 1}}
std::vector<KeywordSearch> keywordSearches(const KeywordList& list);

// isStopWord: whether `word` equals (same bytes, same length) one of the 320
// common English words of the stop-word list.
bool isStopWord(std::string_view word);

// stopWords: the 320 entries of the stop-word list, in ascending byte order.
std::span<const std::string_view> stopWords();

}  // namespace glintmark
