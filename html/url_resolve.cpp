// Reference resolution for link targets.
#include "html/url_resolve.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "core/ascii.h"
#include "core/unicode.h"
#include "core/utf.h"
#include "html/html_internal.h"

namespace glintmark::html {

namespace {

struct UrlParts {
  std::optional<std::string> scheme;
  std::optional<std::string> authority;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

bool isWebScheme(const std::string& scheme) {
  return scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "file" ||
         scheme == "ws" || scheme == "wss";
}

std::string clean(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20) --end;
  std::string out;
  for (char c : text.substr(begin, end - begin)) {
    if (c != '\t' && c != '\n' && c != '\r') out += c;
  }
  return out;
}

std::optional<std::string> schemeOf(const std::string& text) {
  if (text.empty() || !isAsciiAlpha(text[0])) return std::nullopt;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') return lowerAscii(text.substr(0, i));
    if (!isAsciiAlnum(c) && c != '+' && c != '-' && c != '.') break;
  }
  return std::nullopt;
}

UrlParts split(std::string text) {
  UrlParts parts;
  parts.scheme = schemeOf(text);
  std::size_t at = parts.scheme ? parts.scheme->size() + 1 : 0;
  const bool web = !parts.scheme || isWebScheme(*parts.scheme);
  if (web) {
    // Only the part before any query or fragment has its backslashes turned.
    const std::size_t end = text.find_first_of("?#", at);
    for (std::size_t i = at; i < std::min(end, text.size()); ++i) {
      if (text[i] == '\\') text[i] = '/';
    }
  }
  if (text.compare(at, 2, "//") == 0) {
    const std::size_t end = text.find_first_of("/?#", at + 2);
    parts.authority = text.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
    at = end == std::string::npos ? text.size() : end;
  }
  const std::size_t pathEnd = std::min(text.find_first_of("?#", at), text.size());
  parts.path = text.substr(at, pathEnd - at);
  at = pathEnd;
  if (at < text.size() && text[at] == '?') {
    const std::size_t end = std::min(text.find('#', at), text.size());
    parts.query = text.substr(at + 1, end - at - 1);
    at = end;
  }
  if (at < text.size() && text[at] == '#') parts.fragment = text.substr(at + 1);
  return parts;
}

// Whether `segment` is "%2e" ("." as an escape) and, for `twice`, ".%2e",
// "%2e." or "%2e%2e" (".."), in either case; a browser's path parser reads
// them as the dot segments they stand for.
bool isEscapedDots(std::string_view segment, bool twice) {
  const auto dot = [&segment] {
    if (!segment.empty() && segment[0] == '.') {
      segment.remove_prefix(1);
      return true;
    }
    if (segment.size() >= 3 && segment[0] == '%' && segment[1] == '2' && (segment[2] | 0x20) == 'e') {
      segment.remove_prefix(3);
      return true;
    }
    return false;
  };
  return dot() && (!twice || dot()) && segment.empty();
}

// The path with each segment written as escaped dots ("%2e", ".%2E", ...)
// turned into the "." or ".." it stands for.
std::string unescapeDotSegments(std::string_view path) {
  if (path.find('%') == std::string_view::npos) return std::string(path);
  std::string out;
  for (std::size_t at = 0; at <= path.size();) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    const std::string_view segment = path.substr(at, end - at);
    out += isEscapedDots(segment, true) ? ".." : isEscapedDots(segment, false) ? "." : segment;
    if (end < path.size()) out += '/';
    at = end + 1;
  }
  return out;
}

