// parseHtml in the Windows build, which has no gumbo: UTF-8 (or UTF-16 with a
// byte-order mark) read by our own parser for well-formed markup.
#include "html/charset.h"
#include "html/html_internal.h"

namespace glintmark::html {

std::unique_ptr<HtmlDocument> parseHtml(std::string_view bytes, const ParseOptions& options,
                                        std::string* error) {
  std::size_t bomLength = 0;
  const std::string bom = byteOrderMark(bytes, &bomLength);
  const std::string charset = bom.empty() ? canonicalCharset(options.charset) : bom;
  if (!options.charset.empty() && charset != "UTF-8" && charset != "UTF-16LE" &&
      charset != "UTF-16BE") {
    if (error) *error = "charset \"" + options.charset + "\" needs the Linux build";
    return nullptr;
  }
  bytes.remove_prefix(bomLength);
  std::string utf8;
  if (charset == "UTF-16LE" || charset == "UTF-16BE") {
    utf8 = utf16BytesToUtf8(bytes, charset == "UTF-16BE");
  } else {
    utf8 = toUtf8(toUtf16(bytes));  // invalid UTF-8 becomes U+FFFD
  }
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml(utf8);
  document->setUrl(options.url);
  document->setReferrer(options.referrer);
  return document;
}

}  // namespace glintmark::html
