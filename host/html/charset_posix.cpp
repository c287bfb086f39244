// Conversion of a page's bytes to UTF-8 with iconv.
#include <errno.h>
#include <iconv.h>

#include <algorithm>

#include "host/html/charset.h"

namespace glintmark::html {

std::optional<std::string> convertToUtf8(std::string_view bytes, const std::string& charset) {
  iconv_t converter = iconv_open("UTF-8", charset.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2 + 16);
  char buffer[16384];
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* to = buffer;
    std::size_t toLeft = sizeof buffer;
    const std::size_t result = iconv(converter, &in, &inLeft, &to, &toLeft);
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    if (result != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // An invalid sequence (EILSEQ) or one cut off at the end (EINVAL): a
    // replacement character, and on with the next byte.
    out += "\xEF\xBF\xBD";
    if (errno == EINVAL) break;
    const std::size_t skip = std::min<std::size_t>(inLeft, charset.rfind("UTF-16", 0) == 0 ? 2 : 1);
    in += skip;
    inLeft -= skip;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
  }
  // Flush any shift state.
  char* to = buffer;
  std::size_t toLeft = sizeof buffer;
  iconv(converter, nullptr, nullptr, &to, &toLeft);
  out.append(buffer, static_cast<std::size_t>(to - buffer));
  iconv_close(converter);
  return out;
}

}  // namespace glintmark::html