std::string removeDotSegments(std::string_view path) {
  const std::string unescaped = unescapeDotSegments(path);
  std::string_view input = unescaped;
  std::string output;
  while (!input.empty()) {
    if (input.substr(0, 3) == "../") {
      input.remove_prefix(3);
    } else if (input.substr(0, 2) == "./") {
      input.remove_prefix(2);
    } else if (input.substr(0, 3) == "/./") {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.substr(0, 4) == "/../" || input == "/..") {
      input = input.size() == 3 ? std::string_view("/") : input.substr(3);
      const std::size_t last = output.rfind('/');
      output.erase(last == std::string::npos ? 0 : last);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const std::size_t next = input.find('/', 1);
      const std::size_t n = next == std::string_view::npos ? input.size() : next;
      output.append(input.substr(0, n));
      input.remove_prefix(n);
    }
  }
  return output;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(c | 0x20);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

constexpr std::size_t kLongestLabel = 1000;

// RFC 3492's Punycode of one label (the "xn--" not included), or none when
// its arithmetic would overflow. The encoder takes the label's characters by
// code point and, for each, counts the characters before it that are already
// encoded; those counts come from a Fenwick tree over the places, so that the
// work grows with n log n, not with the label's length times its distinct
// characters.
std::optional<std::string> punycode(std::u32string_view label) {
  constexpr std::uint32_t base = 36, tMin = 1, tMax = 26, skew = 38, damp = 700;
  const auto digit = [](std::uint32_t d) { return static_cast<char>(d < 26 ? 'a' + d : '0' + d - 26); };
  const auto adapt = [](std::uint32_t delta, std::uint32_t points, bool first) {
    delta = first ? delta / damp : delta / 2;
    delta += delta / points;
    std::uint32_t k = 0;
    while (delta > ((base - tMin) * tMax) / 2) {
      delta /= base - tMin;
      k += base;
    }
    return k + (base - tMin + 1) * delta / (delta + skew);
  };
  std::vector<std::uint32_t> tree(label.size() + 1);  // 1 at each place encoded so far
  const auto mark = [&tree](std::size_t place) {
    for (++place; place < tree.size(); place += place & (~place + 1)) ++tree[place];
  };
  const auto before = [&tree](std::size_t place) {  // marks in [0, place)
    std::uint64_t count = 0;
    for (; place > 0; place -= place & (~place + 1)) count += tree[place];
    return count;
  };
  std::string out;
  std::vector<std::pair<char32_t, std::size_t>> rest;  // (code point, place)
  for (std::size_t place = 0; place < label.size(); ++place) {
    if (label[place] < 0x80) {
      out += static_cast<char>(label[place]);
      mark(place);
    } else {
      rest.emplace_back(label[place], place);
    }
  }
  std::sort(rest.begin(), rest.end());
  const auto basic = static_cast<std::uint32_t>(out.size());
  if (basic > 0) out += '-';
  std::uint64_t delta = 0;
  std::uint32_t n = 0x80, bias = 72, handled = basic;
  for (std::size_t first = 0; first < rest.size();) {
    const char32_t code = rest[first].first;
    std::size_t last = first;
    while (last < rest.size() && rest[last].first == code) ++last;
    delta += std::uint64_t{code - n} * (handled + 1);
    n = code;
    std::size_t from = 0;
    for (std::size_t i = first; i < last; ++i) {
      const std::size_t place = rest[i].second;
      delta += before(place) - before(from);
      if (delta > ~std::uint32_t{0}) return std::nullopt;
      auto q = static_cast<std::uint32_t>(delta);
      for (std::uint32_t k = base;; k += base) {
        const std::uint32_t t = k <= bias ? tMin : k >= bias + tMax ? tMax : k - bias;
        if (q < t) break;
        out += digit(t + (q - t) % (base - t));
        q = (q - t) / (base - t);
      }
      out += digit(q);
      bias = adapt(static_cast<std::uint32_t>(delta), handled + 1, handled == basic);
      delta = 0;
      ++handled;
      from = place + 1;
    }
    delta += before(label.size()) - before(from) + 1;
    for (std::size_t i = first; i < last; ++i) mark(rest[i].second);
    ++n;
    first = last;
  }
  return out;
}

// A host's character as the browser's domain mapping gives it, appended to
// `out`; false for one no domain may hold. Ordinary letters of every script
// are folded (case folding agrees with the mapping there, but for the
// apostrophes and the final sigma, which stay, and U+0130, which is "i" with
// its dot above), full-width ASCII is ASCII and the ideographic, full-width
// and half-width full stops are dots, and invisible characters vanish. The
// rest of the mapping (compatibility forms such as "ﬁ" or "①", normalisation)
// and the checks of joiners and right-to-left labels are not done: such a
// host is encoded as it stands.
bool appendMapped(std::u32string& out, char32_t c) {
  // Invisible characters that domains drop: the soft hyphen, the zero-width
  // space, the word joiner, the variation selectors, the byte-order mark.
  if (c == 0x00AD || c == 0x200B || c == 0x2060 || (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF) {
    return true;
  }
  if (c == 0x3002 || c == 0xFF0E || c == 0xFF61) c = '.';
  if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;
  if (c <= 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xFFFD ||
      (c < 0x80 && std::string_view("#%/:<>?@[\\]^|").find(static_cast<char>(c)) != std::string_view::npos)) {
    return false;
  }
  if (c == 0x0130) {
    out += U"i\u0307";
  } else if (c == 0x2019 || c == 0x02BC || c == 0x03C2) {
    out += c;
  } else {
    out += unicode::foldSimple(c);
  }
  return true;
}

// A web address's host as the browser's URL parser reads a domain: escapes
// decoded, characters mapped (appendMapped), and each label that is not
// ASCII then written in Punycode after "xn--", as the href property reports
// it ("Bücher.example" -> "xn--bcher-kva.example"). None when the host holds
// a character no domain may hold or bytes that are not UTF-8 (the address is
// then a failure). An IPv6 address in brackets is only lowercased.
std::optional<std::string> domainOf(std::string_view host) {
  if (!host.empty() && host[0] == '[') return lowerAscii(host);
  std::string decoded;
  for (std::size_t i = 0; i < host.size(); ++i) {
    if (host[i] == '%' && i + 2 < host.size() && hexValue(host[i + 1]) >= 0 && hexValue(host[i + 2]) >= 0) {
      decoded += static_cast<char>(hexValue(host[i + 1]) * 16 + hexValue(host[i + 2]));
      i += 2;
    } else {
      decoded += host[i];
    }
  }
  const std::u16string units = toUtf16(decoded);
  std::u32string mapped;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (isHighSurrogate(units[i]) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(units[++i]) - 0xDC00);
    }
    if (!appendMapped(mapped, c)) return std::nullopt;
  }
  std::string out;
  for (std::size_t at = 0; at <= mapped.size();) {
    const std::size_t dot = std::min(mapped.find(U'.', at), mapped.size());
    const std::u32string_view label = std::u32string_view(mapped).substr(at, dot - at);
    if (std::all_of(label.begin(), label.end(), [](char32_t c) { return c < 0x80; })) {
      for (const char32_t c : label) out += static_cast<char>(c);
    } else {
      // Chromium refuses a label of more than 1,000 characters; that also
      // bounds the encoder's work, which grows with a label's length times
      // the characters in it that differ.
      if (label.size() > kLongestLabel) return std::nullopt;
      const std::optional<std::string> encoded = punycode(label);
      if (!encoded) return std::nullopt;
      out += "xn--" + *encoded;
    }
    if (dot < mapped.size()) out += '.';
    at = dot + 1;
  }
  return out;
}

