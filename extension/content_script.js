// Glintmark's content script: the page pass of one document, top document or
// frame, when it has completed loading (the browser's DocumentComplete),
// with the tab's session and the engine of the service worker.
//
// No engine here: the build puts web/protocol.js, web/options_word.js and
// web/page.js (GlintmarkPage: the walk of a document into the engine's
// request, and the DOM work of its answer) before this file. The worker
// first passes over the document's address, referrer and title alone, which
// decides the keywords and updates the tab's session; the document's body
// is sent only when there are keywords to mark, and its links' addresses
// only when links get tooltips.

// Our spans, as the pass writes them.
const HIGHLIGHT_SPANS = 'span[style^="color:black;background-color:"]';
// A page that replaces its body's content after the pass is highlighted
// again, at most this many times, once its changes have settled for
// REWRITE_SETTLE_MS.
const MAX_REWRITE_PASSES = 3;
const REWRITE_SETTLE_MS = 300;
// A document that changes while the worker runs the pass over its
// description is described again, at most this many times: the answer's
// nodes by number would no longer be the page's.
const MAX_DESCRIBES = 3;

// What this document's pass did: its input, the engine's kind, the report of
// the load's pass and of the latest pass over a rewritten page, the time
// this script spent on the page's main thread (describing, applying), in ms,
// and why a request could not be sent.
const glintmarkPass = {input: null, engineKind: null, report: null, rewriteReport: null, rewritePasses: 0,
  restoredPasses: 0, milliseconds: {describe: 0, apply: 0}, error: null};

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

const facts = () => ({url: document.URL, referrer: document.referrer, title: document.title,
  bodyKind: GlintmarkPage.bodyKind(document)});

// The pass over the document with `input` (the options and saved text the
// session handed out). `planned`, the report of the pass over the document's
// facts, says what the document needs to send: its body when there are
// keywords, its links when they get tooltips; without it (a rewritten page,
// whose title may have changed) both are sent. Resolves to the report, or
// null when the worker did not answer.
async function passOver(input, planned) {
  const needs = {
    body: !planned || planned.keywords.length > 0,
    links: (input.options & GlintmarkOptionsWord.linkTooltips) !== 0 && document.getElementsByTagName('a').length > 0,
  };
  if (planned && !needs.body && !needs.links) return planned;
  for (let attempt = 1; ; ++attempt) {
    const changed = new MutationObserver(() => {});
    if (document.documentElement) {
      changed.observe(document.documentElement, {childList: true, characterData: true, subtree: true});
    }
    let started = performance.now();
    const {request, page} = GlintmarkPage.describe(document, {...input, ...facts()}, needs);
    // A request too large for a message (over 64 MB: a page of some 90 MB)
    // fails here; the page stays as it is.
    const failed = (error) => {
      glintmarkPass.error = String(error && error.message || error);
      return null;
    };
    let sent;
    try {
      sent = chrome.runtime.sendMessage({type: 'pass', request}).catch(failed);
    } catch (error) {
      sent = Promise.resolve(failed(error));
    }
    glintmarkPass.milliseconds.describe += performance.now() - started;
    const answer = await sent;
    const moved = changed.takeRecords().length > 0;
    changed.disconnect();
    if (!answer) return null;
    if (moved && attempt < MAX_DESCRIBES) continue;
    if (moved) return {...answer.report, domError: 'the page kept changing during the pass'};
    started = performance.now();
    const domError = GlintmarkPage.apply(page, answer);
    glintmarkPass.milliseconds.apply += performance.now() - started;
    if (domError) answer.report.domError = domError;
    return answer.report;
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
function highlightRewrites() {
  let timer = 0;
  const observer = new MutationObserver(() => {
    clearTimeout(timer);
    timer = setTimeout(rewritten, REWRITE_SETTLE_MS);
  });
  const watch = () => observer.observe(document.body, {childList: true});
  async function rewritten() {
    if (!document.body || document.body.querySelector(HIGHLIGHT_SPANS) || !document.body.textContent.trim()) return;
    observer.disconnect();
    const report = await passOver(glintmarkPass.input, null);
    glintmarkPass.rewritePasses++;
    glintmarkPass.rewriteReport = report;
    marksPassed(report);
    if (glintmarkPass.rewritePasses < MAX_REWRITE_PASSES) watch();
  }
  if (document.body) watch();
}

// After each pass: the marks registry reads the marks again (the popup's
// counts, the badge, stepping) and the strip beside the scrollbar follows.
function marksPassed(report) {
  if (!marksPassed.started) {
    marksPassed.started = true;
    GlintmarkStrip.start();
  }
  GlintmarkMarks.refresh(report);
}

async function runPagePass() {
  await documentComplete();
  const begun = await chrome.runtime.sendMessage({type: 'beginPass', ...facts()});
  if (!begun) return;  // the page is not in a tab
  glintmarkPass.engineKind = begun.engineKind;
  glintmarkPass.input = {options: begun.options, savedSearchText: begun.savedSearchText};
  glintmarkPass.report = await passOver(glintmarkPass.input, begun.report);
  marksPassed(glintmarkPass.report);
  highlightRewrites();
  // Back and forward bring the page back from the browser's cache without
  // loading it again, but they are navigations of the tab all the same (the
  // browser completed the document again), so the tab's session takes this
  // page's effect again: a results page saves its search anew. The page
  // keeps the spans it has: only its address, referrer and title go to the
  // worker, as of an empty document.
  window.addEventListener('pageshow', (event) => {
    if (!event.persisted) return;
    glintmarkPass.restoredPasses++;
    chrome.runtime.sendMessage({type: 'beginPass', ...facts(), bodyKind: GlintmarkProtocol.BodyKind.body});
  });
}

runPagePass();
