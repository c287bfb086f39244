// The extension under test in the browser of this run (GLINTMARK_BROWSER):
// launched with it, and what the tests read from it in either browser.
//
//   const extension = await launchExtension(dir, {args})
//   extension.browser, extension.origin   the puppeteer browser; the origin of the extension's pages
//   await extension.watch(page, label)    -> a watcher: the page's console errors are collected
//   await extension.inFrame(watcher, frame, expression)
//                                         -> the value of an expression (awaited, as JSON) in the
//                                            content script's world of that frame, once it has one
//   await extension.passOf(watcher, frame, field)
//                                         -> the content script's glintmarkPass in that frame, once
//                                            glintmarkPass[field] is set
//   await extension.inBackground(expression)
//                                         -> the value of an expression (awaited, as JSON) in the
//                                            background's scope: its functions, chrome.*
//   await extension.stopBackground()      stops the background as the browser does when it is idle
//   await extension.openPage(path)      -> a new tab showing the extension's page at `path`
//   await extension.errors()              -> every console error seen: pages, content scripts, background
//   await extension.close()
//   buildExtension(dir, archive, {browser})   the extension built from extension/ for the
//                                          browser of the run (or `browser`), unpacked and zipped
//
// Chromium: the DevTools protocol reaches the service worker and the content
// scripts' worlds directly. Firefox (WebDriver BiDi) reaches neither: an
// extension page opened in a tab of its own serves as the extension's side,
// evaluates in the background page's scope (runtime.getBackgroundPage, which
// starts a stopped background) and in a frame's content script world through
// scripting.executeScript (the test's copy of the add-on is given the
// "scripting" permission for it); the background is stopped as
// about:debugging's "Terminate background script" does, and the extension's
// errors are read from the browser console, both from the browser's
// privileged scope.
import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { BROWSER, ROOT, WORKER_ENGINE, isFirefox, launchChromium, launchFirefox } from './browser.mjs';

