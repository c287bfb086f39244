// The pages of the dynamic-page tests: each builds its text the way today's
// sites do, after the load event. Every page holds the words of the search
// "harbour ferry timetable" (the referrer's), once the page has settled, a
// known number of times (`words`).
const HEAD = '<!DOCTYPE html><html lang="en"><head><meta charset="utf-8"><title>Port news</title>';
const page = (script, body = '', style = '') =>
  `${HEAD}<style>${style}</style><script>${script}</script></head><body>${body}</body></html>`;
const SENTENCE = 'The harbour ferry timetable changes in May.';
const paragraphs = (count, from = 0) =>
  Array.from({length: count}, (_, i) => `<p>${from + i}: ${SENTENCE}</p>`).join('');

export const SEARCH = 'harbour+ferry+timetable';
export const WORDS = ['harbour', 'ferry', 'timetable'];

// The five pages: {name, html, settleMs (when the last change is made)}.
export const CHANGING_PAGES = [
  {name: 'container', settleMs: 500, words: 60, html: page(`addEventListener('load', () => setTimeout(() => {
      document.getElementById('results').innerHTML = ${JSON.stringify(paragraphs(20))};
    }, 500));`, '<h1>Results</h1><div id="results">Loading...</div>')},
  {name: 'body-replaced', settleMs: 500, words: 60, html: page(`addEventListener('load', () => setTimeout(() => {
      document.body.innerHTML = ${JSON.stringify(paragraphs(20))};
    }, 500));`, '<p>Loading...</p>')},
  {name: 'infinite-scroll', settleMs: 3300, words: 3 * 100 + 3, html: page(`addEventListener('load', () => {
      let round = 0;
      const timer = setInterval(() => {
        const list = document.getElementById('list');
        for (let i = 0; i < 10; ++i) {
          const p = document.createElement('p');
          p.textContent = round * 10 + i + ': ${SENTENCE}';
          list.append(p);
        }
        if (++round === 10) clearInterval(timer);
      }, 300);
    });`, `<div id="list"><p>${SENTENCE}</p></div>`)},
  {name: 'spa', settleMs: 600, words: 24, html: page(`addEventListener('load', () => setTimeout(() => {
      history.pushState({}, '', '/spa/article-2');
      setTimeout(() => {
        document.querySelector('main').innerHTML = ${JSON.stringify(paragraphs(8))};
      }, 100);
    }, 500));`, '<nav>Home</nav><main><p>Welcome</p></main>')},
  {name: 'chat', settleMs: 1500, words: 45, html: page(`addEventListener('load', () => {
      let sent = 0;
      const timer = setInterval(() => {
        const message = document.createElement('div');
        message.className = 'message';
        message.innerHTML = '<b>Ana:</b> <span>is the harbour ferry timetable out?</span>';
        document.getElementById('chat').append(message);
        if (++sent === 15) clearInterval(timer);
      }, 100);
    });`, '<div id="chat"></div>')},
];

// A page whose own MutationObserver takes out every span it is shown, as
// some frameworks and editors do.
export const SPAN_REMOVER = page(`new MutationObserver((records) => {
    window.seen = (window.seen || 0) + records.length;
    for (const span of document.querySelectorAll('span')) span.replaceWith(...span.childNodes);
  }).observe(document.documentElement, {childList: true, subtree: true});`, paragraphs(5));

// Spans styled by the page, a click handler reading the target, editable
// content (with a link), open shadow roots, frames whose content the parent
// writes (into the frame's first document, and with document.open; one an
// editor's, in design mode).
export const HOSTILE_PAGE = page(`addEventListener('load', () => {
    for (const host of document.querySelectorAll('.host')) {
      host.attachShadow({mode: 'open'}).innerHTML = '<p>In the shadow: <slot></slot> and harbour news.</p>';
    }
    const written = document.createElement('iframe');
    written.id = 'written';
    document.body.append(written);
    written.contentDocument.body.innerHTML = '<p>Written: the ferry leaves at six.</p>';
    const opened = document.createElement('iframe');
    document.body.append(opened);
    opened.contentDocument.open();
    opened.contentDocument.write('<p>Opened: harbour ferry timetable.</p>');
    opened.contentDocument.close();
    const designed = document.createElement('iframe');
    designed.id = 'designed';
    document.body.append(designed);
    designed.contentDocument.body.innerHTML = '<p>Compose: the harbour <a href="/port">port</a></p>';
    designed.contentDocument.designMode = 'on';
  });`, `<ul id="list"><li id="item">Check the harbour today</li><li>Timetable for ferry</li></ul>
<div id="editor" contenteditable="true">Draft: the harbour is closed. <a href="/draft">Map</a></div>
<textarea id="notes">harbour</textarea>
<p class="host">timetable</p><p class="host">ferry</p>
<iframe id="srcdoc" srcdoc="<p>In a frame: harbour ferry.</p>"></iframe>
<script>document.getElementById('list').addEventListener('click', (e) => { window.clicked = e.target.tagName; });</script>`,
'span { display: block; padding: 7px; margin: 3px; }');
