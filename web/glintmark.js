// GlintmarkEngine: the page pass of Glintmark over a live page, for a page
// script, a test driver or an extension's content script.
//
//   const engine = await GlintmarkEngine.create();        // {prefer: 'auto' | 'wasm' | 'js'}
//   const report = engine.highlightDocument(document, {options: 13, savedSearchText: null});
//   // report.savedSearchText: the session's text for the next page
//
// More of the request: `roots` (nodes, or arrays of sibling nodes searched
// together) passes over those subtrees only,
// as the children of a body of their own; `shadow` searches the content of
// open shadow roots as their hosts' text; `skipEditable` leaves editable
// elements' content out; `paint(pageNodes)` takes the pass's changes instead
// of their being made to the page (its answer is the report's `painted`).
//
// The pass itself is C++ (core/ and the HTML model of host/html), compiled
// twice: to WebAssembly (GlintmarkWasm) and to plain JavaScript
// (GlintmarkAsm). The second serves pages whose Content-Security-Policy
// forbids compiling WebAssembly, which binds an extension's content scripts
// too. Both are loaded before this file, in the same script.
//
// What happens in one call: the page's body is walked once and described to
// the module (web/live_page.h says how); the pass runs on the module's copy
// of the body; each change it makes there comes back through the module's
// imports (web/dom_imports.js) and is made here to the page's own nodes, by
// number: text nodes split, elements split as DOM Range splits them, a span
// made and the matched nodes moved into it. Nothing is parsed from markup, so
// the page's nodes keep their identity, listeners and form state.
(function (global) {
  'use strict';

  const PageOp = {element: 1, end: 2, text: 3, other: 4};
  const HTML_NS = 'http://www.w3.org/1999/xhtml';
  const XLINK_NS = 'http://www.w3.org/1999/xlink';
  const utf8 = new TextDecoder('utf-8');
  const utf16 = new TextDecoder('utf-16le');
  // Stands between two roots of a partial pass (a line break of our own).
  const SEPARATOR = {nodeType: 0};

  // The page's nodes by number (1 is the body), and the changes the module
  // asks for. The changes are written down while the pass runs and made to
  // the page when it is over, in the same order, with one difference: a text
  // node is cut in one go. Text.splitText copies what follows the cut into
  // the new node and what precedes it into the old one, so cutting a long
  // text at each of its matches in turn would copy it once per match; here
  // each piece is made with its final text and the cut node's text is set
  // once. A change that the DOM refuses leaves the rest undone (`error` says
  // why): the module's copy and the page would no longer be the same tree.
  const Change = {split: 1, clone: 2, create: 3, insert: 4};

  class PageNodes {
    constructor(doc) {
      this.doc = doc;
      this.nodes = [null];
      this.parents = [0];  // each walked node's parent, by number
      this.shadowRoots = [];  // the open shadow roots walked
      this.slotParents = [];  // (slot's number, the parent of the nodes it shows) pairs
      this.texts = [];  // (number, length) of each text node walked
      this.links = [];
      this.changes = [];
      this.made = [];  // the name and attributes of each element made from markup
      this.error = null;
    }
    splitText(node, offset, rest) { this.changes.push(Change.split, node, offset, rest); }
    clone(original, clone) { this.changes.push(Change.clone, original, clone, 0); }
    create(element, nameBytes, attributeBytes) {
      this.changes.push(Change.create, element, this.made.length, 0);
      this.made.push([utf8.decode(nameBytes), utf8.decode(attributeBytes).split('\0')]);
    }
    insert(parent, child, before) { this.changes.push(Change.insert, parent, child, before); }
    setTitle(link, title) {
      try {
        this.links[link].setAttribute('title', utf16.decode(title));
      } catch (e) {
        this.error = this.error || String(e && e.message || e);
      }
    }

    // The usual match: a text node cut, a span made, put where the piece cut
    // off went and the piece moved into it. Made at once, the piece goes
    // into the span while both are still outside the page, and one insertion
    // into the page does instead of three. True when the changes from
    // index i are that and have been made.
    wrapsCut(i, texts, source, start, end) {
      const changes = this.changes, nodes = this.nodes;
      if (changes[i] !== Change.split || i + 16 > changes.length) return false;
      const cut = changes[i + 1], piece = changes[i + 3];
      const kind = changes[i + 4];
      const span = kind === Change.clone ? changes[i + 6] : kind === Change.create ? changes[i + 5] : 0;
      if (!span || changes[i + 8] !== Change.insert || changes[i + 10] !== span || changes[i + 11] !== piece ||
          changes[i + 12] !== Change.insert || changes[i + 13] !== span || changes[i + 14] !== piece ||
          changes[i + 15] !== 0) {
        return false;
      }
      const parent = nodes[cut].parentNode;
      if (!parent || nodes[changes[i + 9]] !== parent) return false;
      nodes[piece] = this.doc.createTextNode(texts[source[piece]].slice(start[piece], end[piece]));
      this.make(i + 4);
      nodes[span].appendChild(nodes[piece]);
      parent.insertBefore(nodes[span], nodes[cut].nextSibling);
      return true;
    }

    // Makes the element of the clone or create change at index i.
    make(i) {
      const changes = this.changes, nodes = this.nodes;
      if (changes[i] === Change.clone) {
        nodes[changes[i + 2]] = nodes[changes[i + 1]].cloneNode(false);
        return;
      }
      const [name, attributes] = this.made[changes[i + 2]];
      const element = this.doc.createElementNS(HTML_NS, name);
      for (let j = 0; j + 1 < attributes.length; j += 2) element.setAttribute(attributes[j], attributes[j + 1]);
      nodes[changes[i + 1]] = element;
    }

    // Makes the changes written down to the page.
    apply() {
      const changes = this.changes;
      const nodes = this.nodes;
      let last = nodes.length;
      for (let i = 3; i < changes.length; i += 4) if (changes[i] >= last) last = changes[i] + 1;
      // Where each cut text node's final text lies in the text of the node it
      // was cut from (that node's text as it stands now): source, start, end.
      const source = new Int32Array(last), start = new Int32Array(last), end = new Int32Array(last);
      const texts = new Array(last).fill(null);  // each cut node's text, read once
      for (let i = 0; i < changes.length; i += 4) {
        if (changes[i] !== Change.split) continue;
        const node = changes[i + 1], offset = changes[i + 2], rest = changes[i + 3];
        if (!source[node]) {
          texts[node] = nodes[node].data;
          source[node] = node;
          end[node] = texts[node].length;
        }
        source[rest] = source[node];
        start[rest] = start[node] + offset;
        end[rest] = end[node];
        end[node] = start[node] + offset;
      }
      let i = 0;
      try {
        for (; i < changes.length; i += 4) {
          const a = changes[i + 1], b = changes[i + 2], c = changes[i + 3];
          if (this.wrapsCut(i, texts, source, start, end)) {
            i += 12;
            continue;
          }
          switch (changes[i]) {
            case Change.split: {
              const rest = this.doc.createTextNode(texts[source[c]].slice(start[c], end[c]));
              nodes[a].parentNode.insertBefore(rest, nodes[a].nextSibling);
              nodes[c] = rest;
              break;
            }
            case Change.clone:
            case Change.create:
              this.make(i);
              break;
            case Change.insert:
              place(nodes[a], nodes[b], c ? nodes[c] : null);
              break;
          }
        }
      } catch (e) {
        this.error = String(e && e.message || e);
      }
      // A node some of whose pieces were never made keeps all its text: some
      // of it shown twice rather than lost.
      for (let j = i; j < changes.length; j += 4) {
        if (changes[j] === Change.split) texts[source[changes[j + 3]]] = null;
      }
      // Last, the cut nodes of the page keep only their first piece.
      for (let id = 1; id < texts.length; ++id) {
        const text = texts[id];
        if (text && end[id] !== text.length) nodes[id].data = text.slice(0, end[id]);
      }
    }
  }

  // Puts `child` into `parent` before `before`. A node of the page is moved
  // with moveBefore where the browser has it: an iframe moved that way does
  // not reload, and focus, media and animations carry on. New nodes, and
  // browsers without it, take insertBefore.
  function place(parent, child, before) {
    if (child.isConnected && parent.isConnected && typeof parent.moveBefore === 'function') {
      try {
        parent.moveBefore(child, before);
        return;
      } catch (e) {
        // Not every node can be moved so (one from another document); insert it.
      }
    }
    parent.insertBefore(child, before);
  }

  // A link's address as the href property gives it (resolved; empty when the
  // element has none). SVG's <a> has no such property: its attribute is
  // resolved against the document's base the same way.
  function linkAddress(element, doc) {
    if (element.namespaceURI === HTML_NS) return element.href || '';
    const value = element.getAttribute('href') ?? element.getAttributeNS(XLINK_NS, 'href');
    if (value === null) return '';
    try {
      return new URL(value, doc.baseURI).href;
    } catch (e) {
      return value;
    }
  }

  // The description of a page: its body's records, every string in one text
  // (offsets and lengths in UTF-16 units), the links.
  function describePage(doc, pageNodes, request) {
    let ops = new Int32Array(4096);
    let count = 0;
    const op = (a, b, c) => {
      if (count + 3 > ops.length) {
        const grown = new Int32Array(ops.length * 2);
        grown.set(ops);
        ops = grown;
      }
      ops[count++] = a;
      if (b !== undefined) {
        ops[count++] = b;
        ops[count++] = c;
      }
    };
    const texts = [];
    let units = 0;
    const addText = (s) => {
      const offset = units;
      texts.push(s);
      units += s.length;
      return offset;
    };
    const names = new Map();
    const nameAt = (name) => {
      let offset = names.get(name);
      if (offset === undefined) {
        offset = addText(name);
        names.set(name, offset);
      }
      return offset;
    };

    // The walk. Children come from a sibling chain (the usual case) or a
    // list (the roots of a partial pass, a slot's assigned nodes). With
    // `shadow`, an element that hosts an open shadow root has that tree's
    // content as its children, its slots filled with what they show, so
    // the text searched is the text the host renders. With `skipEditable`,
    // editable content is a closed box: an element, no content.
    const parents = pageNodes.parents;
    const shadow = request.shadow, skipEditable = request.skipEditable, roots = request.roots;
    // The walk's stack: for each element entered, where its parent's
    // children go on.
    const stackList = [], stackIndex = [], stackNext = [], stackParent = [], stackShadow = [];
    const walk = (list, first, parentId) => {
      let index = 0, node = first, inShadow = false;
      for (;;) {
        if (!node) {
          if (!stackNext.length) return;
          op(PageOp.end);
          list = stackList.pop();
          index = stackIndex.pop();
          node = stackNext.pop();
          parentId = stackParent.pop();
          inShadow = stackShadow.pop();
          continue;
        }
        const next = list ? (list[++index] ?? null) : node.nextSibling;
        const id = nodes.length;
        parents.push(parentId);
        if (node === SEPARATOR) {
          nodes.push(null);
          op(PageOp.element, nameAt('br'), 2);
          op(PageOp.end);
          node = next;
          continue;
        }
        nodes.push(node);
        const type = node.nodeType;
        if (type === 1) {
          const name = node.localName.toLowerCase();
          op(PageOp.element, nameAt(name), name.length);
          if (roots && name === 'a') pageNodes.links.push(node);
          let childList = null, child = node.firstChild, childInShadow = inShadow;
          if (shadow) {
            const root = node.shadowRoot;
            if (root) {
              pageNodes.shadowRoots.push(root);
              child = root.firstChild;
              childInShadow = true;
            } else if (inShadow && name === 'slot') {
              const shown = node.assignedNodes({flatten: true});
              if (shown.length) {
                // Our spans go where the shown nodes are, not into the slot.
                pageNodes.slotParents.push(id, shown[0].parentNode);
                childList = shown;
                child = shown[0];
                childInShadow = false;
              }
            }
          }
          if (skipEditable && child && node.hasAttribute('contenteditable') &&
              node.getAttribute('contenteditable') !== 'false') {
            child = null;
          }
          if (child) {
            stackList.push(list);
            stackIndex.push(index);
            stackNext.push(next);
            stackParent.push(parentId);
            stackShadow.push(inShadow);
            list = childList;
            index = 0;
            node = child;
            parentId = id;
            inShadow = childInShadow;
            continue;
          }
          op(PageOp.end);
        } else if (type === 3 || type === 4) {
          const data = node.data;
          op(PageOp.text, addText(data), data.length);
          pageNodes.texts.push(id, data.length);
        } else {
          op(PageOp.other);
        }
        node = next;
      }
    };

    const body = doc.body;
    let bodyKind = 0;
    const nodes = pageNodes.nodes;
    if (request.roots) {
      // A partial pass: the roots as the children of a body of our own, a
      // line break between each two, so that no match joins two of them. A
      // root is a node, or a run of siblings searched together.
      bodyKind = 1;
      nodes.push(null);
      parents.push(0);
      const list = [];
      for (const root of request.roots) {
        if (Array.isArray(root)) for (const node of root) list.push(node);
        else list.push(root);
        list.push(SEPARATOR);
      }
      list.pop();
      if (list.length) walk(list, list[0], 1);
    } else {
      if (body && body.localName === 'body') bodyKind = 1;
      else if (body) bodyKind = 2;
      if (bodyKind === 1) {
        nodes.push(body);
        parents.push(0);
        walk(null, body.firstChild, 1);
      }
    }

    const part = (s) => (s === null || s === undefined) ? [0, -1] : [addText(String(s)), String(s).length];
    const parts = [
      ...part(request.url), ...part(request.referrer), ...part(request.title),
      ...part(request.savedSearchText), bodyKind, request.options >>> 0, 0, 1,
    ];
    const links = [];
    if (request.options & 8) {
      // A partial pass's links were found by the walk.
      if (!roots) for (const element of doc.getElementsByTagName('a')) pageNodes.links.push(element);
      for (const element of pageNodes.links) {
        const address = linkAddress(element, doc);
        links.push(addText(address), address.length);
      }
      parts[10] = pageNodes.links.length;
    }
    return {ops: ops.subarray(0, count), text: texts.join(''), parts, links};
  }

  class Engine {
    constructor(module, kind) {
      this.module = module;
      this.kind = kind;
    }

    // The page pass over `doc` (a Document), with the session's saved text
    // and the options word; returns the pass's report (the fields of
    // `glintmark highlight --json`, plus `status` as a number, `text` as
    // the search text, and `domError` when the page refused a change).
    highlightDocument(doc, request = {}) {
      const m = this.module;
      if (!m) throw new Error('this engine has stopped; create another');
      const started = performance.now();
      const pageNodes = new PageNodes(doc);
      const description = describePage(doc, pageNodes, {
        options: request.options === undefined ? 13 : request.options,
        savedSearchText: request.savedSearchText ?? null,
        url: request.url ?? doc.URL,
        referrer: request.referrer ?? doc.referrer,
        title: request.title ?? doc.title,
        roots: request.roots, shadow: request.shadow, skipEditable: request.skipEditable,
      });
      const encoder = new TextEncoder();
      const textCapacity = description.text.length * 3 + 1;
      const intBytes = 4 * (description.ops.length + description.parts.length + description.links.length + 1);
      const block = m._glintmark_alloc(intBytes + textCapacity);
      if (!block) return {result: '0x8007000E', status: 0x8007000E, keywords: [], tooltips: 0};
      try {
        const opsAt = block;
        const partsAt = opsAt + 4 * description.ops.length;
        const linksAt = partsAt + 4 * description.parts.length;
        const lengthAt = linksAt + 4 * description.links.length;
        const textAt = lengthAt + 4;
        m.HEAP32.set(description.ops, opsAt >> 2);
        m.HEAP32.set(description.parts, partsAt >> 2);
        m.HEAP32.set(description.links, linksAt >> 2);
        const written = encoder.encodeInto(description.text, m.HEAPU8.subarray(textAt, textAt + textCapacity)).written;
        m.glintmarkPage = pageNodes;
        const described = performance.now();
        let reportAt;
        try {
          reportAt = m._glintmark_highlight(opsAt, description.ops.length, textAt, written, partsAt, linksAt, lengthAt);
        } catch (e) {
          // The module stopped (it ran out of memory where nothing could
          // catch it): the page is left as it was, and this engine is done.
          this.module = null;
          return {result: '0x80004005', status: 0x80004005, keywords: [], tooltips: 0,
                  error: String(e && e.message || e)};
        } finally {
          m.glintmarkPage = null;
        }
        // The changes made to the page, or handed to the caller's painter,
        // which makes marks of its own from them (and leaves the page as it is).
        let painted;
        if (request.paint) {
          painted = request.paint(pageNodes);
        } else {
          const slots = pageNodes.slotParents;
          for (let j = 0; j < slots.length; j += 2) pageNodes.nodes[slots[j]] = slots[j + 1];
          pageNodes.apply();
        }
        // The module's memory may have grown during the pass: fresh views.
        const length = m.HEAP32[lengthAt >> 2];
        const report = JSON.parse(utf8.decode(m.HEAPU8.subarray(reportAt, reportAt + length)));
        report.status = parseInt(report.result, 16) >>> 0;
        report.text = report.searchText ?? null;
        if (pageNodes.error) report.domError = pageNodes.error;
        if (painted !== undefined) report.painted = painted;
        // The open shadow roots walked, for a caller that watches them (not
        // part of the report's JSON).
        Object.defineProperty(report, 'shadowRoots', {value: pageNodes.shadowRoots});
        report.milliseconds = {describe: described - started, pass: performance.now() - described};
        return report;
      } finally {
        if (this.module) m._glintmark_free(block);
      }
    }
  }

  // Whether this page lets WebAssembly be compiled (its CSP may not).
  function webAssemblyAllowed() {
    try {
      new WebAssembly.Module(new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0]));
      return true;
    } catch (e) {
      return false;
    }
  }

  async function create({prefer = 'auto'} = {}) {
    const quiet = {print: () => {}, printErr: () => {}};
    if (prefer !== 'js' && typeof WebAssembly === 'object' && webAssemblyAllowed()) {
      try {
        return new Engine(await global.GlintmarkWasm(Object.assign({}, quiet)), 'wasm');
      } catch (e) {
        if (prefer === 'wasm') throw e;
      }
    } else if (prefer === 'wasm') {
      throw new Error('WebAssembly cannot be compiled on this page');
    }
    return new Engine(await global.GlintmarkAsm(Object.assign({}, quiet)), 'js');
  }

  global.GlintmarkEngine = {create};
})(globalThis);
