// KeywordList, splitKeywords and isStopWord: the words to highlight on a page.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/code_page.h"

namespace glintmark {

struct KeywordList {
  std::vector<std::string> words;  // in text order, each at least 2 bytes, no separator byte
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
//   splitKeywords("%22new+york%22", false, nullptr, cp).words == {"new", "york"}
KeywordList splitKeywords(const char* text, bool fromTitle, const char* pageUrl,
                          const CodePage& codePage);

// isStopWord: whether `word` equals (same bytes, same length) one of the 320
// common English words of the stop-word list.
bool isStopWord(std::string_view word);

// stopWords: the 320 entries of the stop-word list, in ascending byte order.
std::span<const std::string_view> stopWords();

}  // namespace glintmark
