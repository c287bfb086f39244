#include "core/highlight_options.h"

namespace glintmark {

HighlightOptions& highlightOptions() {
  static HighlightOptions options;
  return options;
}

}  // namespace glintmark
