// GlintmarkPage: the page's half of a pass, with no engine in it. It walks a
// document into the request the engine takes (web/protocol.js) and makes the
// changes the engine answers with to the document's own nodes. The engine may
// run in the same page (web/glintmark.js) or elsewhere (the extension's
// service worker); what crosses is plain data either way.
//
//   const {request, page} = GlintmarkPage.describe(document, facts, {body: true, links: true});
//   // ... the engine's run(request) gives `answer` ...
//   const domError = GlintmarkPage.apply(page, answer);   // null when every change was made
//
// Nothing is parsed from markup: text nodes are cut, elements made or copied
// and the page's nodes moved, so they keep their identity, listeners and
// form state.
(function (global) {
  'use strict';

  const {PageOp, BodyKind, Part, VERSION, Change, CHANGE_SIZE} = global.GlintmarkProtocol;
  const HTML_NS = 'http://www.w3.org/1999/xhtml';
  const XLINK_NS = 'http://www.w3.org/1999/xlink';
  const WRAP_CHANGES = 4;  // the changes of the usual match (wrapsCut)
  // Stands between two roots of a partial pass (a line break of our own).
  const SEPARATOR = {nodeType: 0};
  // The elements whose content the search never reads (the engine's own
  // list, by lowercase name: script, form controls' options, foreign
  // content...). The walk gives them without their content: a page's
  // inline icons and long option lists cost nothing.
  const HIDDEN = new Set(['script', 'style', 'noscript', 'template', 'textarea', 'select', 'option', 'title',
    'iframe', 'noembed', 'noframes', 'datalist', 'optgroup', 'head', 'svg', 'math', 'xmp', 'plaintext']);

  // The elements that can host a shadow root besides custom elements (the
  // rest have none to ask for).
  const SHADOW_HOSTS = new Set(['article', 'aside', 'blockquote', 'body', 'div', 'footer', 'h1', 'h2', 'h3', 'h4',
    'h5', 'h6', 'header', 'main', 'nav', 'p', 'section', 'span']);

  function bodyKind(doc) {
    const body = doc.body;
    if (body && body.localName === 'body') return BodyKind.body;
    return body ? BodyKind.frameset : BodyKind.none;
  }

  // A link's address as the href property gives it (resolved; empty when the
  // element has none). SVG's <a> has no such property: its attribute is
  // resolved against the document's base the same way.
  function linkAddress(element, doc) {
    if (element.namespaceURI === HTML_NS) return element.href || '';
    return resolveLink(linkValue(element), doc.baseURI);
  }

  // A link's href attribute as written (null for none).
  function linkValue(element) {
    if (element.namespaceURI === HTML_NS) return element.getAttribute('href');
    return element.getAttribute('href') ?? element.getAttributeNS(XLINK_NS, 'href');
  }

  // The address the href property gives for a link whose attribute reads
  // `value` (null: none) in a document whose base URL is `base`, as the
  // browser resolves it in a UTF-8 document: "" for none, the value as
  // written where it is no URL.
  function resolveLink(value, base) {
    if (value === null) return '';
    try {
      return new URL(value, base).href;
    } catch (e) {
      return value;
    }
  }

  // The request for `doc`: its body's records when `needs.body`, its links'
  // addresses when `needs.links`, every string in one text (offsets and
  // lengths in UTF-16 units). With `needs.roots` (nodes, or arrays of sibling
  // nodes searched together), those subtrees only, as the children of a
  // body of our own; `needs.shadow` searches the content of open shadow
  // roots as their hosts' text; `needs.skipEditable` leaves editable
  // elements' content out. With `needs.rawLinks`, a UTF-8 document's links
  // go as their attributes' values (length -1 for none) and the request's
  // `linkBase` is the document's base URL: resolving them (resolveLink),
  // the work of the href property, is left to the engine's side, away from
  // the page's thread. `facts` gives the options word, the saved
  // search text, the URL, referrer and title. `page` keeps the nodes by
  // number (1 is the body) and the links, for apply(), and what a painter
  // of its own needs (below).
  function describe(doc, facts, needs) {
    const describing = describer(doc, facts, needs);
    describing.step(Infinity);
    return describing.finish();
  }

  // describe() in steps: step(deadline) walks on until performance.now()
  // passes `deadline` and answers whether the walk is over; finish() then
  // gives {request, page}. Between two steps the page may run and change:
  // the walk goes on from where it stopped (from nodes it holds), so the
  // caller must watch the document for changes meanwhile and not trust the
  // request where it changed. `visited` counts the nodes walked so far.
  function describer(doc, facts, needs) {
    // The records, as integers (finish() gives them as an array or typed).
    const ops = [];
    const texts = [];
    let units = 0;
    const addText = (s) => {
      const offset = units;
      texts.push(s);
      units += s.length;
      return offset;
    };
    // Each element name's lowercase form in the text, as [offset, length],
    // by localName; then whether its content is hidden, whether it is a
    // custom element's name, whether it is defined (asked when needed),
    // whether such an element can host a shadow root.
    const names = new Map();
    const nameOf = (localName) => {
      let name = names.get(localName);
      if (name === undefined) {
        const lower = localName.toLowerCase();
        const custom = lower.includes('-');
        name = [addText(lower), lower.length, HIDDEN.has(lower), custom, undefined,
          custom || SHADOW_HOSTS.has(localName)];
        names.set(localName, name);
      }
      return name;
    };

    // page: the nodes by number (1 is the body, or our own body around a
    // partial pass's roots), the open shadow roots walked, the custom
    // elements met before their definition (a shadow root may come with it),
    // (slot's number, the parent of the nodes it shows) pairs, the links.
    // (Each node's parent and each text's length are in the records.)
    const page = {doc, nodes: [null], shadowRoots: [], undefinedHosts: [], slotParents: [], links: []};
    const nodes = page.nodes;
    const {roots, shadow, skipEditable} = needs;
    // `shadow` may be a function that gives a custom element's root where
    // the shadowRoot property does not (a closed one, to an extension).
    const shadowOf = typeof shadow === 'function' ? shadow : null;
    const ELEMENT = PageOp.element, END = PageOp.end, TEXT = PageOp.text, OTHER = PageOp.other;
    // The walk. Children come from a sibling chain (the usual case) or a
    // list (the roots of a partial pass, a slot's assigned nodes). With
    // `shadow`, an element that hosts an open shadow root has that tree's
    // content as its children, its slots filled with what they show, so the
    // text searched is the text the host renders. With `skipEditable`,
    // editable content is a closed box: an element, no content. Its state
    // lives here, between steps; `stack` holds (list, index, next sibling,
    // in a shadow tree) of each element the walk is in. The loop runs once
    // per node of the page, most often in code not yet optimized (a
    // content script's first run in a frame): it does as little as it can.
    const stack = [];
    let list = null, index = 0, node = null, inShadow = false;
    // Walks until `deadline` (the clock read every 256 nodes); true when the
    // walk is over.
    const walk = (deadline) => {
      for (let count = 0; ; ++count) {
        if ((count & 255) === 255 && performance.now() > deadline) return false;
        if (node === null) {
          if (stack.length === 0) return true;
          ops.push(END);
          inShadow = stack.pop();
          node = stack.pop();
          index = stack.pop();
          list = stack.pop();
          continue;
        }
        const next = list === null ? node.nextSibling : (list[++index] ?? null);
        const type = node.nodeType;
        if (type === 3 || type === 4) {
          nodes.push(node);
          const data = node.data;
          ops.push(TEXT, units, data.length);
          texts.push(data);
          units += data.length;
          node = next;
          continue;
        }
        const id = nodes.length;
        if (node === SEPARATOR) {
          nodes.push(null);
          const name = nameOf('br');
          ops.push(ELEMENT, name[0], name[1], END);
          node = next;
          continue;
        }
        nodes.push(node);
        if (type !== 1) {
          ops.push(OTHER);
          node = next;
          continue;
        }
        const localName = node.localName;
        const name = nameOf(localName);
        ops.push(ELEMENT, name[0], name[1]);
        if (roots && localName === 'a') page.links.push(node);
        let childList = null, child = node.firstChild, childInShadow = inShadow;
        if (shadow) {
          const root = !name[5] ? null : shadowOf !== null && name[3] ? shadowOf(node) : node.shadowRoot;
          if (root) {
            page.shadowRoots.push(root);
            child = root.firstChild;
            childInShadow = true;
          } else if (inShadow && localName === 'slot') {
            const shown = node.assignedNodes({flatten: true});
            if (shown.length) {
              // Spans go where the shown nodes are, not into the slot.
              page.slotParents.push(id, shown[0].parentNode);
              childList = shown;
              child = shown[0];
              childInShadow = false;
            }
          } else if (name[3] && name[4] !== true) {
            // A name is defined for all its elements in the page at once:
            // asked once per name and walk.
            name[4] ??= node.matches(':defined');
            if (!name[4]) page.undefinedHosts.push(node);
          }
        }
        if (skipEditable && child && node.hasAttribute('contenteditable') &&
            node.getAttribute('contenteditable') !== 'false') {
          child = null;
        }
        if (name[2] && child) {
          // A partial pass finds its links in the walk: those inside too.
          if (roots) for (const link of node.getElementsByTagName('a')) page.links.push(link);
          child = null;
        }
        if (child) {
          stack.push(list, index, next, inShadow);
          list = childList;
          index = 0;
          node = child;
          inShadow = childInShadow;
          continue;
        }
        ops.push(END);
        node = next;
      }
    };

    let kind = doc ? bodyKind(doc) : facts.bodyKind;
    if (roots && doc) {
      // A partial pass: the roots as the children of a body of our own, a
      // line break between each two, so that no match joins two of them. A
      // root is a node, or a run of siblings searched together.
      kind = BodyKind.body;
      nodes.push(null);
      const rootList = [];
      for (const root of roots) {
        if (Array.isArray(root)) for (const each of root) rootList.push(each);
        else rootList.push(root);
        rootList.push(SEPARATOR);
      }
      rootList.pop();
      [list, node] = [rootList, rootList[0] ?? null];
    } else if (kind === BodyKind.body && needs.body) {
      nodes.push(doc.body);
      // A document in design mode is editable content as a whole.
      node = skipEditable && doc.designMode === 'on' ? null : doc.body.firstChild;
    }

    // After the walk, the links' addresses (a partial pass's links were
    // found by the walk), also in steps.
    const links = [];
    let linksFound = false, linkAt = 0;
    // The href property resolves with the document's encoding, a URL
    // elsewhere with UTF-8: only a UTF-8 document's links go raw.
    const linkBase = needs.rawLinks && doc && doc.characterSet === 'UTF-8' ? doc.baseURI : null;
    const linkAddresses = (deadline) => {
      if (!needs.links || !doc) return true;
      if (!linksFound) {
        linksFound = true;
        if (!roots) {
          const all = doc.getElementsByTagName('a');
          for (let i = 0, n = all.length; i < n; ++i) page.links.push(all[i]);
        }
      }
      for (; linkAt < page.links.length; ++linkAt) {
        if ((linkAt & 63) === 63 && performance.now() > deadline) return false;
        if (linkBase !== null) {
          const value = linkValue(page.links[linkAt]);
          if (value === null) links.push(0, -1);
          else links.push(addText(value), value.length);
          continue;
        }
        const address = linkAddress(page.links[linkAt], doc);
        links.push(addText(address), address.length);
      }
      return true;
    };

    let walked = false;
    return {
      page,
      get visited() { return nodes.length; },
      step(deadline) {
        walked ||= walk(deadline);
        return walked && linkAddresses(deadline);
      },
      // With `typed`, the integers as Int32Arrays (one block to copy for a
      // message that takes them as they are).
      finish({typed = false} = {}) {
        const parts = new Array(Part.count).fill(0);
        const part = (name, s) => {
          const none = s === null || s === undefined;
          parts[Part[`${name}Offset`]] = none ? 0 : addText(String(s));
          parts[Part[`${name}Length`]] = none ? -1 : String(s).length;
        };
        part('url', facts.url);
        part('referrer', facts.referrer);
        part('title', facts.title);
        part('saved', facts.savedSearchText);
        parts[Part.bodyKind] = kind;
        parts[Part.options] = facts.options >>> 0;
        parts[Part.version] = VERSION;
        if (needs.links && doc) parts[Part.linkCount] = page.links.length;
        const ints = (list) => (typed ? Int32Array.from(list) : list);
        const request = {ops: ints(ops), text: texts.join(''), parts, links: ints(links)};
        if (linkBase !== null && needs.links) request.linkBase = linkBase;
        return {request, page};
      },
    };
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

  // Makes the engine's answer to the page: the links' titles ([link, title]
  // pairs, flat), then the changes in the order the pass made them to its
  // copy, with one difference: a text node is cut in one go. Text.splitText
  // copies what follows the cut into the new node and what precedes it into
  // the old one, so cutting a long text at each of its matches in turn would
  // copy it once per match; here each piece is made with its final text and
  // the cut node's text is set once. A change that the DOM refuses leaves the
  // rest undone: the engine's copy and the page would no longer be the same
  // tree. Returns why, or null.
  function apply(page, {changes, made, titles}) {
    let error = null;
    for (let j = 0; j + 1 < titles.length; j += 2) {
      try {
        page.links[titles[j]].setAttribute('title', titles[j + 1]);
      } catch (e) {
        error = error || String(e && e.message || e);
      }
    }
    const doc = page.doc, nodes = page.nodes;
    // Nodes a slot shows are children of the host, not of the slot.
    const slots = page.slotParents ?? [];
    for (let j = 0; j + 1 < slots.length; j += 2) nodes[slots[j]] = slots[j + 1];

    // Makes the element of the clone or create change at index i.
    const make = (i) => {
      if (changes[i] === Change.clone) {
        nodes[changes[i + 2]] = nodes[changes[i + 1]].cloneNode(false);
        return;
      }
      const [name, attributes] = made[changes[i + 2]];
      const element = doc.createElementNS(HTML_NS, name);
      for (let j = 0; j + 1 < attributes.length; j += 2) element.setAttribute(attributes[j], attributes[j + 1]);
      nodes[changes[i + 1]] = element;
    };

    // Where each cut text node's final text lies in the text of the node it
    // was cut from (that node's text as it stands now): source, start, end.
    let last = nodes.length;
    for (let i = 0; i < changes.length; i += CHANGE_SIZE) if (changes[i + 3] >= last) last = changes[i + 3] + 1;
    const source = new Int32Array(last), start = new Int32Array(last), end = new Int32Array(last);
    const texts = new Array(last).fill(null);  // each cut node's text, read once
    for (let i = 0; i < changes.length; i += CHANGE_SIZE) {
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

    // The usual match: a text node cut, a span made, put where the piece cut
    // off went and the piece moved into it. Made at once, the piece goes
    // into the span while both are still outside the page, and one insertion
    // into the page does instead of three. The four changes from index i:
    // split(cut, offset, piece); clone(_, span) or create(span, _);
    // insert(parent, span, piece); insert(span, piece, 0). True when the
    // changes from i are that and have been made.
    const wrapsCut = (i) => {
      if (changes[i] !== Change.split || i + WRAP_CHANGES * CHANGE_SIZE > changes.length) return false;
      const at = (k, f) => changes[i + k * CHANGE_SIZE + f];  // field f (0 the kind) of the k-th change
      const cut = at(0, 1), piece = at(0, 3);
      const span = at(1, 0) === Change.clone ? at(1, 2) : at(1, 0) === Change.create ? at(1, 1) : 0;
      if (!span || at(2, 0) !== Change.insert || at(2, 2) !== span || at(2, 3) !== piece ||
          at(3, 0) !== Change.insert || at(3, 1) !== span || at(3, 2) !== piece || at(3, 3) !== 0) {
        return false;
      }
      // (A partial pass's roots are children of a body of its own, which is
      // no node: a span cut from a root goes into the root's own parent.)
      const parent = nodes[cut].parentNode, into = nodes[at(2, 1)];
      if (!parent || (into !== parent && into !== null)) return false;
      nodes[piece] = doc.createTextNode(texts[source[piece]].slice(start[piece], end[piece]));
      make(i + CHANGE_SIZE);
      nodes[span].appendChild(nodes[piece]);
      parent.insertBefore(nodes[span], nodes[cut].nextSibling);
      return true;
    };

    let i = 0;
    try {
      for (; i < changes.length; i += CHANGE_SIZE) {
        const a = changes[i + 1], b = changes[i + 2], c = changes[i + 3];
        if (wrapsCut(i)) {
          i += (WRAP_CHANGES - 1) * CHANGE_SIZE;
          continue;
        }
        switch (changes[i]) {
          case Change.split: {
            const rest = doc.createTextNode(texts[source[c]].slice(start[c], end[c]));
            nodes[a].parentNode.insertBefore(rest, nodes[a].nextSibling);
            nodes[c] = rest;
            break;
          }
          case Change.clone:
          case Change.create:
            make(i);
            break;
          case Change.insert: {
            const before = c ? nodes[c] : null;
            // A partial pass's roots are children of a body of its own,
            // which is no node: what goes into it before a root goes into
            // that root's own parent (a span around a root that is text).
            const parent = nodes[a] ?? (a === 1 && before ? before.parentNode : null);
            if (!parent) throw new Error('no parent to insert into');
            place(parent, nodes[b], before);
            break;
          }
        }
      }
    } catch (e) {
      error = String(e && e.message || e);
    }
    // A node some of whose pieces were never made keeps all its text: some
    // of it shown twice rather than lost.
    for (let j = i; j < changes.length; j += CHANGE_SIZE) {
      if (changes[j] === Change.split) texts[source[changes[j + 3]]] = null;
    }
    // Last, the cut nodes of the page keep only their first piece.
    for (let id = 1; id < texts.length; ++id) {
      const text = texts[id];
      if (text && end[id] !== text.length) nodes[id].data = text.slice(0, end[id]);
    }
    return error;
  }

  // The request for a document known by its facts alone (the same fields,
  // and `bodyKind`, what it has where a body goes): the pass over it chooses
  // the search text and the keywords, which depend on nothing else, and
  // updates the session, without a node or link to change.
  function describeFacts(facts) {
    return describe(null, facts, {body: false, links: false}).request;
  }

  // A request whose links went raw (`linkBase`), with their addresses
  // resolved as the page's href properties would give them: the links'
  // strings appended to the text anew.
  function resolveLinks(request) {
    const {text, links, linkBase} = request;
    if (typeof linkBase !== 'string') return request;
    const resolved = Array.isArray(links) ? links.slice() : Int32Array.from(links);
    const added = [];
    let units = text.length;
    for (let i = 0; i + 1 < links.length; i += 2) {
      const address = resolveLink(links[i + 1] < 0 ? null : text.substr(links[i], links[i + 1]), linkBase);
      resolved[i] = units;
      resolved[i + 1] = address.length;
      added.push(address);
      units += address.length;
    }
    const {linkBase: _, ...rest} = request;
    return {...rest, text: text + added.join(''), links: resolved};
  }

  // Whether the search reads no text inside an element of this (lowercase)
  // name.
  const hides = (localName) => HIDDEN.has(localName);

  global.GlintmarkPage = Object.freeze({bodyKind, describe, describer, describeFacts, apply, resolveLinks, hides});
})(globalThis);
