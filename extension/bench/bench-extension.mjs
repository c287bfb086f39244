// What the extension costs a page, seen from the page: the same loopback
// pages loaded in two headless Chromiums of one run, one with the extension
// (build/extension-bench/, built from build/wasm/) and one without, taking
// turns, best of --runs loads each. Never run by the tests.
//
//   node extension/bench/bench-extension.mjs [--runs 5] [--pages article,iframes,...]
//
// Pages (typed addresses have no referrer: title words only):
//   article    20 KB of text, typed address
//   iframes    a page of 20 same-origin iframes, each a 1 KB article
//   dense      1 MB tag-dense page (generate-page --shape dense), reached from
//              a search for 7 of its keywords
//   searched   the 20 KB article reached from a search for 7 words
//   strict     the same under "Content-Security-Policy: script-src 'none'":
//              no WebAssembly for the page's own scripts, the extension's
//              engine runs in its worker anyway (compare with searched)
// A third Chromium loads the same pages with a floor: the same extension with
// an empty content script and worker, what any extension with a content
// script in every frame costs in Chromium; "ours" is the rest.
// With --least, a fourth Chromium loads them with the least marker this
// design allows (LEAST below): a content script that walks the page's text,
// sends it to the extension's worker in one message, and paints the worker's
// matches of the title's and the search's words as one CSS highlight; none
// of the product's other work. Its extra is the cost of marking a page at
// all with the matching in the worker: a bound under any such extension.
// Per page: the renderer main thread's busy time (CDP Performance metrics,
// TaskDuration) until the page has settled, and of it the time in scripts
// (ScriptDuration: compiling and running ours, the page's, none on these
// pages but the dense page's few lines), the content script's own count of
// its passes' time, the load event's time from navigation start, the
// renderer's private memory (/proc smaps_rollup of the page's renderer
// process) and, where the page is highlighted, the time from the load event
// to the last mark (the last span, or, for the default painter's CSS
// highlights, the time the content script made its last mark; negative
// where the page was marked before its load event). For the dense page the same words are
// marked by mark.js 8.11 at the load event in the browser without the
// extension (as web/bench/bench-browser.mjs sets it up: one mark() per
// keyword, parts of words, case-insensitive), load event to its last span.
import { cpSync, existsSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { parseArgs } from 'node:util';
import { NODE_MODULES, ROOT, launchChromium } from '../../testing/browser/browser.mjs';
import { buildExtension } from '../../testing/browser/extension.mjs';
import { startServer } from '../../testing/browser/server.mjs';
import { glintmark } from '../../testing/browser/tool.mjs';

const { values } = parseArgs({ options: { runs: { type: 'string', default: '5' }, pages: { type: 'string' },
  least: { type: 'boolean', default: false } } });
const RUNS = Number(values.runs);
const WORK = join(ROOT, 'build/extension-bench');
mkdirSync(WORK, { recursive: true });
const extensionDir = join(WORK, 'extension');
buildExtension(extensionDir, join(WORK, 'glintmark-extension.zip'), { browser: 'chromium' });
const floorDir = join(WORK, 'floor');
rmSync(floorDir, { recursive: true, force: true });
cpSync(extensionDir, floorDir, { recursive: true });
writeFileSync(join(floorDir, 'early_styles.js'), '');
writeFileSync(join(floorDir, 'content_script.js'), '');
writeFileSync(join(floorDir, 'service_worker.js'), '');
// The least marker: the floor with a content script and worker of a few lines
// (its report is read as ours is, for its count of marks).
const LEAST = {
  content: `(async () => {
  if (document.readyState !== 'complete') await new Promise((r) => addEventListener('load', r, {once: true}));
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  const nodes = [], texts = [];
  for (let n; (n = walker.nextNode());) { nodes.push(n); texts.push(n.data); }
  const found = await chrome.runtime.sendMessage({title: document.title, referrer: document.referrer, texts});
  if (!found?.length) return;
  const highlight = new Highlight();
  for (const [i, start, end] of found) highlight.add(new StaticRange({startContainer: nodes[i], startOffset: start, endContainer: nodes[i], endOffset: end}));
  CSS.highlights.set('least', highlight);
  const sheet = new CSSStyleSheet();
  sheet.replaceSync('::highlight(least) { color: black; background-color: #ffff66; }');
  document.adoptedStyleSheets = [...document.adoptedStyleSheets, sheet];
  globalThis.glintmarkPass = {milliseconds: {describe: 0, apply: 0}, painter: 'highlight', report: {keywords: [{spans: found.length}]}, markedAt: performance.now()};
})();
`,
  worker: `chrome.runtime.onMessage.addListener((message, sender, reply) => {
  let query = '';
  try { query = new URL(message.referrer).searchParams.get('q') ?? ''; } catch (e) {}
  const words = [...new Set((message.title + ' ' + query).toLowerCase().split(/[^\\p{L}\\p{N}]+/u).filter((w) => w.length > 2))];
  const found = [];
  message.texts.forEach((text, i) => {
    const low = text.toLowerCase();
    for (const word of words) {
      for (let at = low.indexOf(word); at >= 0; at = low.indexOf(word, at + word.length)) found.push([i, at, at + word.length]);
    }
  });
  reply(found);
});
`,
};
const leastDir = join(WORK, 'least');
if (values.least) {
  rmSync(leastDir, { recursive: true, force: true });
  cpSync(floorDir, leastDir, { recursive: true });
  writeFileSync(join(leastDir, 'content_script.js'), LEAST.content);
  writeFileSync(join(leastDir, 'service_worker.js'), LEAST.worker);
}
const markSource = readFileSync(join(NODE_MODULES, 'node_modules/mark.js/dist/mark.js'), 'utf8');
const keywords = glintmark('generate-page', '--keywords').split(/\s+/).filter(Boolean).slice(0, 7);

// The pages.
function generated(size, shape) {
  const file = join(WORK, `page-${shape}-${size}.html`);
  if (!existsSync(file)) glintmark('generate-page', size, '--shape', shape, '-o', file);
  return readFileSync(file, 'utf8');
}
const withTitle = (html, title) => html.replace(/<title>[^<]*<\/title>/i, '')
  .replace(/<head>/i, `<head><title>${title}</title>`);
const article = withTitle(generated('20K', 'text'), `${keywords[0]} and ${keywords[1]} notes`);
const small = withTitle(generated('1K', 'text'), `${keywords[0]} notes`);
const server = await startServer();
const search = `${server.origin}/search?q=${keywords.join('+')}`;
const address = {
  article: server.serve('/article.html', { body: article }),
  iframes: server.serve('/iframes.html', {
    body: '<!DOCTYPE html><html><head><meta charset="utf-8"><title>Frames</title></head><body>' +
      Array.from({ length: 20 }, (_, i) => `<iframe src="/small.html?${i}"></iframe>`).join('') + '</body></html>',
  }),
  dense: server.serve('/dense.html', { body: generated('1M', 'dense') }),
  searched: server.serve('/searched.html', { body: article }),
  strict: server.serve('/strict.html', { body: article, headers: { 'Content-Security-Policy': "script-src 'none'" } }),
};
server.serve('/small.html', { body: small });
const PAGES = [
  { name: 'article', frames: 1 },
  { name: 'iframes', frames: 21 },
  { name: 'dense', frames: 1, referrer: search, markjs: true },
  { name: 'searched', frames: 1, referrer: search },
  { name: 'strict', frames: 1, referrer: search },
].filter((page) => !values.pages || values.pages.split(',').includes(page.name));

// Watches the page's main world from before its first script: the time of
// the last highlight span added to the document, as performance.now().
const SPAN_WATCH = `(() => {
  window.__lastSpan = 0;
  new MutationObserver((records) => {
    for (const record of records) for (const node of record.addedNodes) {
      if (node.nodeType === 1 && node.localName === 'span' &&
          (node.getAttribute('style') || '').startsWith('color:black;background-color:')) {
        window.__lastSpan = performance.now();
        return;
      }
    }
  }).observe(document, {childList: true, subtree: true});
})();`;
// mark.js at the load event, the pass's keywords each in its own colour.
const MARK_AT_LOAD = (words) => `${markSource}
addEventListener('load', () => setTimeout(() => {
  const colours = ['#ffff66', '#a0ffff', '#99ff99', '#9acd32', '#ee82ee', '#ff8c00'];
  const marker = new Mark(document.body);
  ${JSON.stringify(words)}.forEach((keyword, i) => marker.mark(keyword, {
    element: 'span', separateWordSearch: false, accuracy: 'partially', diacritics: false, caseSensitive: false,
    exclude: ['textarea', 'select', 'select *', 'noscript', 'noscript *', 'template', 'template *',
      'svg', 'svg *', 'math', 'math *'],
    each: (element) => element.setAttribute('style',
      'color:black;background-color:' + colours[Math.min(i, colours.length - 1)]),
  }));
}));`;

// The private memory of a process, in bytes.
function privateBytes(pid) {
  const rollup = readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8');
  let kb = 0;
  for (const m of rollup.matchAll(/^Private_(?:Clean|Dirty):\s+(\d+) kB/gm)) kb += Number(m[1]);
  return kb * 1024;
}
// The renderer processes of a browser: pid -> command line.
function renderers(browserPid) {
  const found = new Map();
  const children = (pid) => {
    let list = [];
    try {
      list = readFileSync(`/proc/${pid}/task/${pid}/children`, 'utf8').split(/\s+/).filter(Boolean).map(Number);
    } catch (e) { /* gone */ }
    return list;
  };
  const walk = (pid) => {
    for (const child of children(pid)) {
      try {
        const cmdline = readFileSync(`/proc/${child}/cmdline`, 'utf8').replaceAll('\0', ' ');
        if (cmdline.includes('--type=renderer')) found.set(child, cmdline);
      } catch (e) { /* gone */ }
      walk(child);
    }
  };
  walk(browserPid);
  return found;
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// One load of a page in a fresh tab: {task, load, memory, lastSpan, spans}.
async function load(chromium, page, { markjs = false } = {}) {
  const browser = chromium.browser;
  const before = new Set(renderers(browser.process().pid).keys());
  const tab = await browser.newPage();
  try {
    tab.setDefaultNavigationTimeout(120_000);
    const cdp = await tab.createCDPSession();
    // The content script's world in each frame.
    const worlds = [];
    cdp.on('Runtime.executionContextCreated', ({ context }) => {
      if (context.origin.startsWith('chrome-extension://')) worlds.push(context.id);
    });
    cdp.on('Runtime.executionContextsCleared', () => { worlds.length = 0; });
    await cdp.send('Runtime.enable');
    await cdp.send('Performance.enable');
    await tab.evaluateOnNewDocument(SPAN_WATCH);
    if (markjs) await tab.evaluateOnNewDocument(MARK_AT_LOAD(keywords));
    await tab.goto(address[page.name], { waitUntil: 'load', referer: page.referrer });
    // Settled: no new span for a second (and at least 1.5 s after the load).
    let last = -1;
    for (let waited = 0; waited < 60_000; waited += 500) {
      await sleep(500);
      const now = await tab.evaluate(() => window.__lastSpan);
      if (now === last && waited >= 1500) break;
      last = now;
    }
    const metrics = Object.fromEntries((await cdp.send('Performance.getMetrics')).metrics.map((m) => [m.name, m.value]));
    const timing = await tab.evaluate(() => {
      const [navigation] = performance.getEntriesByType('navigation');
      const spans = document.querySelectorAll('span[style^="color:black;background-color:"]').length;
      return { load: navigation.loadEventStart, lastSpan: window.__lastSpan, spans };
    });
    // The content script's own time on the main thread, all frames; and the
    // marks it painted (CSS highlights, no span) and the time its load's
    // marks were all made, in the frame that has the most.
    let script = 0, painted = 0, markedAt = 0;
    for (const contextId of worlds) {
      const { result } = await cdp.send('Runtime.evaluate', {
        contextId, returnByValue: true,
        expression: 'typeof glintmarkPass === "object" ? [glintmarkPass.milliseconds.describe + ' +
          'glintmarkPass.milliseconds.apply, glintmarkPass.painter === "highlight" && glintmarkPass.report ? ' +
          'glintmarkPass.report.keywords.reduce((n, k) => n + k.spans, 0) : 0, glintmarkPass.markedAt ?? 0] : [0, 0, 0]',
      }).catch(() => ({ result: { value: [0, 0, 0] } }));
      const [ms, marks, at] = result.value ?? [0, 0, 0];
      script += ms;
      if (marks > painted) [painted, markedAt] = [marks, at];
    }
    // Garbage collected first in both browsers, so that memory is what stays.
    await cdp.send('HeapProfiler.collectGarbage');
    // The page's renderer: the one this tab brought (the browser keeps no
    // spare renderer: see FLAGS), not the extension's.
    const pids = [...renderers(browser.process().pid)]
      .filter(([pid, cmd]) => !before.has(pid) && !cmd.includes('--extension-process')).map(([pid]) => pid);
    const memory = Math.max(0, ...pids.map(privateBytes));
    return {
      task: metrics.TaskDuration * 1000, scripts: metrics.ScriptDuration * 1000, load: timing.load, memory, script,
      lastSpan: timing.spans ? timing.lastSpan - timing.load : painted ? markedAt - timing.load : null,
      spans: timing.spans || painted,
    };
  } finally {
    await tab.close();
  }
}

// Each page in a renderer of its own, started for it, so that its memory
// can be told apart.
const FLAGS = ['--disable-features=SpareRendererForSitePerProcess'];
const plain = await launchChromium({ args: FLAGS });
const floor = await launchChromium({ extension: floorDir, args: FLAGS });
const extended = await launchChromium({ extension: extensionDir, args: FLAGS });
const least = values.least ? await launchChromium({ extension: leastDir, args: FLAGS }) : null;
const results = [];
try {
  // The extension's worker starts with the browser; let it compile its engine.
  await extended.browser.waitForTarget((t) => t.type() === 'service_worker');
  await sleep(1000);
  for (const page of PAGES) {
    const runs = { plain: [], floor: [], extension: [], markjs: [], least: [] };
    for (let run = 0; run < RUNS; run++) {
      runs.plain.push(await load(plain, page));
      runs.floor.push(await load(floor, page));
      runs.extension.push(await load(extended, page));
      if (least) runs.least.push(await load(least, page));
      if (page.markjs) runs.markjs.push(await load(plain, page, { markjs: true }));
    }
    const best = (list, field) => Math.min(...list.map((r) => r[field]));
    const row = {
      page,
      task: ['plain', 'floor', 'extension'].map((b) => best(runs[b], 'task')),
      scripts: ['plain', 'floor', 'extension'].map((b) => best(runs[b], 'scripts')),
      load: ['plain', 'floor', 'extension'].map((b) => best(runs[b], 'load')),
      memory: ['plain', 'floor', 'extension'].map((b) => best(runs[b], 'memory')),
      script: best(runs.extension, 'script'),
      lastSpan: runs.extension[0].spans ? best(runs.extension, 'lastSpan') : null,
      spans: runs.extension[0].spans,
      markjs: page.markjs ? { lastSpan: best(runs.markjs, 'lastSpan'), spans: runs.markjs[0].spans } : null,
      least: least ? { task: best(runs.least, 'task'), memory: best(runs.least, 'memory'), spans: runs.least[0].spans } : null,
    };
    results.push(row);
    console.error(`# ${page.name}: ${JSON.stringify(row)}`);
  }
} finally {
  await plain.close();
  await floor.close();
  await extended.close();
  await least?.close();
  await server.close();
}

const ms = (x) => x.toFixed(Math.abs(x) < 10 ? 1 : 0);
const mb = (bytes) => (bytes / 1048576).toFixed(2);
console.log(`\nThe extension's cost, best of ${RUNS} loads (Chromium headless, pages on loopback); ` +
  'each triple: without the extension / with an empty extension (the floor) / with it; ' +
  'extra per frame: with against without (against the floor):\n');
console.log('| page | frames | main thread (ms) | extra per frame (ms) | scripts (ms) | extra per frame (ms) | ' +
  'content script\'s passes per frame (ms) | ' +
  'load event (ms) | renderer private memory (MB) | extra per frame (MB) | ' +
  'load event to last mark (ms; negative: before it) |');
console.log('|---|---|---|---|---|---|---|---|---|---|---|');
const triple = (values, unit) => values.map(unit).join(' / ');
const extra = (values, frames, unit) =>
  `${unit((values[2] - values[0]) / frames)} (${unit((values[2] - values[1]) / frames)})`;
for (const { page, task, scripts, load, memory, script, lastSpan, spans, markjs } of results) {
  // A page still loading its images or frames is marked before its load
  // event: a negative time, no ratio.
  const ratio = markjs && lastSpan > 0 ? `: ${(markjs.lastSpan / lastSpan).toFixed(1)}x` : '';
  const span = lastSpan === null ? '–' : `${ms(lastSpan)} (${spans} marks)` +
    (markjs ? `; mark.js ${ms(markjs.lastSpan)} (${markjs.spans} spans)${ratio}` : '');
  console.log(`| ${page.name} | ${page.frames} | ${triple(task, ms)} | ${extra(task, page.frames, ms)} | ` +
    `${triple(scripts, ms)} | ${extra(scripts, page.frames, ms)} | ` +
    `${ms(script / page.frames)} | ${triple(load, ms)} | ${triple(memory, mb)} | ${extra(memory, page.frames, mb)} | ${span} |`);
}
if (least) {
  console.log('\nThe least marker (--least), best of the same loads: extra per frame against without the extension ' +
    '(against the floor), and ours for comparison:\n');
  console.log('| page | least marker: main thread (ms) | extra per frame (ms) | memory (MB) | extra per frame (MB) | marks | ' +
    'ours: extra per frame (ms) | extra per frame (MB) |');
  console.log('|---|---|---|---|---|---|---|---|');
  for (const { page, task, memory, least: row } of results) {
    const versus = (value, values, unit) => `${unit((value - values[0]) / page.frames)} (${unit((value - values[1]) / page.frames)})`;
    console.log(`| ${page.name} | ${ms(row.task)} | ${versus(row.task, task, ms)} | ${mb(row.memory)} | ` +
      `${versus(row.memory, memory, mb)} | ${row.spans} | ${extra(task, page.frames, ms)} | ${extra(memory, page.frames, mb)} |`);
  }
}
writeFileSync(join(WORK, 'results.json'), JSON.stringify(results, null, 2));
