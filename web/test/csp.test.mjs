// Pages whose Content-Security-Policy forbids compiling WebAssembly: there
// GlintmarkEngine.create({prefer: 'auto'}) must fall back to the plain
// JavaScript path and highlight exactly as the WebAssembly path does where
// the page allows it; and the extension's path (the page's half alone in the
// page, the engine elsewhere) highlights the same under every policy, with
// WebAssembly.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { ROOT, browserMissing, servedBrowser, injectEngine, injectPageHalf, highlight, highlightApart, pageState }
  from '../../testing/browser/browser.mjs';
import { SMALL_PAGES } from './pages.mjs';
import { sameText } from '../../testing/browser/assertions.mjs';
import { reportFields } from '../../testing/browser/tool.mjs';

const POLICIES = [
  { name: 'no policy', kind: 'wasm' },
  { name: "header script-src 'none'", kind: 'js', header: "script-src 'none'" },
  { name: "meta script-src 'none'", kind: 'js', meta: "script-src 'none'" },
  { name: "script-src 'self' 'unsafe-inline', no 'wasm-unsafe-eval'", kind: 'js',
    header: "script-src 'self' 'unsafe-inline'" },
  { name: "script-src 'self' 'wasm-unsafe-eval'", kind: 'wasm', header: "script-src 'self' 'wasm-unsafe-eval'" },
];

// How each browser words a refusal by the page's policy, in the console and
// in the error WebAssembly.compile rejects with.
const REFUSED = /Content[- ]Security[- ]Policy|blocked by CSP/;

const leopards = { name: 'leopards.html', file: join(ROOT, 'examples/leopards.html'),
  url: 'https://wildcats.example/snow-leopard.html', referrer: 'https://search.example/search?q=snow+leopard+habitat' };
const splitWords = SMALL_PAGES.find((page) => page.name === 'split-words');

describe('Content-Security-Policy', { skip: browserMissing }, () => {
  const browser = servedBrowser();
  let served = 0;

  // The page under a policy, highlighted by an engine of the page's choice,
  // or with `enginePage`, by the engine there (the extension's path).
  async function run(source, policy, enginePage = null) {
    let html = source.html ?? readFileSync(source.file, 'utf8');
    if (policy.meta) html = html.replace('<head>', `<head><meta http-equiv="Content-Security-Policy" content="${policy.meta}">`);
    const page = await browser.open(`/csp/${served++}`, {
      body: html, headers: policy.header ? { 'Content-Security-Policy': policy.header } : {},
    });
    const settings = { url: source.url, referrer: source.referrer };
    let kind, report;
    if (enginePage) {
      await injectPageHalf(page);
      ({ kind, report } = await highlightApart(page, enginePage, settings));
    } else {
      await injectEngine(page);
      ({ kind, report } = await highlight(page, settings));
    }
    const state = await pageState(page);
    await page.close();
    return { kind, report: reportFields(report), state, errors: page.errors };
  }

  for (const source of [leopards, splitWords]) {
    it(`${source.name}: the engine the policy allows, the same highlighting under every policy`, async () => {
      const reference = await run(source, POLICIES[0]);
      for (const policy of POLICIES) {
        const result = policy === POLICIES[0] ? reference : await run(source, policy);
        assert.equal(result.kind, policy.kind, policy.name);
        assert.deepEqual(result.report, reference.report, policy.name);
        assert.deepEqual(result.state.spans, reference.state.spans, policy.name);
        sameText(result.state.text, reference.state.text, policy.name);
        // The refused compilation is reported as a violation in the console
        // (Chromium) or as an exception (Firefox); nothing else may be.
        assert.deepEqual(result.errors.filter((e) => !REFUSED.test(e)), [], policy.name);
      }
    });
  }

  it('the extension path: the page half in the page, WebAssembly elsewhere, the same under every policy', async () => {
    const enginePage = await browser.open('/csp/engine', { body: '<p>the engine</p>' });
    await injectEngine(enginePage);
    for (const source of [leopards, splitWords]) {
      const reference = await run(source, POLICIES[0]);
      for (const policy of POLICIES) {
        const result = await run(source, policy, enginePage);
        assert.equal(result.kind, 'wasm', policy.name);
        assert.deepEqual(result.report, reference.report, `${source.name}, ${policy.name}`);
        assert.deepEqual(result.state.spans, reference.state.spans, `${source.name}, ${policy.name}`);
        sameText(result.state.text, reference.state.text, `${source.name}, ${policy.name}`);
        assert.deepEqual(result.errors, [], `${source.name}, ${policy.name}`);
      }
    }
    await enginePage.close();
  });

  it('WebAssembly is refused to scripts the test driver injects too', async () => {
    // What the fallback above rests on: the harness injects the engine
    // through DevTools (Chromium) or WebDriver BiDi (Firefox), and the browser
    // holds WebAssembly compiled there to the page's policy as it would a
    // page script.
    const page = await browser.open('/csp/probe', {
      body: '<p>x</p>', headers: { 'Content-Security-Policy': "script-src 'none'" },
    });
    const compiled = await page.evaluate(() => WebAssembly.compile(new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0]))
      .then(() => 'compiled', (error) => error.message));
    assert.match(compiled, REFUSED);
    await page.close();
  });
});
