// GlintmarkShadows.rootOf(element): the shadow root an element hosts, open
// or closed, or null; parentOf(node): the element above a node (for a
// shadow tree's top nodes, its host). A closed root is out of the page's
// other scripts' reach, not of an extension's: Chromium gives it through
// chrome.dom, Firefox as the property Element.openOrClosedShadowRoot (to
// content scripts only). Closed roots are looked for on custom elements (a name
// with a hyphen), which is where pages put them; asking every div and span
// would cost the walk an extension call per element. Our own elements
// (glintmark-*) keep theirs: nothing in them is the page's text.
(function (global) {
  'use strict';

  const HTML_NS = 'http://www.w3.org/1999/xhtml';
  // Looked up at the first custom element: the extension API's object is
  // made for a frame's world when first touched, and most frames have none.
  let closedOf = (element) => {
    const dom = global.chrome?.dom;
    closedOf = typeof dom?.openOrClosedShadowRoot === 'function'
      ? (host) => dom.openOrClosedShadowRoot(host)
      : (host) => host.openOrClosedShadowRoot;
    return closedOf(element);
  };

  // In Chromium each ask is an extension call of some microseconds: a page
  // of thousands of components without shadow roots (many frameworks' way),
  // or of custom names never defined (styling hooks), would pay them on
  // every walk. A component's class attaches a root to all its elements or
  // to none, so a name whose first MISSES defined elements had none is not
  // asked again in this document; nor, while they stay undefined, one whose
  // first MISSES undefined elements had none (a root before the definition
  // is the markup's own, which comes to all or none); a name that had a
  // closed root is always asked.
  const MISSES = 16;
  // name -> [defined, undefined] elements found without a root; null: the
  // name has closed roots.
  const misses = new Map();

  function rootOf(element) {
    const open = element.shadowRoot;
    if (open) return open;
    const name = element.localName;
    if (!name.includes('-') || name.startsWith('glintmark-') || element.namespaceURI !== HTML_NS) return null;
    let missed = misses.get(name);
    const kind = missed === null ? 0 : element.matches(':defined') ? 0 : 1;
    if (missed && missed[kind] >= MISSES) return null;
    let root = null;
    try {
      root = closedOf(element) ?? null;
    } catch (e) {
      return null;
    }
    if (root) {
      misses.set(name, null);
    } else if (missed !== null) {
      if (!missed) misses.set(name, missed = [0, 0]);
      missed[kind]++;
    }
    return root;
  }

  // The element above `node`, across a shadow root to its host.
  const parentOf = (node) => node.parentElement ?? node.parentNode?.host ?? null;

  global.GlintmarkShadows = Object.freeze({rootOf, parentOf});
})(globalThis);
