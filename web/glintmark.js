// GlintmarkEngine: the page pass of Glintmark over a live page, for a page
// script, a test driver or an extension's content script.
//
//   const engine = await GlintmarkEngine.create();        // {prefer: 'auto' | 'wasm' | 'js'}
//   const report = engine.highlightDocument(document, {options: 13, savedSearchText: null});
//   // report.savedSearchText: the session's text for the next page
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

  // The page's nodes by number (1 is the body), and the changes the module
  // asks for. A change that the DOM refuses leaves the page as it is from
  // then on (`error` says why): the module's copy and the page would no
  // longer be the same tree.
  class PageNodes {
    constructor(doc) {
      this.doc = doc;
      this.nodes = [null];
      this.links = [];
      this.error = null;
    }
    apply(change) {
      if (this.error) return;
      try {
        change();
      } catch (e) {
        this.error = String(e && e.message || e);
      }
    }
    splitText(node, offset, rest) {
      this.apply(() => { this.nodes[rest] = this.nodes[node].splitText(offset); });
    }
    clone(original, clone) {
      this.apply(() => { this.nodes[clone] = this.nodes[original].cloneNode(false); });
    }
    create(element, nameBytes, attributeBytes) {
      this.apply(() => {
        const made = this.doc.createElementNS(HTML_NS, utf8.decode(nameBytes));
        const parts = utf8.decode(attributeBytes).split('\0');
        for (let i = 0; i + 1 < parts.length; i += 2) made.setAttribute(parts[i], parts[i + 1]);
        this.nodes[element] = made;
      });
    }
    insert(parent, child, before) {
      this.apply(() => {
        this.nodes[parent].insertBefore(this.nodes[child], before ? this.nodes[before] : null);
      });
    }
    setTitle(link, title) {
      this.apply(() => { this.links[link].setAttribute('title', utf16.decode(title)); });
    }
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
    const ops = [];
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

    const body = doc.body;
    let bodyKind = 0;
    if (body && body.localName === 'body') bodyKind = 1;
    else if (body) bodyKind = 2;
    const nodes = pageNodes.nodes;
    if (bodyKind === 1) {
      nodes.push(body);
      let node = body.firstChild;
      while (node) {
        nodes.push(node);
        const type = node.nodeType;
        if (type === 1) {
          const name = node.localName.toLowerCase();
          ops.push(PageOp.element, nameAt(name), name.length);
          if (node.firstChild) {
            node = node.firstChild;
            continue;
          }
          ops.push(PageOp.end);
        } else if (type === 3 || type === 4) {
          const data = node.data;
          ops.push(PageOp.text, addText(data), data.length);
        } else {
          ops.push(PageOp.other);
        }
        // On to the next sibling, closing the elements left behind.
        while (!node.nextSibling) {
          node = node.parentNode;
          if (node === body || !node) {
            node = null;
            break;
          }
          ops.push(PageOp.end);
        }
        if (node) node = node.nextSibling;
      }
    }

    const part = (s) => (s === null || s === undefined) ? [0, -1] : [addText(String(s)), String(s).length];
    const parts = [
      ...part(request.url), ...part(request.referrer), ...part(request.title),
      ...part(request.savedSearchText), bodyKind, request.options >>> 0, 0, 1,
    ];
    const links = [];
    if (request.options & 8) {
      for (const element of doc.getElementsByTagName('a')) {
        const address = linkAddress(element, doc);
        pageNodes.links.push(element);
        links.push(addText(address), address.length);
      }
      parts[10] = pageNodes.links.length;
    }
    return {ops, text: texts.join(''), parts, links};
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
      const started = performance.now();
      const pageNodes = new PageNodes(doc);
      const description = describePage(doc, pageNodes, {
        options: request.options === undefined ? 13 : request.options,
        savedSearchText: request.savedSearchText ?? null,
        url: request.url ?? doc.URL,
        referrer: request.referrer ?? doc.referrer,
        title: request.title ?? doc.title,
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
        } finally {
          m.glintmarkPage = null;
        }
        // The module's memory may have grown during the pass: fresh views.
        const length = m.HEAP32[lengthAt >> 2];
        const report = JSON.parse(utf8.decode(m.HEAPU8.subarray(reportAt, reportAt + length)));
        report.status = parseInt(report.result, 16) >>> 0;
        report.text = report.searchText ?? null;
        if (pageNodes.error) report.domError = pageNodes.error;
        report.milliseconds = {describe: described - started, pass: performance.now() - described};
        return report;
      } finally {
        m._glintmark_free(block);
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
