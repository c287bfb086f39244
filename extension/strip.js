// GlintmarkStrip: the marks beside the scrollbar of the top document. A
// strip 8 px wide, fixed at the viewport's right edge, in a closed shadow
// root: one line per marked block (the nearest ancestor of a mark that is not
// laid out inline, from a shadow tree up to its host) in its first mark's
// colour, at the block's height in the document scaled to the viewport's.
// Only the lines take the pointer; a click on one scrolls the block to the
// middle. Drawn first in the frame that shows a whole pass's marks, then
// again after each pass (the marks registry's change) and when the page
// resizes, at most every THROTTLE_MS; hidden on a page too short to
// scroll and when the option "marksStrip" is off (the worker gives it with
// the document's pass, and again whenever it changes).
(function (global) {
  'use strict';

  const WIDTH = 8;
  const LINE = 4;
  const THROTTLE_MS = 250;

  let host = null, root = null, enabled = true, pending = 0, lastDrawn = 0, shown = '', drawnHeight = -1;
  const LINE_RULE = `div { position: absolute; right: 0; width: ${WIDTH}px; height: ${LINE}px; ` +
    'box-shadow: 0 0 0 1px rgba(0,0,0,.35); pointer-events: auto; cursor: pointer; }';

  function make() {
    host = document.createElement('glintmark-strip');
    host.style.cssText = `all: initial !important; position: fixed !important; top: 0 !important;` +
      ` right: 0 !important; width: ${WIDTH}px !important; height: 100vh !important;` +
      ` pointer-events: none !important; z-index: 2147483647 !important; display: block !important;` +
      // Laid out on its own (the page's layout is not asked again for it;
      // not clipped, the lines' outlines reach past it), in the page's own
      // font (no other font to look up for a strip that shows no text).
      ' contain: size layout style !important; font: inherit !important;';
    root = host.attachShadow({mode: 'closed'});
    const sheet = new window.CSSStyleSheet();
    sheet.replaceSync(LINE_RULE);
    root.adoptedStyleSheets = [sheet];
    root.addEventListener('click', (event) => {
      const y = Number(event.target?.dataset?.y);
      if (!Number.isFinite(y)) return;
      const smooth = !global.matchMedia('(prefers-reduced-motion: reduce)').matches;
      global.scrollTo({top: Math.max(0, y - global.innerHeight / 2), behavior: smooth ? 'smooth' : 'instant'});
    });
  }

  const up = GlintmarkShadows.parentOf;
  const blockOf = (node, cache) => {
    let element = node.nodeType === 1 ? node : up(node);
    const start = element;
    while (element && element !== document.body) {
      const known = cache.get(element);
      if (known) return known;
      const display = getComputedStyle(element).display;
      if (!display.startsWith('inline') && display !== 'contents') break;
      element = up(element);
    }
    const block = element ?? document.body;
    if (start) cache.set(start, block);
    return block;
  };

  // [{y, colour}]: each marked block's top in the document, in pixels.
  function lines() {
    const seen = new Map(), cache = new Map();
    const scrolled = global.scrollY;
    for (const mark of GlintmarkMarks.marks) {
      const node = mark.range.startContainer;
      if (!node.isConnected) continue;
      const block = blockOf(node, cache);
      if (seen.has(block)) continue;
      const box = block.getBoundingClientRect();
      if (!box.height && !box.width) continue;  // not rendered
      seen.set(block, {y: box.top + scrolled, colour: mark.colour});
    }
    return [...seen.values()];
  }

  function draw() {
    lastDrawn = performance.now();
    pending = 0;
    const docHeight = drawnHeight = document.documentElement.scrollHeight;
    const view = global.innerHeight;
    const marks = enabled && docHeight > view ? lines() : [];
    if (!marks.length) {
      host?.remove();
      shown = '';
      return;
    }
    if (!host) make();
    if (!host.isConnected) document.documentElement.appendChild(host);
    // One line per place and colour, made again only when they differ from
    // those shown (a page that resizes as its images arrive is drawn again
    // and again, mostly to the same lines).
    const placed = new Set();
    const drawn = [];
    for (const {y, colour} of marks) {
      const top = Math.min(view - LINE, Math.round((y / docHeight) * view));
      const key = `${top} ${colour}`;
      if (placed.has(key)) continue;
      placed.add(key);
      drawn.push({top, y: Math.round(y), colour});
    }
    const signature = drawn.map(({top, y, colour}) => `${top} ${y} ${colour}`).join();
    if (signature === shown) return;
    shown = signature;
    // Styled through the style object and a sheet of our own, which a
    // page's Content-Security-Policy does not govern (style attributes and
    // elements it may).
    const out = document.createDocumentFragment();
    for (const {top, y, colour} of drawn) {
      const line = document.createElement('div');
      line.setAttribute('data-y', String(y));
      line.style.top = `${top}px`;
      line.style.backgroundColor = colour;
      out.appendChild(line);
    }
    root.replaceChildren(out);
  }

  // Draws at the end of the current THROTTLE_MS, when the page is next idle:
  // the lines read the page's layout, which is then up to date (read
  // while the page is busy changing, it would be computed for us, and again
  // for the frame). Asking for an animation frame instead would have the
  // page render one more frame for nothing. A tab in the background is not
  // drawn for: its strip waits until it is shown.
  const whenIdle = (then) => {
    if (document.visibilityState === 'hidden') {
      document.addEventListener('visibilitychange', () => whenIdle(then), {once: true});
    } else if (typeof global.requestIdleCallback === 'function') {
      global.requestIdleCallback(then, {timeout: 1000});
    } else {
      setTimeout(then);
    }
  };
  // `pending`: the drawing scheduled (a number of its own), 0 when none;
  // one made meanwhile drops it.
  let drawings = 0;
  function schedule() {
    if (pending) return;
    const wait = Math.max(0, THROTTLE_MS - (performance.now() - lastDrawn));
    const due = pending = ++drawings;
    setTimeout(() => whenIdle(() => {
      if (pending === due) draw();
    }), wait);
  }
  // The marks changed; `inFrame`: read in an animation frame, the one that
  // shows them. A strip not yet shown is drawn then: the page's layout is
  // read where the frame computes it anyway, and the strip is rendered in
  // that frame (a frame of its own costs the whole page's paint again).
  const changed = (marks, inFrame) => {
    if (inFrame && shown === '' && enabled) draw();
    else schedule();
  };

  // `on`, the option as the worker gave it with the pass.
  function start(on = true) {
    // window, not the global: in Firefox a content script's global is a
    // sandbox in front of the page's window, never its top.
    if (window.top !== window) return;
    enabled = on;
    schedule();
    chrome.runtime.onMessage.addListener((message, sender) => {
      if (sender.id !== chrome.runtime.id || sender.tab || message?.type !== 'marksStrip') return false;
      enabled = message.on !== false;
      schedule();
      return false;
    });
    GlintmarkMarks.onChange(changed);
    global.addEventListener('resize', schedule);
    // (A ResizeObserver tells of the size the body has when observed first:
    // no change, unless the document's height differs from the strip's.)
    let observed = false;
    if (document.body) {
      new ResizeObserver(() => {
        if (observed || document.documentElement.scrollHeight !== drawnHeight) schedule();
        observed = true;
      }).observe(document.body);
    }
  }

  // Draws at once (for tests); answers the lines' tops and colours.
  function drawNow() {
    draw();
    return root && host.isConnected ? [...root.children].map((line) => ({top: parseFloat(line.style.top),
      y: Number(line.dataset.y), colour: line.style.backgroundColor})) : [];
  }

  global.GlintmarkStrip = Object.freeze({start, drawNow});
})(globalThis);
