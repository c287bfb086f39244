#include "core/code_page.h"

namespace glintmark {

std::size_t findInText(const CodePage& codePage, std::string_view text, std::string_view needle) {
  if (!codePage.isDoubleByte()) return text.find(needle);
  // Candidates come from the plain byte search; a boundary cursor walks the
  // text by whole characters behind them, so the whole search stays linear.
  std::size_t boundary = 0;
  std::size_t from = 0;
  while (true) {
    const std::size_t candidate = text.find(needle, from);
    if (candidate == std::string_view::npos) return candidate;
    while (boundary < candidate) boundary += characterLength(codePage, text, boundary);
    if (boundary == candidate) return candidate;
    from = boundary;  // the candidate began on a trail byte: retry from the next character
  }
}

}  // namespace glintmark
