// The extension through a browsing session in headless Chromium, checked
// page by page against `glintmark session` on the same pages, URLs and
// referrers.
//
//   node --test extension/test/
//
// It builds the extension around the engine (build/wasm/web/, or
// GLINTMARK_WORKER_ENGINE) into build/extension-test/ and loads it. Tab A: the
// engine's results page (?q= in its own URL), a result reached from it (the
// referrer cut to the engine's origin) after the service worker was stopped,
// with a frame, a page one link further on; a tab and a window opened from
// links there (they start with A's saved search) and a window opened by hand
// (it starts with none); a typed address in A (title words); back to the
// results page from the page cache; the options page (Close, Cancel, Enter,
// its tab closed, Help); then, with the new options, a results page that is
// itself highlighted, a page that rewrites itself after loading, and a page
// whose Content-Security-Policy forbids scripts and WebAssembly (the engine
// runs in the service worker: WebAssembly all the same). Every console (pages, service worker, options page) must stay free
// of errors. Screenshots go to GLINTMARK_SCREENSHOTS (default
// build/extension-test/screenshots).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {test} from 'node:test';
import {ROOT, browserMissing, isFirefox} from '../../testing/browser/browser.mjs';
import {buildExtension, launchExtension, sleep, until} from '../../testing/browser/extension.mjs';
import {glintmark, highlightFile, reportFields} from '../../testing/browser/tool.mjs';
import {startSites} from './sites.mjs';

test('the extension through a browsing session', {skip: browserMissing}, session);

