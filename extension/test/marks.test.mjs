// Finding one's way through the marks, in the browser of the run with the
// extension loaded: the counts the popup shows and the badge against
// `glintmark highlight`'s report on differential pages, stepping in document
// order across a frame through the keyboard commands' own handler (headless
// key presses never reach the browser's shortcuts), the strip's lines at the
// marked blocks' heights, and the page's layout left as it was.
//
//   node --test extension/test/marks.test.mjs
//
// In Chromium, screenshots of the popup and of a page with the strip go to
// GLINTMARK_SCREENSHOTS (default build/extension-marks/screenshots).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {test} from 'node:test';
import {ROOT, browserMissing, isFirefox} from '../../testing/browser/browser.mjs';
import {buildExtension, launchExtension, sleep, until} from '../../testing/browser/extension.mjs';
import {pngColours} from '../../testing/browser/png.mjs';
import {startServer} from '../../testing/browser/server.mjs';
import {highlightFile} from '../../testing/browser/tool.mjs';
import {SMALL_PAGES} from '../../web/test/pages.mjs';

const WORK = path.join(ROOT, 'build/extension-marks');
const SHOTS = process.env.GLINTMARK_SCREENSHOTS ?? path.join(WORK, 'screenshots');
const SEARCH = '?q=';

const html = (title, body) =>
  `<!DOCTYPE html><html><head><meta charset="utf-8"><title>${title}</title></head><body>${body}</body></html>`;
const STEP_TOP = html('Steps', '<p id="a">alpha one</p><iframe src="/inner.html" width="300" height="80"></iframe>' +
  '<p>gamma two beta alpha</p>');
const STEP_INNER = html('Alpha beta gamma', '<p>alpha beta gamma</p>');
// Marks in a hidden menu, a closed <details>, an element hidden until found.
const FOLDED = html('Folded', '<p>alpha one</p><nav style="display:none"><a href="#">alpha menu</a></nav>' +
  '<details><summary>More</summary><p>alpha folded</p></details><div id="found" hidden="until-found">alpha found</div>' +
  '<p>alpha two</p><script>found.addEventListener("beforematch", () => { window.matched = true; });</script>');
const LONG = html('Long', '<p id="p1">The glacier retreats.</p><div style="height:2500px"></div>' +
  '<p id="p2">Ice <b>and</b> moraine.</p><div style="height:2500px"></div><p id="p3">A glacier again, with moraine.</p>');

