// The browser side of the tests and the benchmark: the system Chromium or
// Firefox ESR driven by puppeteer-core (from build/web-node, installed by
// scripts/install-web-node.sh), the engine script injected into pages, and what
// the tests read back from a page: the highlight spans per colour and the text.
//
// GLINTMARK_BROWSER chooses the browser of a run: chromium (the default,
// driven over the DevTools protocol) or firefox (Firefox ESR, driven over
// WebDriver BiDi). The suites run once per browser.
import { createRequire } from 'node:module';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before } from 'node:test';
import { startServer } from './server.mjs';

export const ROOT = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
export const CHROMIUM = '/usr/bin/chromium';
export const FIREFOX = '/usr/bin/firefox-esr';
export const BROWSER = process.env.GLINTMARK_BROWSER || 'chromium';
if (!['chromium', 'firefox'].includes(BROWSER)) throw new Error(`GLINTMARK_BROWSER=${BROWSER}: chromium or firefox`);
export const isFirefox = BROWSER === 'firefox';
// The browser's name for messages, and the skip reason of a suite when the
// browser of this run is not installed.
export const BROWSER_NAME = isFirefox ? 'Firefox' : 'Chromium';
export const browserMissing = !existsSync(isFirefox ? FIREFOX : CHROMIUM) && `${BROWSER_NAME} missing`;
export const ENGINE = process.env.GLINTMARK_ENGINE || join(ROOT, 'build/wasm/web/glintmark-engine.js');
// The engine of the extension's service worker (WebAssembly alone).
export const WORKER_ENGINE = process.env.GLINTMARK_WORKER_ENGINE ||
  join(ROOT, 'build/wasm/web/glintmark-worker-engine.js');
export const NODE_MODULES = process.env.GLINTMARK_WEB_NODE || join(ROOT, 'build/web-node');

const FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

function puppeteerCore() {
  const require = createRequire(join(NODE_MODULES, 'package.json'));
  try {
    return require('puppeteer-core');
  } catch (error) {
    throw new Error(`puppeteer-core is not in ${NODE_MODULES} (scripts/install-deps.sh installs it): ${error.message}`);
  }
}

// A profile folder, removed once the browser is gone: Firefox's processes may
// still be writing there for a moment after close() returns. A folder left
// in the temporary directory is said, not thrown: the suite's own closing
// (its server) must still run.
function removeProfile(profile) {
  try {
    rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 100 });
  } catch (error) {
    console.warn(`the browser profile ${profile} was left: ${error.message}`);
  }
}

// launchChromium({extension, args}) -> {browser, close()}: headless Chromium
// on a fresh profile folder, removed again by close(); with `extension`, that
// unpacked extension loaded and no other; `args`, more command-line flags.
export async function launchChromium({ extension, args = [] } = {}) {
  const puppeteer = puppeteerCore();
  const profile = mkdtempSync(join(tmpdir(), 'glintmark-chromium-'));
  let browser;
  try {
    browser = await puppeteer.launch({
      executablePath: CHROMIUM,
      headless: true, // puppeteer passes --headless=new
      args: [...FLAGS, ...args,
        ...(extension ? [`--load-extension=${extension}`, `--disable-extensions-except=${extension}`] : [])],
      ignoreDefaultArgs: extension ? ['--disable-extensions'] : [],
      userDataDir: profile,
      protocolTimeout: 600_000,
    });
  } catch (error) {
    removeProfile(profile);
    throw error;
  }
  return {
    browser,
    async close() {
      await browser.close();
      removeProfile(profile);
    },
  };
}

// The address of the extension's pages in Firefox: moz-extension://UUID/,
// the UUID fixed through a preference, so that the tests know it before the
// add-on is installed.
export const FIREFOX_EXTENSION_UUID = '6c1a5e0b-3f1d-4c8e-9a57-0d2b7e4f9c31';