// Each check is a subtest of the session, reported as the session reaches it;
// a failed one shows the expected and the actual values and the session goes on.
async function session(t) {
  const check = (name, body) => t.test(name, body);
  const WORK = path.join(ROOT, 'build/extension-test');
  const extensionDir = path.join(WORK, 'extension');
  const screenshotDir = process.env.GLINTMARK_SCREENSHOTS ?? path.join(WORK, 'screenshots');
  fs.rmSync(WORK, {recursive: true, force: true});
  fs.mkdirSync(screenshotDir, {recursive: true});
  buildExtension(extensionDir, path.join(WORK, isFirefox ? 'glintmark-extension.xpi' : 'glintmark-extension.zip'));
  const HIGHLIGHT_SPANS = 'span[style^="color:black;background-color:"]';

  // What the user sees in a frame: the spans per colour, the links with their
  // target as tooltip, the address and referrer the document has.
  function pageView(frame) {
    return frame.evaluate((selector) => {
      const spans = {};
      for (const span of document.querySelectorAll(selector)) {
        const colour = span.getAttribute('style').split('background-color:')[1];
        spans[colour] = (spans[colour] ?? 0) + 1;
      }
      for (const [name, highlight] of CSS.highlights) {
        const colour = `#${name.slice(10, 16)}`;
        if (name.startsWith('glintmark-') && highlight.size) spans[colour] = (spans[colour] ?? 0) + highlight.size;
      }
      const tooltips = [...document.links].filter((a) => a.title === a.href).length;
      return {url: document.URL, referrer: document.referrer, spans, tooltips, text: document.body.textContent};
    }, HIGHLIGHT_SPANS);
  }

  // --- The session ------------------------------------------------------------

  const web = await startSites();
  const extension = await launchExtension(extensionDir, {
    // No host name reaches a resolver: nothing leaves the machine.
    args: ['--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1, EXCLUDE 127.0.0.2'],
    prefs: {'network.dns.localDomains': 'glintmark.example'},
  });
  const browser = extension.browser;
  const visits = [];  // {tab, page, frame view, pass}
  let consoleErrors;
  try {
    const watch = (page, label) => extension.watch(page, label);
    const passOf = (watcher, frame, field) => extension.passOf(watcher, frame, field);
    const inWorker = (expression) => extension.inBackground(expression);
    const stopWorker = () => extension.stopBackground();
    // A tab or window that opens next.
    const nextPage = () => {
      const known = new Set(browser.targets());
      return browser.waitForTarget((t) => t.type() === 'page' && !known.has(t)).then((t) => t.page());
    };

    async function visit(tab, watcher, page, file, frame = page.mainFrame()) {
      const pass = await passOf(watcher, frame);
      const view = await pageView(frame);
      visits.push({tab, file, view, pass});
      return visits.at(-1);
    }
    // Follows a link and waits for its page to load. (Not waitForNavigation:
    // over BiDi, puppeteer misses the navigations of a page Firefox restored
    // from its page cache.)
    async function follow(page, selector) {
      const href = await page.$eval(selector, (link) => link.href);
      await page.click(selector);
      await until(`${href} loaded`, () => page.evaluate((href) =>
        location.href === href && document.readyState === 'complete', href), 30000);
    }

    const tabA = (await browser.pages())[0];
    const a = await watch(tabA, 'tab A');
    await tabA.goto(`${web.engine}/search?hl=en&q=snow+leopard+habitat`);
    const results = await visit('A', a, tabA, 'results.html');
    await check('results page: search saved, page not highlighted (option off), links get tooltips', () =>
      assert.deepStrictEqual(
        {saved: results.pass.report.savedSearchText, spans: results.view.spans, tooltips: results.view.tooltips},
        {saved: 'snow+leopard+habitat', spans: {}, tooltips: 2}));

    // The browser stops an idle background; the tab's saved search must outlive it.
    await stopWorker();

    await follow(tabA, '#result');
    const leopards = await visit('A', a, tabA, 'snow-leopard.html');
    const frame = await visit('A', a, tabA, 'frame.html', tabA.mainFrame().childFrames()[0]);
    await check('result page (worker stopped since): referrer cut to the engine origin, highlighted with the saved search',
      () => assert.deepStrictEqual(
        {referrer: leopards.view.referrer, source: leopards.pass.report.source,
          colours: Object.keys(leopards.view.spans).length},
        {referrer: `${web.engine}/`, source: 'saved', colours: 3}));
    await check('frame: its own pass with the tab session', () => {
      assert.strictEqual(frame.pass.report.source, 'saved');
      assert.notDeepStrictEqual(frame.view.spans, {});
    });
    await tabA.screenshot({path: path.join(screenshotDir, 'highlighted-page.png')});

    await follow(tabA, '#next');
    await visit('A', a, tabA, 'conservation.html');

    const opened = nextPage();
    await tabA.click('#newtab');
    const tabB = await opened;
    const b = await watch(tabB, 'tab B');
    const inherited = await visit('B', b, tabB, 'habitat.html');
    const popupOpened = nextPage();
    await tabA.bringToFront();  // a background tab's click opens no window
    await tabA.click('#popup');
    const popup = await popupOpened;
    const inheritedByWindow = await visit('popup', await watch(popup, 'popup window'), popup, 'habitat.html');
    // A window opened by hand (no opener), its first page given a referrer, so
    // that the saved text decides. (Over WebDriver BiDi, puppeteer sends no
    // referrer: there the page is a typed address, and the saved text the
    // window starts with is what this shows.)
    const tabC = await browser.newPage({type: 'window'});
    const c = await watch(tabC, 'window C');
    await tabC.goto(`${web.site}/habitat.html`, {referer: `${web.site}/conservation.html`});
    const fresh = await visit('C', c, tabC, 'habitat.html');
    await check('a tab or window opened from a link starts with its opener search; a window opened by hand with none',
      () => assert.deepStrictEqual(
        [inherited, inheritedByWindow, fresh].map((v) => [v.pass.input.savedSearchText, v.pass.report.source]),
        [['snow+leopard+habitat', 'saved'], ['snow+leopard+habitat', 'saved'], [null, 'title']]));
    const tabsBefore = (await inWorker('chrome.storage.session.get(null)'));
    await tabB.close();
    await popup.close();
    await tabC.close();
    const sessionsLeft = await until('closed tabs forgotten', async () => {
      const left = await inWorker('chrome.storage.session.get(null)');
      return Object.keys(left).length === 1 && left;
    }).catch(() => inWorker('chrome.storage.session.get(null)'));
    await check('closing a tab forgets its session', () => assert.deepStrictEqual(
      [Object.keys(tabsBefore).length, Object.keys(sessionsLeft).length], [4, 1]));

    await tabA.goto(`${web.site}/glaciers.html`);
    const typed = await visit('A', a, tabA, 'glaciers.html');
    await check('typed address: no referrer ends the search, title words are highlighted', () => {
      assert.deepStrictEqual([typed.pass.report.source, typed.pass.report.savedSearchText], ['title', null]);
      assert.notDeepStrictEqual(typed.view.spans, {});
    });

    // Back to the results page, which the browser restores from its cache: no
    // new load, but the tab's session takes its search again, and a result
    // followed from it is highlighted with that search, not with title words.
    await tabA.evaluate(() => history.go(-3));
    const restored = await until('the results page restored', async () => {
      const pass = await passOf(a, tabA.mainFrame());
      return pass.restoredPasses > 0 && pass;
    });
    await follow(tabA, '#result');
    const again = await visit('A', a, tabA, 'snow-leopard.html');
    await check('back to the results page (from the page cache) saves its search again', () =>
      assert.deepStrictEqual(
        [restored.restoredPasses, again.pass.input.savedSearchText, again.pass.report.source],
        [1, 'snow+leopard+habitat', 'saved']));

    // The options page.
    async function openOptions(label) {
      const page = await extension.openPage('options.html');
      const watcher = await watch(page, label);
      await until('the stored options shown', () => page.$eval('input', (box) => !box.disabled));
      return {page, watcher};
    }
    const boxesOf = (page) => page.$$eval('.client label', (labels) =>
      labels.map((l) => [l.textContent, l.querySelector('input').checked]));
    // (A page evaluates nothing once its tab is gone: over BiDi, puppeteer
    // does not see an extension page's tab close.)
    const closed = (page) => until('the page closed', async () =>
      page.isClosed() || page.evaluate(() => false).catch(() => true));
    const storedOptions = () => inWorker('chrome.storage.sync.get("options").then((o) => o.options)');

    const dialogRc = fs.readFileSync(path.join(ROOT, 'resources/options_dialog.rc'), 'latin1');
    const captions = [...dialogRc.matchAll(/^\s*(?:DEFPUSHBUTTON|PUSHBUTTON|AUTOCHECKBOX|LTEXT|CAPTION)\s+"([^"]+)"/gm)]
      .map((m) => m[1]);
    let options = await openOptions('options page');
    const shown = await options.page.evaluate(() =>
      [document.title, ...[...document.querySelectorAll('.client > :is(button, label, span)')]
        .map((e) => e.textContent)]);
    await check('options page: the dialog captions and buttons, in the dialog order', () =>
      assert.deepStrictEqual(shown, captions));
    const boxes = await boxesOf(options.page);
    await check('options page: nothing stored shows the default 13', () =>
      assert.deepStrictEqual(boxes.map((box) => box[1]), [false, true, true, true]));
    await options.page.setViewport({width: 420, height: 290});
    await options.page.screenshot({path: path.join(screenshotDir, 'options-page.png')});
    // (Firefox's tab of an address that cannot load keeps about:blank as its
    // address over BiDi: there the extension's view of its tabs tells.)
    const helpOpened = isFirefox
      ? until('the help tab', async () => (await inWorker('chrome.tabs.query({})'))
        .find((tab) => tab.url?.startsWith('https://glintmark.example/')), 5000)
        .then((tab) => ({url: () => tab.url, page: () => inWorker(`chrome.tabs.remove(${tab.id})`)}))
      : browser.waitForTarget((t) => t.url().startsWith('https://glintmark.example/'), {timeout: 5000});
    await options.page.click('#help');
    const help = await helpOpened.catch(() => null);
    const helpPage = /helpPageAddress\[\] = "([^"]+)"/.exec(
      fs.readFileSync(path.join(ROOT, 'settings/help_launcher.h'), 'utf8'))[1];
    await check('Help opens the product help page in a new tab', () => assert.strictEqual(help?.url(), helpPage));
    if (help) await (await help.page())?.close();

    const box = (bit) => `input[data-bit="${bit}"]`;
    await options.page.click(box(2));
    await options.page.click(box(8));
    let gone = closed(options.page);
    await options.page.click('#close').catch(() => {});  // the page may close before the click's release
    await gone;
    const afterClose = await storedOptions();
    await check('Close stores the boxes (13 - tooltips + search results = 7) and closes the page', () =>
      assert.strictEqual(afterClose, 7));

    options = await openOptions('options page (Cancel)');
    await options.page.click(box(1));
    gone = closed(options.page);
    await options.page.click('#cancel').catch(() => {});  // the page may close before the click's release
    await gone;
    const afterCancel = await storedOptions();
    options = await openOptions('options page (tab closed)');
    const reopened = await boxesOf(options.page);
    await options.page.click(box(4));
    await stopWorker();  // and its port to the page with it
    await options.page.close();
    const afterTabClosed = await until('the closed page saved', async () => (await storedOptions()) === 3 && 3)
      .catch(storedOptions);
    options = await openOptions('options page (restore)');
    await options.page.click(box(4));
    gone = closed(options.page);
    await options.page.keyboard.press('Enter').catch(() => {});  // the page closes at the key's press
    await gone;
    const afterEnter = await storedOptions();
    await check('Cancel drops a change; closing the tab stores it (even after the worker stopped); Enter is Close',
      () => assert.deepStrictEqual(
        {afterCancel, reopened: reopened.map((r) => r[1]), afterTabClosed, afterEnter},
        {afterCancel: 7, reopened: [true, false, true, true], afterTabClosed: 3, afterEnter: 7}));

    // The new options on the next pages.
    await tabA.goto(`${web.engine}/find?query=glacier+ice`);
    const ownResults = await visit('A', a, tabA, 'glacier-results.html');
    await check('new options take effect: results page highlighted, no tooltips', () =>
      assert.deepStrictEqual(
        [ownResults.pass.input.options, ownResults.pass.report.source, Object.keys(ownResults.view.spans).length,
          ownResults.view.tooltips],
        [7, 'url', 2, 0]));

    await follow(tabA, '#result');
    const rewriting = await visit('A', a, tabA, 'rewrite.html');
    rewriting.rewritePass = await passOf(a, tabA.mainFrame(), 'lastIncremental');
    await sleep(300);
    rewriting.rewritten = await pageView(tabA.mainFrame());
    await check('a page that replaces its body after loading is highlighted again', () => {
      assert.match(rewriting.rewritten.text, /Glacier ice today/);
      assert.equal(Object.keys(rewriting.rewritten.spans).length, 2);
      assert.ok(rewriting.rewritePass.incremental.passes >= 1, JSON.stringify(rewriting.rewritePass.incremental));
    });

    await follow(tabA, '#next');
    const strict = await visit('A', a, tabA, 'strict.html');
    const kinds = visits.map((v) => v.pass.engineKind);
    await check('every page, the strict CSP page too, passes through the worker WebAssembly engine', () => {
      assert.deepStrictEqual(kinds, kinds.map(() => 'wasm'));
      assert.strictEqual(Object.keys(strict.view.spans).length, 2);
    });
  } catch (error) {
    await check('the session ran to its end', () => assert.ifError(error));
  } finally {
    consoleErrors = await extension.errors().catch((error) => [`the consoles could not be read: ${error}`]);
    await extension.close();
    await web.close();
  }

  // --- The same pages through glintmark session --------------------------------

  // The tool's report in the engine's shape, read as UTF-8 as the engine reads.
  const toolReport = (report) =>
    reportFields({...report, status: Number.parseInt(report.result, 16) >>> 0, text: report.searchText});

  // One session per run of one tab with one options word, as the browser ran them.
  function toolSession(name, steps, optionsWord) {
    const folder = path.join(WORK, name);
    fs.mkdirSync(folder, {recursive: true});
    const lines = steps.map((v) => {
      fs.writeFileSync(path.join(folder, v.file), web.render(v.file));
      return `${v.file} ${v.view.url} ${v.view.referrer}`;
    });
    fs.writeFileSync(path.join(folder, 'session.txt'), lines.join('\n') + '\n');
    return JSON.parse(glintmark('session', path.join(folder, 'session.txt'), '--json', '--options', String(optionsWord),
      '--codepage', '65001')).map(toolReport);
  }

  // The browser's report and spans per colour of each page against the tool's.
  function sameAsTool(label, pages) {
    const byColour = (keywords) => {
      const spans = {};
      for (const k of keywords) if (k.spans) spans[k.colour] = (spans[k.colour] ?? 0) + k.spans;
      return spans;
    };
    const sorted = (o) => Object.fromEntries(Object.entries(o).sort());
    return check(`same reports and spans per colour as glintmark: ${label} (${pages.length} pages)`, () =>
      assert.deepStrictEqual(
        pages.map(({file, report, spans}) => ({file, ...reportFields(report), spans: sorted(spans),
          domError: report.domError})),
        pages.map(({file, tool}) => ({file, ...tool, spans: sorted(byColour(tool.keywords)), domError: undefined}))));
  }

  if (visits.length === 12) {
    const [results, leopards, frame, conservation, tabB, popup, tabC, typed, leopardsAgain,
      ownResults, rewriting, strict] = visits;
    const runs = [
      ['tab A', [results, leopards, frame, conservation, typed, results, leopardsAgain], 13],
      ['tab B', [results, leopards, frame, conservation, tabB], 13],
      ['popup window', [results, leopards, frame, conservation, popup], 13],
      ['window C', [tabC], 13],
      ['tab A, options 7', [ownResults, rewriting, strict], 7],
    ];
    for (const [name, steps, word] of runs) {
      const reports = toolSession(name.replace(/\W+/g, '-'), steps, word);
      await sameAsTool(name, steps.map((v, i) =>
        ({file: v.file, report: v.pass.report, spans: v.view.spans, tool: reports[i]})));
    }
    // The rewritten page against the tool on the same content, with the input
    // of the load's pass.
    const file = path.join(WORK, 'rewrite-after.html');
    fs.writeFileSync(file, web.render('rewrite-after.html'));
    await sameAsTool('rewrite.html after the rewrite', [{file: 'rewrite-after.html',
      report: rewriting.rewritePass.lastIncremental, spans: rewriting.rewritten.spans,
      tool: highlightFile(file, path.join(WORK, 'rewrite-after.out.html'),
        {url: rewriting.view.url, referrer: rewriting.view.referrer, options: 7,
          savedSearchText: rewriting.pass.input.savedSearchText})}]);
  } else {
    await check('every page of the session reached', () => assert.strictEqual(visits.length, 12));
  }
  await check('no error in any console (pages, service worker, options page)', () =>
    assert.deepStrictEqual(consoleErrors, []));
}
