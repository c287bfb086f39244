// The pass over a live page: what a user and the page's own scripts would
// notice. Elements moved into a span keep their identity, listeners and form
// state; partly covered elements are split as DOM Range splits them; the
// page's text never becomes markup; script, style, form controls, noscript,
// svg and math stay as they were; nothing goes to the console as an error.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { browserMissing, servedBrowser, injectEngine, highlight } from '../../testing/browser/browser.mjs';
import { noErrors } from '../../testing/browser/assertions.mjs';

const REFERRER = 'https://search.example/search?q=';

describe('live DOM', { skip: browserMissing }, () => {
  const browser = servedBrowser();
  let pages = 0;

  async function open(body) {
    const page = await browser.open(`/live/${pages++}`, {
      body: `<!DOCTYPE html><html><head><meta charset="utf-8"><title>Live</title></head><body>${body}</body></html>`,
    });
    await injectEngine(page);
    return page;
  }
  // Options 5: highlighting without link tooltips, which would add titles.
  const run = (page, prefer, query) =>
    highlight(page, { prefer, options: 5, url: 'https://site.example/page.html', referrer: REFERRER + query });

  for (const prefer of ['wasm', 'js']) {
    it(`elements inside a match keep identity, listeners, form state and loaded frames (${prefer})`, async () => {
      const page = await open('<p>snow<b id="inside">leo</b>pard and wea<input id="typed">ther ' +
        '<input type="checkbox" id="box">weather<textarea id="area">weather</textarea> ' +
        'gli<iframe id="frame" srcdoc="<p>inner</p>"></iframe>nt</p>');
      await page.type('#typed', 'my text');
      await page.click('#box');
      await page.type('#area', ' and more');
      const ids = ['inside', 'typed', 'box', 'area', 'frame'];
      const state = () => page.evaluate((ids) => ({
        same: ids.map((id, i) => window.kept[i] === document.getElementById(id)),
        inSpan: [window.kept[0], window.kept[4]].map((e) => e.parentElement.matches('span[style]')),
        clicks: window.clicks,
        values: [window.kept[1].value, window.kept[2].checked, window.kept[3].value],
        // A frame that reloaded would have a new window, without the mark.
        frame: [window.frameLoads, window.kept[4].contentWindow.mark],
      }), ids);
      await page.evaluate((ids) => {
        window.kept = ids.map((id) => document.getElementById(id));
        window.clicks = 0;
        window.kept[0].addEventListener('click', () => window.clicks++);
        window.frameLoads = 0;
        window.kept[4].addEventListener('load', () => window.frameLoads++);
        window.kept[4].contentWindow.mark = 'kept';
      }, ids);
      const before = await state();
      const { report } = await run(page, prefer, 'snowleopard+weather+glint');
      assert.deepEqual(report.keywords.map((k) => k.spans), [1, 2, 1]);
      await page.click('#inside');
      await new Promise((resolve) => setTimeout(resolve, 200));
      assert.deepEqual(await state(), { ...before, inSpan: [true, true], clicks: 1 });
      assert.deepEqual(before.values, ['my text', true, before.values[2]]);
      noErrors(page);
    });

    it(`partly covered elements are split as DOM Range splits them (${prefer})`, async () => {
      // Each paragraph holds one match of "bar"; the expected result is
      // made in a second copy of the page by a Range over the same text,
      // widened over the elements whose text it covers whole (they move
      // into the span whole, not split into an empty part and a copy),
      // extractContents() wrapped in a span and inserted where it was.
      const body = '<p id="a"><b>foo ba</b>r</p><p id="b">ba<b>r baz</b></p>' +
        '<p id="c"><i>xx<b>yyba</b></i><u>rzz</u></p><p id="d"><a href="/l"><b>b</b>a</a><em>r!</em></p>';
      const page = await open(body);
      const expected = await open(body);
      const { report } = await run(page, prefer, 'bar');
      assert.equal(report.keywords[0].spans, 4);
      await expected.evaluate(() => {
        for (const paragraph of document.querySelectorAll('p')) {
          const at = paragraph.textContent.indexOf('bar');
          const texts = [];
          const walker = document.createTreeWalker(paragraph, NodeFilter.SHOW_TEXT);
          while (walker.nextNode()) texts.push(walker.currentNode);
          const range = document.createRange();
          let offset = 0;
          for (const text of texts) {
            const end = offset + text.length;
            if (at >= offset && at < end) range.setStart(text, at - offset);
            if (at + 3 > offset && at + 3 <= end) { range.setEnd(text, at + 3 - offset); break; }
            offset = end;
          }
          while (range.startOffset === 0 && range.startContainer !== paragraph) range.setStartBefore(range.startContainer);
          const length = (node) => (node.nodeType === 3 ? node.length : node.childNodes.length);
          while (range.endOffset === length(range.endContainer) && range.endContainer !== paragraph) {
            range.setEndAfter(range.endContainer);
          }
          const span = document.createElement('span');
          span.setAttribute('style', 'color:black;background-color:#ffff66');
          span.append(range.extractContents());
          range.insertNode(span);
        }
      });
      const html = (p) => p.evaluate(() => document.body.innerHTML);
      assert.equal(await html(page), await html(expected));
      noErrors(page);
      noErrors(expected);
    });

    it(`the page's text never becomes markup (${prefer})`, async () => {
      // Keywords are letters only, so the markup can only come from the
      // page: text that reads as tags, an attribute and a comment inside a
      // match.
      const page = await open('<p>&lt;img src=x onerror="window.hit=1"&gt; &lt;script&gt;window.hit=2&lt;/script&gt; ' +
        'wea<b title="&quot;&gt;&lt;img src=x onerror=window.hit=3&gt;">th</b>er ' +
        'we<!-- <img src=x onerror="window.hit=4"> -->ather &amp;lt;b&amp;gt;</p>');
      const before = await page.evaluate(() => ({ text: document.body.textContent, title: document.querySelector('b').title }));
      const { report } = await run(page, prefer, 'img+onerror+script+weather');
      assert.deepEqual(report.keywords.map((k) => k.spans), [1, 1, 2, 2]);
      await new Promise((resolve) => setTimeout(resolve, 200));
      assert.deepEqual(await page.evaluate(() => ({
        made: document.querySelectorAll('body img, body script').length,
        text: document.body.textContent,
        title: document.querySelector('b').title,
        hit: window.hit ?? null,
      })), { made: 0, ...before, hit: null });
      noErrors(page);
    });

    it(`nodes only scripts make: adjacent and empty texts, custom elements, shadow roots (${prefer})`, async () => {
      const page = await open('<p id="texts"></p><p><glint-box>weather</glint-box></p><p id="host">weather</p>');
      await page.evaluate(() => {
        document.getElementById('texts').append('wea', '', 'th', document.createTextNode(''), 'er');
        document.getElementById('host').attachShadow({ mode: 'open' }).innerHTML = '<b>weather</b><slot></slot>';
      });
      const state = () => page.evaluate(() => ({
        text: document.body.textContent,
        shadow: document.getElementById('host').shadowRoot.innerHTML,
        marked: [...document.querySelectorAll('span[style]')].map((span) => span.textContent),
      }));
      const before = await state();
      const { report } = await run(page, prefer, 'weather');
      assert.equal(report.domError, undefined);
      // The shadow root is not entered: its text is not the page's own.
      assert.deepEqual(await state(), { ...before, marked: ['weather', 'weather', 'weather'] });
      assert.equal(report.keywords[0].spans, 3);
      noErrors(page);
    });

    it(`script, style, form controls, noscript, svg and math stay as they were (${prefer})`, async () => {
      const page = await open('<script>var weather = "weather";</script><style>.weather { color: red }</style>' +
        '<textarea>weather</textarea><select><option>weather</option></select><noscript>weather</noscript>' +
        '<svg><text>weather</text><desc>weather</desc></svg><math><mi>weather</mi></math>' +
        '<template>weather</template><title>weather</title><p>weather</p>');
      const snapshot = () => page.evaluate(() => [...document.body.children].filter((e) => e.localName !== 'p')
        .map((e) => e.outerHTML));
      const before = await snapshot();
      const { report } = await run(page, prefer, 'weather');
      assert.equal(report.keywords[0].spans, 1);
      assert.deepEqual(await snapshot(), before);
      noErrors(page);
    });
  }
});
