// mark.js 8 under jsdom, end to end as `glintmark highlight` runs: read the
// page, parse it, mark every keyword (each in its own colour, parts of words
// too, case-insensitive, not in noscript), serialise and write the page.
// Prints the matches. mark.js's own default leaves a word that inline markup
// splits ("wea<b>ther</b>") unmatched, where glintmark matches it; its
// acrossElements mode would match it too, but grows faster than linearly
// (over 10 minutes for a 10 MB page and 2 keywords), so the default is used
// and the match counts differ by the split words.
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
// The matches its regular expressions find (what mark.js's done() reports,
// without relying on its callbacks).
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
    exclude: ['noscript', 'noscript *', 'textarea', 'select', 'select *', 'template', 'template *'],
    each: (element) => element.setAttribute('style', `color:black;background-color:${colour}`),
  });
});
fs.writeFileSync(out, dom.serialize());
console.log(JSON.stringify({ matches }));
