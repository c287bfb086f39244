// A page that rewrites its address as it is read, in one headless Chromium
// run (best of --runs): a 200 KB cut of the generated dense page, reached
// from a results page (the tab's saved search), calls replaceState every
// 100 ms, --rewrites times, as pages do for a position, a feed's page or a
// video's time. Reports the same-document navigations the content script
// passed, its whole passes (the load's included), its main-thread time over
// the rewrites, and the marks before and after them.
//
//   node extension/bench/bench-navigations.mjs [--runs 2] [--rewrites 50]
import { parseArgs } from 'node:util';
import { existsSync, mkdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { ROOT, launchChromium, newPage } from '../../testing/browser/browser.mjs';
import { buildExtension, contentWorld } from '../../testing/browser/extension.mjs';
import { startServer } from '../../testing/browser/server.mjs';
import { glintmark } from '../../testing/browser/tool.mjs';

const { values } = parseArgs({ options: { runs: { type: 'string', default: '2' },
  rewrites: { type: 'string', default: '50' } } });
const runs = Number(values.runs), rewrites = Number(values.rewrites);
const work = join(ROOT, 'build/web-bench');
mkdirSync(work, { recursive: true });
const file = join(work, 'page-dense-1M.html');
if (!existsSync(file)) glintmark('generate-page', '1M', '--shape', 'dense', '-o', file);
const extension = join(work, 'extension-navigations');
buildExtension(extension, join(work, 'extension-navigations.zip'), { browser: 'chromium' });
const keywords = glintmark('generate-page', '--keywords').split(/\s+/).filter(Boolean).slice(0, 7);

const generated = readFileSync(file, 'utf8').replace(/<img\b[^>]*>/g, '');
const cut = generated.slice(0, generated.indexOf('\n<div', 200_000));
const server = await startServer();
const page = server.serve('/rewriting.html', { body: `${cut}<script>
  let n = 0;
  addEventListener('load', () => {
    const timer = setInterval(() => {
      history.replaceState(null, '', '?pos=' + (++n));
      if (n === ${rewrites}) clearInterval(timer);
    }, 100);
  });</script></body></html>` });
const results = server.serve('/results', { body: `<!DOCTYPE html><title>Results</title><a id="next" href="${page}">next</a>` });
const SCRIPT_MS = 'glintmarkPass.milliseconds.describe + glintmarkPass.milliseconds.apply';
const MARKS = '[...CSS.highlights.values()].reduce((n, h) => n + h.size, 0)';

const chromium = await launchChromium({ extension });
const best = {};
try {
  const workerTarget = await chromium.browser.waitForTarget((t) => t.type() === 'service_worker');
  const origin = `chrome-extension://${new URL(workerTarget.url()).host}`;
  for (let run = 0; run < runs; ++run) {
    const tab = await newPage(chromium.browser);
    await tab.goto(`${results}?q=${keywords.join('+')}`);
    const world = await contentWorld(tab, origin);
    await Promise.all([tab.waitForNavigation(), tab.click('#next')]);
    await world('glintmarkPass.markedAt');
    const before = { ms: await world(SCRIPT_MS), marks: await world(MARKS) };
    await tab.waitForFunction((address) => location.search === address, { timeout: 60_000 }, `?pos=${rewrites}`);
    await new Promise((resolve) => setTimeout(resolve, 2000));
    const after = await world(`({ms: ${SCRIPT_MS}, navigations: glintmarkPass.navigations.length, ` +
      `whole: glintmarkPass.profile.length, marks: ${MARKS}})`);
    const row = { navigations: after.navigations, whole: after.whole, ms: after.ms - before.ms,
      marksBefore: before.marks, marksAfter: after.marks };
    if (best.ms === undefined || row.ms < best.ms) Object.assign(best, row);
    await tab.close();
  }
} finally {
  await chromium.close();
  await server.close();
}
console.log(`\nA 200 KB page rewriting its address ${rewrites} times, 100 ms apart, reached from a results page ` +
  `(best of ${runs} runs):\n`);
console.log('| navigations passed | whole passes (the load\'s included) | content script\'s main thread over the rewrites (ms) | marks before | marks after |');
console.log('|---|---|---|---|---|');
console.log(`| ${best.navigations} | ${best.whole} | ${best.ms.toFixed(1)} | ${best.marksBefore} | ${best.marksAfter} |`);
