// ApplyLinkTooltips: every link of the document shows its target as tooltip.
#include "core/guarded.h"
#include "core/page_pass.h"

namespace glintmark {

HResult ApplyLinkTooltips(Document& document, std::int32_t* applied) {
  std::int32_t count = 0;
  if (applied != nullptr) *applied = 0;
  return memoryGuarded([&] {
    std::unique_ptr<ElementCollection> all;
    if (failed(document.all(&all)) || !all) return hr::ok;
    const std::u16string tagName = u"a";
    std::unique_ptr<ElementCollection> links;
    if (failed(all->tags(tagName, &links)) || !links) return hr::ok;
    std::int32_t length = 0;
    if (failed(links->length(&length))) return hr::ok;

    for (std::int32_t index = 0; index < length; ++index) {
      std::unique_ptr<LinkElement> link;
      if (failed(links->item(index, &link)) || !link) continue;
      // A link that gives no target gets the empty title, as the browser's
      // null string would give it.
      WideText target;
      link->href(&target);
      if (succeeded(link->putTitle(target ? std::u16string_view(*target) : std::u16string_view()))) {
        ++count;
        if (applied != nullptr) *applied = count;
      }
    }
    return hr::ok;
  });
}

HResult ApplyLinkTooltips(Document& document) { return ApplyLinkTooltips(document, nullptr); }

}  // namespace glintmark
