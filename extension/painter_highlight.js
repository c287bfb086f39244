// The default painter: marks that leave the page's nodes alone.
//
//   const painter = new GlintmarkHighlightPainter(document);
//   painter.paint(page, GlintmarkMatchRanges.of(request.ops, answer.changes, answer.made));
//   painter.forget(removedNodes);   // marks inside nodes the page took away
//   painter.clear();                // every mark gone
//
// The pass's changes (text nodes split, a span made for each match and the
// matched nodes moved into it) are not made to the page. They are read as
// what they describe (web/match_ranges.js, where the engine runs): each
// span's text, as a range over the page's own text nodes (from the first
// piece of text the span would hold to the last), and its colour; `page`,
// the walk's (GlintmarkPage), gives the nodes by number. Each range goes
// into the CSS Custom Highlight API's highlight
// of its colour (CSS.highlights, one per colour), painted by a
// ::highlight() rule in a style sheet of our own (see HighlightPainter.prepare
// for where it goes and why). Nothing of the page is split, moved or
// added: its layout, its event targets, its editors' content and the text
// nodes its framework keeps stay as they are.
//
// Ranges are StaticRanges: a live Range costs the page something on each of
// its changes (Chromium updates every live range of the document), and the
// incremental passes take marks away where the page changes its text.
(function (global) {
  'use strict';

  // One highlight per colour, and per depth where a keyword's match lies
  // inside another's (painted above it, as a span inside a span is).
  const highlightName = (colour, depth = 0) => `glintmark-${colour.slice(1)}${depth ? `-${depth}` : ''}`;
  // Chromium gives an element's highlight styles to its descendants, shadow
  // trees included, so one rule on the root element paints every mark. A
  // rule for every element makes the browser compute and keep highlight
  // styles for each element (22 MB on a page of 50,000 elements) and costs
  // twice as much to restyle. Gecko (the engine that knows -moz-appearance)
  // does not pass highlight styles down: there the rule is for every element.
  const inherits = !globalThis.CSS?.supports?.('-moz-appearance', 'none');
  const rule = (colour, depth = 0) => `${inherits ? ':root' : ''}::highlight(${highlightName(colour, depth)}) ` +
    `{ color: black !important; background-color: ${colour} !important; }`;
  // The rules a document's sheet starts with when it is adopted at the
  // document's start: each colour the engine gives at the depths nesting
  // usually reaches (others are added when needed).
  const COLOURS = ['#ffff66', '#a0ffff', '#99ff99', '#9acd32', '#ee82ee', '#ff8c00'];
  const DEPTHS = 3;
  // The integers of a match in GlintmarkMatchRanges's ranges (that script
  // runs where the engine runs, not in the page).
  const RANGE_SIZE = 6;
  // Edits noted for the marks registry between two of its readings, at
  // most (a page that adds a long text at once has thousands): past that it
  // reads them all.
  const JOURNAL_MAX = 65536;
  // Each document's sheet, and the highlight names it has rules for.
  const sheets = new WeakMap();
  const ruled = new WeakMap();

  class HighlightPainter {
    constructor(doc) {
      this.doc = doc;
      this.window = doc.defaultView;
      this.highlights = new Map();  // name -> Highlight
      this.ranges = new WeakMap();  // text node -> the ranges starting or ending in it
      this.sheet = HighlightPainter.prepare(doc);
      this.count = 0;
      // The marks added ({name, range}) and the ranges taken away since the
      // journal was last taken (the marks registry follows them), or
      // `whole` where there were too many to note; null until first taken
      // or cleared. After clear() it is `fresh`: the marks are those added
      // since, the first `base` of them a whole pass's in document order.
      this.journal = null;
      this.held = false;
      this.waiting = new Set();  // roots to adopt the sheet when shown
    }

    // While held, new marks stay out of the page's highlight registry and
    // our style sheet out of the roots that will hold them: a document
    // painted in slices is shown once, when its last slice is in, and the
    // page's frames between two slices have nothing new to paint or style.
    hold() {
      this.held = true;
    }

    show() {
      this.held = false;
      for (const root of this.waiting) this.adopt(root);
      this.waiting.clear();
      for (const [name, highlight] of this.highlights) {
        if (this.window.CSS.highlights.get(name) !== highlight) this.window.CSS.highlights.set(name, highlight);
      }
    }

    // The document's sheet of ::highlight() rules, made once. A sheet that
    // arrives after the page was styled, or a rule added to it then, has
    // the whole document styled again (as any change of the root element's
    // inherited style does: a second or more on a page of 50,000 elements).
    // So in Chromium, where the root's rules are all there is, the sheet is
    // adopted at the document's start (`early`, from early_styles.js) with
    // the rules of the usual colours and depths, and the page is styled
    // with them from the first: the root's highlight styles, inherited,
    // cost the page nothing more until a highlight is registered. Otherwise
    // the sheet starts empty and is adopted (by the document, and in
    // Firefox by each shadow root holding marks) when the first marks are
    // shown, with the rules of the names in use.
    static prepare(doc, {early = false} = {}) {
      let sheet = sheets.get(doc);
      if (!sheet) {
        sheet = new doc.defaultView.CSSStyleSheet();
        sheets.set(doc, sheet);
        ruled.set(sheet, new Set());
      }
      if (early && inherits && sheet.cssRules.length === 0) {
        for (const colour of COLOURS) {
          for (let depth = 0; depth < DEPTHS; ++depth) {
            sheet.insertRule(rule(colour, depth), sheet.cssRules.length);
            ruled.get(sheet).add(highlightName(colour, depth));
          }
        }
        doc.adoptedStyleSheets = [...doc.adoptedStyleSheets, sheet];
      }
      return sheet;
    }

    static supported(win) {
      return typeof win.Highlight === 'function' && !!win.CSS?.highlights && typeof win.StaticRange === 'function';
    }

    // Marks the matches of a pass (GlintmarkMatchRanges.of's, over the walk's
    // `page`); answers how many.
    paint(page, matchRanges) {
      const marks = HighlightPainter.marksOf(page, matchRanges);
      this.add(marks, 0, Infinity);
      return marks.length;
    }

    // The matches (GlintmarkMatchRanges.of's) over the nodes of the walk's
    // `page`: a list whose at(i) is {colour, start, startOffset, end,
    // endOffset, depth}, each made when it is painted (a page of a few
    // hundred thousand matches is painted in slices, not read at once).
    static marksOf(page, {ranges, colours}) {
      const nodes = page.nodes;
      return {
        length: ranges.length / RANGE_SIZE,
        at(i) {
          const at = i * RANGE_SIZE;
          return {colour: colours[ranges[at + 4]], start: nodes[ranges[at]], startOffset: ranges[at + 1],
            end: nodes[ranges[at + 2]], endOffset: ranges[at + 3], depth: ranges[at + 5]};
        },
      };
    }

    // Paints marks.at(from...) (marksOf's) until performance.now() passes
    // `deadline` (read every 64 marks); answers where it stopped
    // (marks.length when all are painted), for a document painted in
    // slices.
    // `ordered`: marks of a whole pass in document order (marksOf's), painted
    // into a cleared painter.
    add(marks, from, deadline, ordered = false) {
      const win = this.window;
      const used = new Set();
      const roots = new Set();
      let i = from;
      for (; i < marks.length; ++i) {
        if ((i & 63) === 63 && performance.now() > deadline) break;
        const mark = marks.at(i);
        const name = highlightName(mark.colour, mark.depth);
        let highlight = this.highlights.get(name);
        if (!highlight) {
          const names = ruled.get(this.sheet);
          if (!names.has(name)) {
            this.sheet.insertRule(rule(mark.colour, mark.depth), this.sheet.cssRules.length);
            names.add(name);
          }
          highlight = new win.Highlight();
          highlight.priority = mark.depth;
          this.highlights.set(name, highlight);
        }
        used.add(name);
        const range = new win.StaticRange({startContainer: mark.start, startOffset: mark.startOffset,
          endContainer: mark.end, endOffset: mark.endOffset});
        highlight.add(range);
        this.note(name, range, ordered);
        this.index(mark.start, range, highlight);
        if (mark.end !== mark.start) this.index(mark.end, range, highlight);
        if (!inherits) roots.add(mark.start.getRootNode());
      }
      if (inherits && i > from) roots.add(this.doc);
      // Again each time: the page may have taken them out of the registry,
      // or replaced its adopted style sheets.
      for (const name of this.held ? [] : used) {
        const highlight = this.highlights.get(name);
        if (win.CSS.highlights.get(name) !== highlight) win.CSS.highlights.set(name, highlight);
      }
      for (const root of roots) {
        if (this.held) this.waiting.add(root);
        else this.adopt(root);
      }
      this.count += i - from;
      return i;
    }

    index(node, range, highlight) {
      let list = this.ranges.get(node);
      if (!list) this.ranges.set(node, (list = []));
      list.push(range, highlight);
    }

    // Our style sheet in the document or shadow root, again if the page
    // replaced its list of adopted sheets.
    adopt(root) {
      if (!root.adoptedStyleSheets) return;
      if (root.adoptedStyleSheets.includes(this.sheet)) return;
      try {
        root.adoptedStyleSheets = [...root.adoptedStyleSheets, this.sheet];
      } catch (e) {
        // A root of another document: its marks show unstyled.
      }
    }

    // Takes away the marks in the text of `nodes` and their descendants: text
    // the page removed or changed, or a subtree about to be searched again.
    forget(nodes) {
      const doc = this.doc;
      for (const node of nodes) {
        if (node.nodeType === 3 || node.nodeType === 4) {
          this.forgetText(node);
          continue;
        }
        if (node.nodeType !== 1 && node.nodeType !== 11) continue;
        const walker = doc.createTreeWalker(node, 4 /* NodeFilter.SHOW_TEXT */);
        while (walker.nextNode()) this.forgetText(walker.currentNode);
        // Shadow trees the subtree hosts.
        if (node.nodeType === 1) this.forgetShadow(node);
        for (const host of node.querySelectorAll?.('*') ?? []) this.forgetShadow(host);
      }
    }

    forgetShadow(host) {
      const root = global.GlintmarkShadows?.rootOf(host) ?? host.shadowRoot;
      if (root) this.forget([root]);
    }

    forgetText(node) {
      const list = this.ranges.get(node);
      if (!list) return;
      this.ranges.delete(node);
      for (let i = 0; i < list.length; i += 2) {
        if (list[i + 1].delete(list[i])) {
          this.count--;
          this.note(null, list[i]);
        }
      }
    }

    clear() {
      for (const highlight of this.highlights.values()) highlight.clear();
      this.ranges = new WeakMap();
      this.count = 0;
      this.journal = {added: [], removed: [], whole: false, fresh: true, base: 0};
    }

    // Notes a mark added (with its highlight's name; `ordered` as add's) or
    // a range taken away.
    note(name, range, ordered = false) {
      const journal = this.journal;
      if (!journal || journal.whole) return;
      if (name && ordered && journal.fresh && journal.base === journal.added.length) {
        journal.added.push({name, range});
        journal.base++;
      } else if (journal.added.length - journal.base + journal.removed.length >= JOURNAL_MAX) {
        this.journal = {added: [], removed: [], whole: true};
      } else if (name) {
        journal.added.push({name, range});
      } else {
        journal.removed.push(range);
      }
    }

    // Whether marks were added or taken away since the journal was last
    // taken (before it ever was: it is not kept yet, so perhaps).
    edited() {
      const journal = this.journal;
      return !journal || journal.whole || journal.fresh || journal.added.length > 0 || journal.removed.length > 0;
    }

    // The marks added and taken away since the last time this was asked.
    takeJournal() {
      const journal = this.journal ?? {added: [], removed: [], whole: true};
      this.journal = {added: [], removed: [], whole: false, fresh: false, base: 0};
      return journal;
    }

    // Each mark's colour and text, in document order (for tests).
    static describe(win) {
      const out = [];
      for (const [name, highlight] of win.CSS.highlights) {
        if (!name.startsWith('glintmark-')) continue;
        const depth = Number(name.slice(17)) || 0;
        for (const r of highlight) {
          const range = win.document.createRange();
          try {
            range.setStart(r.startContainer, r.startOffset);
            range.setEnd(r.endContainer, r.endOffset);
          } catch (e) {
            continue;
          }
          out.push({colour: `#${name.slice(10, 16)}`, text: range.toString(), node: r.startContainer,
            offset: r.startOffset, depth});
        }
      }
      out.sort((x, y) => x.node === y.node ? x.offset - y.offset || x.depth - y.depth
        : x.node.compareDocumentPosition(y.node) & 4 /* y follows */ ? -1 : 1);
      return out.map(({colour, text}) => ({colour, text}));
    }
  }

  global.GlintmarkHighlightPainter = HighlightPainter;
})(globalThis);
