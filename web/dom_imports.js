// The module's imports (declared in web/dom_imports.h): each hands the call
// to the list of changes that web/glintmark.js sets on the module for the
// pass under way, with the strings read out of the module's memory; the page
// makes them once the pass is over (web/page.js).
mergeInto(LibraryManager.library, {
  glintmark_dom_split_text: function (node, offset, rest) {
    Module['glintmarkPage'].splitText(node, offset, rest);
  },
  glintmark_dom_clone: function (original, clone) {
    Module['glintmarkPage'].clone(original, clone);
  },
  glintmark_dom_create: function (element, name, nameLength, attributes, attributesLength) {
    Module['glintmarkPage'].create(element, HEAPU8.slice(name, name + nameLength),
                                   HEAPU8.slice(attributes, attributes + attributesLength));
  },
  glintmark_dom_insert: function (parent, child, before) {
    Module['glintmarkPage'].insert(parent, child, before);
  },
  glintmark_dom_set_title: function (link, title, length) {
    Module['glintmarkPage'].setTitle(link, HEAPU16.slice(title >> 1, (title >> 1) + length));
  },
});
