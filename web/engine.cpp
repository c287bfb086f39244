// The module's exports: the page pass over the page the JavaScript side
// describes (see live_page.h), with the session and options it holds.
//
// The JavaScript side fills one request block in the module's memory and
// calls glintmark_highlight; the answer is the pass's report as
// core/report_json.h writes it for `glintmark highlight --json` too (UTF-8,
// in memory the next call reuses).
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include "core/code_page.h"
#include "core/highlight_options.h"
#include "core/page_pass.h"
#include "core/report_json.h"
#include "core/utf.h"
#include "web/live_page.h"
#include "web/protocol.h"

namespace glintmark::web {
namespace {

// Narrow text is UTF-8 here: the code page of the engine is 65001.
const CodePage& codePage() { return ansiCodePage(); }

std::string g_report;  // the last answer, kept until the next call

// A part of the request's text: offset and length in UTF-16 units, a
// negative length for none.
std::optional<std::u16string> part(std::u16string_view text, std::int32_t offset, std::int32_t length) {
  if (length < 0) return std::nullopt;
  if (offset < 0 || static_cast<std::size_t>(offset) > text.size() ||
      static_cast<std::size_t>(length) > text.size() - static_cast<std::size_t>(offset)) {
    throw std::invalid_argument("a part of the request lies outside its text");
  }
  return std::u16string(text.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length)));
}

}  // namespace
}  // namespace glintmark::web

using namespace glintmark;
using namespace glintmark::web;

extern "C" {

// Memory for a request; nullptr when there is none to be had.
EMSCRIPTEN_KEEPALIVE void* glintmark_alloc(std::size_t bytes) { return std::malloc(bytes); }
EMSCRIPTEN_KEEPALIVE void glintmark_free(void* block) { std::free(block); }

// The request (all offsets and lengths in UTF-16 units of `text`, which
// holds every string of the request; a negative length is none):
//   ops, opCount      the body's records (live_page.h), or none for a page
//                     without a body (bodyKind 0) or with a frameset (2)
//   text, textUnits   UTF-8 in `textBytes` bytes; decoded here to UTF-16
//   parts             Part::count integers, named by web/protocol.h's Part:
//                     url, referrer, title, saved search text (offset,
//                     length each), bodyKind, options, linkCount, version
//   links             linkCount (offset, length) pairs: each link's address
// Returns the report (JSON, UTF-8, NUL-terminated); its length in *length.
EMSCRIPTEN_KEEPALIVE const char* glintmark_highlight(const std::int32_t* ops, std::int32_t opCount,
                                                      const char* textBytes, std::int32_t textBytesLength,
                                                      const std::int32_t* parts, const std::int32_t* links,
                                                      std::int32_t* length) {
  HResult result = hr::ok;
  PageReport report;
  PageSession session;
  try {
    const auto at = [parts](Part name) { return parts[static_cast<std::size_t>(name)]; };
    const std::int32_t linkCount = at(Part::linkCount);
    if (opCount < 0 || textBytesLength < 0 || at(Part::version) != requestVersion || linkCount < 0) {
      throw std::invalid_argument("a malformed request");
    }
    const std::u16string text = toUtf16(std::string_view(textBytes, static_cast<std::size_t>(textBytesLength)));
    PageFacts facts;
    facts.url = part(text, at(Part::urlOffset), at(Part::urlLength)).value_or(u"");
    facts.referrer = part(text, at(Part::referrerOffset), at(Part::referrerLength)).value_or(u"");
    facts.title = part(text, at(Part::titleOffset), at(Part::titleLength)).value_or(u"");
    if (const std::optional<std::u16string> saved = part(text, at(Part::savedOffset), at(Part::savedLength))) {
      session.m_savedSearchText = codePage().toNarrow(*saved);
    }
    const std::int32_t bodyKind = at(Part::bodyKind);
    facts.body = bodyKind == static_cast<std::int32_t>(BodyKind::body)       ? BodyKind::body
                 : bodyKind == static_cast<std::int32_t>(BodyKind::frameset) ? BodyKind::frameset
                                                                              : BodyKind::none;
    const auto options = optionsFromWord(static_cast<std::uint32_t>(at(Part::options)));
    facts.links.reserve(static_cast<std::size_t>(linkCount));
    for (std::int32_t i = 0; i < linkCount; ++i) {
      facts.links.push_back(part(text, links[2 * i], links[2 * i + 1]).value_or(u""));
    }
    LivePage page(std::span<const std::int32_t>(ops, static_cast<std::size_t>(opCount)), text,
                  std::move(facts));
    const std::unique_ptr<Browser> browser = page.browser();
    result = HighlightPage(browser.get(), options, session, codePage(), &report);
  } catch (const std::bad_alloc&) {
    result = hr::outOfMemory;
  } catch (const std::invalid_argument&) {
    result = hr::invalidArg;
  }
  try {
    g_report = reportJson(result, report, session, codePage());
  } catch (const std::bad_alloc&) {
    g_report = "{\"result\":\"0x8007000E\"}";
  }
  *length = static_cast<std::int32_t>(g_report.size());
  return g_report.c_str();
}

}  // extern "C"
