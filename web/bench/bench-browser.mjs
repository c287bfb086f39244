// The engine against mark.js 8.11 in the same headless Chromium, on the same
// generated pages and keywords: the time of the one synchronous call that
// highlights the page (the engine's highlightDocument on its WebAssembly and
// its JavaScript path; mark.js's mark() once per keyword), the longest
// main-thread task seen meanwhile (PerformanceObserver 'longtask', which
// also catches the style and layout work the changes bring), the matches
// each finds, and the ratios.
//
// mark.js is set up to do what the pass does with a search's keywords:
// every keyword in its own colour (one mark() per keyword, a span with the
// pass's style), parts of words too (accuracy 'partially': the pass finds
// "weather" in "weatherman"), case-insensitive, no accent folding
// (diacritics false: the pass tells "café" from "cafe"), each keyword one
// word (separateWordSearch false), not inside script, style, form controls,
// noscript, template, svg and math. Its acrossElements stays off (its
// default): on it grows faster than linearly (over 10 minutes for a 10 MB
// page in bench/bench-highlight.sh), so mark.js misses the words that inline
// markup splits ("wea<b>ther</b>"), which the text pages hold on purpose.
//
//   node web/bench/bench-browser.mjs [--shapes text,dense] [--keywords 2,5,7] [--runs 3] [SIZE...]
import { parseArgs } from 'node:util';
import { existsSync, mkdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { ROOT, NODE_MODULES, ENGINE, launchChromium, openPage } from '../../testing/browser/browser.mjs';
import { startServer } from '../../testing/browser/server.mjs';
import { glintmark } from '../../testing/browser/tool.mjs';

const { values, positionals } = parseArgs({
  allowPositionals: true,
  options: {
    shapes: { type: 'string', default: 'text,dense' },
    keywords: { type: 'string', default: '2,5,7' },
    runs: { type: 'string', default: '3' },
  },
});
const sizes = positionals.length ? positionals : ['100K', '1M', '10M'];
const counts = values.keywords.split(',').map(Number);
const work = join(ROOT, 'build/web-bench');
mkdirSync(work, { recursive: true });
const allKeywords = glintmark('generate-page', '--keywords').split(/\s+/).filter(Boolean);
const engineSource = readFileSync(ENGINE, 'utf8');
const markSource = readFileSync(join(NODE_MODULES, 'node_modules/mark.js/dist/mark.js'), 'utf8');

// One contender on a freshly loaded page: {ms, longest, matches, createMs}.
async function measure(browser, address, contender, keywords) {
  const page = await openPage(browser, address);
  try {
    await page.evaluate(contender === 'mark.js' ? markSource : engineSource);
    return await page.evaluate(async (contender, keywords) => {
      let longest = 0;
      const observer = new PerformanceObserver((list) => {
        for (const entry of list.getEntries()) longest = Math.max(longest, entry.duration);
      });
      observer.observe({ type: 'longtask' });
      const settle = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 200)));
      let engine = null;
      let createMs = 0;
      if (contender !== 'mark.js') {
        const start = performance.now();
        engine = await GlintmarkEngine.create({ prefer: contender });
        createMs = performance.now() - start;
        if (engine.kind !== contender) throw new Error(`asked for ${contender}, got ${engine.kind}`);
      }
      await settle();
      longest = 0;
      // The call, alone in a task of its own.
      const { ms, matches } = await new Promise((resolve) => setTimeout(() => {
        const start = performance.now();
        let matches = 0;
        if (engine) {
          const report = engine.highlightDocument(document, {
            options: 5, url: 'https://bench.example/page.html',
            referrer: 'https://search.example/search?q=' + keywords.join('+'),
          });
          for (const keyword of report.keywords) matches += keyword.spans;
        } else {
          const colours = ['#ffff66', '#a0ffff', '#99ff99', '#9acd32', '#ee82ee', '#ff8c00'];
          const marker = new Mark(document.body);
          let done = 0;
          keywords.forEach((keyword, i) => {
            const style = `color:black;background-color:${colours[Math.min(i, colours.length - 1)]}`;
            marker.mark(keyword, {
              element: 'span', separateWordSearch: false, accuracy: 'partially', diacritics: false,
              caseSensitive: false, acrossElements: false,
              exclude: ['textarea', 'select', 'select *', 'noscript', 'noscript *', 'template', 'template *',
                'svg', 'svg *', 'math', 'math *'],
              each: (element) => element.setAttribute('style', style),
              done: (count) => { matches += count; done++; },
            });
          });
          // mark() is synchronous: every done() has come by now.
          if (done !== keywords.length) throw new Error('mark.js finished after the call');
        }
        resolve({ ms: performance.now() - start, matches });
      }));
      await settle();
      observer.disconnect();
      return { ms, longest: Math.max(longest, ms), matches, createMs };
    }, contender, keywords);
  } finally {
    await page.close();
  }
}

const server = await startServer();
const chromium = await launchChromium();
const rows = [];
try {
  for (const shape of values.shapes.split(',')) {
    for (const size of sizes) {
      const file = join(work, `page-${shape}-${size}.html`);
      if (!existsSync(file)) glintmark('generate-page', size, '--shape', shape, '-o', file);
      const address = server.serve(`/${shape}-${size}.html`, { file });
      const runs = size === '10M' ? 1 : Number(values.runs);
      for (const count of counts) {
        const keywords = allKeywords.slice(0, count);
        const row = { shape, size, count };
        for (const contender of ['wasm', 'js', 'mark.js']) {
          const results = [];
          for (let run = 0; run < runs; run++) results.push(await measure(chromium.browser, address, contender, keywords));
          row[contender] = {
            ms: Math.min(...results.map((r) => r.ms)),
            longest: Math.min(...results.map((r) => r.longest)),
            createMs: Math.min(...results.map((r) => r.createMs)),
            matches: results[0].matches,
          };
        }
        rows.push(row);
        console.error(`# ${shape} ${size}, ${count} keywords: wasm ${row.wasm.ms.toFixed(1)} ms, ` +
          `js ${row.js.ms.toFixed(1)} ms, mark.js ${row['mark.js'].ms.toFixed(1)} ms`);
      }
    }
  }
} finally {
  await chromium.close();
  await server.close();
}

const f = (ms) => ms.toFixed(ms < 10 ? 1 : 0);
for (const shape of values.shapes.split(',')) {
  console.log(`\n${shape} pages (generate-page --shape ${shape}), ms, best of ${values.runs} runs (10 MB: 1):\n`);
  console.log('| page | keywords | wasm | js | mark.js | longest task wasm / js / mark.js | matches engine / mark.js | ' +
    'mark.js / wasm | mark.js / js | engine start wasm / js |');
  console.log('|---|---|---|---|---|---|---|---|---|---|');
  for (const { shape: s, size, count, wasm, js, 'mark.js': mark } of rows) {
    if (s !== shape) continue;
    if (wasm.matches !== js.matches) throw new Error(`${shape} ${size} ${count}: the engine's paths disagree`);
    console.log(`| ${size.replace('K', ' KB').replace('M', ' MB')} | ${count} | ${f(wasm.ms)} | ${f(js.ms)} | ${f(mark.ms)} | ` +
      `${f(wasm.longest)} / ${f(js.longest)} / ${f(mark.longest)} | ${wasm.matches} / ${mark.matches} | ` +
      `${(mark.ms / wasm.ms).toFixed(1)}x | ${(mark.ms / js.ms).toFixed(1)}x | ${f(wasm.createMs)} / ${f(js.createMs)} |`);
  }
}
