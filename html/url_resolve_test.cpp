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
};

TEST(ResolveUrl, ResolvesLikeABrowser) {
  for (const ResolveCase& c : resolveCases) {
    EXPECT_EQ(resolveUrl(c.base, c.reference), c.expected)
        << "base " << c.base << ", reference " << c.reference;
  }
}

}  // namespace
}  // namespace glintmark::html
