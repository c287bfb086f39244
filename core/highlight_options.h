// HighlightOptions: the user's four option flags, one process-wide record.
//
// Filled once when the library loads (from the stored word), read by every
// page pass without a lock, changed only by the options dialog. Each flag is a
// single byte, read and written whole.
#pragma once

#include <cstdint>

namespace glintmark {

struct HighlightOptions {
  unsigned char highlightIntelligently = 1;      // bit 0: title-word fallback with stop words
  unsigned char highlightSearchResults = 0;      // bit 1: highlight a page whose own URL carries a search
  unsigned char highlightReturnedDocuments = 1;  // bit 2
  unsigned char linkTooltips = 1;                // bit 3: every link gets its target as tooltip
};

// The word stored when nothing else is: bits 0, 2 and 3 (13, not 15).
inline constexpr std::uint32_t defaultOptionsWord = 13;

// optionsFromWord: each flag on exactly when its bit is 1; bits 4-31 ignored.
constexpr HighlightOptions optionsFromWord(std::uint32_t word) {
  HighlightOptions options;
  options.highlightIntelligently = (word & 1u) ? 1 : 0;
  options.highlightSearchResults = (word & 2u) ? 1 : 0;
  options.highlightReturnedDocuments = (word & 4u) ? 1 : 0;
  options.linkTooltips = (word & 8u) ? 1 : 0;
  return options;
}

// wordFromOptions: the stored form, bits 0-3 only.
constexpr std::uint32_t wordFromOptions(const HighlightOptions& options) {
  return (options.highlightIntelligently ? 1u : 0u) | (options.highlightSearchResults ? 2u : 0u) |
         (options.highlightReturnedDocuments ? 4u : 0u) | (options.linkTooltips ? 8u : 0u);
}

// The process-wide record, with the defaults until loadHighlightOptions runs.
HighlightOptions& highlightOptions();

}  // namespace glintmark