// Builds the extension (extension/tools/build.py, with the worker's engine
// of build/wasm) into the folder `dir` and the archive `archive`; answers dir.
export function buildExtension(dir, archive, { browser = BROWSER } = {}) {
  execFileSync('python3', [join(ROOT, 'extension/tools/build.py'), '--engine', WORKER_ENGINE,
    '--browser', browser, dir, archive]);
  return dir;
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// until(what, probe, ms) -> the first truthy value of probe(), polled. The
// deadline is generous: the tests run on loaded machines, and speed is the
// benchmarks' to judge.
export async function until(what, probe, ms = 30000) {
  for (const end = Date.now() + ms; ; await sleep(50)) {
    const value = await probe().catch(() => undefined);
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
  }
}

// The content script's glintmarkPass in a frame, once glintmarkPass[field] is set.
const passOf = (inFrame, watcher, frame, field) => until(`the pass of ${frame.url()}`,
  () => inFrame(watcher, frame, `glintmarkPass.${field} ? glintmarkPass : null`));

// launchExtension(dir, {args, prefs}): `args`, more Chromium flags; `prefs`,
// more Firefox preferences.
export function launchExtension(dir, options = {}) {
  return isFirefox ? firefoxExtension(dir, options) : chromiumExtension(dir, options);
}

async function chromiumExtension(dir, { args = [] } = {}) {
  const launched = await launchChromium({ extension: dir, args });
  const browser = launched.browser;
  const consoleErrors = [];
  let origin;

  // Follows a page or worker: its console errors and uncaught exceptions, and
  // for pages the content script's world in each frame.
  async function watchTarget(target, label) {
    const cdp = await target.createCDPSession();
    const worlds = new Map();  // frame id -> execution context id of the content script
    cdp.on('Runtime.executionContextCreated', ({ context }) => {
      if (origin && context.origin === origin && context.auxData?.frameId) worlds.set(context.auxData.frameId, context.id);
    });
    cdp.on('Runtime.executionContextsCleared', () => worlds.clear());
    cdp.on('Runtime.exceptionThrown', ({ exceptionDetails: e }) =>
      consoleErrors.push(`${label}: ${e.exception?.description ?? e.text}`));
    cdp.on('Runtime.consoleAPICalled', ({ type, args }) => {
      if (type === 'error' || type === 'assert') {
        consoleErrors.push(`${label}: console.${type} ${args.map((a) => a.value ?? a.description).join(' ')}`);
      }
    });
    cdp.on('Log.entryAdded', ({ entry }) => {
      if (entry.level === 'error') consoleErrors.push(`${label}: ${entry.text} ${entry.url ?? ''}`);
    });
    await cdp.send('Runtime.enable');
    await cdp.send('Log.enable');
    return { cdp, worlds };
  }

  // The service worker, and each worker started after it was stopped.
  const isWorker = (t) => t.type() === 'service_worker' && t.url().startsWith('chrome-extension://');
  const workerTarget = await browser.waitForTarget(isWorker);
  origin = `chrome-extension://${new URL(workerTarget.url()).host}`;
  let worker = watchTarget(workerTarget, 'service worker');
  browser.on('targetcreated', (t) => {
    if (isWorker(t)) worker = watchTarget(t, 'service worker (restarted)');
  });

  async function inFrame(watcher, frame, expression) {
    const contextId = await until(`the content script of ${frame.url()}`, async () => watcher.worlds.get(frame._id));
    const { result, exceptionDetails } = await watcher.cdp.send('Runtime.evaluate', {
      contextId, returnByValue: true, awaitPromise: true,
      expression: `(async () => JSON.stringify(await (${expression})))()`,
    });
    if (exceptionDetails) throw new Error(exceptionDetails.exception?.description ?? exceptionDetails.text);
    return result.value === undefined ? undefined : JSON.parse(result.value);
  }

  return {
    browser, origin, inFrame,
    watch: (page, label) => watchTarget(page.target(), label),
    passOf: (watcher, frame, field = 'report') => passOf(inFrame, watcher, frame, field),
    inBackground: async (expression) => (await (await worker).cdp.send('Runtime.evaluate',
      { expression, awaitPromise: true, returnByValue: true })).result.value,
    async stopBackground() {
      await (await worker).cdp.detach();  // a worker with DevTools attached is kept running
      const control = await (await browser.pages())[0].createCDPSession();
      await control.send('ServiceWorker.enable');
      await control.send('ServiceWorker.stopAllWorkers');
      await until('the worker stopped', async () => !browser.targets().some(isWorker));
      await control.detach();
    },
    async openPage(path) {
      const page = await browser.newPage();
      await page.goto(`${origin}/${path}`);
      return page;
    },
    errors: async () => consoleErrors,
    close: () => launched.close(),
  };
}

async function firefoxExtension(dir, { prefs = {} } = {}) {
  const manifestPath = join(dir, 'manifest.json');
  const manifest = JSON.parse(readFileSync(manifestPath, 'utf8'));
  if (!manifest.permissions.includes('scripting')) {
    manifest.permissions.push('scripting');
    writeFileSync(manifestPath, JSON.stringify(manifest, null, 2));
  }
  const id = manifest.browser_specific_settings.gecko.id;
  const launched = await launchFirefox({ extension: dir, prefs });
  const { browser, extensionOrigin: origin } = launched;
  const consoleErrors = [];

  // An expression in the browser's privileged scope (the browser window),
  // its value as JSON.
  async function inChrome(expression) {
    const { result: { contexts } } = await browser.connection.send('browsingContext.getTree', { 'moz:scope': 'chrome' });
    const { result } = await browser.connection.send('script.evaluate', {
      expression: `(async () => JSON.stringify(await (async () => ${expression})()))()`,
      target: { context: contexts[0].context }, awaitPromise: true, resultOwnership: 'none',
    });
    if (result.type === 'exception') throw new Error(`in the browser scope: ${result.exceptionDetails.text}`);
    return result.result.value === undefined ? undefined : JSON.parse(result.result.value);
  }
  const extensionOf = `WebExtensionPolicy.getByID(${JSON.stringify(id)}).extension`;
  // The extension's errors (background, content scripts, its pages) as the
  // browser console gets them, from now on.
  await inChrome(`(() => {
    window.glintmarkErrors = [];
    Services.console.registerListener({observe(message) {
      if (!(message instanceof Ci.nsIScriptError) || (message.flags & (Ci.nsIScriptError.warningFlag |
          Ci.nsIScriptError.infoFlag))) return;
      // A document the test navigates away from while its content script
      // waits for the worker's answer: Firefox drops the answer in the
      // unloaded context, or in the page cache's inactive one, and reports
      // that, though nothing went wrong.
      if (/^Promise (resolved|rejected) (after context unloaded|while context is inactive)/
        .test(String(message.errorMessage))) return;
      if (String(message.sourceName).startsWith(${JSON.stringify(origin)}) ||
          String(message.errorMessage).includes(${JSON.stringify(origin)})) {
        window.glintmarkErrors.push(message.sourceName + ': ' + message.errorMessage);
      }
    }});
  })()`);

  // An extension page in a new tab. BiDi's navigation to it never reports
  // the load (the tab changes process), so it is not awaited: the page is
  // there once its document is the extension's and has loaded.
  async function openPage(path) {
    const page = await browser.newPage();
    await browser.connection.send('browsingContext.navigate',
      { context: page.mainFrame()._id, url: `${origin}/${path}`, wait: 'none' });
    await until(`the extension page ${path}`, () => page.evaluate((origin) =>
      location.origin === origin && document.readyState === 'complete', origin));
    return page;
  }
  // The extension page the tests act through. Its tab showed about:blank
  // first, where the content script (match_about_blank) began a session for
  // the tab: the tab is the harness's, not the test's, so that goes.
  const control = await openPage('options.html');
  await control.evaluate(async () => chrome.storage.session.remove(`tab:${(await chrome.tabs.getCurrent()).id}`));
  let tokens = 0;

  // The frame is found by a name given to its window for the moment of the
  // read (a content script sees the page's window.name), in whichever tab
  // it is.
  async function inFrame(watcher, frame, expression) {
    const token = `glintmark-test-${++tokens}`;
    const name = await frame.evaluate((token) => {
      const name = window.name;
      window.name = token;
      return name;
    }, token);
    try {
      const found = await until(`the content script of ${frame.url()}`, () => control.evaluate(`(async () => {
        for (const tab of await chrome.tabs.query({})) {
          const results = await chrome.scripting.executeScript({
            target: {tabId: tab.id, allFrames: true}, args: [${JSON.stringify(token)}],
            func: async (token) => {
              if (window.name !== token || typeof glintmarkPass !== 'object') return null;
              try {
                return {json: JSON.stringify(await (${expression}))};
              } catch (error) {
                return {error: String(error)};
              }
            },
          }).catch(() => []);
          const found = results.find((r) => r.result)?.result;
          if (found) return found;
        }
        return null;
      })()`));
      if (found.error) throw new Error(found.error);
      return found.json === undefined ? undefined : JSON.parse(found.json);
    } finally {
      await frame.evaluate((name) => { window.name = name; }, name).catch(() => {});
    }
  }

  return {
    browser, origin, inFrame,
    async watch(page, label) {
      page.on('console', (message) => {
        if (message.type() === 'error') consoleErrors.push(`${label}: console.error ${message.text()}`);
      });
      page.on('pageerror', (error) => consoleErrors.push(`${label}: ${error.message}`));
      return { page };
    },
    passOf: (watcher, frame, field = 'report') => passOf(inFrame, watcher, frame, field),
    inBackground: (expression) => control.evaluate(`(async () => {
      with (await chrome.runtime.getBackgroundPage()) {
        const value = await (${expression});
        return value === undefined ? undefined : JSON.parse(JSON.stringify(value));
      }
    })()`),
    async stopBackground() {
      await inChrome(`(async () => {
        const {ExtensionParent} = ChromeUtils.importESModule('resource://gre/modules/ExtensionParent.sys.mjs');
        await ExtensionParent.DebugUtils.terminateBackgroundScript(${JSON.stringify(id)});
      })()`);
      await until('the background stopped', async () => (await inChrome(`${extensionOf}.backgroundState`)) === 'stopped');
    },
    openPage,
    errors: async () => [...consoleErrors, ...(await inChrome('window.glintmarkErrors'))],
    close: () => launched.close(),
  };
}

// The content script's world in a Chromium page (CDP), for the benchmarks:
// contentWorld(page, extensionOrigin) -> read(expression), the first
// non-null value the expression gives in that world (polled up to 30 s).
export async function contentWorld(page, extensionOrigin) {
  const cdp = await page.target().createCDPSession();
  const worlds = [];
  cdp.on('Runtime.executionContextCreated', ({ context }) => {
    if (context.origin === extensionOrigin && context.auxData?.isDefault === false) worlds.push(context.id);
  });
  await cdp.send('Runtime.enable');
  return async (expression) => {
    for (let tries = 0; tries < 600; ++tries, await sleep(50)) {
      for (const contextId of worlds) {
        const { result } = await cdp.send('Runtime.evaluate', { contextId, expression, returnByValue: true })
          .catch(() => ({ result: {} }));
        if (result.value !== undefined && result.value !== null) return result.value;
      }
    }
    throw new Error(`no answer to ${expression}`);
  };
}
