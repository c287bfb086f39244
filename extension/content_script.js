// Glintmark's content script: the page pass of one document, top document or
// frame, when it has completed loading (the browser's DocumentComplete),
// with the tab's session from the service worker.
//
// The engine (engine/glintmark-engine.js, listed before this file in the
// manifest) defines GlintmarkEngine. It compiles its WebAssembly where the
// page allows it and otherwise runs its plain JavaScript translation: a page
// whose Content-Security-Policy forbids compiling WebAssembly forbids it to
// the content scripts of extensions too.

// Our spans, as the pass writes them.
const HIGHLIGHT_SPANS = 'span[style^="color:black;background-color:"]';
// A page that replaces its body's content after the pass is highlighted
// again, at most this many times, once its changes have settled for
// REWRITE_SETTLE_MS.
const MAX_REWRITE_PASSES = 3;
const REWRITE_SETTLE_MS = 300;

// What this document's pass did: its input, the engine's kind, the report of
// the load's pass and of the latest pass over a rewritten page.
const glintmarkPass = {input: null, engineKind: null, report: null, rewriteReport: null, rewritePasses: 0,
  restoredPasses: 0};

// Resolves when the document has loaded and is the tab's: a page that
// Chromium prerendered (loaded before the user went there) completes for the
// tab when it is shown.
async function documentComplete() {
  if (document.readyState !== 'complete') {
    await new Promise((resolve) => window.addEventListener('load', resolve, {once: true}));
  }
  if (document.prerendering) {
    await new Promise((resolve) => document.addEventListener('prerenderingchange', resolve, {once: true}));
  }
}

// Highlights the document again when the page throws away the content that
// was highlighted: its body's children change and none of our spans is left
// (a page that renders its text after loading, or replaces it). Only the
// body's own children are watched, which costs nothing on pages that change
// deeper down; a change that leaves some of our spans in place is the page
// updating a part of itself, and highlighting again would mark the kept
// text twice. These passes repeat the load's pass with the same input and do
// not touch the tab's session: the session sees one pass per document load.
function highlightRewrites(engine) {
  let timer = 0;
  const observer = new MutationObserver(() => {
    clearTimeout(timer);
    timer = setTimeout(rewritten, REWRITE_SETTLE_MS);
  });
  const watch = () => observer.observe(document.body, {childList: true});
  function rewritten() {
    if (!document.body || document.body.querySelector(HIGHLIGHT_SPANS) || !document.body.textContent.trim()) return;
    observer.disconnect();
    glintmarkPass.rewriteReport = engine.highlightDocument(document, glintmarkPass.input);
    if (++glintmarkPass.rewritePasses < MAX_REWRITE_PASSES) watch();
  }
  if (document.body) watch();
}

// One pass with the tab's session: the worker hands out the saved text and
// the options and holds the tab's other passes back until the updated text
// comes back.
async function withSession(run) {
  const session = await chrome.runtime.sendMessage({type: 'beginPass'});
  if (!session) return;
  let savedSearchText = session.savedSearchText;
  try {
    savedSearchText = run({options: session.options, savedSearchText}).savedSearchText;
  } finally {
    chrome.runtime.sendMessage({type: 'endPass', ticket: session.ticket, savedSearchText});
  }
}

async function runPagePass() {
  await documentComplete();
  const engine = await GlintmarkEngine.create({prefer: 'auto'});
  glintmarkPass.engineKind = engine.kind;
  await withSession((input) => {
    glintmarkPass.input = input;
    return (glintmarkPass.report = engine.highlightDocument(document, input));
  });
  if (!glintmarkPass.input) return;  // the page is not in a tab
  highlightRewrites(engine);
  // Back and forward bring the page back from the browser's cache without
  // loading it again, but they are navigations of the tab all the same (the
  // browser completed the document again), so the tab's session takes this
  // page's effect again: a results page saves its search anew. The page
  // keeps the spans it has; the pass runs on an empty document with the
  // page's address, referrer and title, which leaves the page as it is.
  window.addEventListener('pageshow', (event) => {
    if (!event.persisted) return;
    glintmarkPass.restoredPasses++;
    withSession((input) => engine.highlightDocument(document.implementation.createHTMLDocument(document.title),
      {...input, url: document.URL, referrer: document.referrer}));
  });
}

runPagePass();
