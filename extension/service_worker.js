// Glintmark's service worker: the engine, the options word, each tab's
// session, the toolbar button, and the change an options page left pending
// when its tab was closed.
//
// The engine (engine/glintmark-engine.js: the pass compiled to WebAssembly,
// which the extension's own policy allows) lives here, once for the browser:
// compiled when the worker starts and kept while it runs. The pages' content
// scripts hold no engine; they describe their document and make the changes
// the engine answers with.
//
// A tab is what a browser window was to the product: it keeps one saved
// search text across its navigations, for the pass of every document (top
// document and frames) it loads, and forgets it when it closes. A tab opened
// from a link of another tab, in the same window or in a new one, starts with
// the opener's saved text; any other new tab or window starts without one.
//
// The saved text lives in chrome.storage.session under "tab:ID", not in a
// variable: Chromium stops an idle worker, and session storage outlives the
// worker (not the browser, as the product's text did not outlive its window).
//
// Messages from the content script:
//   {type: 'beginPass', url, referrer, title, bodyKind}
//     -> {options, savedSearchText, report, engineKind, markWithElements, marksStrip}: the
//        tab's session and options, and the report of the pass over the document's facts
//        alone, which chooses the keywords and updates the session
//   {type: 'planPass', url, referrer, title, bodyKind} -> the same, the session
//        left as it is: what beginPass would answer now (a document that has
//        its content but not yet its images and frames marks it early, and
//        begins its pass proper when it completes)
//   {type: 'pass', request} -> {report, changes, made, titles}: the pass over
//        a described document (GlintmarkPage.describe), for GlintmarkPage.apply;
//        with request.ranges, {report, ranges, colours, titles}: the matches
//        as ranges over its text nodes (GlintmarkMatchRanges), no changes
//   port "passPieces": a request too long for one message, in pieces
//        ({field, piece} for its text, ops and links, in order), then
//        {request} (the rest of it): answered on the port as 'pass' is
// The session's part of the passes of one tab runs one after another, as the
// browser ran them on its window's thread: a frame and its parent completing
// at once would otherwise each start from the same saved text and the last to
// finish would win. The search text and keywords depend only on the
// document's address, referrer and title and the saved text, so that part is
// over before the document's body is needed; the pass over the body changes
// no session and needs no turn.

importScripts('options_word.js', 'engine/glintmark-engine.js', 'marks_worker.js');

// The engine, compiled once per start of the worker, begun at once so that
// it is ready by the time the first page has loaded.
let engineMade = null;
function engine() {
  engineMade ??= GlintmarkEngine.create({prefer: 'wasm'}).catch((error) => {
    engineMade = null;
    throw error;
  });
  return engineMade;
}
engine().catch(() => {});

// A pass with the engine; an engine whose module stopped (out of memory where
// nothing could catch it: the pass reports E_FAIL) is made anew for the next.
async function run(request) {
  const made = await engine();
  const answer = made.run(request);
  if (!made.module) engineMade = null;
  return {answer, kind: made.kind};
}

const OPTIONS_KEY = 'options';
// The browser's own option, apart from the product's word: marks written as
// spans into the page instead of painted over its text.
const ELEMENTS_KEY = 'markWithElements';
// "Show the marks beside the scrollbar" (browser_options.js): handed to the
// top document's content script with its pass and sent to every tab when it
// changes, so that no content script has the storage API made for it (its
// objects, and the time to make them, in every page).
const STRIP_KEY = 'marksStrip';

// The stored word, or the default when nothing usable is stored. Read when
// the worker starts, as the library read the registry when it loaded, and
// kept up to date when the options page saves.
let optionsWord = GlintmarkOptionsWord.default;
let markWithElements = false;
let marksStrip = true;
const optionsLoaded = chrome.storage.sync.get([OPTIONS_KEY, ELEMENTS_KEY, STRIP_KEY]).then((items) => {
  optionsWord = GlintmarkOptionsWord.fromStored(items[OPTIONS_KEY]);
  markWithElements = items[ELEMENTS_KEY] === true;
  marksStrip = items[STRIP_KEY] !== false;
});
chrome.storage.onChanged.addListener((changes, area) => {
  if (area !== 'sync') return;
  if (OPTIONS_KEY in changes) optionsWord = GlintmarkOptionsWord.fromStored(changes[OPTIONS_KEY].newValue);
  if (ELEMENTS_KEY in changes) markWithElements = changes[ELEMENTS_KEY].newValue === true;
  if (STRIP_KEY in changes) {
    marksStrip = changes[STRIP_KEY].newValue !== false;
    chrome.tabs.query({}).then((tabs) => {
      for (const tab of tabs) {
        chrome.tabs.sendMessage(tab.id, {type: 'marksStrip', on: marksStrip}, {frameId: 0}).catch(() => {});
      }
    }, () => {});
  }
});

