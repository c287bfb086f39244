// Glintmark's service worker: the options word, each tab's session, the
// toolbar button, and the change an options page left pending when its tab
// was closed.
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
//   {type: 'beginPass'} -> {ticket, options, savedSearchText, markWithElements}
//   {type: 'endPass', ticket, savedSearchText}
// The passes of one tab run one after another, as the browser ran them on its
// window's thread: a frame and its parent completing at once would otherwise
// each start from the same saved text and the last to finish would win.

const DEFAULT_OPTIONS = 13;  // bits 0, 2 and 3
const OPTIONS_KEY = 'options';
// The browser's own option, apart from the product's word: marks written as
// spans into the page instead of painted over its text.
const ELEMENTS_KEY = 'markWithElements';
// How long a pass may hold its tab's turn: a frame that goes away between
// its two messages must not block the tab's other documents.
const PASS_LEASE_MS = 5000;

// The stored word, or 13 when nothing usable is stored. Read when the worker
// starts, as the library read the registry when it loaded, and kept up to
// date when the options page saves.
function optionsFromStored(value) {
  return Number.isInteger(value) && value >= 0 && value <= 0xffffffff ? value : DEFAULT_OPTIONS;
}
let optionsWord = DEFAULT_OPTIONS;
let markWithElements = false;
const optionsLoaded = chrome.storage.sync.get([OPTIONS_KEY, ELEMENTS_KEY]).then((items) => {
  optionsWord = optionsFromStored(items[OPTIONS_KEY]);
  markWithElements = items[ELEMENTS_KEY] === true;
});
chrome.storage.onChanged.addListener((changes, area) => {
  if (area !== 'sync') return;
  if (OPTIONS_KEY in changes) optionsWord = optionsFromStored(changes[OPTIONS_KEY].newValue);
  if (ELEMENTS_KEY in changes) markWithElements = changes[ELEMENTS_KEY].newValue === true;
});

function saveOptions(word) {
  return chrome.storage.sync.set({[OPTIONS_KEY]: word & 0xf});
}

// --- Sessions ---------------------------------------------------------------

const sessionKey = (tabId) => `tab:${tabId}`;

async function readSession(tabId) {
  const key = sessionKey(tabId);
  return (await chrome.storage.session.get(key))[key];
}

function writeSession(tabId, savedSearchText) {
  return chrome.storage.session.set({[sessionKey(tabId)]: {saved: savedSearchText ?? null}});
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

// Tickets are unique across restarts of the worker, so that a pass begun
// under an earlier worker cannot end one of this worker's.
const passes = new Map();  // ticket -> the function ending that pass's turn

// Hands out the tab's session and holds the tab's turn until endPass (or the
// lease runs out); the saved text the pass sends back is stored before the
// next pass of the tab starts.
function beginPass(tabId) {
  return new Promise((answer, fail) => {
    withTab(tabId, async () => {
      await optionsLoaded;
      const session = await sessionOf(tabId);
      const ticket = crypto.randomUUID();
      const ended = new Promise((resolve) => {
        passes.set(ticket, resolve);
        setTimeout(resolve, PASS_LEASE_MS);
      });
      answer({ticket, options: optionsWord, savedSearchText: session.saved, markWithElements});
      const result = await ended;
      passes.delete(ticket);
      if (result) await writeSession(tabId, result.savedSearchText);
    }).catch(fail);
  });
}

function endPass(tabId, ticket, savedSearchText) {
  const end = passes.get(ticket);
  if (end) {
    end({savedSearchText});
  } else {
    // The worker was stopped while the pass ran, or its lease ran out; the
    // tab may have closed since.
    withTab(tabId, () => chrome.tabs.get(tabId).then(() => writeSession(tabId, savedSearchText), () => {}));
  }
}

chrome.runtime.onMessage.addListener((message, sender, reply) => {
  const tabId = sender.tab?.id;
  if (tabId === undefined || tabId < 0) return false;
  if (message?.type === 'beginPass') {
    beginPass(tabId).then(reply, () => reply(null));
    return true;  // answered asynchronously
  }
  if (message?.type === 'endPass') {
    endPass(tabId, message.ticket, message.savedSearchText);
  }
  return false;
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
  withTab(tabId, () => chrome.storage.session.remove(sessionKey(tabId))).catch(quitting);
  storePendingOptions(tabId).catch(quitting);
});

// A prerendered or restored tab takes the place of another: it goes on with
// that tab's session.
chrome.tabs.onReplaced.addListener((addedTabId, removedTabId) => {
  withTab(removedTabId, async () => {
    const session = await readSession(removedTabId);
    await chrome.storage.session.remove(sessionKey(removedTabId));
    if (session) await withTab(addedTabId, () => writeSession(addedTabId, session.saved));
  });
});

// --- The toolbar button and the options page --------------------------------

chrome.action.onClicked.addListener(() => chrome.runtime.openOptionsPage());

// An options page whose tab was closed with a change of its boxes pending
// (the dialog's close box): the change is stored, as the dialog stored it.
async function storePendingOptions(tabId) {
  const key = `optionsPending:${tabId}`;
  const pending = (await chrome.storage.session.get(key))[key];
  if (pending === undefined) return;
  await saveOptions(pending);
  await chrome.storage.session.remove(key);
}
