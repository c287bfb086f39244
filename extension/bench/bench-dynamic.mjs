// The extension as the page sees it, against mark.js 8.11, in one headless
// Chromium run (best of --runs):
//
// Times are the best of the runs; the longest task and step, the worst.
// - load event to the last mark on a generated page, as generated (its
//   images hold its load event back: the highlights painter marks it before
//   the load event, a negative time) and without its images (marked at the
//   load event): the extension's pass (the session's round trip, the walk,
//   the pass in the worker and the painting; mark.js run from a load
//   listener with the same keywords), for both painters; each contender's
//   own start to its last mark (ours: its pass's start, early or at the load; mark.js:
//   the load event); and to the end of the frame that shows it (a painter
//   that yields to the page between slices lets the page's own first layout
//   of its content come first; the frame includes it for every contender),
//   and the longest main-thread task of the page's life
//   (PerformanceObserver 'longtask', buffered: the page has no script of
//   its own, so its long tasks are the parser's, the layout's and ours);
// - incremental batches: text appended to that page after its pass, the
//   content script's main-thread time marking it (describing, painting), per
//   KB, against the same for its load pass over a page holding that text
//   alone; the longest batch;
// - a clock ticking in the body's inline content after that: the content
//   script's time and the characters searched per tick.
//
//   node extension/bench/bench-dynamic.mjs [--runs 3] [--shape dense] [--keywords 7] [SIZE]
import { parseArgs } from 'node:util';
import { existsSync, mkdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { ROOT, NODE_MODULES, launchChromium, newPage } from '../../testing/browser/browser.mjs';
import { buildExtension, contentWorld } from '../../testing/browser/extension.mjs';
import { startServer } from '../../testing/browser/server.mjs';
import { glintmark } from '../../testing/browser/tool.mjs';

const { values, positionals } = parseArgs({
  allowPositionals: true,
  options: {
    runs: { type: 'string', default: '3' },
    shape: { type: 'string', default: 'dense' },
    keywords: { type: 'string', default: '7' },
  },
});
const size = positionals[0] ?? '1M';
const runs = Number(values.runs);
const work = join(ROOT, 'build/web-bench');
mkdirSync(work, { recursive: true });
const keywords = glintmark('generate-page', '--keywords').split(/\s+/).filter(Boolean).slice(0, Number(values.keywords));
const file = join(work, `page-${values.shape}-${size}.html`);
if (!existsSync(file)) glintmark('generate-page', size, '--shape', values.shape, '-o', file);
const extension = join(work, 'extension');
buildExtension(extension, join(work, 'extension.zip'), { browser: 'chromium' });
const markSource = readFileSync(join(NODE_MODULES, 'node_modules/mark.js/dist/mark.js'), 'utf8');
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A load's times, from navigation start: the content's end
// (DOMContentLoaded), the load event, the contender's start, its last mark
// made and the end of the frame that showed it.
async function timeline(page, who, { startedAt, markedAt, shownAt }) {
  const { content, load } = await page.evaluate(() => {
    const entry = performance.getEntriesByType('navigation')[0];
    return { content: entry.domContentLoadedEventEnd, load: entry.loadEventStart };
  });
  best(`content, ${who}`, content);
  best(`load, ${who}`, load);
  best(`load to last mark, ${who}`, markedAt - load);
  best(`load to frame, ${who}`, shownAt - load);
  best(`start to last mark, ${who}`, markedAt - startedAt);
}

// A clock's ticks after that.
const TICKS = 10;
// The text appended after the pass, in paragraphs of the page's own words.
const appendedKB = [16, 64, 256];
const paragraph = `<p>${keywords.join(' and some words between ')} in a paragraph of its own.</p>`;
const appended = (kb) => paragraph.repeat(Math.ceil(kb * 1024 / paragraph.length));

// Long tasks are buffered from the page's start; read after the page settled.
const LONGEST = `new Promise((resolve) => {
  let longest = 0;
  new PerformanceObserver((list) => {
    for (const e of list.getEntries()) longest = Math.max(longest, e.duration);
  }).observe({type: 'longtask', buffered: true});
  setTimeout(() => resolve(longest), 100);
})`;

// The content script's own main-thread time so far (describing the page,
// painting or applying the answers, reading the marks for the popup, the
// strip and stepping).
const SCRIPT_MS = 'glintmarkPass.milliseconds.describe + glintmarkPass.milliseconds.apply + GlintmarkMarks.readMs';
const READ_MS = 'GlintmarkMarks.readMs';


const server = await startServer();
// A search on the same site: a cross-site referrer would be cut to its origin.
const referrer = `${server.origin}/search?q=${keywords.join('+')}`;
// The page as generated, whose images (answered 404 by the server) hold its
// load event back for seconds after its content, as a real page's do; and
// the same without them, its load event right after its content.
const address = server.serve('/page.html', { file });
const bare = server.serve('/bare.html', { body: readFileSync(file, 'utf8').replace(/<img\b[^>]*>/g, '') });
const PAGES = [['images', address], ['no images', bare]];
const rows = {};
const best = (name, value) => {
  rows[name] = Math.min(rows[name] ?? Infinity, value);
};
const worst = (name, value) => {
  rows[name] = Math.max(rows[name] ?? 0, value);
};

// The extension, with either painter.
const withExtension = await launchChromium({ extension });
try {
  const workerTarget = await withExtension.browser.waitForTarget((t) => t.type() === 'service_worker');
  const extensionOrigin = `chrome-extension://${new URL(workerTarget.url()).host}`;
  const worker = await workerTarget.worker();
  for (const painter of ['highlight', 'spans']) {
    await worker.evaluate((on) => chrome.storage.sync.set({ markWithElements: on }), painter === 'spans');
    for (let run = 0; run < runs; ++run) for (const [shape, url] of PAGES) {
      const page = await newPage(withExtension.browser);
      const world = await contentWorld(page, extensionOrigin);
      await page.goto(url, { referer: referrer });
      const who = `${painter}, ${shape}`;
      const { markedAt, shownAt, startedAt } = await world('glintmarkPass.shownAt && glintmarkPass');
      await timeline(page, who, { markedAt, shownAt, startedAt });
      await sleep(300);
      worst(`longest task, ${who}`, await page.evaluate(LONGEST));
      worst(`longest step, ${who}`, await world('Math.max(glintmarkPass.milliseconds.longest, ' +
        'glintmarkPass.incremental.longestMs)'));
      best(`marks, ${who}`, await world(`glintmarkPass.report.keywords.reduce((n, k) => n + k.spans, 0)`));
      // Where the load pass's time went, and its longest step of each kind.
      const { profile: [whole = {}], steps } = await world('({profile: glintmarkPass.profile, steps: glintmarkPass.milliseconds.steps})');
      for (const [part, ms] of Object.entries({ walk: whole.walk, wait: whole.wait, worker: whole.worker?.run ?? 0,
        paint: whole.paint ?? 0, marked: whole.marks ?? whole.paint ?? 0 })) best(`${part}, ${who}`, ms);
      for (const [step, ms] of Object.entries(steps)) worst(`step ${step}, ${who}`, ms);
      if (painter === 'highlight' && shape === 'images') {
        for (const kb of appendedKB) {
          const [before, readBefore] = [await world(SCRIPT_MS), await world(READ_MS)];
          await page.evaluate((html) => document.body.insertAdjacentHTML('beforeend', `<div>${html}</div>`),
            appended(kb));
          await sleep(500 + kb * 4);
          best(`batches ms per KB, ${kb} KB appended`, (await world(SCRIPT_MS) - before) / kb);
          best(`reading ms per KB, ${kb} KB appended`, (await world(READ_MS) - readBefore) / kb);
          best(`longest batch ms, ${kb} KB appended`, await world('glintmarkPass.incremental.longestMs'));
        }
        // A clock in the body's own inline content, ticking: each tick is
        // searched with what no match can cross around it, not with the
        // body (the page) that is its block.
        await page.evaluate(() => document.body.insertAdjacentHTML('beforeend', '<span id="clock">0</span> '));
        await sleep(300);
        const [ms, chars, read] = [await world(SCRIPT_MS), await world('glintmarkPass.incremental.chars'),
          await world(READ_MS)];
        for (let tick = 1; tick <= TICKS; ++tick) {
          await page.evaluate((text) => { document.getElementById('clock').textContent = text; },
            `${tick} ${keywords[0]}`);
          await sleep(100);
        }
        await sleep(300);
        best('clock ms per tick', (await world(SCRIPT_MS) - ms) / TICKS);
        best('clock reading ms per tick', (await world(READ_MS) - read) / TICKS);
        best('clock characters per tick', (await world('glintmarkPass.incremental.chars') - chars) / TICKS);
      }
      await page.close();
    }
    // The load pass over a page holding the appended text alone.
    if (painter === 'highlight') {
      for (const kb of appendedKB) {
        const alone = server.serve(`/alone-${kb}.html`, { body: `<!DOCTYPE html><html><head><title>a</title></head>` +
          `<body><div>${appended(kb)}</div></body></html>` });
        for (let run = 0; run < runs; ++run) {
          const page = await newPage(withExtension.browser);
          const world = await contentWorld(page, extensionOrigin);
          await page.goto(alone, { referer: referrer });
          await world('glintmarkPass.markedAt');
          best(`whole pass ms per KB, ${kb} KB page`, await world(SCRIPT_MS) / kb);
          await page.close();
        }
      }
    }
  }
  await worker.evaluate(() => chrome.storage.sync.set({ markWithElements: false }));
} finally {
  await withExtension.close();
}

// mark.js from a load listener, without the extension.
const plain = await launchChromium();
try {
  for (let run = 0; run < runs; ++run) for (const [shape, url] of PAGES) {
    const who = `mark.js, ${shape}`;
    const page = await newPage(plain.browser);
    await page.evaluateOnNewDocument(`${markSource};
      addEventListener('load', () => {
        const colours = ['#ffff66', '#a0ffff', '#99ff99', '#9acd32', '#ee82ee', '#ff8c00'];
        const marker = new Mark(document.body);
        let matches = 0;
        ${JSON.stringify(keywords)}.forEach((keyword, i) => {
          const style = 'color:black;background-color:' + colours[Math.min(i, colours.length - 1)];
          marker.mark(keyword, {
            element: 'span', separateWordSearch: false, accuracy: 'partially', diacritics: false,
            caseSensitive: false, acrossElements: false,
            exclude: ['textarea', 'select', 'select *', 'noscript', 'noscript *', 'template', 'template *',
              'svg', 'svg *', 'math', 'math *'],
            each: (element) => element.setAttribute('style', style),
            done: (count) => { matches += count; },
          });
        });
        window.marked = {at: performance.now(), matches};
        requestAnimationFrame(() => setTimeout(() => {
          window.marked.shownAt = performance.now();
        }));
      });`);
    await page.goto(url);
    await page.waitForFunction(() => window.marked?.shownAt);
    const { at, shownAt, matches, loadAt } = await page.evaluate(() => ({ ...window.marked,
      loadAt: performance.getEntriesByType('navigation')[0].loadEventStart }));
    await timeline(page, who, { startedAt: loadAt, markedAt: at, shownAt });
    await sleep(300);
    worst(`longest task, ${who}`, await page.evaluate(LONGEST));
    worst(`longest step, ${who}`, at - loadAt);
    best(`marks, ${who}`, matches);
    await page.close();
  }
} finally {
  await plain.close();
  await server.close();
}

const f = (ms) => ms.toFixed(Math.abs(ms) < 10 ? 2 : 0);
console.log(`\n${size} ${values.shape} page, ${keywords.length} keywords, ms, best of ${runs} runs; times from ` +
  'navigation start; "images": the page as generated, its load event held back by its images; "no images": ' +
  'the same without them. mark.js marks from a load listener; the extension marks a page that is still loading ' +
  'at once (a negative time: before the load event), else at its load event:\n');
console.log('| page | contender | content loaded | load event | load event to last mark made | ' +
  'to the end of the frame showing it | its start to its last mark | longest step of its own | ' +
  'longest task of the page | marks | mark.js / contender (start to last mark) |');
console.log('|---|---|---|---|---|---|---|---|---|---|---|');
for (const [shape] of PAGES) {
  for (const contender of ['highlight', 'spans', 'mark.js']) {
    const who = `${contender}, ${shape}`;
    const name = contender === 'mark.js' ? contender : `extension, ${contender === 'highlight' ? 'CSS highlights' : 'spans'}`;
    const ratio = rows[`start to last mark, mark.js, ${shape}`] / rows[`start to last mark, ${who}`];
    console.log(`| ${shape} | ${name} | ${f(rows[`content, ${who}`])} | ${f(rows[`load, ${who}`])} | ` +
      `${f(rows[`load to last mark, ${who}`])} | ${f(rows[`load to frame, ${who}`])} | ` +
      `${f(rows[`start to last mark, ${who}`])} | ${f(rows[`longest step, ${who}`])} | ` +
      `${f(rows[`longest task, ${who}`])} | ${rows[`marks, ${who}`]} | ${ratio.toFixed(1)}x |`);
  }
}
console.log('\nThe load pass, ms (best of the runs): walking the page (in slices, from start to the request sent), ' +
  'waiting for the answer (of which the worker\'s pass), painting (in slices; of it, the marks before the links\' ' +
  'tooltips: the spans painter writes both at once); the longest step of each kind (worst):\n');
console.log('| painter, page | walk | wait | worker\'s pass | paint | of it marks | longest steps |');
console.log('|---|---|---|---|---|---|---|');
for (const painter of ['highlight', 'spans']) for (const [shape] of PAGES) {
  const who = `${painter}, ${shape}`;
  const steps = Object.keys(rows).filter((k) => k.startsWith('step ') && k.endsWith(`, ${who}`))
    .map((k) => `${k.slice(5, -(who.length + 2))} ${f(rows[k])}`).join(', ');
  console.log(`| ${who} | ${f(rows[`walk, ${who}`])} | ${f(rows[`wait, ${who}`])} | ${f(rows[`worker, ${who}`])} | ` +
    `${f(rows[`paint, ${who}`])} | ${f(rows[`marked, ${who}`])} | ${steps} |`);
}
console.log('\n| text appended after the pass | incremental batches, ms per KB | of it reading the marks | ' +
  'longest batch | load pass over that text alone, ms per KB | ratio |');
console.log('|---|---|---|---|---|---|');
for (const kb of appendedKB) {
  const batch = rows[`batches ms per KB, ${kb} KB appended`], whole = rows[`whole pass ms per KB, ${kb} KB page`];
  console.log(`| ${kb} KB | ${f(batch)} | ${f(rows[`reading ms per KB, ${kb} KB appended`])} | ` +
    `${f(rows[`longest batch ms, ${kb} KB appended`])} | ${f(whole)} | ${(batch / whole).toFixed(2)}x |`);
}
console.log(`\nA clock ticking in the body's inline content after that (${TICKS} ticks, a keyword in each): ` +
  `${f(rows['clock ms per tick'])} ms of the content script per tick, of it ` +
  `${f(rows['clock reading ms per tick'])} reading the marks (all the page's), ` +
  `${Math.round(rows['clock characters per tick'])} characters searched per tick.`);
