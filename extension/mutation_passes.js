// Passes over parts of a page, in slices: the text a page adds or changes
// after the load's pass, or during it (held by pause() until the load's
// pass is painted), and any unmarked roots given to add().
//
//   const passes = new GlintmarkMutationPasses(document, {
//     pass(roots) {...},        // one pass over these roots' text (a root: a
//                               // node, or an array of sibling nodes); may
//                               // answer a promise (an engine elsewhere)
//     removed(nodes) {...},     // the page took these away, or changed their text
//     idle() {...},             // nothing is left to search
//   }, {runs: true});
//   passes.start();  passes.watch(shadowRoot);  passes.ours(() => changeThePage());  passes.stop();
//   passes.changed(host);        // a change no record tells (a shadow root attached)
//   passes.pause();  passes.resume({soon: true});   // hold the batches during a whole pass
//   passes.add([document.body]);   // search these (unmarked yet), in slices, soon
//
// A MutationObserver over the whole document (childList, characterData)
// notes what changed; the first batch after a change runs at the next
// animation frame (or, in a hidden tab, after a short timer), so that a
// burst of changes makes one batch. A batch works within a time budget and
// yields to the page for what is left. It searches only the changed
// subtrees: an added block is searched alone; added or changed text is
// searched with the block that holds it (a match cannot cross a block's
// edge, so the block is the smallest piece of the page whose marks are all
// known again), after that block's old marks are taken away. A root with
// more text than one pass takes is cut at its blocks: each block a root of
// its own, and (with `runs`) each run of other children between them one
// more.
//
// A page that undoes our marks (removes every span it sees, say) cannot make
// us loop: a root the page changes right after our pass over it (within
// ANSWER_MS), STRIKES times within a second, is not searched again; and no
// more than PASSES_PER_SECOND passes run in a second.
(function (global) {
  'use strict';

  const HTML_NS = 'http://www.w3.org/1999/xhtml';
  // The elements the search treats as blocks (no match crosses their edges).
  const BLOCKS = new Set(['address', 'article', 'aside', 'blockquote', 'body', 'caption', 'center', 'dd',
    'details', 'dialog', 'dir', 'div', 'dl', 'dt', 'fieldset', 'figcaption', 'figure', 'footer', 'form',
    'frameset', 'h1', 'h2', 'h3', 'h4', 'h5', 'h6', 'header', 'hgroup', 'hr', 'html', 'legend', 'li',
    'listing', 'main', 'menu', 'nav', 'ol', 'p', 'plaintext', 'pre', 'section', 'summary', 'table', 'tbody',
    'td', 'tfoot', 'th', 'thead', 'tr', 'ul', 'xmp']);
  const BUDGET_MS = 12;            // a batch's time; what is left waits its turn
  const CHARS_PER_PASS = 16384;    // the text one pass takes, where the page can be cut
  const CHARS_PER_SLICE = 65536;   // the same for a slice of unmarked text (fewer round trips)
  const CHURN_MS = 250;            // a place searched this recently waits till then
  const ANSWER_MS = 50;            // a change this soon after our pass answers it
  const STRIKES = 3;               // answers within STRIKE_WINDOW_MS stop the root
  const STRIKE_WINDOW_MS = 1000;
  const PASSES_PER_SECOND = 240;
  const MAX_IN_FLIGHT = 4;         // passes over unmarked text awaiting answers at once

  // Our own elements (the marks strip, the live region): put into the page
  // by the content script, never searched. Without this, the strip added to
  // <html> would have the whole document searched again.
  const isOurs = (node) => node.nodeType === 1 && node.localName.startsWith('glintmark-');
  // An element that shows a shadow tree (open, or closed where the content
  // script can see it) in place of its children.
  const hostsShadow = (element) => (global.GlintmarkShadows?.rootOf(element) ?? element.shadowRoot) !== null;
  const isBlock = (node) => node.nodeType === 1 && BLOCKS.has(node.localName) && node.namespaceURI === HTML_NS;

  // The nearest block holding `node` (itself if it is one); in a shadow tree
  // without one, its host's.
  function blockOf(node) {
    for (let at = node; at; at = at.parentNode) {
      if (isBlock(at)) return at;
      if (at.nodeType === 11) return at.host ? blockOf(at.host) : null;
    }
    return null;
  }

  // The root to search again for a change at `node` (a text node, or an
  // element or text `added` inside a block): the smallest of it and its
  // ancestors within the block that no match can cross, else the block. No
  // match crosses a space, tab or line feed (no keyword holds one, in any
  // code page) or a block's edge: a root is enough when just outside each
  // of its edges there is one of those. The characters outside are read,
  // not those inside (their old text is gone): what is outside did not
  // change, so no old match crossed there either (a neighbour that changed
  // too is noted on its own). A clock ticking among inline elements is then
  // searched alone, not with the whole page its block may be. Where the
  // page around cannot be read for sure (a shadow host, a slot, editable
  // content, too many nodes), the block; an added block, itself; inside
  // what the search does not read, null.
  const EMPTY = -1, EDGE = -2, UNKNOWN = -3;
  const STEPS = 256;  // nodes read beside a change, at most
  const isSpace = (c) => c === 32 || c === 9 || c === 10;
  const hides = (element) => global.GlintmarkPage.hides(element.localName.toLowerCase());
  // Whether the search reads no text inside `node` (it is in a style or
  // script element, say); `known`, the answers for elements met so far in
  // this batch of records.
  function unread(node, known) {
    const path = [];
    let answer = false;
    for (let at = node; at; at = at.parentNode ?? at.host) {
      if (at.nodeType !== 1) continue;
      const cached = known.get(at);
      if (cached !== undefined) {
        answer = cached;
        break;
      }
      path.push(at);
      if (hides(at)) {
        answer = true;
        break;
      }
    }
    for (const element of path) known.set(element, answer);
    return answer;
  }

  // Reads the characters the search reads at the edges of nodes within
  // `block`, STEPS nodes at most.
  function reader(block) {
    let steps = STEPS;
    // The first (or last) character the search reads in `at`: its code,
    // EMPTY when it reads none, EDGE at a block.
    const edgeIn = (at, fromEnd) => {
      if (--steps < 0) return UNKNOWN;
      const type = at.nodeType;
      if (type === 3 || type === 4) {
        const data = at.data;
        return data.length ? data.charCodeAt(fromEnd ? data.length - 1 : 0) : EMPTY;
      }
      if (type !== 1 || isOurs(at)) return EMPTY;
      if (isBlock(at)) return EDGE;
      if (hides(at)) return EMPTY;
      if (hostsShadow(at) || at.localName === 'slot' || at.hasAttribute('contenteditable')) return UNKNOWN;
      for (let child = fromEnd ? at.lastChild : at.firstChild; child;
        child = fromEnd ? child.previousSibling : child.nextSibling) {
        const found = edgeIn(child, fromEnd);
        if (found !== EMPTY) return found;
      }
      return EMPTY;
    };
    // The character the search reads just outside `at` (before it, or after).
    const beside = (at, before) => {
      for (;;) {
        const sibling = before ? at.previousSibling : at.nextSibling;
        if (sibling) {
          const found = edgeIn(sibling, before);
          if (found !== EMPTY) return found;
          at = sibling;
          continue;
        }
        at = at.parentNode;
        if (at === block) return EDGE;
        if (!at || at.nodeType !== 1 || hostsShadow(at) || at.localName === 'slot' ||
            at.hasAttribute('contenteditable') || --steps < 0) {
          return UNKNOWN;
        }
      }
    };
    return {edgeIn, beside};
  }
  const closed = (c) => c === EDGE || isSpace(c);

  function rootOf(node, known = new Map(), added = false) {
    if (unread(node, known)) return null;
    // The usual text of a cell or a paragraph: alone in its block.
    const parent = node.parentNode;
    if (node.nodeType === 3 && parent && isBlock(parent) && !node.previousSibling && !node.nextSibling &&
        !node.assignedSlot) {
      return node;
    }
    const block = blockOf(node);
    if (!block || block === node) return block;
    const {edgeIn, beside} = reader(block);
    for (let at = node; at && at !== block; at = at.parentNode) {
      if ((at.nodeType !== 1 && at.nodeType !== 3 && at.nodeType !== 4) || at.assignedSlot) return block;
      if (at.nodeType === 1 && (hostsShadow(at) || at.localName === 'slot' || at.hasAttribute('contenteditable'))) {
        return block;
      }
      const before = beside(at, true);
      if (before === UNKNOWN) return block;
      const after = beside(at, false);
      if (after === UNKNOWN) return block;
      if (closed(before) && closed(after)) return at;
      // A node just added had no text before: what is outside it was side
      // by side, and no old match crossed there if either side is closed;
      // a new match crosses an edge only where both its sides are letters.
      if (added && at === node && (closed(before) || closed(after))) {
        const shut = (c) => c === EMPTY || closed(c);
        if ((closed(before) || shut(edgeIn(at, false))) && (closed(after) || shut(edgeIn(at, true)))) return at;
      }
    }
    return block;
  }
  // The root to search again where nodes were taken out of `target`
  // between `previous` and `next` (as the record gave them): none where a
  // side of the joint is a space or an edge (no old match went across the
  // nodes taken out, no new one comes across the joint), else the root of a
  // change of `target` (its old marks over the joint go, new words across
  // it are found).
  function joinRoot(target, previous, next, known) {
    // Taken out at a block's start or end: that side is its edge.
    if ((!previous || !next) && isBlock(target)) return null;
    if (!target.isConnected || unread(target, known)) return null;
    const block = blockOf(target);
    if (!block) return null;
    const {edgeIn, beside} = reader(block);
    const side = (sibling, before) => {
      if (!sibling) return target === block ? EDGE : beside(target, before);
      if (sibling.parentNode !== target) return UNKNOWN;
      const found = edgeIn(sibling, before);
      return found === EMPTY ? beside(sibling, before) : found;
    };
    if (closed(side(previous, true)) || closed(side(next, false))) return null;
    return rootOf(target, known);
  }


  const textLength = (root) => Array.isArray(root)
    ? root.reduce((n, node) => n + (node.textContent?.length ?? 0), 0) : root.textContent?.length ?? 0;
  const connected = (root) => Array.isArray(root) ? root.every((node) => node.isConnected) : root.isConnected;

  class MutationPasses {
    constructor(doc, {pass, removed, idle = () => {}}, {runs = false} = {}) {
      this.doc = doc;
      this.pass = pass;
      this.removed = removed;
      this.idle = idle;
      this.runs = runs;
      this.noted = new Set();  // roots noted since the last batch
      this.queue = [];         // roots waiting for a batch
      this.fresh = new WeakSet();  // queued roots known to hold no marks
      this.gone = [];
      this.scheduled = false;
      this.paused = false;
      this.running = false;  // a pass over marked text awaits its engine's answer
      this.inFlight = null;  // its roots
      this.inFlightCount = 0;  // passes awaiting their answers
      this.history = new WeakMap();  // root -> {passed: time of our last pass, strikes: [times]}, or 'stopped'
      this.lastPassed = new WeakMap();  // a root's place (itself; a text's parent) -> our last pass there
      this.later = new Set();  // roots noted where we passed less than CHURN_MS ago
      this.laterTimer = 0;
      this.second = {start: 0, passes: 0};
      this.stats = {batches: 0, passes: 0, stopped: 0, chars: 0, ms: 0, longestMs: 0};
      this.observer = new MutationObserver((records) => this.note(records));
      this.watched = new WeakSet();
      // A yield to the page that is not held back as nested timers are.
      this.channel = new MessageChannel();
      this.channel.port1.onmessage = () => this.run();
    }

    start() {
      this.watch(this.doc);
    }

    // Watches nothing more and forgets what waits (a document without
    // keywords: nothing of it is searched).
    stop() {
      this.observer.disconnect();
      this.watched = new WeakSet();
      this.noted.clear();
      this.later.clear();
      this.queue = [];
      this.gone = [];
    }

    // Watches a shadow root too (the observer does not see into them).
    watch(root) {
      if (this.watched.has(root)) return;
      this.watched.add(root);
      this.observer.observe(root, {childList: true, characterData: true, subtree: true});
    }

    // `node` changed in a way no record tells (a shadow root attached to
    // it): searched again with the block holding it.
    changed(node) {
      this.noteRoot(blockOf(node));
      if (this.noted.size) this.schedule(false);
    }

    // Runs `change` (our own change to the page) without noting it: what the
    // page changed before is noted first.
    ours(change) {
      this.note(this.observer.takeRecords());
      try {
        return change();
      } finally {
        this.observer.takeRecords();
        // A pass's changes made now: what the page changes next answers them.
        if (this.inFlight) this.stamp(this.inFlight);
      }
    }

    // Roots with no marks yet, to search as soon as the page lets us, in
    // slices.
    add(roots) {
      for (const root of roots) {
        this.fresh.add(root);
        this.queue.push(root);
      }
      this.schedule(true);
    }

    // While paused (a whole pass is on its way), changes are noted and
    // wait; `drop` forgets them and everything queued (that pass searches the
    // whole page again); `soon`, what waits is searched in the next task,
    // not at the next frame (the marks of text the page changed during a
    // whole pass are replaced before they are shown).
    pause() {
      this.paused = true;
    }

    resume({drop = false, soon = false} = {}) {
      this.paused = false;
      if (drop) {
        this.observer.takeRecords();
        this.noted.clear();
        this.later.clear();
        this.queue = [];
        this.gone = [];
      } else {
        this.note(this.observer.takeRecords());
      }
      this.schedule(soon);
    }

    // (Indexed loops, each record's lists read once: a page rewriting
    // hundreds of cells a frame makes as many records.)
    note(records) {
      const known = new Map();
      const gone = this.gone;
      for (let r = 0; r < records.length; ++r) {
        const record = records[r];
        const target = record.target;
        if (record.type === 'characterData') {
          gone.push(target);
          this.noteRoot(rootOf(target, known));
          continue;
        }
        const removed = record.removedNodes, added = record.addedNodes;
        const removedCount = removed.length, addedCount = added.length;
        if (removedCount) {
          for (let i = 0; i < removedCount; ++i) if (!isOurs(removed[i])) gone.push(removed[i]);
          if (!isOurs(removed[0])) {
            this.noteRoot(joinRoot(target, record.previousSibling, record.nextSibling, known));
          }
        }
        for (let i = 0; i < addedCount; ++i) {
          const node = added[i];
          const type = node.nodeType;
          if ((type === 1 && !isOurs(node)) || type === 3) this.noteRoot(rootOf(node, known, true));
        }
      }
      if (this.noted.size || this.gone.length) this.schedule(false);
    }

    noteRoot(root) {
      if (!root) return;
      const history = this.history.get(root);
      if (history === 'stopped') return;
      const now = history ? performance.now() : 0;
      if (history && now - history.passed < ANSWER_MS) {
        history.strikes = history.strikes.filter((t) => now - t < STRIKE_WINDOW_MS);
        history.strikes.push(now);
        if (history.strikes.length >= STRIKES) {
          this.history.set(root, 'stopped');
          this.stats.stopped++;
          return;
        }
      }
      this.noted.add(root);
    }

    schedule(soon) {
      if (this.scheduled || this.paused || this.running || this.inFlightCount >= MAX_IN_FLIGHT) return;
      this.scheduled = true;
      if (soon) this.channel.port2.postMessage(null);
      else if (this.doc.hidden) setTimeout(() => this.run(), 100);  // hidden tabs get no frames
      else requestAnimationFrame(() => this.run());
    }

    run() {
      this.scheduled = false;
      if (!this.paused && !this.running && this.inFlightCount < MAX_IN_FLIGHT) this.batch();
    }

    // The noted roots into the queue: connected, not inside another noted
    // root, not stopped.
    //
    // A place we searched less than CHURN_MS ago waits till then: text a
    // page rewrites every frame (a dashboard's figures, a timer) is searched
    // a few times a second, not at each frame; the text it shows last is
    // searched all the same. (A text node that the page replaces is a new
    // root each time: the place is its parent.)
    takeNoted() {
      const now = performance.now();
      let wait = Infinity;
      // Elements known to be neither noted nor inside a noted root: the
      // many roots of one table or list climb through the same ancestors.
      const clear = new Set();
      for (const root of this.noted) {
        if (!root.isConnected) continue;
        let inside = false;
        const climbed = [];
        for (let at = root.parentNode ?? root.host; at && !clear.has(at); at = at.parentNode ?? at.host) {
          if (this.noted.has(at)) {
            inside = true;
            break;
          }
          climbed.push(at);
        }
        if (inside) continue;
        for (const at of climbed) clear.add(at);
        const last = this.lastPassed.get(root.nodeType === 3 ? root.parentNode : root);
        if (last !== undefined && now - last < CHURN_MS) {
          this.later.add(root);
          wait = Math.min(wait, last + CHURN_MS - now);
          continue;
        }
        if (this.history.get(root) === 'stopped') continue;
        this.queue.push(root);
      }
      this.noted.clear();
      if (this.later.size && !this.laterTimer) {
        this.laterTimer = setTimeout(() => {
          this.laterTimer = 0;
          for (const root of this.later) this.noted.add(root);
          this.later.clear();
          this.schedule(true);
        }, wait);
      }
    }

    // The parts of a root too long for one pass, or null where it cannot be
    // cut: its blocks, and the runs of other children between them.
    cut(root) {
      if (Array.isArray(root) || root.nodeType !== 1 || !root.firstElementChild) return null;
      const parts = [];
      let run = [];
      for (let child = root.firstChild; child; child = child.nextSibling) {
        if (isBlock(child)) {
          if (run.length) parts.push(run);
          run = [];
          parts.push(child);
        } else {
          run.push(child);
        }
      }
      if (run.length) parts.push(run);
      const runs = parts.filter(Array.isArray);
      if (parts.length < 2 || (runs.length && !this.runs)) return null;
      // Whitespace between blocks is no text to search.
      return parts.filter((part) => !Array.isArray(part) || part.some((n) => n.nodeType !== 3 || n.data.trim()));
    }

    batch() {
      const started = performance.now();
      if (this.gone.length) {
        const gone = this.gone;
        this.gone = [];
        this.removed(gone);
      }
      this.takeNoted();
      while (this.queue.length && !this.running && this.inFlightCount < MAX_IN_FLIGHT) {
        if (started - this.second.start > 1000) this.second = {start: started, passes: 0};
        if (this.second.passes >= PASSES_PER_SECOND || performance.now() - started > BUDGET_MS) break;
        const [group, chars] = this.nextGroup();
        if (!group.length) continue;
        const fresh = group.every((root) => this.fresh.has(root));
        if (!fresh && this.inFlightCount) {
          // Text that may hold marks waits for the passes under way, whose
          // marks it may have to take away.
          this.queue.unshift(...group);
          break;
        }
        // Their old marks go first: each root is searched whole again.
        if (!fresh) this.removed(group.filter((root) => !this.fresh.has(root)).flat());
        for (const root of group) this.fresh.delete(root);
        // (Its places noted now: by the answer, a text the page replaces
        // has left its parent.)
        const now = performance.now();
        for (const root of group) {
          if (!Array.isArray(root)) this.lastPassed.set(root.nodeType === 3 ? root.parentNode ?? root : root, now);
        }
        const answered = this.pass(group);
        if (answered && typeof answered.then === 'function') {
          // A pass whose engine answers later (in another context). Passes
          // over unmarked text (a document taken in slices) go on meanwhile,
          // a few at a time; any other waits for the answer.
          this.inFlightCount++;
          if (!fresh) {
            this.running = true;
            this.inFlight = group;
          }
          answered.catch(() => {}).then(() => {
            this.inFlightCount--;
            if (!fresh) {
              this.running = false;
              this.inFlight = null;
            }
            this.passed(group, chars);
            this.next();
          });
          continue;
        }
        this.passed(group, chars);
      }
      const ms = performance.now() - started;
      this.stats.batches++;
      this.stats.ms += ms;
      this.stats.longestMs = Math.max(this.stats.longestMs, ms);
      this.next();
    }

    // The next roots for one pass, up to CHARS_PER_PASS of text (of unmarked
    // text, CHARS_PER_SLICE), cutting those that hold more where they can be
    // cut, never unmarked and marked text together: [roots, their text length].
    nextGroup() {
      const group = [];
      let chars = 0, fresh = null, limit = CHARS_PER_PASS;
      while (this.queue.length && chars < limit) {
        const root = this.queue.shift();
        if (!connected(root)) continue;
        const isFresh = this.fresh.has(root);
        if (fresh === null) {
          fresh = isFresh;
          limit = fresh ? CHARS_PER_SLICE : CHARS_PER_PASS;
        } else if (isFresh !== fresh) {
          this.queue.unshift(root);
          break;
        }
        const length = textLength(root);
        if (length > limit) {
          const parts = this.cut(root);
          if (parts) {
            if (isFresh) for (const part of parts) this.fresh.add(part);
            this.queue.unshift(...parts);
            continue;
          }
        }
        if (group.length && chars + length > limit) {
          this.queue.unshift(root);
          break;
        }
        chars += length;
        group.push(root);
      }
      return [group, chars];
    }

    // When our pass over each root was last made.
    stamp(group) {
      const now = performance.now();
      for (const root of group) {
        if (Array.isArray(root)) continue;
        const history = this.history.get(root);
        if (history === undefined) this.history.set(root, {passed: now, strikes: []});
        else if (history !== 'stopped') history.passed = now;
      }
    }

    passed(group, chars) {
      if (!this.inFlight) this.stamp(group);
      this.second.passes++;
      this.stats.passes++;
      this.stats.chars += chars;
    }

    // What comes after a batch or an answer: nothing left (idle), or the
    // rest in another batch.
    next() {
      if (this.queue.length || this.noted.size) {
        if (this.second.passes >= PASSES_PER_SECOND) {
          if (this.scheduled) return;
          this.scheduled = true;
          setTimeout(() => this.run(), 1000 - (performance.now() - this.second.start));
        } else {
          this.schedule(true);
        }
      } else if (!this.inFlightCount) {
        this.idle();
      }
    }
  }

  MutationPasses.blockOf = blockOf;
  global.GlintmarkMutationPasses = MutationPasses;
})(globalThis);
