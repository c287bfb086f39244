// Searches in many languages through the engine in Chromium: for each row of
// tools/glintmark/testing/languages.json (the table `glintmark highlight
// --codepage 65001` is tested with), a page reached from a search for what
// the user typed gets the keywords expected, every occurrence of each is
// marked, and the page's text stays as it was.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { ROOT, browserMissing, servedBrowser, injectEngine, injectPageHalf, highlight, highlightApart, pageState }
  from '../../testing/browser/browser.mjs';
import { noErrors } from '../../testing/browser/assertions.mjs';

const { rows } = JSON.parse(readFileSync(join(ROOT, 'tools/glintmark/testing/languages.json'), 'utf8'));
const PALETTE = ['#ffff66', '#a0ffff', '#99ff99', '#9acd32', '#ee82ee', '#ff8c00'];

// The results page's address as the browser makes it from the typed text.
const referrer = (typed) => `https://search.example/search?${new URLSearchParams({ hl: 'en', q: typed })}`;

describe('searches in many languages', { skip: browserMissing }, () => {
  const browser = servedBrowser();
  // The extension's path: the page's half in the page, the engine in another
  // page, as the extension's worker holds it.
  let enginePage = null;
  async function highlightThroughExtension(page, settings) {
    if (!enginePage) {
      enginePage = await browser.open('/languages/engine', { body: '<p>the engine</p>' });
      await injectEngine(enginePage);
    }
    await injectPageHalf(page);
    return highlightApart(page, enginePage, settings);
  }

  rows.forEach((row, index) => {
    for (const prefer of ['wasm', 'js', 'extension']) {
      it(`${row.language} (${prefer})`, async () => {
        const page = await browser.open(`/languages/${index}/${prefer}`, {
          body: '<!DOCTYPE html><html><head><meta charset="utf-8"><title>Page</title></head>' +
            `<body>${row.page}</body></html>`,
        });
        const before = await pageState(page);
        const settings = { options: 5, url: 'https://site.example/page.html', referrer: referrer(row.typed) };
        let report;
        if (prefer === 'extension') {
          ({ report } = await highlightThroughExtension(page, settings));
        } else {
          await injectEngine(page);
          ({ report } = await highlight(page, { prefer, ...settings }));
        }
        const after = await pageState(page);
        await page.close();
        assert.deepEqual(report.keywords.map(({ word }) => word), row.keywords.map(([word]) => word));
        const marked = after.marked ? after.marked.split('\n') : [];
        row.keywords.forEach(([word, texts], position) => {
          const colour = PALETTE[Math.min(position, PALETTE.length - 1)];
          const found = marked.filter((line) => line.startsWith(`${colour} `)).map((line) => line.slice(8));
          assert.deepEqual(found, texts, `the marks of ${word}`);
          assert.equal(report.keywords[position].spans, texts.length, `the spans of ${word}`);
        });
        assert.equal(after.text, before.text, 'the page\'s text');
        noErrors(page);
      });
    }
  });
});
