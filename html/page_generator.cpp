// A deterministic generator of realistic, well-formed pages.
#include "html/page_generator.h"

#include <array>

#include "core/ascii.h"

namespace glintmark::html {

namespace {

// xorshift32: the same sequence everywhere, unlike the standard distributions.
class Random {
 public:
  explicit Random(std::uint32_t seed) : m_state(seed ? seed : 0x9E3779B9u) {}
  std::uint32_t next() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return m_state;
  }
  std::size_t below(std::size_t n) { return next() % n; }
  bool chance(unsigned percent) { return below(100) < percent; }

 private:
  std::uint32_t m_state;
};

constexpr std::array<std::string_view, 48> fillerWords = {
    "the",     "a",        "of",      "and",      "to",      "in",       "is",      "for",
    "with",    "on",       "that",    "by",       "this",    "from",     "are",     "page",
    "report",  "city",     "morning", "evening",  "forecast", "travel",  "people",  "village",
    "bridge",  "harbour",  "summer",  "winter",   "garden",  "history",  "museum",  "train",
    "coffee",  "résumé",   "naïve",   "Zürich",   "façade",  "über",     "Ångström", "delta",
    "program", "archive",  "results", "northern", "streams", "marketing", "glinting", "weathered"};

std::string_view pick(Random& random, const std::vector<std::string>& keywords) {
  return keywords[random.below(keywords.size())];
}

std::string casing(Random& random, std::string_view word) {
  std::string out(word);
  const std::size_t style = random.below(10);
  if (style == 0) {
    for (char& c : out) {
      c = upperAscii(c);
    }
  } else if (style < 3 && !out.empty()) {
    out[0] = upperAscii(out[0]);
  }
  return out;
}

class PageWriter {
 public:
  PageWriter(std::uint32_t seed) : m_random(seed), m_keywords(generatedPageKeywords()) {}

  std::string write(std::size_t targetBytes) {
    m_out.reserve(targetBytes + 4096);
    m_out +=
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<title>Weather and glint: the river market station</title>\n"
        "<style>.weather { color: #333 } .glint::after { content: \"river\" }</style>\n"
        "<script>var weather = \"glint river\"; if (a < b && c > d) { market(); }</script>\n"
        "</head>\n<body class=\"weather\">\n";
    while (m_out.size() < targetBytes) block();
    m_out += "</body></html>\n";
    return std::move(m_out);
  }

 private:
  // A run of inline content: words, some wrapped in markup or links.
  void inlineText(std::size_t words) {
    for (std::size_t i = 0; i < words; ++i) {
      if (i) m_out += ' ';
      const std::size_t kind = m_random.below(100);
      if (kind < 8) {
        m_out += casing(m_random, pick(m_random, m_keywords));
      } else if (kind < 10) {
        // A keyword split by inline markup.
        const std::string word(pick(m_random, m_keywords));
        std::size_t cut = 1 + m_random.below(word.size() - 1);
        // Never inside a multibyte character.
        while (cut > 1 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80) --cut;
        m_out.append(word, 0, cut).append("<b>").append(word, cut).append("</b>");
      } else if (kind < 13) {
        m_out.append("<a href=\"/pages/").append(std::to_string(m_random.below(100000)));
        m_out.append(".html\" title=\"glint weather\">").append(pick(m_random, m_keywords));
        m_out.append(" ").append(fillerWords[m_random.below(fillerWords.size())]).append("</a>");
      } else if (kind < 16) {
        static constexpr std::array<std::string_view, 4> tags = {"em", "strong", "i", "span"};
        const std::string_view tag = tags[m_random.below(tags.size())];
        m_out.append("<").append(tag).append(">");
        m_out.append(fillerWords[m_random.below(fillerWords.size())]).append(" ");
        m_out.append(casing(m_random, pick(m_random, m_keywords)));
        m_out.append("</").append(tag).append(">");
      } else if (kind < 17) {
        m_out += "&amp; &lt;tag&gt;";
      } else if (kind < 18) {
        m_out += "<br>";
      } else {
        m_out += casing(m_random, fillerWords[m_random.below(fillerWords.size())]);
      }
    }
  }