// launchFirefox({extension, prefs}) -> {browser, close(), extensionOrigin}:
// headless Firefox ESR over WebDriver BiDi on a fresh profile folder; with
// `extension` (an unpacked Firefox build), that add-on installed as a
// temporary one (BiDi webExtension.install, as about:debugging does). Its
// pages may then be opened by address (--remote-allow-system-access: BiDi
// navigates to moz-extension: addresses only with it). `prefs`, more
// preferences.
export async function launchFirefox({ extension, prefs = {} } = {}) {
  const puppeteer = puppeteerCore();
  const profile = mkdtempSync(join(tmpdir(), 'glintmark-firefox-'));
  let browser;
  try {
    let id;
    if (extension) id = JSON.parse(readFileSync(join(extension, 'manifest.json'), 'utf8')).browser_specific_settings.gecko.id;
    browser = await puppeteer.launch({
      browser: 'firefox',
      executablePath: FIREFOX,
      headless: true,
      args: extension ? ['--remote-allow-system-access'] : [],
      extraPrefsFirefox: {
        ...(id ? { 'extensions.webextensions.uuids': JSON.stringify({ [id]: FIREFOX_EXTENSION_UUID }) } : {}),
        ...prefs,
      },
      userDataDir: profile,
      protocolTimeout: 600_000,
    });
    if (extension) await browser.installExtension(extension);
  } catch (error) {
    await browser?.close();
    removeProfile(profile);
    throw error;
  }
  return {
    browser,
    extensionOrigin: extension ? `moz-extension://${FIREFOX_EXTENSION_UUID}` : undefined,
    async close() {
      await browser.close();
      removeProfile(profile);
    },
  };
}

// launchBrowser(...): the browser of this run (GLINTMARK_BROWSER), as above.
export function launchBrowser(options = {}) {
  return isFirefox ? launchFirefox(options) : launchChromium(options);
}

// newPage(browser) -> page, whose console errors and uncaught exceptions
// are collected in page.errors.
export async function newPage(browser) {
  const page = await browser.newPage();
  // A 10 MB page takes Chromium longer than puppeteer's 30 s to load here.
  page.setDefaultNavigationTimeout(600_000);
  page.errors = [];
  page.on('console', (message) => {
    if (message.type() === 'error') page.errors.push(`console: ${message.text()}`);
  });
  page.on('pageerror', (error) => page.errors.push(`exception: ${error.message}`));
  return page;
}

// openPage(browser, address) -> a new page with `address` loaded. Errors of
// the page's own loading (its scripts, its missing images) are the page's:
// page.errors starts empty once it has loaded.
export async function openPage(browser, address) {
  const page = await newPage(browser);
  await page.goto(address);
  page.errors.length = 0;
  return page;
}

let engineSource;
// injectEngine(page): runs the engine's script in the page's main world
// through DevTools, which the page's Content-Security-Policy does not stop
// (it still governs what that script may compile).
export async function injectEngine(page) {
  engineSource ??= readFileSync(ENGINE, 'utf8');
  await page.evaluate(engineSource);
}

// highlight(page, {prefer, options, url, referrer, savedSearchText}) ->
// {kind, report, ms}: one engine made and one pass run in the page; ms is the
// pass alone, one synchronous call on the main thread.
// Both run in a task of the page's own: while DevTools evaluates, and in the
// microtasks of that evaluation, Chromium lets eval and new Function run
// whatever the page's policy says; from a task they are held to it, as the
// page's and an extension's scripts are. (WebAssembly compilation is held to
// the policy either way.)
export async function highlight(page, { prefer = 'auto', ...settings } = {}) {
  return page.evaluate((prefer, settings) => new Promise((resolve, reject) => {
    setTimeout(() => {
      GlintmarkEngine.create({ prefer }).then((engine) => {
        setTimeout(() => {
          try {
            const start = performance.now();
            const report = engine.highlightDocument(document, settings);
            resolve({ kind: engine.kind, report, ms: performance.now() - start });
          } catch (error) {
            reject(error);
          }
        });
      }, reject);
    });
  }), prefer, settings);
}

let pageHalfSource;
// injectPageHalf(page): the page's half of a pass alone (web/protocol.js and
// web/page.js, GlintmarkPage), as the extension's content script has it: no
// engine, nothing compiled.
export async function injectPageHalf(page) {
  pageHalfSource ??= ['web/protocol.js', 'web/page.js'].map((f) => readFileSync(join(ROOT, f), 'utf8')).join('\n');
  await page.evaluate(pageHalfSource);
}

// highlightApart(page, enginePage, {options, url, referrer, savedSearchText})
// -> {kind, report}: the extension's path. The page (injectPageHalf)
// describes itself, the engine runs in `enginePage` (injectEngine), and the
// page makes the answer's changes; what crosses is JSON, as through the
// extension's messages. Each step in a task of the page's own.
export async function highlightApart(page, enginePage, { options = 13, ...facts } = {}) {
  const request = await page.evaluate((options, facts) => new Promise((resolve) => setTimeout(() => {
    const described = GlintmarkPage.describe(document, {
      options, savedSearchText: facts.savedSearchText ?? null, url: facts.url ?? document.URL,
      referrer: facts.referrer ?? document.referrer, title: document.title,
    }, { body: true, links: (options & 8) !== 0 });
    window.glintmarkDescribed = described.page;
    resolve(JSON.stringify(described.request));
  })), options, facts);
  const { kind, answer } = await enginePage.evaluate(async (request) => {
    window.glintmarkEngine ??= await GlintmarkEngine.create({ prefer: 'wasm' });
    return { kind: glintmarkEngine.kind, answer: JSON.stringify(glintmarkEngine.run(JSON.parse(request))) };
  }, request);
  const domError = await page.evaluate((answer) => new Promise((resolve) => setTimeout(() =>
    resolve(GlintmarkPage.apply(window.glintmarkDescribed, JSON.parse(answer))))), answer);
  const { report } = JSON.parse(answer);
  if (domError) report.domError = domError;
  return { kind, report };
}

