// GlintmarkMarks: the marks of this document, in document order, with their
// word and colour, whichever painter made them: the CSS highlights painter
// (one highlight per colour in CSS.highlights, named glintmark-RRGGBB or
// glintmark-RRGGBB-DEPTH for a match inside another, holding ranges over the
// page's text nodes) or the spans painter (span[style^="color:black;
// background-color:"]). Read again after each burst of passes (refresh):
// with the highlights painter, by following its edits (a whole pass's marks
// as it made them, others placed among those known); else read whole.
//
// It also shows the current mark, the one the user stepped to: scrolled to
// the middle of its scroller (smoothly unless the user prefers reduced
// motion), painted by a highlight of its own, glintmark-current (black under
// the word's colour, underlined), above the marks, whichever painter ran,
// and announced through a live region in a closed shadow root.
(function (global) {
  'use strict';

  const SPANS = 'span[style^="color:black;background-color:"]';
  const SPAN_COLOUR = /background-color\s*:\s*(#[0-9a-f]{6})/i;
  const NAME = /^glintmark-([0-9a-f]{6})(?:-(\d+))?$/;
  const CURRENT = 'glintmark-current';
  const REFRESH_MS = 100;
  // A reading waits at least this many times what the last one took: on a
  // long page with many marks (a reading of 12,000 marks takes 10-20 ms)
  // that keeps changing them (a ticker, a chat), the readings take at most
  // a twentieth of the page's time, the strip and counts following a little
  // later.
  const READ_SHARE = 20;
  // The most marks of a whole pass read in the frame that shows them.
  const FRAME_READ_MAX = 2000;

  let marks = [];        // [{colour, range: StaticRange or Range-like {startContainer...}, element?}]
  let keywords = [];     // the pass's [{word, colour}]
  let current = -1;
  let lastReport = null;
  const listeners = [];

  // Where a node is in its document, to order ranges: -1 when a precedes b.
  // A node in a shadow tree is where its host is, after the host's start
  // (the two trees' nodes do not compare directly).
  function order(a, aOffset, b, bOffset) {
    if (a === b) return aOffset - bOffset;
    if (a.getRootNode() !== b.getRootNode()) {
      const hosts = (node) => {
        const chain = [node];
        for (let root = node.getRootNode(); root.host; root = root.host.getRootNode()) chain.push(root.host);
        return chain;
      };
      const aHosts = hosts(a), bHosts = hosts(b);
      for (const x of aHosts) {
        const y = bHosts.find((node) => node.getRootNode() === x.getRootNode());
        if (!y) continue;
        if (x === y) return x === a ? -1 : 1;  // the host comes before what it holds
        a = x;
        b = y;
        break;
      }
    }
    return a.compareDocumentPosition(b) & Node.DOCUMENT_POSITION_FOLLOWING ? -1 : 1;
  }
  // The open shadow roots the passes searched (content_script.js gives
  // them); one whose host left the page is forgotten.
  const shadowRoots = new Set();

  function fromHighlights() {
    const found = [];
    // Firefox gives a content script the page's registry and highlights
    // through wrappers that make no iterators: iterated unwrapped there, each
    // range wrapped again (the page's own objects refuse the script's: its
    // nodes would not equal the script's `document`, scrollIntoView would
    // not read its options).
    const unwrap = global.XPCNativeWrapper?.unwrap ?? ((object) => object);
    const wrap = global.XPCNativeWrapper ?? ((object) => object);
    const registry = global.CSS?.highlights;
    if (!registry) return found;
    for (const [name, highlight] of unwrap(registry)) {
      const parts = NAME.exec(name);
      if (!parts) continue;
      const colour = `#${parts[1]}`;
      for (const unwrapped of unwrap(highlight)) {
        const range = wrap(unwrapped);
        if (!range.startContainer.isConnected || range.collapsed) continue;
        found.push({colour, range, depth: Number(parts[2] ?? 0)});
      }
    }
    // Each mark's text node and offset read once, not at each comparison.
    const position = textPositions(found);
    const keys = found.map((mark, i) => {
      const node = mark.range.startContainer;
      return {i, node, offset: mark.range.startOffset, at: position.get(node) ?? -1};
    });
    keys.sort((x, y) => (x.at >= 0 && y.at >= 0 ? x.at - y.at || x.offset - y.offset
      : order(x.node, x.offset, y.node, y.offset)) || found[x.i].depth - found[y.i].depth);
    return keys.map((key) => found[key.i]);
  }

  // Each mark's text node's place among the document's text nodes, in one
  // walk, where the marks are many: comparing two nodes' places in the
  // document (compareDocumentPosition) climbs both to their common ancestor
  // and scans its children, and a sort of a 1 MB page's marks took hundreds
  // of ms that way. Text in shadow trees is not in the walk: compared the
  // slow way.
  function textPositions(found) {
    const position = new Map();
    if (found.length < 32) return position;
    const wanted = new Set(found.map((mark) => mark.range.startContainer));
    const walker = document.createTreeWalker(document, 4 /* NodeFilter.SHOW_TEXT */);
    for (let i = 0; walker.nextNode(); ++i) if (wanted.has(walker.currentNode)) position.set(walker.currentNode, i);
    return position;
  }

  function fromSpans() {
    const spans = [...document.querySelectorAll(SPANS)];
    let inShadows = false;
    for (const root of shadowRoots) {
      if (!root.host.isConnected) {
        shadowRoots.delete(root);
        continue;
      }
      const inside = root.querySelectorAll(SPANS);
      if (inside.length) spans.push(...inside);
      inShadows ||= inside.length > 0;
    }
    if (inShadows) spans.sort((a, b) => order(a, 0, b, 0));
    return spans.map((span) => {
      const colour = (SPAN_COLOUR.exec(span.getAttribute('style'))?.[1] ?? '').toLowerCase();
      return {colour, element: span,
        range: {startContainer: span, startOffset: 0, endContainer: span, endOffset: span.childNodes.length}};
    });
  }

  // The word (keyword index) of a colour: the first keyword of that colour.
  const wordOf = (colour) => keywords.findIndex((k) => k.colour === colour);

  // Reads the marks again, once for a burst of passes (the incremental
  // passes of a page that keeps changing come in bursts); `report`, the
  // latest whole pass's report, gives the words (an incremental pass's
  // leaves them as they are: pass none). Tells the worker the frame's count
  // of marks for the badge, where it does not have it already.
  // `counted`: the count of a whole pass's marks the worker has for the
  // badge already (the pass's report's), until the next reading.
  let refreshing = 0, whole = false, signature = '', counted = null;
  function refresh(report) {
    if (report) {
      lastReport = report;
      whole = true;
      wholeDue = true;
      counted = report.counted ?? null;
    }
    if (report?.keywords) keywords = report.keywords.map(({word, colour}) => ({word, colour: colour.toLowerCase()}));
    if (refreshing) return;
    const due = refreshing = setTimeout(read, Math.max(REFRESH_MS, READ_SHARE * lastReadMs));
    // In the top document a whole pass's marks, when few, are read in the
    // frame that shows them if that comes first (a reading of a fresh pass
    // follows the painter's list: linear), so that the strip drawn from
    // them is rendered in that frame too, not in one more of its own.
    if (report && window.top === window && (report.counted ?? Infinity) <= FRAME_READ_MAX) {
      requestAnimationFrame(() => {
        if (refreshing !== due) return;
        clearTimeout(due);
        read(true);
      });
    }
  }

  let readMs = 0;  // the time spent reading them, for the benchmarks
  let lastReadMs = 0;
  function read(inFrame = false) {
    const started = performance.now();
    try {
      readMarks(inFrame);
    } finally {
      lastReadMs = performance.now() - started;
      readMs += lastReadMs;
    }
  }

  // Where the painter's edits come from (content_script.js sets it): a
  // function that answers the marks added and taken away since it was last
  // called. The marks are then read whole only where the edits cannot be
  // followed cheaply (see applyEdits): a reading of all the marks (the
  // registry's highlights, each mark's place in the document, a sort) takes
  // 10-20 ms for 12,000 marks, where following a page's few edits takes
  // microseconds.
  let takeEdits = null;
  let fromPainter = false;  // whether the marks are the painter's highlights
  let wholeDue = true;      // whether the next reading is a whole one

  // The marks with the painter's edits applied (a new array: the listeners
  // may keep the one they were given); false where they cannot be (read
  // them whole then). Edits that are `fresh` start from no mark (the
  // painter was cleared): the first `base` marks added, a whole pass's, are
  // in document order already.
  function applyEdits(edits) {
    if (edits.whole || !(fromPainter || edits.fresh)) return false;
    const {added, removed} = edits;
    const base = edits.fresh ? edits.base : 0;
    // A mark added and taken away since the last reading is not among the
    // marks; the others are found by their place (in Firefox the registry
    // gives other wrappers of the same ranges than the painter).
    const addedRanges = new Set(added.map((mark) => mark.range));
    const gone = new Map();
    for (const range of removed) {
      if (addedRanges.delete(range) || edits.fresh) continue;
      const list = gone.get(range.startContainer);
      if (list) list.push(range);
      else gone.set(range.startContainer, [range]);
    }
    const markOf = ({name, range}) => {
      if (!addedRanges.has(range) || !range.startContainer.isConnected || range.collapsed) return null;
      const parts = NAME.exec(name);
      return parts && {colour: `#${parts[1]}`, range, depth: Number(parts[2] ?? 0)};
    };
    let next = marks;
    if (edits.fresh) {
      next = [];
      for (let i = 0; i < base; ++i) {
        const mark = markOf(added[i]);
        if (mark) next.push(mark);
      }
    } else if (gone.size) {
      next = marks.filter(({range}) => {
        const list = gone.get(range.startContainer);
        const i = list ? list.findIndex((r) => r.startOffset === range.startOffset &&
          r.endContainer === range.endContainer && r.endOffset === range.endOffset) : -1;
        if (i < 0) return true;
        list.splice(i, 1);
        return false;
      });
    } else {
      next = marks.slice();
    }
    // Each added mark goes where the one before it went, if it belongs there
    // (a pass's marks come in document order: text appended to a page goes
    // after the last mark, one comparison each), else where a binary search
    // puts it. Comparing two places in the document is the cost: past a
    // budget of them, a whole reading is cheaper.
    let comparisons = 0;
    const budget = 1024 + 4 * (next.length + added.length - base);
    const compare = (a, b) => {
      ++comparisons;
      return order(a.range.startContainer, a.range.startOffset, b.range.startContainer, b.range.startOffset) ||
        a.depth - b.depth;
    };
    let hint = -1;
    for (let i = base; i < added.length; ++i) {
      const mark = markOf(added[i]);
      if (!mark) continue;
      let at = hint;
      if (at < 0 || (at > 0 && compare(next[at - 1], mark) > 0) || (at < next.length && compare(next[at], mark) <= 0)) {
        let low = 0, high = next.length;
        while (low < high) {
          const middle = (low + high) >> 1;
          if (compare(next[middle], mark) <= 0) low = middle + 1;
          else high = middle;
        }
        at = low;
      }
      if (comparisons > budget) return false;
      if (at === next.length) next.push(mark);
      else next.splice(at, 0, mark);
      hint = at + 1;
    }
    marks = next;
    return true;
  }

  // Tells the worker this frame's count of marks (the badge's part of it).
  const tell = () => chrome.runtime.sendMessage({type: 'marksChanged', count: marks.length}).catch(() => {});
  // A page brought back from the browser's cache: the badge counts it again.
  window.addEventListener('pageshow', (event) => {
    if (event.persisted && signature !== '') tell();
  });

  function readMarks(inFrame) {
    refreshing = 0;
    const edits = takeEdits?.() ?? {whole: true};
    const was = marks[current];
    if ((wholeDue && !edits.fresh) || !applyEdits(edits)) {
      const spans = fromSpans();
      fromPainter = !spans.length && takeEdits !== null;
      marks = spans.length ? spans : fromHighlights();
    } else {
      fromPainter = true;
    }
    wholeDue = false;
    current = was ? marks.findIndex((m) => m.range.startContainer === was.range.startContainer &&
      m.range.startOffset === was.range.startOffset) : -1;
    if (current < 0) clearCurrent();
    // The page changed something that left the marks as they were (the
    // usual incremental pass): nobody is told.
    const now = marks.map((m) => m.colour).join();
    if (!whole && now === signature) return;
    // A frame that had no mark and has none changes no count on the badge,
    // nor does a whole pass's count the worker kept when it answered: the
    // worker is not told (a message less for each frame of a page). The
    // popup and the commands ask every frame anyway.
    const unchanged = (now === '' && signature === '' && window.top !== window) || counted === marks.length;
    whole = false;
    signature = now;
    counted = null;
    for (const listener of listeners) listener(marks, inFrame);
    if (!unchanged) tell();
  }

  // Marks per word (keyword index; -1 for a colour no keyword has).
  function counts() {
    const out = keywords.map(() => 0);
    for (const mark of marks) {
      const word = wordOf(mark.colour);
      if (word >= 0) out[word]++;
    }
    return out;
  }

  // The child frames' elements in document order: each one's address (the
  // worker matches them with the tab's frames) and how many marks come
  // before it.
  function childFrames() {
    const out = [];
    for (const frame of document.querySelectorAll('iframe, frame')) {
      let before = 0, hi = marks.length;
      while (before < hi) {  // the first mark after the frame element
        const mid = (before + hi) >> 1;
        if (order(marks[mid].range.startContainer, marks[mid].range.startOffset, frame, 0) < 0) before = mid + 1;
        else hi = mid;
      }
      // A frame without an address of its own is known to the browser by its
      // content's: about:srcdoc or about:blank.
      out.push({url: frame.hasAttribute('srcdoc') ? 'about:srcdoc' : frame.src || 'about:blank', before});
    }
    return out;
  }

  // What the worker gathers from each frame: the word of each mark in order,
  // the child frames' places among them, the words and where the search came from.
  function summary(report = lastReport) {
    return {words: marks.map((m) => wordOf(m.colour)), frames: childFrames(), keywords,
      source: report?.source ?? null, fromTitle: report?.fromTitle ?? false};
  }

  // --- The current mark ----------------------------------------------------

  let sheet = null;
  function currentStyle(colour) {
    sheet ??= new CSSStyleSheet();
    sheet.replaceSync(`::highlight(${CURRENT}) { color: ${colour} !important; background-color: #000 !important;` +
      ` text-decoration: underline 3px ${colour} !important; }`);
    for (const root of new Set([document, marks[current]?.range.startContainer.getRootNode()])) {
      if (root?.adoptedStyleSheets && !root.adoptedStyleSheets.includes(sheet)) {
        root.adoptedStyleSheets = [...root.adoptedStyleSheets, sheet];
      }
    }
  }

  function clearCurrent() {
    current = -1;
    global.CSS?.highlights?.delete(CURRENT);
  }

  // Live region for screen readers, in a closed shadow root of an element
  // of ours, fixed and empty to the eye: the page's layout stays as it is.
  let live = null;
  function announce(text) {
    if (!live) {
      const host = document.createElement('glintmark-announcer');
      host.setAttribute('style', 'all: initial !important; position: fixed !important; width: 1px !important;' +
        ' height: 1px !important; overflow: hidden !important; clip-path: inset(50%) !important;' +
        ' top: 0 !important; left: 0 !important;');
      live = host.attachShadow({mode: 'closed'}).appendChild(document.createElement('div'));
      live.setAttribute('role', 'status');
      live.setAttribute('aria-live', 'polite');
      document.documentElement.appendChild(host);
    }
    live.textContent = text;
  }

  const up = GlintmarkShadows.parentOf;

  // Whether `element` is rendered and visible (in a closed menu or an
  // inactive tab it is not).
  const visible = (element) => typeof element.checkVisibility !== 'function' ||
    element.checkVisibility({visibilityProperty: true});

  // Opens what folds `element` away as the browser's find in page does: a
  // closed <details> (not for its summary, which shows), an element hidden
  // "until-found" (told with a beforematch event first, as the browser
  // tells it); not where what holds them is hidden anyway.
  function unfold(element) {
    const folds = [];
    for (let at = element, child = null; at; child = at, at = up(at)) {
      if ((at.localName === 'details' && !at.open && child?.localName !== 'summary') ||
          at.getAttribute('hidden') === 'until-found') {
        folds.push(at);
      }
    }
    const outside = folds.length ? up(folds.at(-1)) : null;
    if (!folds.length || (outside && !visible(outside))) return;
    for (const at of folds) {
      if (at.localName === 'details') {
        at.open = true;
      } else {
        at.dispatchEvent(new (at.ownerDocument.defaultView?.Event ?? Event)('beforematch', {bubbles: true}));
        at.removeAttribute('hidden');
      }
    }
  }

  // Makes mark `index` the current one: scrolled to, painted, announced
  // (`position` and `total` count over the whole tab). False when there is
  // no such mark, or it is not shown (once what folds it away is opened).
  function show(index, position, total) {
    const mark = marks[index];
    if (!mark || !mark.range.startContainer.isConnected) return false;
    const {startContainer, startOffset, endContainer, endOffset} = mark.range;
    const element = mark.element ?? (startContainer.nodeType === 1 ? startContainer : startContainer.parentElement);
    let range = null;
    try {
      range = document.createRange();
      range.setStart(startContainer, startOffset);
      range.setEnd(endContainer, endOffset);
    } catch (e) {
      range = null;  // offsets past the text's end: the page shortened it
    }
    if (!element) return false;
    unfold(element);
    if (!visible(element) || !(range ?? element).getClientRects().length) return false;
    current = index;
    if (global.Highlight && global.CSS?.highlights) {
      const highlight = new Highlight(new StaticRange({startContainer, startOffset, endContainer, endOffset}));
      highlight.priority = 1000;
      CSS.highlights.set(CURRENT, highlight);
      currentStyle(mark.colour);
    }
    const smooth = !global.matchMedia('(prefers-reduced-motion: reduce)').matches;
    element.scrollIntoView({block: 'center', inline: 'nearest', behavior: smooth ? 'smooth' : 'instant'});
    // The text as shown; the word when the page shortened the text under a
    // range since the pass.
    const text = range?.toString() || (keywords[wordOf(mark.colour)]?.word ?? '');
    announce(`${text}: mark ${position ?? index + 1} of ${total ?? marks.length}`);
    return true;
  }

  // The worker's questions: this frame's summary, show a mark, drop the current one.
  chrome.runtime.onMessage.addListener((message, sender, reply) => {
    if (sender.id !== chrome.runtime.id || sender.tab) return false;
    if (message?.type === 'marksSummary') reply(summary());
    else if (message?.type === 'showMark') reply(show(message.index | 0, message.position, message.total));
    else if (message?.type === 'clearMark') reply(clearCurrent());
    else return false;
    return false;
  });

  global.GlintmarkMarks = Object.freeze({
    refresh, counts, summary, show, clearCurrent,
    get marks() { return marks; },
    get keywords() { return keywords; },
    get current() { return current; },
    get readMs() { return readMs; },
    // Where the painter's edits come from (see applyEdits).
    followEdits(take) { takeEdits = take; },
    get announced() { return live?.textContent ?? null; },
    onChange(listener) { listeners.push(listener); },
    // A shadow root whose spans are marks too; those known.
    addShadowRoot(root) { shadowRoots.add(root); },
    get shadowRoots() { return [...shadowRoots]; },
  });
})(globalThis);