test('marks: counts, badge, commands, stepping across frames, strip, layout', {skip: browserMissing},
  async (t) => {
    fs.rmSync(WORK, {recursive: true, force: true});
    fs.mkdirSync(SHOTS, {recursive: true});
    const extensionDir = path.join(WORK, 'extension');
    buildExtension(extensionDir, path.join(WORK, 'glintmark-extension.zip'));
    const server = await startServer();
    const extension = await launchExtension(extensionDir);
    const browser = extension.browser;
    try {
      const inBackground = (expression) => extension.inBackground(expression);
      // The newest tab (the worker may not read the tabs' addresses).
      const newestTab = () => inBackground('chrome.tabs.query({}).then((tabs) => Math.max(...tabs.map((t) => t.id)))');
      const counts = (tabId) => inBackground(`tabCounts(${tabId})`);
      const badge = (tabId) => inBackground(`chrome.action.getBadgeText({tabId: ${tabId}})`);
      const setOption = (items) => inBackground(`chrome.storage.sync.set(${JSON.stringify(items)})`);
      const command = (name, tabId) => inBackground(`glintmarkCommand(${JSON.stringify(name)}, ${tabId})`);

      // A page of its own in a new tab, reached through a link from the
      // results page of the search `query` (its address the page's
      // referrer; over BiDi, puppeteer's goto sends none) or typed in.
      // inContent(frame, expression): its value in the frame's content script.
      async function open(name, body, query = '') {
        const page = await browser.newPage();
        const url = server.serve(`/${name}`, {body});
        const watcher = await extension.watch(page, name);
        const inContent = (frame, expression) => extension.inFrame(watcher, frame, expression);
        const tabId = await newestTab();
        if (!query) {
          await page.goto(url);
          return {page, url, inContent, tabId};
        }
        await page.goto(server.serve('/search', {body: html('Results', '<p>Results</p>')}) + query);
        await page.evaluate((url) => {
          const link = Object.assign(document.createElement('a'), {href: url});
          document.body.append(link);
          link.click();
        }, url);
        await until(`${url} loaded`, () => page.evaluate((url) =>
          location.href === url && document.readyState === 'complete', url));
        return {page, url, inContent, tabId};
      }

      // Both painters: the CSS highlights (the default) and the spans of "Mark with elements".
      for (const painter of ['highlight', 'spans']) {
        await setOption({markWithElements: painter === 'spans'});
        await t.test(`${painter}: popup counts and badge equal the tool's report on differential pages`, async () => {
          const names = ['split-words', 'overlapping-keywords', 'separators', 'whole-words', 'non-ascii-search'];
          for (const small of SMALL_PAGES.filter((p) => names.includes(p.name))) {
            const {page, url, tabId} = await open(`${painter}-${small.name}.html`, small.html,
              small.referrer && new URL(small.referrer).search);
            const referrer = await page.evaluate(() => document.referrer);
            const file = path.join(WORK, `${small.name}.html`);
            fs.writeFileSync(file, small.html);
            const report = highlightFile(file, path.join(WORK, `${small.name}.out.html`),
              {url, referrer, options: small.options});
            const expected = report.keywords.map(({word, colour, spans}) => ({word, colour, count: spans}));
            const total = expected.reduce((sum, k) => sum + k.count, 0);
            const shown = await until(`${small.name}'s marks`, async () => {
              const got = await counts(tabId);
              return got.words.length === expected.length && got.total === total && got;
            }).catch(() => counts(tabId));
            assert.deepEqual({words: shown.words, source: shown.source}, {words: expected, source: report.source},
              small.name);
            assert.equal(await until('the badge', async () => (await badge(tabId)) === String(total) && String(total))
              .catch(() => badge(tabId)), String(total), `${small.name}: badge`);
            await page.close();
          }
          const {page, inContent, tabId} = await open(`nothing-${painter}.html`, html('', '<p>nothing to mark</p>'));
          await until('the pass', () => inContent(page.mainFrame(), 'glintmarkPass.report'));
          assert.equal(await badge(tabId), '', 'no marks: no badge');
          await page.close();
        });

        await t.test(`${painter}: each command steps in document order across the frame`, async () => {
          server.serve('/inner.html', {body: STEP_INNER});
          const {page, inContent, tabId} = await open(`steps-${painter}.html`, STEP_TOP, `${SEARCH}alpha+beta+gamma`);
          const inner = page.frames().find((f) => f.url().endsWith('/inner.html'));
          await until('all marks', async () => (await counts(tabId)).total === 7);
          // The badge adds up the counts the frames tell; a worker that has
          // not seen the tab's page commit (one started since) counts the
          // frames' marks once.
          await until('the badge across frames', async () => (await badge(tabId)) === '7');
          // The text of the current mark (its own highlight) in each frame.
          const current = async () => {
            for (const [label, frame] of [['top', page.mainFrame()], ['inner', inner]]) {
              const text = await frame.evaluate(() => {
                const [mark] = CSS.highlights.get('glintmark-current') ?? [];
                if (!mark) return null;
                const range = document.createRange();
                range.setStart(mark.startContainer, mark.startOffset);
                range.setEnd(mark.endContainer, mark.endOffset);
                return range.toString();
              });
              if (text) return `${label} ${text}`;
            }
            return null;
          };
          const step = async (name) => {
            const shown = await command(name, tabId);
            return shown && `${await current()} ${shown.position}/${shown.total}`;
          };
          const order = ['top alpha 1/7', 'inner alpha 2/7', 'inner beta 3/7', 'inner gamma 4/7', 'top gamma 5/7',
            'top beta 6/7', 'top alpha 7/7', 'top alpha 1/7'];
          const forward = [];
          for (let i = 0; i < order.length; ++i) forward.push(await step('next-mark'));
          assert.deepEqual(forward, order);
          assert.deepEqual([await step('previous-mark'), await step('previous-mark')],
            ['top alpha 7/7', 'top beta 6/7']);
          assert.deepEqual(
            [await step('next-mark-word-2'), await step('next-mark-word-2'), await step('next-mark-word-3'),
              await step('next-mark-word-1'), await step('next-mark-word-4'), await step('next-mark-word-5')],
            ['inner beta 3/7', 'top beta 6/7', 'inner gamma 4/7', 'top alpha 7/7', null, null]);
          assert.equal(await inContent(page.mainFrame(), 'GlintmarkMarks.announced'), 'alpha: mark 7 of 7');
          assert.equal(await page.evaluate(() => document.querySelectorAll('glintmark-announcer').length), 1);

          // The popup, for this tab: its words, counts, and where the search came from.
          const popup = await extension.openPage(`popup.html?tab=${tabId}`);
          await popup.setViewport({width: 320, height: 420});
          const rows = await until('the popup\'s words', () => popup.evaluate(() => {
            const items = [...document.querySelectorAll('#words li')];
            return items.length && items.map((li) => li.innerText.replace(/\s+/g, ' ').trim());
          }));
          assert.deepEqual(rows, ['alpha 3 ▲ ▼', 'beta 2 ▲ ▼', 'gamma 2 ▲ ▼']);
          await popup.click('#words li:nth-child(3) button:last-child');  // next gamma, from the last alpha
          await until('the popup\'s step', async () => (await current()) === 'inner gamma');
          if (painter === 'highlight' && !isFirefox) await popup.screenshot({path: path.join(SHOTS, 'popup.png')});
          await popup.close();
          await inBackground(`forgetCounts(${tabId})`);
          await inner.evaluate(() => document.body.insertAdjacentHTML('beforeend', '<p>gamma</p>'));
          await until('the badge counted again', async () => (await badge(tabId)) === '8');
          await page.close();
        });

        await t.test(`${painter}: stepping opens what folds a mark away and goes past hidden ones`, async () => {
          const {page, tabId} = await open(`folded-${painter}.html`, FOLDED, `${SEARCH}alpha`);
          await until('all marks', async () => (await counts(tabId)).total === 5);
          const positions = [];
          for (let i = 0; i < 5; ++i) positions.push((await command('next-mark', tabId))?.position);
          assert.deepEqual(positions, [1, 3, 4, 5, 1]);
          assert.deepEqual(await page.evaluate(() => [document.querySelector('details').open,
            document.getElementById('found').hasAttribute('hidden'), window.matched]), [true, false, true]);
          await page.close();
        });
        await t.test(`${painter}: a page that changes after load: counts, badge and strip follow`, async () => {
          const {page, inContent, tabId} = await open(`changing-${painter}.html`,
            html('Changing', '<p>alpha</p><div style="height:3000px"></div>'), `${SEARCH}alpha+beta`);
          await until('the first mark', async () => (await counts(tabId)).total === 1);
          assert.equal(await inContent(page.mainFrame(), 'glintmarkPass.painter'), painter);
          await page.evaluate(() => document.body.insertAdjacentHTML('beforeend', '<p>beta and alpha</p>'));
          const after = await until('the new marks', async () => {
            const got = await counts(tabId);
            return got.total === 3 && (await badge(tabId)) === '3' && got;
          });
          assert.deepEqual(after.words.map((w) => w.count), [2, 1]);
          // Every colour's highlight has its rule: a mark without one is not painted.
          assert.equal(await page.evaluate(() => [...CSS.highlights.keys()]
            .filter((name) => /^glintmark-[0-9a-f]{6}/.test(name)).every((name) => [...document.adoptedStyleSheets]
              .some((sheet) => [...sheet.cssRules].some((rule) => rule.selectorText?.endsWith(`::highlight(${name})`))))),
          true);
          const lines = await until('the strip', async () =>
            (await inContent(page.mainFrame(), 'GlintmarkStrip.drawNow()')).length === 2);
          assert.ok(lines);
          // And painted in their colours, in the page and in a shadow tree.
          await page.evaluate(() => {
            const host = document.body.insertBefore(document.createElement('div'), document.body.firstChild);
            host.attachShadow({mode: 'open'}).innerHTML = '<p style="color:red">beta</p>';
          });
          await until('the shadow tree\'s mark', async () => (await counts(tabId)).total === 4);
          const painted = async (element) => pngColours(await element.screenshot({type: 'png'}));
          assert.ok((await painted(await page.$('p'))).has('255,255,102'));
          assert.ok((await painted(await page.$('div >>> p'))).has('160,255,255'));

          // The registry follows edits in the middle, removals and changed text
          // as a reading of the whole page would: same marks, same order.
          await page.evaluate(() => {
            document.body.firstChild.remove();
            document.querySelector('div').insertAdjacentHTML('beforebegin', '<p>beta alpha <b>beta</b></p>');
            document.querySelector('p').remove();
            document.body.insertAdjacentHTML('beforeend', '<p id="later">none here</p>');
          });
          const registry = () => inContent(page.mainFrame(), `GlintmarkMarks.marks.map(({colour, range}) => {
            const r = document.createRange();
            r.setStart(range.startContainer, range.startOffset);
            r.setEnd(range.endContainer, range.endOffset);
            return colour + ' ' + r.toString();
          })`);
          const shown = () => page.evaluate(() => {
            const out = [];
            for (const [name, highlight] of CSS.highlights) {
              const colour = /^glintmark-([0-9a-f]{6})/.exec(name)?.[1];
              if (!colour) continue;
              for (const s of highlight) {
                const r = document.createRange();
                r.setStart(s.startContainer, s.startOffset);
                r.setEnd(s.endContainer, s.endOffset);
                out.push([r, `#${colour} ${r}`]);
              }
            }
            out.sort((a, b) => a[0].compareBoundaryPoints(Range.START_TO_START, b[0]));
            for (const span of document.querySelectorAll('span[style^="color:black;background-color:"]')) {
              out.push([null, `${/#[0-9a-f]{6}/i.exec(span.getAttribute('style'))[0].toLowerCase()} ${span.textContent}`]);
            }
            return out.map(([, text]) => text);
          });
          for (const [count, change] of [[5, () => {}],
            [8, () => { document.getElementById('later').firstChild.data = 'alpha alpha beta'; }]]) {
            await page.evaluate(change);
            const expected = await until(`${count} marks`, async () => {
              const marks = await shown();
              return marks.length === count && marks;
            });
            await until('the registry as the page', async () =>
              JSON.stringify(await registry()) === JSON.stringify(expected));
          }
          await page.close();
        });
      }
      await setOption({markWithElements: false});

      await t.test('the strip: lines at the blocks\' heights, only they take clicks; no layout change', async () => {
        await setOption({marksStrip: false});
        const {page, inContent, tabId} = await open('long.html', LONG, `${SEARCH}glacier+moraine`);
        await until('the marks', async () => (await counts(tabId)).total === 4);
        const boxes = () => page.evaluate(() => [...document.querySelectorAll('body *')]
          .filter((e) => !e.localName.startsWith('glintmark-') && !e.matches('span[style^="color:black;"]'))
          .map((e) => { const r = e.getBoundingClientRect(); return [e.localName, r.x, r.y + scrollY, r.width, r.height]; }));
        const before = await boxes();
        const width = await page.evaluate(() => document.documentElement.scrollWidth);
        assert.deepEqual(await inContent(page.mainFrame(), 'GlintmarkStrip.drawNow()'), [], 'option off: no strip');
        await setOption({marksStrip: true});
        await command('next-mark', tabId);
        const lines = await until('the strip', async () => {
          const drawn = await inContent(page.mainFrame(), 'GlintmarkStrip.drawNow()');
          return drawn.length === 3 && drawn;
        }).catch(() => inContent(page.mainFrame(), 'GlintmarkStrip.drawNow()'));
        const expected = await page.evaluate(() => ['p1', 'p2', 'p3'].map((id) => {
          const y = document.getElementById(id).getBoundingClientRect().top + scrollY;
          return Math.round((y / document.documentElement.scrollHeight) * innerHeight);
        }));
        assert.deepEqual(lines.map((l) => l.top), expected);
        assert.deepEqual(lines.map((l) => l.colour), ['rgb(255, 255, 102)', 'rgb(160, 255, 255)', 'rgb(255, 255, 102)']);
        assert.deepEqual(await boxes(), before, 'the page\'s elements keep their boxes');
        assert.equal(await page.evaluate(() => document.documentElement.scrollWidth), width);
        const right = await page.evaluate(() => document.documentElement.clientWidth - 3);
        const hit = await page.evaluate((x, top) => [
          document.elementFromPoint(x, top + 1)?.localName,
          document.elementFromPoint(x, top + 40)?.localName], right, expected[1]);
        assert.deepEqual(hit, ['glintmark-strip', 'html'], 'a line takes the click, the strip between lines does not');
        await page.mouse.click(right, expected[1] + 1);
        // Scrolled smoothly: judged once the scroll has ended there.
        const p2 = () => page.evaluate(() =>
          document.getElementById('p2').getBoundingClientRect().top - innerHeight / 2);
        const off = await until('the scroll', async () => Math.abs(await p2()) < 2 && 'there').catch(p2);
        assert.equal(off, 'there', `p2 ${off} px from the middle`);
        // Too short to scroll: no strip.
        await page.evaluate(() => document.querySelectorAll('div').forEach((d) => d.remove()));
        assert.deepEqual(await inContent(page.mainFrame(), 'GlintmarkStrip.drawNow()'), []);
        await page.close();

        // For the README: an article with the strip and the current mark.
        const paragraph = (i) => `<p>${['The glacier carved the valley', 'Meltwater ran over the moraine',
          'Snow fell on the ridge above the ice'][i % 3]} in the ${i}th century, and the <b>valley</b> kept its
          shape; herders crossed it each summer with their flocks.</p>`.repeat(i % 5 === 0 ? 2 : 1);
        const article = await open('article.html', html('Article', `<h1>Valleys of ice</h1>${
          Array.from({length: 40}, (_, i) => paragraph(i)).join('')}`), `${SEARCH}glacier+moraine+valley`);
        await until('the marks', async () => (await counts(article.tabId)).total > 40);
        await article.page.setViewport({width: 800, height: 500});
        for (let i = 0; i < 4; ++i) await command('next-mark-word-2', article.tabId);
        await sleep(600);
        await article.inContent(article.page.mainFrame(), 'GlintmarkStrip.drawNow()');
        if (!isFirefox) await article.page.screenshot({path: path.join(SHOTS, 'strip.png')});
        await article.page.close();
      });
    } finally {
      await extension.close();
      await server.close();
    }
  });