let painterSource;
// bodyNodes(): the body's nodes in document order, names and texts (run in
// the page): what a painter that leaves the page alone must leave as it was
// (link tooltips change attributes, not nodes).
export const bodyNodes = () => {
  const out = [];
  const walker = document.createTreeWalker(document.body);
  for (let node = walker.currentNode; node; node = walker.nextNode()) {
    out.push(node.nodeType === 3 ? `#${node.data}` : node.nodeName);
  }
  return out.join('\n');
};

// paintHighlights(page, settings) -> {report, spans, marked, nodes}: the
// extension's default painter (extension/painter_highlight.js, injected
// here) given one pass of the engine (injected before) over the page;
// `marked`, each mark's colour and text in document order, one per line;
// `spans`, the count per colour; `nodes`, bodyNodes() after the pass.
export async function paintHighlights(page, { options = 13, ...facts } = {}) {
  painterSource ??= readFileSync(join(ROOT, 'extension/painter_highlight.js'), 'utf8');
  await page.evaluate(painterSource);
  return page.evaluate((options, facts, bodyNodesSource) => new Promise((resolve, reject) => {
    const bodyNodes = eval(bodyNodesSource);
    setTimeout(() => {
      GlintmarkEngine.create({ prefer: 'wasm' }).then((engine) => {
        try {
          const { request, page } = GlintmarkPage.describe(document, {
            options, savedSearchText: facts.savedSearchText ?? null, url: facts.url ?? document.URL,
            referrer: facts.referrer ?? document.referrer, title: document.title,
          }, { body: true, links: (options & 8) !== 0, shadow: true });
          const answer = engine.run(request);
          new GlintmarkHighlightPainter(document).paint(page,
            GlintmarkMatchRanges.of(request.ops, answer.changes, answer.made));
          GlintmarkPage.apply(page, { changes: [], made: [], titles: answer.titles });
          const marks = GlintmarkHighlightPainter.describe(window);
          const spans = {};
          for (const { colour } of marks) spans[colour] = (spans[colour] || 0) + 1;
          resolve({ report: answer.report, spans, marked: marks.map((m) => `${m.colour} ${m.text}`).join('\n'),
            nodes: bodyNodes() });
        } catch (error) {
          reject(error);
        }
      }, reject);
    });
  }), options, facts, `(${bodyNodes})`);
}

// pageState(page) -> {spans: {colour: count}, marked, titles, text}: the
// highlight spans (style "color:black;background-color:C", spaces and a
// final ";" allowed, any case) counted per colour; `marked`, each span's
// colour and text in document order, one per line; the links' titles, one
// per line; and the body's textContent.
// textContent, not innerText: it is every text node's data in order,
// whatever the style sheet hides or lays out, and it includes script, style
// and textarea text, so a change there shows; innerText would also force a
// layout per call.
export function pageState(page) {
  return page.evaluate(() => {
    const spans = {};
    const marked = [];
    const pattern = /^\s*color\s*:\s*black\s*;\s*background-color\s*:\s*(#[0-9a-f]{6})\s*;?\s*$/i;
    for (const span of document.querySelectorAll('span[style]')) {
      const found = pattern.exec(span.getAttribute('style'));
      if (!found) continue;
      const colour = found[1].toLowerCase();
      spans[colour] = (spans[colour] || 0) + 1;
      marked.push(`${colour} ${span.textContent}`);
    }
    const titles = [...document.querySelectorAll('a')].map((a) => a.getAttribute('title')).join('\n');
    return { spans, marked: marked.join('\n'), titles, text: document.body.textContent };
  });
}

// For the tests of one describe(): a loopback server and the browser of this
// run, started before the first test and closed after the last.
// open(path, content) serves the content at the path and opens it in a new tab.
export function servedBrowser() {
  let server, launched;
  before(async () => {
    server = await startServer();
    launched = await launchBrowser();
  });
  after(async () => {
    await launched?.close();
    await server?.close();
  });
  return { open: (path, content) => openPage(launched.browser, server.serve(path, content)) };
}
