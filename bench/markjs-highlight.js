// mark.js 8 under jsdom, end to end as `glintmark highlight` runs: read the
// page, parse it, mark every keyword (each in its own colour, parts of words
// too, case-insensitive), serialise and write the page. Prints the matches.
//
//   node bench/markjs-highlight.js MODULES PAGE OUT KEYWORD...
'use strict';
const fs = require('fs');
const path = require('path');

const [modules, page, out, ...keywords] = process.argv.slice(2);
const { JSDOM } = require(path.join(modules, 'jsdom'));
const markSource = fs.readFileSync(path.join(modules, 'mark.js', 'dist', 'mark.js'), 'utf8');
const colours = ['#ffff66', '#a0ffff', '#99ff99', '#9acd32', '#ee82ee', '#ff8c00'];

const dom = new JSDOM(fs.readFileSync(page), { runScripts: 'outside-only' });
dom.window.eval(markSource);
const marker = new dom.window.Mark(dom.window.document.body);
let matches = 0;
keywords.forEach((keyword, i) => {
  const colour = colours[Math.min(i, colours.length - 1)];
  marker.mark(keyword, {
    element: 'span',
    separateWordSearch: false,
    diacritics: false,
    each: (element) => element.setAttribute('style', `color:black;background-color:${colour}`),
    done: (count) => { matches += count; },
  });
});
fs.writeFileSync(out, dom.serialize());
console.log(JSON.stringify({ matches }));