function saveOptions(word) {
  return chrome.storage.sync.set({[OPTIONS_KEY]: word & GlintmarkOptionsWord.flags});
}

// --- Sessions ---------------------------------------------------------------

const sessionKey = (tabId) => `tab:${tabId}`;

// What this worker has read or written of the sessions, while it lives (it
// alone writes them): a page's pass waits for no read.
const sessionsKnown = new Map();
function removeSession(tabId) {
  sessionsKnown.delete(sessionKey(tabId));
  return chrome.storage.session.remove(sessionKey(tabId));
}

async function readSession(tabId) {
  const key = sessionKey(tabId);
  if (sessionsKnown.has(key)) return sessionsKnown.get(key);
  const value = (await chrome.storage.session.get(key))[key];
  if (value !== undefined && !sessionsKnown.has(key)) sessionsKnown.set(key, value);
  return value;
}

function writeSession(tabId, savedSearchText) {
  const key = sessionKey(tabId), value = {saved: savedSearchText ?? null};
  sessionsKnown.set(key, value);
  return chrome.storage.session.set({[key]: value}).catch((error) => {
    sessionsKnown.delete(key);
    throw error;
  });
}

// The tab's session, made on first use: with the opener's saved text when the
// tab was opened from a link of another tab, else empty.
async function sessionOf(tabId, openerTabId) {
  const known = await readSession(tabId);
  if (known) return known;
  if (openerTabId === undefined) {
    openerTabId = await chrome.tabs.get(tabId).then((tab) => tab.openerTabId, () => undefined);
  }
  const opener = openerTabId === undefined ? undefined : await readSession(openerTabId);
  const session = {saved: opener?.saved ?? null};
  await writeSession(tabId, session.saved);
  return session;
}

// One queue per tab: every task on a tab's session waits for the previous one.
const queues = new Map();
function withTab(tabId, task) {
  const run = (queues.get(tabId) ?? Promise.resolve()).then(task);
  const tail = run.catch(() => {});
  queues.set(tabId, tail);
  tail.then(() => {
    if (queues.get(tabId) === tail) queues.delete(tabId);
  });
  return run;
}

// The session's part of a document's pass: the tab's saved text and the
// options handed to the pass over the document's facts (address, referrer,
// title, and what it has where a body goes), whose new saved text is stored
// before the tab's next pass starts (not by a plan: `write` false). The
// answer goes as soon as it is known: the document's pass need not wait for
// the write, the tab's next task does.
function beginPass(tabId, message, write = true) {
  let answered;
  const answer = new Promise((resolve) => {
    answered = resolve;
  });
  withTab(tabId, async () => {
    await optionsLoaded;
    const session = await sessionOf(tabId);
    const input = {options: optionsWord, savedSearchText: session.saved};
    const {answer: {report}, kind} = await run(GlintmarkPage.describeFacts({
      ...input, url: String(message.url), referrer: String(message.referrer), title: String(message.title),
      bodyKind: message.bodyKind | 0,
    }));
    // `typed` tells the content script whether typed arrays reach it as
    // they are (structured clone) or not (JSON).
    answered({...input, report, engineKind: kind, markWithElements, marksStrip, typed: new Int32Array(0)});
    if (write) await writeSession(tabId, report.savedSearchText);
  }).catch((error) => answered(Promise.reject(error)));
  return answer;
}