  void block() {
    const std::size_t kind = m_random.below(100);
    if (kind < 50) {
      m_out += "<p>";
      inlineText(20 + m_random.below(60));
      m_out += "</p>\n";
    } else if (kind < 58) {
      m_out.append("<h2 id=\"river-").append(std::to_string(m_random.below(1000))).append("\">");
      inlineText(3 + m_random.below(5));
      m_out += "</h2>\n";
    } else if (kind < 68) {
      m_out += "<ul>";
      for (std::size_t i = 0, n = 2 + m_random.below(5); i < n; ++i) {
        m_out += "<li>";
        inlineText(4 + m_random.below(10));
        m_out += "</li>";
      }
      m_out += "</ul>\n";
    } else if (kind < 78) {
      m_out += "<table class=\"market\"><tbody>";
      for (std::size_t r = 0, rows = 2 + m_random.below(4); r < rows; ++r) {
        m_out += "<tr>";
        for (std::size_t c = 0; c < 3; ++c) {
          m_out += "<td>";
          inlineText(1 + m_random.below(6));
          m_out += "</td>";
        }
        m_out += "</tr>";
      }
      m_out += "</tbody></table>\n";
    } else if (kind < 83) {
      m_out += "<!-- weather glint river market: not body text -->\n";
    } else if (kind < 87) {
      m_out += "<script>document.title = \"weather \" + 'glint'; /* river </p> */</script>\n";
    } else if (kind < 89) {
      m_out += "<style>p.river { margin: 0 } /* weather */</style>\n";
    } else if (kind < 91) {
      m_out += "<noscript><p>glint weather river</p></noscript>\n";
    } else if (kind < 94) {
      m_out += "<div data-note=\"weather river glint\"><img src=\"/img/weather.png\" alt=\"glint\">";
      inlineText(10 + m_random.below(20));
      m_out += "</div>\n";
    } else {
      m_out += "<blockquote><p>";
      inlineText(10 + m_random.below(30));
      m_out += "</p></blockquote>\n";
    }
  }

  Random m_random;
  const std::vector<std::string>& m_keywords;
  std::string m_out;
};

// Filler for dense pages: no keyword inside any of them, so that the matches
// are the keywords placed on purpose.
constexpr std::array<std::string_view, 32> plainWords = {
    "home",    "news",   "sport",   "share",   "menu",    "login",  "account", "search",
    "product", "price",  "offer",   "review",  "stars",   "video",  "photo",   "details",
    "reply",   "follow", "comment", "profile", "privacy", "terms",  "help",    "contact",
    "about",   "blog",   "topics",  "latest",  "popular", "saved",  "cart",    "more"};

// Today's sites: boxes within boxes with class names, icons, menus of links,
// little text.
// With `links`, some of the small boxes are links instead (badges, labels),
// with addresses of every kind: about 3 links per KB.
class DensePageWriter {
 public:
  DensePageWriter(std::uint32_t seed, bool links)
      : m_random(seed), m_keywords(generatedPageKeywords()), m_links(links) {}

  std::string write(std::size_t targetBytes) {
    m_out.reserve(targetBytes + 4096);
    m_out +=
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<title>River market: today's weather</title>\n"
        "<link rel=\"stylesheet\" href=\"/css/site.css\">\n"
        "<script>window.config = {\"section\": \"weather\", \"river\": true};</script>\n"
        "</head>\n<body class=\"page page-home\">\n";
    while (m_out.size() < targetBytes) block();
    m_out += "</body></html>\n";
    return std::move(m_out);
  }

