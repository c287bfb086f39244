// Searches in other languages, as the extension's user meets them, against
// mark.js 8.11, in one headless Chromium run (best of --runs): for each row
// of tools/glintmark/testing/languages.json (the table the tool and the
// engine are tested with), a page of about 20 KB (the row's text, repeated)
// reached from a search for what the user typed (same site: the referrer
// keeps its query). The extension (default painter): the marks it made, of
// those the table expects, the load event to its last mark, the content
// script's own time; the page's main-thread time with and without the
// extension. mark.js, without the extension: one mark() per word typed
// (operators dropped), parts of words, case- and diacritics-insensitive as
// mark.js does them, from a load listener: its marks and time.
//
//   node extension/bench/bench-languages.mjs [--runs 2]
import { parseArgs } from 'node:util';
import { mkdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { ROOT, NODE_MODULES, launchChromium, newPage } from '../../testing/browser/browser.mjs';
import { buildExtension, contentWorld } from '../../testing/browser/extension.mjs';
import { startServer } from '../../testing/browser/server.mjs';

const { values } = parseArgs({ options: { runs: { type: 'string', default: '2' } } });
const runs = Number(values.runs);
const work = join(ROOT, 'build/web-bench-languages');
mkdirSync(work, { recursive: true });
const extension = join(work, 'extension');
buildExtension(extension, join(work, 'extension.zip'), { browser: 'chromium' });
const markSource = readFileSync(join(NODE_MODULES, 'node_modules/mark.js/dist/mark.js'), 'utf8');
const { rows } = JSON.parse(readFileSync(join(ROOT, 'tools/glintmark/testing/languages.json'), 'utf8'));
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

const server = await startServer();
const pages = rows.map((row, index) => {
  const repeats = Math.ceil(20480 / (row.page.length + 7));
  const body = `<!DOCTYPE html><html><head><meta charset="utf-8"><title>Page</title></head><body>` +
    `${`<p>${row.page}</p>`.repeat(repeats)}</body></html>`;
  return {
    row, repeats,
    url: server.serve(`/page-${index}.html`, { body }),
    referrer: `${server.origin}/search?${new URLSearchParams({ q: row.typed })}`,
    expected: row.keywords.reduce((n, [, texts]) => n + texts.length, 0) * repeats,
    words: row.typed.split(/\s+/).map((w) => w.replace(/^[-+"]+|"+$/g, '')).filter(Boolean),
  };
});
const results = pages.map(() => ({}));
const best = (at, name, value) => {
  results[at][name] = Math.min(results[at][name] ?? Infinity, value);
};

// The page's main-thread busy time so far (CDP Performance metrics).
async function mainThread(page) {
  const cdp = await page.target().createCDPSession();
  await cdp.send('Performance.enable');
  return async () => (await cdp.send('Performance.getMetrics')).metrics
    .find((m) => m.name === 'TaskDuration').value * 1000;
}

const loadTime = (page) => page.evaluate(() => performance.getEntriesByType('navigation')[0].loadEventStart);

const withExtension = await launchChromium({ extension });
const plain = await launchChromium();
try {
  const workerTarget = await withExtension.browser.waitForTarget((t) => t.type() === 'service_worker');
  const origin = `chrome-extension://${new URL(workerTarget.url()).host}`;
  for (let run = 0; run < runs; ++run) {
    for (const [at, { url, referrer, words }] of pages.entries()) {
      // With the extension.
      let page = await newPage(withExtension.browser);
      const world = await contentWorld(page, origin);
      const busy = await mainThread(page);
      await page.goto(url, { referer: referrer });
      const pass = await world('glintmarkPass.markedAt && glintmarkPass');
      await sleep(300);
      best(at, 'marks', -pass.report.keywords.reduce((n, k) => n + k.spans, 0));
      best(at, 'toMark', pass.markedAt - await loadTime(page));
      best(at, 'script', pass.milliseconds.describe + pass.milliseconds.apply);
      best(at, 'taskWith', await busy());
      await page.close();
      // Without it, and mark.js.
      for (const markjs of [false, true]) {
        page = await newPage(plain.browser);
        const busyWithout = await mainThread(page);
        if (markjs) {
          await page.evaluateOnNewDocument(`${markSource};
            addEventListener('load', () => {
              const marker = new Mark(document.body);
              let matches = 0;
              for (const word of ${JSON.stringify(words)}) {
                marker.mark(word, {separateWordSearch: false, accuracy: 'partially', diacritics: true,
                  caseSensitive: false, acrossElements: false, done: (n) => { matches += n; }});
              }
              window.marked = {at: performance.now(), matches};
            });`);
        }
        await page.goto(url, { referer: referrer });
        if (markjs) {
          await page.waitForFunction(() => window.marked);
          const { at: markedAt, matches } = await page.evaluate(() => window.marked);
          best(at, 'markjs', markedAt - await loadTime(page));
          best(at, 'markjsMarks', -matches);
        } else {
          await sleep(300);
          best(at, 'taskWithout', await busyWithout());
        }
        await page.close();
      }
    }
  }
} finally {
  await withExtension.close();
  await plain.close();
  await server.close();
}

const f = (ms) => ms.toFixed(Math.abs(ms) < 10 ? 1 : 0);
console.log(`\nPages of about 20 KB reached from a search in each language, best of ${runs} runs, ms:\n`);
console.log('| language | typed | marks made / expected | load event to last mark | content script | ' +
  'main thread without / with | mark.js marks | mark.js load event to last mark |');
console.log('|---|---|---|---|---|---|---|---|');
for (const [at, { row, expected }] of pages.entries()) {
  const r = results[at];
  console.log(`| ${row.language} | ${row.typed} | ${-r.marks} / ${expected} | ${f(r.toMark)} | ${f(r.script)} | ` +
    `${f(r.taskWithout)} / ${f(r.taskWith)} | ${-r.markjsMarks} | ${f(r.markjs)} |`);
}