// The pass over a described document. Its input came from beginPass; it
// leaves the session alone. A whole pass's matches (request.whole) are the
// count of marks of the `sender` frame's document, for the badge: kept,
// and answered as `counted`.
async function pass(request, sender) {
  const ints = (list) => Array.isArray(list) || list instanceof Int32Array;
  const {ops, text, parts, links: raw} = request ?? {};
  if (!ints(ops) || typeof text !== 'string' || !Array.isArray(parts) || !ints(raw)) return null;
  const started = performance.now();
  // Links the page sent as written are resolved here, off the page's thread.
  const {text: withLinks, links} = GlintmarkPage.resolveLinks({text, links: raw, linkBase: request.linkBase});
  const resolved = performance.now();
  const {answer} = await run({ops, text: withLinks, parts, links});
  const passed = performance.now();
  if (request.ranges === true) {
    // The matches as ranges over the page's text nodes, read from the
    // changes here: the page paints them without replaying the changes on
    // its own thread.
    const {ranges, colours} = GlintmarkMatchRanges.of(ops, answer.changes, answer.made);
    answer.ranges = ops instanceof Int32Array ? ranges : Array.from(ranges);
    answer.colours = colours;
    answer.changes = [];
    answer.made = [];
    if (request.whole === true && sender?.tab?.id >= 0) {
      answer.counted = ranges.length / GlintmarkMatchRanges.RANGE_SIZE;
      marksChanged(sender.tab.id, sender.frameId ?? 0, sender.documentId, answer.counted);
    }
  } else if (ops instanceof Int32Array) {
    // Typed in, typed out: the changes as one block too.
    answer.changes = Int32Array.from(answer.changes);
  }
  // Where the worker's time went: resolving links, the engine's pass, the
  // rest (the ranges).
  answer.ms = {run: performance.now() - started, links: resolved - started, engine: passed - resolved};
  return answer;
}

chrome.runtime.onMessage.addListener((message, sender, reply) => {
  const tabId = sender.tab?.id;
  if (tabId === undefined || tabId < 0) return false;
  const type = message?.type;
  const answer = type === 'beginPass' || type === 'planPass' ? beginPass(tabId, message, type === 'beginPass')
    : type === 'pass' ? pass(message.request, sender) : null;
  if (!answer) return false;
  answer.then(reply, () => reply(null));
  return true;  // answered asynchronously
});

// A long document's request comes over a port in pieces (its text, records
// and links, in order), then the rest of it: joined here, passed, answered
// on the port.
const PIECED = ['text', 'ops', 'links'];
function joinPieces(pieces, last) {
  if (typeof last === 'string') return pieces.join('') + last;
  const parts = [...pieces, last];
  if (!parts.every((part) => part instanceof Int32Array)) return parts.flatMap((part) => Array.from(part));
  const out = new Int32Array(parts.reduce((n, part) => n + part.length, 0));
  let at = 0;
  for (const part of parts) {
    out.set(part, at);
    at += part.length;
  }
  return out;
}
chrome.runtime.onConnect.addListener((port) => {
  if (port.name !== 'passPieces' || !(port.sender?.tab?.id >= 0)) return;
  const pieces = Object.fromEntries(PIECED.map((field) => [field, []]));
  port.onMessage.addListener((message) => {
    if (PIECED.includes(message?.field)) {
      pieces[message.field].push(message.piece);
      return;
    }
    const request = message?.request;
    let answer = null;
    try {
      for (const field of PIECED) request[field] = joinPieces(pieces[field], request[field]);
      answer = pass(request, port.sender);
    } catch (error) {
      answer = null;
    }
    Promise.resolve(answer).catch(() => null).then((out) => {
      try {
        port.postMessage(out);
      } catch (error) {
        // The page went away meanwhile.
      }
    });
  });
});

chrome.tabs.onCreated.addListener((tab) => {
  // Copied now, so the new tab starts from what its opener had when the link
  // was followed, not from wherever the opener has gone since.
  if (tab.openerTabId !== undefined) withTab(tab.id, () => sessionOf(tab.id, tab.openerTabId));
});

// Tabs are removed one by one when the browser quits too; there storage
// refuses the calls, and session storage goes with the browser anyway.
const quitting = () => {};
chrome.tabs.onRemoved.addListener((tabId) => {
  withTab(tabId, () => removeSession(tabId)).catch(quitting);
  storePendingOptions(tabId).catch(quitting);
});

// A prerendered or restored tab takes the place of another: it goes on with
// that tab's session.
chrome.tabs.onReplaced.addListener((addedTabId, removedTabId) => {
  withTab(removedTabId, async () => {
    const session = await readSession(removedTabId);
    await removeSession(removedTabId);
    if (session) await withTab(addedTabId, () => writeSession(addedTabId, session.saved));
  });
});

// --- The options page ---------------------------------------------------------
// (The toolbar button opens the popup: popup.html, marks_worker.js.)

// An options page whose tab was closed with a change of its boxes pending
// (the dialog's close box): the change is stored, as the dialog stored it.
async function storePendingOptions(tabId) {
  const key = `optionsPending:${tabId}`;
  const pending = (await chrome.storage.session.get(key))[key];
  if (pending === undefined) return;
  await saveOptions(pending);
  await chrome.storage.session.remove(key);
}
