// The request the engine takes, by name, for the JavaScript side: the kinds
// of the body's records, the positions of the `parts` integers, and the
// changes the pass asks of the page (4 integers each). web/protocol.h holds
// the same numbers for the module; the two change together. One classic
// script: it defines GlintmarkProtocol.
(function (global) {
  'use strict';

  global.GlintmarkProtocol = Object.freeze({
    // The records of the page's body: a kind, then (offset, length) in the
    // request's text for an element's lowercase name or a text's data.
    PageOp: Object.freeze({element: 1, end: 2, text: 3, other: 4}),
    BodyKind: Object.freeze({none: 0, body: 1, frameset: 2}),
    // The integers of `parts`, by position; a string is (offset, length) in
    // the request's text, length -1 for none.
    Part: Object.freeze({
      urlOffset: 0, urlLength: 1, referrerOffset: 2, referrerLength: 3, titleOffset: 4, titleLength: 5,
      savedOffset: 6, savedLength: 7, bodyKind: 8, options: 9, linkCount: 10, version: 11, count: 12,
    }),
    VERSION: 1,
    // The changes, in the order the pass made them to its copy, each
    // [kind, a, b, c] over the page's nodes by number (1 the body, later
    // nodes numbered as they are made; 0 no node):
    //   split   a: text node, b: offset (UTF-16 units), c: the new node with what follows
    //   clone   a: the element copied (shallow), b: the copy
    //   create  a: the new element, b: its index in the list of made elements' names and attributes
    //   insert  a: parent, b: child, c: the node it goes before (0: last)
    Change: Object.freeze({split: 1, clone: 2, create: 3, insert: 4}),
    CHANGE_SIZE: 4,
  });
})(globalThis);
