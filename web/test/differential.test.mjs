// The differential: the engine in Chromium over the live DOM against
// `glintmark highlight` on the same page file. For every page and each of the
// engine's paths (WebAssembly and plain JavaScript in the page, and the
// extension's: the page's half in the page, the engine outside it) the live
// page's report must be the tool's, and the live page after the pass must
// show what Chromium builds from the tool's written page: the same spans per
// colour, the same text.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { ROOT, BROWSER_NAME, browserMissing, servedBrowser, injectEngine, injectPageHalf, highlight, highlightApart, pageState,
  paintHighlights, bodyNodes } from '../../testing/browser/browser.mjs';
import { highlightFile, reportFields } from '../../testing/browser/tool.mjs';
import { SMALL_PAGES, sessionPages, generatedPages } from './pages.mjs';
import { sameText, noErrors } from '../../testing/browser/assertions.mjs';

const WORK = join(ROOT, 'build/web-test/differential');
const SIZES = (process.env.GLINTMARK_DIFFERENTIAL_SIZES ?? '100K,1M').split(',').filter(Boolean);

// The pages, each with its report and written page from the tool. The
// example session runs in order, each page given the saved search text the
// one before it left, as one browser window carries it.
function prepare() {
  rmSync(WORK, { recursive: true, force: true });
  mkdirSync(WORK, { recursive: true });
  const cases = [];
  let saved = null;
  for (const page of sessionPages()) {
    const settings = { ...page, savedSearchText: saved };
    const out = join(WORK, `out-${cases.length}.html`);
    const report = highlightFile(page.file, out, settings);
    saved = report.savedSearchText;
    cases.push({ ...settings, out, report });
  }
  for (const page of SMALL_PAGES) {
    const file = join(WORK, `${page.name}.html`);
    writeFileSync(file, page.html);
    cases.push({ ...page, file });
  }
  for (const page of generatedPages(WORK, SIZES)) cases.push(page);
  for (const [index, page] of cases.entries()) {
    if (page.report) continue;
    page.out = join(WORK, `out-${index}.html`);
    page.report = highlightFile(page.file, page.out, page);
  }
  return cases;
}

describe(`differential: the engine in ${BROWSER_NAME} against glintmark highlight`, { skip: browserMissing }, () => {
  const cases = browserMissing ? [] : prepare();
  const browser = servedBrowser();


  // What Chromium builds from the tool's written page, once per page.
  const written = new Map();
  async function writtenState(index) {
    if (!written.has(index)) {
      const page = await browser.open(`/out/${index}`, { file: cases[index].out });
      written.set(index, await pageState(page));
      await page.close();
    }
    return written.get(index);
  }

  // The extension's path: the page's half alone in the page, the engine in
  // a page of its own (standing for the extension's worker), JSON between.
  let enginePage = null;
  async function highlightElsewhere(browserPage, settings) {
    if (!enginePage) {
      enginePage = await browser.open('/engine', { body: '<p>the engine</p>' });
      await injectEngine(enginePage);
    }
    await injectPageHalf(browserPage);
    return highlightApart(browserPage, enginePage, settings);
  }

  cases.forEach((page, index) => {
    for (const prefer of ['wasm', 'js', 'extension']) {
      it(`${page.name} (${prefer})`, async (t) => {
        const state = await writtenState(index);
        const browserPage = await browser.open(`/page/${index}`, { file: page.file });
        const before = await pageState(browserPage);
        const settings = { options: page.options, url: page.url, referrer: page.referrer,
          savedSearchText: page.savedSearchText };
        let live;
        if (prefer === 'extension') {
          live = await highlightElsewhere(browserPage, settings);
        } else {
          await injectEngine(browserPage);
          live = await highlight(browserPage, { prefer, ...settings });
          t.diagnostic(`the pass took ${live.ms.toFixed(1)} ms`);
        }
        const after = await pageState(browserPage);
        await browserPage.close();
        assert.equal(live.kind, prefer === 'extension' ? 'wasm' : prefer);
        assert.equal(live.report.domError, undefined, 'the page refused a change');
        assert.deepEqual(reportFields(live.report), page.report, 'the engine\'s report against the tool\'s');
        assert.deepEqual(after.spans, state.spans, 'spans per colour, live page against the tool\'s page');
        sameText(after.marked, state.marked, 'the spans\' colours and texts in order, live page against the tool\'s page');
        sameText(after.text, state.text, 'text, live page against the tool\'s page');
        // Links resolve against the page's address, which differs between
        // the two sides unless the page names its base.
        if (page.html?.includes('<base ')) sameText(after.titles, state.titles, 'the links\' titles');
        sameText(after.text, before.text, 'text, live page after the pass against before it');
        noErrors(browserPage);
      });
    }

    // The extension's default painter: the same matches per colour, and not
    // one node of the page changed.
    it(`${page.name} (CSS highlights)`, async () => {
      const state = await writtenState(index);
      const browserPage = await browser.open(`/page/${index}`, { file: page.file });
      const before = await browserPage.evaluate(`(${bodyNodes})()`);
      await injectEngine(browserPage);
      const painted = await paintHighlights(browserPage, { options: page.options, url: page.url,
        referrer: page.referrer, savedSearchText: page.savedSearchText });
      await browserPage.close();
      assert.deepEqual(reportFields(painted.report), page.report, 'the engine\'s report against the tool\'s');
      assert.deepEqual(painted.spans, state.spans, 'marks per colour against the tool\'s spans');
      sameText(painted.marked, state.marked, 'the marks\' colours and texts in order against the tool\'s spans');
      sameText(painted.nodes, before, 'the page\'s nodes after the pass against before it');
      noErrors(browserPage);
    });
  });
});
