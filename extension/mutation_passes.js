// Incremental passes: the text a page adds or changes after the load's pass,
// searched for the same keywords, in batches.
//
//   const passes = new GlintmarkMutationPasses(document, {
//     pass(roots) {...},        // one pass over these elements' text
//     removed(nodes) {...},     // the page took these away, or changed their text
//   });
//   passes.start();  passes.watch(shadowRoot);  passes.ours(() => changeThePage());
//
// A MutationObserver over the whole document (childList, characterData)
// notes what changed; at most one batch runs per animation frame (or, in a
// hidden tab, per short timer), within a time budget: what is left waits for
// the next frame. A batch searches only the changed subtrees: an added
// element is searched alone; added or changed text is searched with the
// block that holds it (a match cannot cross a block's edge, so the block is
// the smallest piece of the page whose marks are all known again), after
// that block's old marks are taken away.
//
// A page that undoes our marks (removes every span it sees, say) cannot make
// us loop: a root searched PER_NODE_PASSES times within a second is not
// searched again, and no more than PASSES_PER_SECOND passes run in a second.
(function (global) {
  'use strict';

  // The elements the search treats as blocks (no match crosses their edges).
  const BLOCKS = new Set(['address', 'article', 'aside', 'blockquote', 'body', 'caption', 'center', 'dd',
    'details', 'dialog', 'dir', 'div', 'dl', 'dt', 'fieldset', 'figcaption', 'figure', 'footer', 'form',
    'frameset', 'h1', 'h2', 'h3', 'h4', 'h5', 'h6', 'header', 'hgroup', 'hr', 'html', 'legend', 'li',
    'listing', 'main', 'menu', 'nav', 'ol', 'p', 'plaintext', 'pre', 'section', 'summary', 'table', 'tbody',
    'td', 'tfoot', 'th', 'thead', 'tr', 'ul', 'xmp']);
  // What no pass looks into (the search skips their text anyway).
  const SKIPPED = new Set(['script', 'style', 'noscript', 'template', 'textarea', 'title', 'head', 'meta', 'link']);
  const BUDGET_MS = 8;             // a batch's time, then the rest waits a frame
  const CHARS_PER_PASS = 32768;    // the text one pass of a batch takes at most
  const PER_NODE_PASSES = 3;       // passes over one root within PER_NODE_WINDOW_MS
  const PER_NODE_WINDOW_MS = 1000;
  const PASSES_PER_SECOND = 120;

  // The nearest block holding `node` (itself if it is one), crossing out of
  // shadow trees to their hosts' blocks only when the tree has no block.
  function blockOf(node) {
    for (let at = node; at; at = at.parentNode) {
      if (at.nodeType === 1 && BLOCKS.has(at.localName)) return at;
      if (at.nodeType === 11) return at.host ?? null;  // a shadow root: its host
    }
    return null;
  }

  class MutationPasses {
    constructor(doc, {pass, removed}) {
      this.doc = doc;
      this.pass = pass;
      this.removed = removed;
      this.roots = new Set();
      this.gone = [];
      this.scheduled = 0;
      this.paused = false;
      this.history = new WeakMap();  // root -> times of its latest passes; 'stopped'
      this.second = {start: 0, passes: 0};
      this.stats = {batches: 0, passes: 0, stopped: 0, chars: 0, ms: 0, longestMs: 0};
      this.observer = new MutationObserver((records) => this.note(records));
      this.watched = new WeakSet();
    }

    start() {
      this.watch(this.doc);
    }

    stop() {
      this.observer.disconnect();
      this.roots.clear();
      this.gone = [];
    }

    // Watches a shadow root too (the observer does not see into them).
    watch(root) {
      if (this.watched.has(root)) return;
      this.watched.add(root);
      this.observer.observe(root, {childList: true, characterData: true, subtree: true});
    }

    // Runs `change` (our own change to the page) without noting it: what the
    // page changed before is noted first.
    ours(change) {
      this.note(this.observer.takeRecords());
      try {
        return change();
      } finally {
        this.observer.takeRecords();
      }
    }

    // While paused (a navigation's pass is on its way), changes are noted and
    // wait; `drop` forgets them (that pass searches the whole page).
    pause() {
      this.paused = true;
    }

    resume({drop = false} = {}) {
      this.paused = false;
      if (drop) {
        this.note(this.observer.takeRecords());
        this.roots.clear();
        this.gone = [];
      }
      this.schedule();
    }

    note(records) {
      for (const record of records) {
        if (record.type === 'characterData') {
          this.gone.push(record.target);
          this.addRoot(blockOf(record.target));
          continue;
        }
        for (const node of record.removedNodes) this.gone.push(node);
        for (const node of record.addedNodes) {
          if (node.nodeType === 1) {
            if (!SKIPPED.has(node.localName)) this.addRoot(BLOCKS.has(node.localName) ? node : blockOf(node));
          } else if (node.nodeType === 3) {
            this.addRoot(blockOf(record.target));
          }
        }
      }
      if (this.roots.size || this.gone.length) this.schedule();
    }

    addRoot(root) {
      if (root && root.nodeType === 1) this.roots.add(root);
    }

    schedule() {
      if (this.scheduled || this.paused) return;
      const run = () => {
        this.scheduled = 0;
        this.batch();
      };
      // Hidden tabs get no animation frames.
      this.scheduled = this.doc.hidden ? setTimeout(run, 100) : requestAnimationFrame(run);
    }

    // The roots to search: connected, not inside another root, not stopped.
    takeRoots() {
      const now = performance.now();
      const roots = [];
      for (const root of this.roots) {
        if (!root.isConnected) continue;
        let inside = false;
        for (let at = root.parentNode; at; at = at.parentNode ?? at.host) {
          if (this.roots.has(at)) {
            inside = true;
            break;
          }
        }
        if (inside) continue;
        let times = this.history.get(root);
        if (times === 'stopped') continue;
        times = (times ?? []).filter((t) => now - t < PER_NODE_WINDOW_MS);
        if (times.length >= PER_NODE_PASSES) {
          this.history.set(root, 'stopped');
          this.stats.stopped++;
          continue;
        }
        roots.push(root);
      }
      this.roots.clear();
      return roots;
    }

    batch() {
      if (this.paused) return;
      const started = performance.now();
      if (this.gone.length) {
        const gone = this.gone;
        this.gone = [];
        this.removed(gone);
      }
      const roots = this.takeRoots();
      let i = 0;
      while (i < roots.length) {
        if (started - this.second.start > 1000) this.second = {start: started, passes: 0};
        if (this.second.passes >= PASSES_PER_SECOND || performance.now() - started > BUDGET_MS) break;
        const group = [];
        let chars = 0;
        while (i < roots.length && (!group.length || chars < CHARS_PER_PASS)) {
          const root = roots[i++];
          chars += root.textContent.length;
          group.push(root);
          const times = this.history.get(root);
          this.history.set(root, [...(Array.isArray(times) ? times : []), performance.now()]);
        }
        // Their old marks go first: each root is searched whole again.
        this.removed(group);
        this.pass(group);
        this.second.passes++;
        this.stats.passes++;
        this.stats.chars += chars;
      }
      // What the budget left waits for the next frame (or the next second).
      for (; i < roots.length; ++i) this.roots.add(roots[i]);
      const ms = performance.now() - started;
      this.stats.batches++;
      this.stats.ms += ms;
      this.stats.longestMs = Math.max(this.stats.longestMs, ms);
      if (this.roots.size) {
        if (this.second.passes >= PASSES_PER_SECOND) {
          this.scheduled = setTimeout(() => {
            this.scheduled = 0;
            this.batch();
          }, 1000 - (performance.now() - this.second.start));
        } else {
          this.schedule();
        }
      }
    }
  }

  MutationPasses.blockOf = blockOf;
  global.GlintmarkMutationPasses = MutationPasses;
})(globalThis);
