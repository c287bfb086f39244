// Writes a deterministic test page of about SIZE bytes: paragraphs, headings,
// lists, tables and links, inline markup that splits words, script and style
// blocks, and the benchmark's keywords also inside attributes and comments
// (where no highlighter may touch them).
//
//   node bench/generate-page.js 1000000 page-1mb.html
'use strict';
const fs = require('fs');

const size = Number(process.argv[2]);
const out = process.argv[3];
if (!size || !out) {
  console.error('usage: generate-page.js SIZE OUT');
  process.exit(2);
}

let seed = 12345;
function random(n) {  // a small LCG: the same page on every machine
  seed = (seed * 1103515245 + 12345) & 0x7fffffff;
  return seed % n;
}
const keywords = ['snow', 'leopard', 'habitat', 'mountain', 'river', 'glacier', 'valley'];
const filler = ('the of and a in to is was for on that with as by at from his her it an were ' +
  'are which this be or has had not but what all their when who will more would there each ' +
  'about many then them these some like into time very after year people could other over ' +
  'stone forest meadow ridge slope winter summer herd track shadow trail cliff ledge pine ' +
  'marmot ibex sheep yak herder village pass camp ice water wind cloud').split(' ');

function word() {
  return random(14) === 0 ? keywords[random(keywords.length)] : filler[random(filler.length)];
}
function sentence() {
  const words = [];
  const n = 6 + random(14);
  for (let i = 0; i < n; i++) {
    let w = word();
    if (i === 0) w = w[0].toUpperCase() + w.slice(1);
    const r = random(40);
    if (r === 0) w = `<b>${w}</b>`;
    else if (r === 1) w = `<a href="/wiki/${word()}" title="${word()} page">${w}</a>`;
    else if (r === 2 && w.length > 3) w = `${w.slice(0, 2)}<i>${w.slice(2)}</i>`;  // a split word
    words.push(w);
  }
  return words.join(' ') + '.';
}
function block() {
  switch (random(12)) {
    case 0: return `<h2 id="s${random(100000)}">${sentence()}</h2>\n`;
    case 1: {
      let items = '';
      for (let i = 0, n = 3 + random(5); i < n; i++) items += `<li>${sentence()}</li>`;
      return `<ul>${items}</ul>\n`;
    }
    case 2: {
      let rows = '';
      for (let i = 0, n = 2 + random(4); i < n; i++) {
        rows += `<tr><td>${word()}</td><td>${random(5000)}</td><td>${sentence()}</td></tr>`;
      }
      return `<table>${rows}</table>\n`;
    }
    case 3: return `<!-- ${keywords[random(7)]} ${keywords[random(7)]} note -->\n`;
    case 4: return `<script>var ${'v' + random(1000)} = "${keywords[random(7)]} ${word()}";</script>\n`;
    case 5: return `<div class="${keywords[random(7)]}" data-topic="${keywords[random(7)]}"><p>${sentence()}</p></div>\n`;
    default: {
      let text = '';
      for (let i = 0, n = 2 + random(6); i < n; i++) text += sentence() + ' ';
      return `<p>${text.trim()}</p>\n`;
    }
  }
}

const parts = ['<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">',
  '<title>Benchmark page</title><style>.snow { color: #333 } .leopard { margin: 0 }</style>',
  '</head><body>\n'];
let length = parts.join('').length;
while (length < size - 20) {
  const b = block();
  parts.push(b);
  length += Buffer.byteLength(b);
}
parts.push('</body></html>\n');
fs.writeFileSync(out, parts.join(''));
