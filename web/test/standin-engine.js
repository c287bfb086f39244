// TEMPORARY stand-in for build/wasm/web/glintmark-engine.js, to develop the
// harness before the engine lands; removed once it is there.
var GlintmarkEngine = {
  async create({ prefer = 'auto' } = {}) {
    let kind = 'js';
    if (prefer !== 'js') {
      try { await WebAssembly.compile(new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0])); kind = 'wasm'; } catch (e) { if (prefer === 'wasm') throw e; }
    }
    return {
      kind,
      highlightDocument(doc, { options = 13, url = doc.URL, referrer = doc.referrer, savedSearchText = null } = {}) {
        const palette = ['#ffff66', '#a0ffff', '#99ff99', '#9acd32', '#ee82ee', '#ff8c00'];
        const q = (u) => { const m = /[?&]q=([^&]*)/.exec(u || ''); return m ? m[1] : null; };
        let text = q(url), source = 'url';
        if (!text) { text = q(referrer); source = 'referrer'; }
        if (!text) { text = savedSearchText; source = 'saved'; }
        if (!text) return { status: 0, savedSearchText: null, source: 'none', text: null, fromTitle: false, keywords: [], tooltips: 0 };
        const keywords = text.split('+').filter(Boolean).map((word, i) => ({ word: word.toLowerCase(), colour: palette[Math.min(i, 5)], spans: 0 }));
        for (const k of keywords) {
          const walker = doc.createTreeWalker(doc.body, NodeFilter.SHOW_TEXT, { acceptNode: (n) => n.parentElement.closest('script,style,textarea,select,noscript,svg,math') ? 2 : 1 });
          const nodes = []; while (walker.nextNode()) nodes.push(walker.currentNode);
          for (let node of nodes) {
            let at;
            while (node && (at = node.data.toLowerCase().indexOf(k.word)) >= 0) {
              const range = doc.createRange(); range.setStart(node, at); range.setEnd(node, at + k.word.length);
              const span = doc.createElement('span'); span.setAttribute('style', 'color:black;background-color:' + k.colour);
              range.surroundContents(span); k.spans++;
              node = span.nextSibling && span.nextSibling.nodeType === 3 ? span.nextSibling : null;
            }
          }
        }
        return { status: 0, savedSearchText: source === 'url' ? text : savedSearchText, source, text, fromTitle: false, keywords, tooltips: 0 };
      },
    };
  },
};
