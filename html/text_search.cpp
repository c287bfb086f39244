// findText's search over the body text index: the keyword folded as the text
// is, whole words and case-sensitive matches checked, and the occurrence
// after each match looked for ahead.
#include "html/text_search.h"

#include <algorithm>

namespace glintmark::html {

namespace {

void prefetchNode(const Node* node) {
  __builtin_prefetch(node);
  __builtin_prefetch(reinterpret_cast<const char*>(node) + sizeof(Node) - 1);
}

// Has the memory fetched that reading and wrapping the match at position p
// touch: its text and the nodes around its text node. Fetched together,
// their cache misses overlap instead of following one another.
void warm(const TextIndex& index, TextIndex::Cursor& cursor, std::size_t p) {
  Node* const node = index.locate(p, cursor);
  if (!node) return;
  const std::size_t position = TextIndex::positionOf(node);
  const std::size_t offset = p > position ? p - position : 0;
  if (offset < node->text().size()) __builtin_prefetch(node->text().data() + offset);
  __builtin_prefetch(node->parent());
  __builtin_prefetch(node->previousSibling());
  __builtin_prefetch(node->nextSibling());
}

}  // namespace

bool TextSearch::find(TextIndex& index, TextIndex::Cursor& cursor, std::u16string_view text,
                      std::int32_t count, std::int32_t flags, std::size_t rangeStart,
                      std::size_t rangeEnd, std::size_t* matchStart, std::size_t* matchEnd) {
  const std::u16string& folded = index.folded();
  // The keyword folded as the text is, and written out in full where full
  // folding lengthens it ("ß" as "ss").
  std::u16string needle(text);
  if (foldText(needle.data(), needle.data() + needle.size())) {
    std::u16string full;
    for (const char16_t c : needle) {
      if (unicode::lengthens(c)) {
        full += unicode::lengthening(c);
      } else {
        full += c;
      }
    }
    needle = std::move(full);
  }
  std::size_t low = rangeStart, high = rangeEnd;
  if (count > 0) {
    high = std::min(folded.size(), rangeStart + static_cast<std::size_t>(count));
  } else if (count < 0) {
    const std::size_t back = static_cast<std::size_t>(-static_cast<std::int64_t>(count));
    low = rangeEnd > back ? rangeEnd - back : 0;
  }
  if (needle.empty() || high < low) return false;
  // Whole words: no word character just before the match or just after
  // it, a surrogate pair read as its character.
  const auto wordBefore = [&](std::size_t at) {
    if (at == 0) return false;
    char32_t c = folded[at - 1];
    if (at >= 2 && isLowSurrogate(folded[at - 1]) && isHighSurrogate(folded[at - 2])) {
      c = 0x10000 + ((char32_t(folded[at - 2]) - 0xD800) << 10) + (c - 0xDC00);
    }
    return isWordChar(c);
  };
  const auto wordAt = [&](std::size_t at) {
    if (at >= folded.size()) return false;
    char32_t c = folded[at];
    if (isHighSurrogate(folded[at]) && at + 1 < folded.size() && isLowSurrogate(folded[at + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(folded[at + 1]) - 0xDC00);
    }
    return isWordChar(c);
  };
  const auto acceptable = [&](std::size_t at, std::size_t end) {
    if ((flags & 2) && (wordBefore(at) || wordAt(end))) return false;
    return !(flags & 4) || index.originalText(at, end, cursor) == text;
  };
  std::size_t match = npos, after = 0;
  if (index.lengthens()) {
    // The search runs over the text folded in full; a match must begin
    // and end between characters of the page.
    const unicode::ExpandedFold& full = index.fullFold();
    const std::size_t fullLow = full.toFull(low);
    const std::u16string_view window = full.text().substr(0, full.toFull(high));
    const auto take = [&](std::size_t at) {
      const std::size_t start = full.fromFull(at), end = full.fromFull(at + needle.size());
      if (start == npos || end == npos || !acceptable(start, end)) return false;
      match = start;
      after = end;
      return true;
    };
    if (count >= 0) {
      for (std::size_t at = findFolded(window, needle, fullLow); at != npos && !take(at);
           at = findFolded(window, needle, at + 1)) {
      }
    } else {
      for (std::size_t at = window.rfind(needle); at != npos && at >= fullLow && !take(at);
           at = at == 0 ? npos : window.rfind(needle, at - 1)) {
      }
    }
  } else {
    if (high - low < needle.size()) return false;
    const std::u16string_view window = std::u16string_view(folded).substr(0, high);
    if (count >= 0) {
      for (std::size_t at = occurrence(index, cursor, needle, low, high); at != npos;
           at = occurrence(index, cursor, needle, at + 1, high)) {
        if (acceptable(at, at + needle.size())) {
          match = at;
          break;
        }
      }
    } else {
      for (std::size_t at = window.rfind(needle); at != npos && at >= low;
           at = at == 0 ? npos : window.rfind(needle, at - 1)) {
        if (acceptable(at, at + needle.size())) {
          match = at;
          break;
        }
      }
    }
    after = match + needle.size();
  }
  if (match == npos) return false;
  *matchStart = match;
  *matchEnd = after;
  warm(index, cursor, match);
  return true;
}

// The first occurrence of `needle` (folded) at or after `from` that ends by
// `high`, or npos. The pass asks for a keyword's occurrences in order: each
// answer also looks for the one after it and has the memory of its text node
// fetched, so that the cache misses of the next match overlap the work on
// this one instead of following it.
std::size_t TextSearch::occurrence(const TextIndex& index, const TextIndex::Cursor& cursor,
                                   std::u16string_view needle, std::size_t from, std::size_t high) {
  const std::u16string_view folded = index.folded();
  std::size_t at;
  if (m_ahead.build == index.build() && equalUnits(m_ahead.needle, needle) &&
      m_ahead.from <= from && (m_ahead.at == npos || from <= m_ahead.at)) {
    at = m_ahead.at;  // none lies between m_ahead.from and it
  } else {
    at = findFolded(folded, needle, from);
  }
  if (at == npos || at + needle.size() > high) return npos;
  if (m_ahead.build != index.build()) m_ahead.segment = npos;
  m_ahead.needle.assign(needle);
  m_ahead.build = index.build();
  m_ahead.from = at + 1;
  m_ahead.at = findFolded(folded, needle, at + 1);
  if (m_ahead.at != npos) {
    // The search for its segment starts where the range's last one ended
    // (the segment of this occurrence, as a rule), and leaves the range's
    // own hint for locate().
    if (m_ahead.segment == npos) m_ahead.segment = cursor.segmentHint;
    const std::size_t entry = index.segmentAt(m_ahead.at, m_ahead.segment);
    if (entry != npos) prefetchNode(index.segmentNode(entry));
  }
  return at;
}

}  // namespace glintmark::html