 private:
  // A few words, now and then a keyword (about one in 33).
  void words(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (i) m_out += ' ';
      if (m_random.below(1000) < 30) {
        m_out += casing(m_random, pick(m_random, m_keywords));
      } else {
        m_out += plainWords[m_random.below(plainWords.size())];
      }
    }
  }

  void number(std::size_t below) { m_out += std::to_string(m_random.below(below)); }

  // An element of class `name` holding a few words: a span, or in a page
  // of links, `percent` times in 100, a link, to an address relative,
  // rooted, absolute or with a query and a fragment.
  void box(std::string_view name, std::size_t count, unsigned percent = 0) {
    if (!m_links || !m_random.chance(percent)) {
      m_out += "<span class=\"";
      m_out += name;
      m_out += "\">";
      words(count);
      m_out += "</span>";
      return;
    }
    m_out += "<a class=\"";
    m_out += name;
    m_out += "\" href=\"";
    switch (m_random.below(4)) {
      case 0: m_out += "../topics/"; break;
      case 1: m_out += "/user/"; break;
      case 2: m_out += "https://cdn.example.net/go/"; break;
      default: m_out += "/search?ref=home&amp;id="; break;
    }
    number(100000);
    if (m_random.chance(20)) m_out += "#comments";
    m_out += "\">";
    words(count);
    m_out += "</a>";
  }

  void card() {
    m_out += "<div class=\"card card-";
    number(50);
    m_out += "\"><div class=\"card-media\"><img src=\"/img/";
    number(100000);
    m_out += ".jpg\" alt=\"\" width=\"320\" height=\"180\"></div><div class=\"card-body\">";
    m_out += "<h3 class=\"card-title\"><a href=\"/item/";
    number(100000);
    m_out += "\" class=\"card-link\">";
    words(2 + m_random.below(4));
    m_out += "</a></h3><p class=\"card-text\">";
    box("badge", 1, 100);
    m_out += ' ';
    words(12 + m_random.below(20));
    m_out += "</p><div class=\"card-meta\"><span class=\"icon icon-time\"></span>";
    box("meta", 1);
    m_out += "<span class=\"icon icon-user\"></span>";
    box("meta", 1);
    m_out += "</div></div></div>\n";
  }

  void menu() {
    m_out += "<nav class=\"menu\"><div class=\"menu-inner\"><ul class=\"menu-list\">";
    for (std::size_t i = 0, n = 3 + m_random.below(4); i < n; ++i) {
      m_out += "<li class=\"menu-item\"><a class=\"menu-link\" href=\"/";
      m_out += plainWords[m_random.below(plainWords.size())];
      m_out += "\"><span>";
      words(1);
      m_out += "</span></a></li>";
    }
    m_out += "</ul></div></nav>\n";
  }

  void block() {
    const std::size_t kind = m_random.below(100);
    if (kind < 4) {
      menu();
    } else if (kind < 58) {
      card();
    } else if (kind < 95) {
      m_out += "<div class=\"row\"><div class=\"col\"><div class=\"box\"><div class=\"inner\">";
      box("label", 8 + m_random.below(12), 40);
      m_out += "<button class=\"btn\" type=\"button\"><i class=\"icon\"></i></button>"
               "</div></div></div></div>\n";
    } else {
      m_out += "<script>track(\"weather\", ";
      number(1000);
      m_out += ");</script><!-- river glint -->\n";
    }
  }

  Random m_random;
  const std::vector<std::string>& m_keywords;
  bool m_links;
  std::string m_out;
};

}  // namespace

const std::vector<std::string>& generatedPageKeywords() {
  static const std::vector<std::string> keywords = {"weather", "glint", "river",  "market",
                                                    "station", "north", "café"};
  return keywords;
}

std::string generatePage(std::size_t targetBytes, std::uint32_t seed, PageShape shape) {
  if (shape != PageShape::text) return DensePageWriter(seed, shape == PageShape::links).write(targetBytes);
  return PageWriter(seed).write(targetBytes);
}

}  // namespace glintmark::html
