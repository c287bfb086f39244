// A stand-in for build/wasm/web/glintmark-engine.js while the real engine is
// not built here: the same global and call shape, a rough choice of the text
// (URL, referrer, saved text, title) and whole-word spans over text nodes.
// Only for bringing up the harness; the tests' comparisons need the real one.
var GlintmarkEngine = {
  async create() {
    const colours = ['#ffff66', '#a0ffff', '#99ff99', '#ff9999', '#ff66ff', '#ff8c00'];
    const query = (address) => {
      const m = /[?&]q=([^&#]*)/.exec(address || '');
      return m ? m[1].toLowerCase() : null;
    };
    return {
      kind: 'js',
      highlightDocument(doc, {options = 13, savedSearchText = null, url = doc.URL, referrer = doc.referrer} = {}) {
        const report = {status: 0, savedSearchText, source: 'none', text: null, fromTitle: false, keywords: [], tooltips: 0};
        if (options & 8) for (const a of doc.querySelectorAll('a[href]')) { a.title = a.href; report.tooltips++; }
        let text = query(url);
        if (text) { report.savedSearchText = text; if (!(options & 2)) return report; report.source = 'url'; }
        else if (referrer) { text = query(referrer); report.source = text ? 'referrer' : 'saved'; text = text || savedSearchText; }
        else { report.savedSearchText = null; text = options & 1 ? doc.title.toLowerCase() : null; report.source = 'title'; }
        if (!text || !doc.body) return report;
        report.text = text;
        text.split(/[+\s]+/).filter(Boolean).forEach((word, i) => {
          const keyword = {word, colour: colours[Math.min(i, 5)], spans: 0};
          report.keywords.push(keyword);
          const walker = doc.createTreeWalker(doc.body, NodeFilter.SHOW_TEXT);
          const nodes = [];
          while (walker.nextNode()) nodes.push(walker.currentNode);
          for (let node of nodes) {
            for (let at; (at = node.data.toLowerCase().search(new RegExp(`\\b${word}\\b`))) >= 0;) {
              const match = node.splitText(at);
              node = match.splitText(word.length);
              const span = doc.createElement('span');
              span.setAttribute('style', `color:black;background-color:${keyword.colour}`);
              match.replaceWith(span);
              span.append(match);
              keyword.spans++;
            }
          }
        });
        return report;
      },
    };
  },
};
