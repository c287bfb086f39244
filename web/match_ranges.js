// GlintmarkMatchRanges: the matches of a pass as ranges over the described
// document's own text nodes, for a painter that leaves the page's nodes
// alone (the extension's CSS highlights). Numbers only: it runs where the
// engine runs (the extension's service worker), so the page gets the ranges
// ready to paint instead of the changes to replay.
//
//   const {ranges, colours} = GlintmarkMatchRanges.of(request.ops, answer.changes, answer.made);
//   // ranges: 6 integers per match, in document order: the text node where
//   // it starts (by number, as the walk numbered the nodes), the offset in
//   // it, the node where it ends, the offset there, its colour (an index
//   // into `colours`, '#rrggbb'), its depth (0, or how many matches it lies
//   // inside: a keyword found inside another's match)
//
// The pass's changes (text nodes split, a span made for each match and the
// matched nodes moved into it) are read as what they describe: each span's
// text, from the first piece of text the span would hold to the last.
(function (global) {
  'use strict';

  const {PageOp, Change, CHANGE_SIZE} = global.GlintmarkProtocol;
  const STYLE = /^\s*color\s*:\s*black\s*;\s*background-color\s*:\s*(#[0-9a-fA-F]{6})\s*;?\s*$/;
  const RANGE_SIZE = 6;

  // The colour of a span the pass made (name and attribute list, as the
  // engine gives them), or null for any other element.
  function spanColour([name, attributes]) {
    if (name !== 'span') return null;
    for (let i = 0; i + 1 < attributes.length; i += 2) {
      if (attributes[i] === 'style') {
        const found = STYLE.exec(attributes[i + 1]);
        return found ? found[1].toLowerCase() : null;
      }
    }
    return null;
  }

  // The described tree, from the request's records: each node's parent by
  // number (1 is the body, the walk's nodes numbered from 2 in its order)
  // and (number, length) of each text node.
  function treeOf(ops) {
    const parents = [0, 0], texts = [];
    const open = [1];
    for (let i = 0; i < ops.length;) {
      const op = ops[i];
      if (op === PageOp.end) {
        open.pop();
        i += 1;
        continue;
      }
      const id = parents.length;
      parents.push(open[open.length - 1]);
      if (op === PageOp.element) {
        open.push(id);
        i += 3;
      } else if (op === PageOp.text) {
        texts.push(id, ops[i + 2]);
        i += 3;
      } else {
        i += 1;
      }
    }
    return {parents, texts};
  }

  // Replays the changes on numbers only: where each piece of a cut text node
  // lies in the node it was cut from, and which parent each node ends up
  // under.
  function of(ops, changes, made) {
    const tree = treeOf(ops);
    let last = tree.parents.length;
    for (let i = 0; i < changes.length; i += CHANGE_SIZE) {
      const a = changes[i + 1], b = changes[i + 2], c = changes[i + 3];
      const most = a > b ? (a > c ? a : c) : (b > c ? b : c);
      if (most >= last) last = most + 1;
    }
    const parent = new Int32Array(last);
    parent.set(tree.parents);
    const source = new Int32Array(last), start = new Int32Array(last), end = new Int32Array(last);
    const pieces = [];
    const texts = tree.texts;
    for (let i = 0; i < texts.length; i += 2) {
      const id = texts[i];
      source[id] = id;
      end[id] = texts[i + 1];
      pieces.push(id);
    }
    // The colour of each span, as an index into `colours` (0: no span);
    // a span's colour read once per distinct style.
    const colourOf = new Int32Array(last);
    const colours = [null], colourIndex = new Map(), styleColour = new Map();
    let spans = 0;
    const colourOfMade = (entry) => {
      let found = styleColour.get(entry);
      if (found === undefined) {
        const colour = spanColour(entry);
        if (colour === null) found = 0;
        else {
          found = colourIndex.get(colour);
          if (found === undefined) {
            found = colours.length;
            colours.push(colour);
            colourIndex.set(colour, found);
          }
        }
        styleColour.set(entry, found);
      }
      return found;
    };
    for (let i = 0; i < changes.length; i += CHANGE_SIZE) {
      const a = changes[i + 1], b = changes[i + 2], c = changes[i + 3];
      switch (changes[i]) {
        case Change.split:
          parent[c] = parent[a];
          source[c] = source[a];
          start[c] = start[a] + b;
          end[c] = end[a];
          end[a] = start[a] + b;
          pieces.push(c);
          break;
        case Change.clone:
          parent[b] = 0;
          if (colourOf[a]) {
            colourOf[b] = colourOf[a];
            ++spans;
          }
          break;
        case Change.create: {
          parent[a] = 0;
          const found = colourOfMade(made[b]);
          if (found) {
            if (!colourOf[a]) ++spans;
            colourOf[a] = found;
          }
          break;
        }
        case Change.insert:
          parent[b] = a;
          break;
      }
    }
    if (!spans) return {ranges: new Int32Array(0), colours: []};
    // The span each node ends up in (0: none), found once per node.
    const spanOf = new Int32Array(last).fill(-1);
    const climb = [];
    const findSpan = (id) => {
      let at = id;
      while (at > 0 && spanOf[at] < 0 && !colourOf[at]) {
        climb.push(at);
        at = parent[at];
      }
      const span = at <= 0 ? 0 : colourOf[at] ? at : spanOf[at];
      while (climb.length) spanOf[climb.pop()] = span;
      return span;
    };
    // A keyword found inside another's match makes a span inside its span:
    // a piece counts for each span around it. Each span's first and last
    // piece (node and offset), by span number.
    const markStart = new Int32Array(last).fill(-1), markStartOffset = new Int32Array(last);
    const markEnd = new Int32Array(last), markEndOffset = new Int32Array(last);
    const found = [];
    const extend = (span, id) => {
      const node = source[id];
      if (markStart[span] < 0) {
        found.push(span);
        markStart[span] = node;
        markStartOffset[span] = start[id];
        markEnd[span] = node;
        markEndOffset[span] = end[id];
        return;
      }
      if (node < markStart[span] || (node === markStart[span] && start[id] < markStartOffset[span])) {
        markStart[span] = node;
        markStartOffset[span] = start[id];
      }
      if (node > markEnd[span] || (node === markEnd[span] && end[id] > markEndOffset[span])) {
        markEnd[span] = node;
        markEndOffset[span] = end[id];
      }
    };
    const depth = new Int32Array(last).fill(-1);  // span -> how many spans it is in
    const depthOf = (span) => {
      if (depth[span] < 0) {
        const outer = findSpan(parent[span]);
        depth[span] = outer ? depthOf(outer) + 1 : 0;
      }
      return depth[span];
    };
    for (const id of pieces) {
      if (start[id] === end[id]) continue;
      for (let span = findSpan(id); span; span = findSpan(parent[span])) extend(span, id);
    }
    // In document order (the walk's order of text nodes, the start in the
    // node, a match inside another after it), which the page's marks
    // registry takes as it is after a whole pass.
    const order = Int32Array.from(found);
    for (const span of order) depthOf(span);
    order.sort((x, y) => markStart[x] - markStart[y] || markStartOffset[x] - markStartOffset[y] ||
      depth[x] - depth[y] || x - y);
    const ranges = new Int32Array(order.length * RANGE_SIZE);
    for (let i = 0, at = 0; i < order.length; ++i, at += RANGE_SIZE) {
      const span = order[i];
      ranges[at] = markStart[span];
      ranges[at + 1] = markStartOffset[span];
      ranges[at + 2] = markEnd[span];
      ranges[at + 3] = markEndOffset[span];
      ranges[at + 4] = colourOf[span] - 1;
      ranges[at + 5] = depth[span];
    }
    return {ranges, colours: colours.slice(1)};
  }

  global.GlintmarkMatchRanges = Object.freeze({of, RANGE_SIZE});
})(globalThis);
