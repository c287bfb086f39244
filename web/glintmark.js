// GlintmarkEngine: the page pass of Glintmark, for a page script, a test
// driver or the extension's service worker.
//
//   const engine = await GlintmarkEngine.create();        // {prefer: 'auto' | 'wasm' | 'js'}
//   const report = engine.highlightDocument(document, {options: 13, savedSearchText: null});
//   // report.savedSearchText: the session's text for the next page
//
//   const answer = engine.run(request);   // a request from GlintmarkPage.describe, made anywhere
//   // answer: {report, changes, made, titles}, plain data for GlintmarkPage.apply
//
// The pass itself is C++ (core/ and the HTML model of html/), compiled
// twice: to WebAssembly (GlintmarkWasm) and to plain JavaScript
// (GlintmarkAsm). The second serves pages whose Content-Security-Policy
// forbids compiling WebAssembly. The engine files load them before this file
// (the extension's worker file: WebAssembly alone, which its own policy
// allows).
//
// What happens in one pass: the page's body is walked once into a request
// (web/page.js, the records of web/protocol.js); the module builds its copy
// of the body from it (web/live_page.h) and runs the pass there; each change
// it makes to the copy comes out through the module's imports
// (web/dom_imports.js) and is written down here; the page makes the list to
// its own nodes, by number. highlightDocument does all three in the page;
// the extension walks and applies in the page and runs the pass in its
// worker.
(function (global) {
  'use strict';

  const OptionsWord = global.GlintmarkOptionsWord;
  const {Change} = global.GlintmarkProtocol;
  const utf8 = new TextDecoder('utf-8');
  const utf16 = new TextDecoder('utf-16le');

  // What the module's imports write down during one pass: the changes
  // (web/protocol.js's Change records, flat), the name and attributes of
  // each element made from markup, and the links' titles ([link, title]
  // pairs, flat).
  class Changes {
    constructor() {
      this.changes = [];
      this.made = [];
      this.titles = [];
    }
    splitText(node, offset, rest) { this.changes.push(Change.split, node, offset, rest); }
    clone(original, clone) { this.changes.push(Change.clone, original, clone, 0); }
    create(element, nameBytes, attributeBytes) {
      this.changes.push(Change.create, element, this.made.length, 0);
      this.made.push([utf8.decode(nameBytes), utf8.decode(attributeBytes).split('\0')]);
    }
    insert(parent, child, before) { this.changes.push(Change.insert, parent, child, before); }
    setTitle(link, title) { this.titles.push(link, utf16.decode(title)); }
  }

  const failed = (result, error) => ({
    report: {result, status: parseInt(result, 16) >>> 0, keywords: [], tooltips: 0, ...(error ? {error} : {})},
    changes: [], made: [], titles: [],
  });

  class Engine {
    constructor(module, kind) {
      this.module = module;
      this.kind = kind;
    }

    // The pass over a described page (GlintmarkPage.describe's request:
    // {ops, text, parts, links}, typed arrays or plain arrays). Returns
    // {report, changes, made, titles}: the pass's report (the fields of
    // `glintmark highlight --json`, plus `status` as a number and `text` as
    // the search text) and what GlintmarkPage.apply makes of the page.
    run({ops, text, parts, links}) {
      const m = this.module;
      if (!m) throw new Error('this engine has stopped; create another');
      const encoder = new TextEncoder();
      const textCapacity = text.length * 3 + 1;
      const intBytes = 4 * (ops.length + parts.length + links.length + 1);
      const block = m._glintmark_alloc(intBytes + textCapacity);
      if (!block) return failed('0x8007000E');
      try {
        const opsAt = block;
        const partsAt = opsAt + 4 * ops.length;
        const linksAt = partsAt + 4 * parts.length;
        const lengthAt = linksAt + 4 * links.length;
        const textAt = lengthAt + 4;
        m.HEAP32.set(ops, opsAt >> 2);
        m.HEAP32.set(parts, partsAt >> 2);
        m.HEAP32.set(links, linksAt >> 2);
        const written = encoder.encodeInto(text, m.HEAPU8.subarray(textAt, textAt + textCapacity)).written;
        const changes = new Changes();
        m.glintmarkPage = changes;
        let reportAt;
        try {
          reportAt = m._glintmark_highlight(opsAt, ops.length, textAt, written, partsAt, linksAt, lengthAt);
        } catch (e) {
          // The module stopped (it ran out of memory where nothing could
          // catch it): the page is left as it was, and this engine is done.
          this.module = null;
          return failed('0x80004005', String(e && e.message || e));
        } finally {
          m.glintmarkPage = null;
        }
        // The module's memory may have grown during the pass: fresh views.
        const length = m.HEAP32[lengthAt >> 2];
        const report = JSON.parse(utf8.decode(m.HEAPU8.subarray(reportAt, reportAt + length)));
        report.status = parseInt(report.result, 16) >>> 0;
        report.text = report.searchText ?? null;
        return {report, changes: changes.changes, made: changes.made, titles: changes.titles};
      } finally {
        if (this.module) m._glintmark_free(block);
      }
    }

    // The page pass over `doc` (a Document) in this page, with the session's
    // saved text and the options word; returns the pass's report, with
    // `domError` when the page refused a change. Needs web/page.js.
    highlightDocument(doc, request = {}) {
      const started = performance.now();
      const options = request.options === undefined ? OptionsWord.default : request.options;
      const {request: described, page} = global.GlintmarkPage.describe(doc, {
        options,
        savedSearchText: request.savedSearchText ?? null,
        url: request.url ?? doc.URL,
        referrer: request.referrer ?? doc.referrer,
        title: request.title ?? doc.title,
      }, {body: true, links: (options & OptionsWord.linkTooltips) !== 0});
      const describedAt = performance.now();
      const answer = this.run(described);
      const domError = global.GlintmarkPage.apply(page, answer);
      const report = answer.report;
      if (domError) report.domError = domError;
      report.milliseconds = {describe: describedAt - started, pass: performance.now() - describedAt};
      return report;
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