// The part percent-encoded as the browser's URL serialiser gives it: the
// bytes of non-ASCII characters, the controls and the characters of `set`
// (space among them, where it belongs to the set's part); '%' is left alone.
std::string encode(std::string_view text, std::string_view set) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E || set.find(c) != std::string_view::npos) {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string join(const UrlParts& parts) {
  std::string out;
  if (parts.scheme) out += *parts.scheme + ":";
  if (parts.authority) {
    out += "//";
    out += *parts.authority;
  }
  const bool web = parts.scheme && isWebScheme(*parts.scheme);
  // A path like "void(0)" of javascript: or mailto: keeps its spaces.
  out += encode(parts.path, web || parts.authority ? std::string_view(" \"<>`{}") : std::string_view());
  if (parts.query) out += "?" + encode(*parts.query, web ? " \"<>'" : " \"<>");
  if (parts.fragment) out += "#" + encode(*parts.fragment, " \"<>`");
  return out;
}

}  // namespace

std::string resolveUrl(std::string_view baseText, std::string_view referenceText) {
  const std::string reference = clean(referenceText);
  UrlParts ref = split(reference);
  const UrlParts base = split(clean(baseText));
  UrlParts target;
  if (ref.scheme) {
    target = ref;
    if (ref.authority || (!ref.path.empty() && ref.path[0] == '/')) {
      target.path = removeDotSegments(ref.path);
    }
  } else {
    // A relative reference needs an absolute, hierarchical base.
    if (!base.scheme || (!base.authority && (base.path.empty() || base.path[0] != '/'))) {
      return reference;
    }
    target.scheme = base.scheme;
    if (ref.authority) {
      target.authority = ref.authority;
      target.path = removeDotSegments(ref.path);
      target.query = ref.query;
    } else {
      target.authority = base.authority;
      if (ref.path.empty()) {
        target.path = base.path;
        target.query = ref.query ? ref.query : base.query;
      } else {
        if (ref.path[0] == '/') {
          target.path = removeDotSegments(ref.path);
        } else {
          std::string merged;
          if (base.authority && base.path.empty()) {
            merged = "/" + ref.path;
          } else {
            const std::size_t slash = base.path.rfind('/');
            merged = (slash == std::string::npos ? std::string() : base.path.substr(0, slash + 1)) +
                     ref.path;
          }
          target.path = removeDotSegments(merged);
        }
        target.query = ref.query;
      }
    }
    target.fragment = ref.fragment;
  }
  if (target.scheme && isWebScheme(*target.scheme) && target.authority) {
    // A host that cannot be parsed (an IPv6 address left open) makes the
    // address a failure, and the href property gives the attribute as written.
    const std::size_t open = target.authority->find('[');
    if (open != std::string::npos && target.authority->find(']', open) == std::string::npos) {
      return std::string(referenceText);
    }
    // The host read as a domain (the user information before it and the
    // port after it kept); one that is no domain is a failure too.
    std::string& authority = *target.authority;
    const std::size_t at = authority.rfind('@');
    const std::size_t hostStart = at == std::string::npos ? 0 : at + 1;
    const std::size_t close = authority.find(']', hostStart);
    const std::size_t colon = authority.find(':', close == std::string::npos ? hostStart : close);
    const std::size_t hostEnd = colon == std::string::npos ? authority.size() : colon;
    const std::optional<std::string> domain = domainOf(std::string_view(authority).substr(hostStart, hostEnd - hostStart));
    if (!domain) return std::string(referenceText);
    authority.replace(hostStart, hostEnd - hostStart, *domain);
    if (target.path.empty()) target.path.assign(1, '/');
  }
  return join(target);
}

}  // namespace glintmark::html
