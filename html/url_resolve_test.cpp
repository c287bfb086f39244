#include "html/url_resolve.h"

#include <gtest/gtest.h>

namespace glintmark::html {
namespace {

struct ResolveCase {
  const char* base;
  const char* reference;
  const char* expected;
};

// RFC 3986's own examples, plus the browser's habits.
const ResolveCase resolveCases[] = {
    {"http://a/b/c/d;p?q", "g", "http://a/b/c/g"},
    {"http://a/b/c/d;p?q", "./g", "http://a/b/c/g"},
    {"http://a/b/c/d;p?q", "g/", "http://a/b/c/g/"},
    {"http://a/b/c/d;p?q", "/g", "http://a/g"},
    {"http://a/b/c/d;p?q", "//g", "http://g/"},
    {"http://a/b/c/d;p?q", "?y", "http://a/b/c/d;p?y"},
    {"http://a/b/c/d;p?q", "g?y", "http://a/b/c/g?y"},
    {"http://a/b/c/d;p?q", "#s", "http://a/b/c/d;p?q#s"},
    {"http://a/b/c/d;p?q", "", "http://a/b/c/d;p?q"},
    {"http://a/b/c/d;p?q", "..", "http://a/b/"},
    {"http://a/b/c/d;p?q", "../../../g", "http://a/g"},
    {"http://a/b/c/d;p?q", "g;x=1/../y", "http://a/b/c/y"},
    {"http://a/b/c/d;p?q", "mailto:x@y", "mailto:x@y"},
    {"http://a/b/c/d;p?q", "javascript:go('../x')", "javascript:go('../x')"},
    {"HTTP://Example.COM", "x.html", "http://example.com/x.html"},
    {"http://example.com", "", "http://example.com/"},
    {"http://example.com/a/", " \t\n ../b\n.html  ", "http://example.com/b.html"},
    {"http://example.com/a/b", "..\\c\\d", "http://example.com/c/d"},
    {"https://h/p", "HTTPS://Other/X", "https://other/X"},
    {"", "page.html", "page.html"},
    {"about:blank", "page.html", "page.html"},
    {"not a url", " page.html ", "page.html"},
    {"file:///C:/dir/page.htm", "other.htm", "file:///C:/dir/other.htm"},
    // Percent-encoding as the URL serialiser does it, part by part.
    {"https://o.example/d/p.html", "HTTPS://Ex.Example/%7e/\xC3\xA4 b", "https://ex.example/%7e/%C3%A4%20b"},
    {"https://o.example/", "x?a b\"<>'#f g`", "https://o.example/x?a%20b%22%3C%3E%27#f%20g%60"},
    {"http://a/", "javascript:void (0)", "javascript:void (0)"},
    // A host that cannot be parsed: the attribute as written.
    {"https://o.example/", " http://[bad", " http://[bad"},
    {"https://o.example/", "https://a%2Fb.example/", "https://a%2Fb.example/"},
    // Hosts read as domains: the full stops of IDNA (U+3002, U+FF0E, U+FF61)
    // and escapes, each as Chromium reports the href.
    {"https://o.example/", "https://good.example\xE3\x80\x82" "evil.example/login", "https://good.example.evil.example/login"},
    {"https://o.example/", "https://u@EX\xEF\xBC\x8E" "a.com:8080/", "https://u@ex.a.com:8080/"},
    {"https://o.example/", "//good.example\xEF\xBD\xA1" "evil.example", "https://good.example.evil.example/"},
    {"https://o.example/", "https://GOOD.example%E3%80%82evil%2eexample/", "https://good.example.evil.example/"},
    // Hosts not in ASCII: mapped (letters folded, full-width ASCII and full
    // stops, U+0130 with its dot), then each such label in Punycode; a host no
    // domain may hold is a failure. Each as Chromium reports the href.
    {"https://o.example/", "https://B\xC3\x9C" "cher.example/p", "https://xn--bcher-kva.example/p"},
    {"https://o.example/", "//u@\xEF\xBC\xA2\xC3\xBC" "cher\xEF\xBC\x8E" "DE:8080", "https://u@xn--bcher-kva.de:8080/"},
    {"https://o.example/", "https://\xEF\xBC\xA5\xEF\xBC\xB8.com/", "https://ex.com/"},
    {"https://o.example/", "https://stra\xC3\x9F" "e.xn--bcher-kva.example/", "https://xn--strae-oqa.xn--bcher-kva.example/"},
    {"https://o.example/", "https://\xCE\xA3\xCE\x8A\xCE\xA3\xCE\xA5\xCE\xA6\xCE\x9F\xCE\xA3.gr/", "https://xn--kxa6akbbkh.gr/"},
    {"https://o.example/", "https://\xCF\x82" "a.gr/", "https://xn--a-xmb.gr/"},
    {"https://o.example/", "https://\xC4\xB0stanbul.tr/", "https://xn--istanbul-o0e.tr/"},
    {"https://o.example/", "https://a\xE2\x80\x99" "b.example/", "https://xn--ab-n2t.example/"},
    {"https://o.example/", "https://%C3%BC.example/", "https://xn--tda.example/"},
    {"https://o.example/", "https://pay\xC2\xADpal.example/", "https://paypal.example/"},
    {"https://o.example/", "https://\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x80\x82\xEF\xBC\xAA\xEF\xBC\xB0/", "https://xn--wgv71a119e.jp/"},
    {"https://o.example/", "https://\xF0\x9F\x98\x80.example/", "https://xn--e28h.example/"},
    {"https://o.example/", "https://\xC3\xBC\xC2\x80.example/", "https://\xC3\xBC\xC2\x80.example/"},
    {"https://o.example/", "https://%FF.example/", "https://%FF.example/"},
    // Escaped dot segments are dot segments; ..%2f and opaque paths are not.
    {"https://s.example/dir/p", "/a/b/%2e%2e/c", "https://s.example/a/c"},
    {"https://s.example/dir/p", "/a/b/.%2E/c", "https://s.example/a/c"},
    {"https://s.example/dir/p", "/a/b/%2e", "https://s.example/a/b/"},
    {"https://s.example/dir/p", "a/%2e%2E/../x", "https://s.example/x"},
    {"https://s.example/dir/p", "/a/..%2f/c?q=%2e%2e", "https://s.example/a/..%2f/c?q=%2e%2e"},
    {"https://s.example/dir/p", "mailto:x/%2e%2e/y", "mailto:x/%2e%2e/y"},
};

TEST(ResolveUrl, ResolvesLikeABrowser) {
  for (const ResolveCase& c : resolveCases) {
    EXPECT_EQ(resolveUrl(c.base, c.reference), c.expected)
        << "base " << c.base << ", reference " << c.reference;
  }
}

}  // namespace
}  // namespace glintmark::html
