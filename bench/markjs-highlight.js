// mark.js 8 under jsdom, end to end as `glintmark highlight` runs: read the
// page, parse it, mark every keyword (each in its own colour, parts of words
// too, case-insensitive, across inline markup, not in noscript), serialise
// and write the page. Prints the matches.
//
//   node bench/markjs-highlight.js MODULES PAGE OUT KEYWORD...
'use strict';
const fs = require('fs');
const path = require('path');

const [modules, page, out, ...keywords] = process.argv.slice(2);
const { JSDOM } = require(path.join(modules, 'jsdom'));
const markSource = fs.readFileSync(path.join(modules, 'mark.js', 'dist', 'mark.js'), 'utf8');
const colours = ['#ffff66', '#a0ffff', '#99ff99', '#9acd32', '#ee82ee', '#ff8c00'];

let matches = 0;
const dom = new JSDOM(fs.readFileSync(page), { runScripts: 'outside-only' });
dom.window.eval(markSource);
// With acrossElements, mark.js wraps a word split by inline markup piece by
// piece and counts pieces; count the matches its regular expressions find
// instead, so the count is comparable with glintmark's.
const regExpPrototype = dom.window.eval('RegExp.prototype');
const exec = regExpPrototype.exec;
regExpPrototype.exec = function countingExec(text) {
  const found = exec.call(this, text);
  if (found !== null && found[0] !== '') matches++;
  return found;
};
const marker = new dom.window.Mark(dom.window.document.body);
keywords.forEach((keyword, i) => {
  const colour = colours[Math.min(i, colours.length - 1)];
  marker.mark(keyword, {
    element: 'span',
    separateWordSearch: false,
    diacritics: false,
    acrossElements: true,
    exclude: ['noscript', 'noscript *', 'textarea', 'select', 'select *', 'template', 'template *'],
    each: (element) => element.setAttribute('style', `color:black;background-color:${colour}`),
  });
});
fs.writeFileSync(out, dom.serialize());
console.log(JSON.stringify({ matches }));
