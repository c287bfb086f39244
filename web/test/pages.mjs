// The pages of the differential: the example session, generated pages of
// both shapes, and small pages built around the page pass's hard cases.
// Each case: {name, file | html, url, referrer, options, savedSearchText}.
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { ROOT } from '../../testing/browser/browser.mjs';
import { glintmark } from '../../testing/browser/tool.mjs';

const SEARCH = 'https://search.example/search?q=';

// A page of its own: UTF-8, standards mode, found from a search for `query`
// (raw, as the search text is never decoded) or, with query null, typed in.
function small(name, body, query, { title = 'Page', options = 13, url = `https://site.example/${name}.html` } = {}) {
  return {
    name,
    html: `<!DOCTYPE html><html><head><meta charset="utf-8"><title>${title}</title></head>${body}</html>`,
    url,
    referrer: query === null ? '' : SEARCH + query,
    options,
    savedSearchText: null,
  };
}

export const SMALL_PAGES = [
  small('split-words', '<body><p>wea<b>ther</b>, <i>w</i>eather and we<span>at</span>her; <a href="/w">weat</a>her</p>',
    'weather'),
  small('partly-covered', '<body><p><b>foo ba</b>r, <i>ba</i>r<u>b</u>ar and <em>xbar</em>y</p>', 'bar'),
  small('entities', '<body><p>caf&eacute; CAF&#201; caf&#xe9; &lt;b&gt;weather&lt;/b&gt; AT&amp;T wea&shy;ther</p>',
    'café+weather'),
  small('non-ascii-search', '<body><p>Ünïcode ünïcode ÜNÏCODE café Café naïve Straße ΣΊΣΥΦΟΣ σίσυφος</p>',
    'ünïcode+café+σίσυφος+straße'),
  small('non-ascii-title', '<body><p>Ünïcode ünïcodes café cafés Straße</p>', null, { title: 'Ünïcode café Straße' }),
  small('hidden-text',
    '<body><script>var weather = "weather";</script><style>.weather { color: red }</style>' +
    '<textarea>weather</textarea><select><option>weather</option></select><noscript>weather</noscript>' +
    '<svg><text>weather</text><desc>weather</desc></svg><math><mi>weather</mi></math>' +
    '<template>weather</template><p>weather <!-- weather --> weather</p>', 'weather'),
  small('nested-inline', '<body><p><b><i>wea</i>t</b><u>h<s>er</s></u> <a href="/x"><b>wea<i>the</i></b>r</a></p>',
    'weather'),
  small('separators', '<body><p>wea<br>ther</p><div>wea</div><div>ther</div><p>wea</p>ther<ul><li>wea</li><li>ther</li></ul>' +
    '<table><tr><td>wea</td><td>ther</td></tr></table><p>wea<span style="display:block">ther</span></p>', 'weather'),
  small('whole-words', '<body><p>Glint glinting, GLINT; river-side riverbank river.</p>', null,
    { title: 'Glint river' }),
  small('overlapping-keywords', '<body><p>Snowfall snow now snowsnow</p>', 'snow+snowfall+now+ow'),
  small('many-keywords', '<body><p>a b c d e f g h — ab bc cd de ef fg gh</p>', 'a+b+c+d+e+f+g+h'),
  small('astral-plane', '<body><p>😀weather 𝒲eather ☃snow 😀😀 e\u0301te \u00e9te</p>', '😀weather+☃+😀+e\u0301te'),
  small('results-page', '<body><p>weather <a href="/a">weather report</a> <a href="#top">top</a></p>', null,
    { url: 'https://search.example/search?q=weather', options: 15 }),
  small('tooltips-only', '<body><p>weather <a href="/a">a</a><a>no address</a><a href="javascript:void(0)">j</a>' +
    '<svg><a href="/svg"><text>s</text></a></svg></p>', 'weather', { options: 8 }),
  // Raw-text elements hold no body text: a span there would be read back as text.
  small('raw-text-elements', '<body><p>weather</p><xmp>weather</xmp><iframe>weather</iframe>' +
    '<noembed>weather</noembed><noframes>weather</noframes><listing>weather</listing><plaintext>weather', 'weather'),
  small('link-addresses', '<body><base href="https://other.example/dir/page.html?x=1#f"><p>weather ' +
    '<a href="rel/x.html">1</a><a href=" /abs ">2</a><a href="//host.example/p">3</a><a href="?q=2">4</a>' +
    '<a href="#frag">5</a><a href="">6</a><a>7</a><a href="javascript:void(0)">8</a><a href="../up/./x/../y">9</a>' +
    '<a href="http://[bad">10</a><a href="HTTPS://Ex.Example/%7e/ä b">11</a>' +
    '<svg><a href="svg"><text>12</text></a><a xlink:href="xlink"><text>13</text></a></svg></p>', 'weather'),
  small('frameset', '<frameset><frame src="about:blank"></frameset>', 'weather'),
];

// The example session, as one browser window runs it: the saved search text
// is carried from page to page (the caller carries it from each report).
export function sessionPages() {
  const examples = join(ROOT, 'examples');
  return readFileSync(join(examples, 'session.txt'), 'utf8').split('\n')
    .filter((line) => line.trim() && !line.startsWith('#'))
    .map((line) => {
      const [file, url, referrer = ''] = line.trim().split(/\s+/);
      return { name: file, file: join(examples, file), url, referrer, options: 13 };
    });
}

// Generated pages of both shapes with every keyword they are rich in.
export function generatedPages(work, sizes) {
  const keywords = glintmark('generate-page', '--keywords').split(/\s+/).filter(Boolean);
  const pages = [];
  for (const shape of ['text', 'dense']) {
    for (const size of sizes) {
      const file = join(work, `generated-${shape}-${size}.html`);
      glintmark('generate-page', size, '--shape', shape, '-o', file);
      pages.push({ name: `generate-page ${size} --shape ${shape}`, file, url: 'https://site.example/generated.html',
        referrer: SEARCH + keywords.join('+'), options: 13, savedSearchText: null });
    }
  }
  return pages;
}
