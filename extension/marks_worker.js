// The marks of a tab, for the popup and the keyboard commands: gathered
// from the tab's frames when needed, never kept (the page and its
// incremental passes change them; the worker may have been stopped since).
// The toolbar button's badge needs only their number: each frame's count
// is kept (see setBadge). Loaded by the service worker.
//
// Each frame's content script (marks.js) answers "marksSummary" with the
// word of each of its marks in document order and, for each frame element
// it holds, in document order, the element's address and how many of its
// marks come before it. The tab's frames and their parents come from
// chrome.webNavigation.getAllFrames; a parent's child frames are matched
// with its frame elements by address, in order (frames of one address in
// the order the browser made them), and a child frame no element matches
// (one that navigated away from its element's address) goes after its
// parent's marks. The tab's marks in document order are then the top
// frame's, with each child frame's put in at its element's place,
// recursively.
//
// Stepping: the tab's current mark (frame id and index in that frame,
// in chrome.storage.session under "current:TAB", which outlives the worker)
// moves to the next or previous mark, of any word or of one, wrapping round;
// the frame holding it shows it and the frame that held the last drops it.

const currentKey = (tabId) => `current:${tabId}`;

async function frameSummary(tabId, frameId) {
  try {
    return await chrome.tabs.sendMessage(tabId, {type: 'marksSummary'}, {frameId});
  } catch (e) {
    return null;  // no content script there (not loaded yet, or a page we do not run in)
  }
}

// The tab's marks in order: {marks: [{frameId, index, word}], keywords, source, fromTitle}.
// Words are the top document's keywords, then any other a frame has (a
// frame's pass may have chosen its words on its own: its title's): a mark's
// word is its index in that list.
async function tabMarks(tabId) {
  const marks = [];
  const keywords = [];
  const [top, frames] = await Promise.all([frameSummary(tabId, 0),
    chrome.webNavigation.getAllFrames({tabId}).catch(() => null)]);
  const childrenOf = (frameId) => (frames ?? []).filter((f) => f.parentFrameId === frameId)
    .sort((x, y) => x.frameId - y.frameId);
  async function walk(frameId, summary) {
    const words = (summary.keywords ?? []).map((k) => {
      let i = keywords.findIndex((known) => known.word === k.word);
      if (i < 0) i = keywords.push(k) - 1;
      return i;
    });
    const wordOf = (local) => (local >= 0 && local < words.length ? words[local] : -1);
    // The child frames with their places among this frame's marks.
    const unmatched = childrenOf(frameId);
    const children = [];
    for (const element of summary.frames ?? []) {
      const at = unmatched.findIndex((f) => f.url === element.url);
      if (at >= 0) children.push({frameId: unmatched.splice(at, 1)[0].frameId, before: element.before});
    }
    for (const f of unmatched) children.push({frameId: f.frameId, before: summary.words.length});
    children.sort((x, y) => x.before - y.before);
    const inner = await Promise.all(children.map((f) => frameSummary(tabId, f.frameId)));
    let next = 0;
    for (let index = 0; index <= summary.words.length; ++index) {
      while (next < children.length && children[next].before <= index) {
        if (inner[next]) await walk(children[next].frameId, inner[next]);
        next++;
      }
      if (index < summary.words.length) marks.push({frameId, index, word: wordOf(summary.words[index])});
    }
  }
  if (top) await walk(0, top);
  return {marks, keywords, source: top?.source ?? null, fromTitle: top?.fromTitle ?? false};
}

// What the popup shows: each word with its colour and number of marks.
async function tabCounts(tabId) {
  const {marks, keywords, source, fromTitle} = await tabMarks(tabId);
  const counts = keywords.map(() => 0);
  for (const mark of marks) if (mark.word >= 0) counts[mark.word]++;
  return {words: keywords.map((k, i) => ({...k, count: counts[i]})), total: marks.length, source, fromTitle};
}

// The badge: the tab's count of marks, the sum of each frame's latest:
// what it told with "marksChanged", or the matches of its whole pass, as
// the worker answered them (tabId -> frameId -> {count, documentId, seq}),
// so that no frame is asked for its marks on each change. A tab whose top
// document this worker has not seen commit (its frames may have told an
// earlier worker) is counted once from every frame's marks; a frame's
// count told while that count runs is the newer and stays. A frame whose
// document has gone (it navigated, or it was taken out of the page) no
// longer counts.
const frameCounts = new Map();  // tabId -> {complete, frames}
let countSeq = 0;
const countsOf = (tabId) => {
  if (!frameCounts.has(tabId)) frameCounts.set(tabId, {complete: false, frames: new Map()});
  return frameCounts.get(tabId);
};

async function setBadge(tabId) {
  const tab = countsOf(tabId);
  const counts = tab.frames;
  if (!tab.complete) {
    const since = ++countSeq;
    const [{marks}, frames] = await Promise.all([tabMarks(tabId),
      chrome.webNavigation.getAllFrames({tabId}).catch(() => null)]);
    const told = new Map();
    for (const mark of marks) told.set(mark.frameId, (told.get(mark.frameId) ?? 0) + 1);
    const documents = new Map((frames ?? []).map((f) => [f.frameId, f.documentId]));
    for (const [frameId, entry] of counts) if (entry.seq < since) counts.delete(frameId);
    for (const [frameId, count] of told) {
      if (!counts.has(frameId)) counts.set(frameId, {count, documentId: documents.get(frameId), seq: since});
    }
    tab.complete = true;
  } else {
    const frames = await chrome.webNavigation.getAllFrames({tabId}).catch(() => null);
    if (frames) {
      const documents = new Map(frames.map((f) => [f.frameId, f.documentId]));
      for (const [frameId, entry] of counts) {
        const now = documents.get(frameId);
        if (!documents.has(frameId) || (now && entry.documentId && now !== entry.documentId)) counts.delete(frameId);
      }
    }
  }
  let total = 0;
  for (const {count} of counts.values()) total += count;
  await chrome.action.setBadgeBackgroundColor({tabId, color: '#333'});
  await chrome.action.setBadgeText({tabId, text: total ? String(total) : ''});
}

// A frame's marks changed (`count`, the frame's marks now): the badge
// follows, once per burst of changes.
const badgeTimers = new Map();
function marksChanged(tabId, frameId, documentId, count) {
  const tab = countsOf(tabId);
  if (Number.isInteger(count) && count >= 0) tab.frames.set(frameId, {count, documentId, seq: ++countSeq});
  else tab.complete = false;
  clearTimeout(badgeTimers.get(tabId));
  badgeTimers.set(tabId, setTimeout(() => {
    badgeTimers.delete(tabId);
    setBadge(tabId).catch(() => {});
  }, 100));
}

// A frame that commits a new document has no marks until it tells: its
// old document's count goes. A new top document: every frame's goes, and
// every frame of the tab from now on tells this worker its count (unless
// it is stopped meanwhile: the next one counts the tab from its frames).
chrome.webNavigation.onCommitted.addListener(({tabId, frameId, documentId}) => {
  if (frameId === 0) {
    const kept = [...(frameCounts.get(tabId)?.frames ?? [])]
      .filter(([, entry]) => documentId && entry.documentId === documentId);
    frameCounts.set(tabId, {complete: true, frames: new Map(kept)});
    return;
  }
  const counts = frameCounts.get(tabId)?.frames;
  if (!counts) return;
  const entry = counts.get(frameId);
  if (entry && (!documentId || entry.documentId !== documentId)) counts.delete(frameId);
});

// Steps the tab's current mark: direction 1 or -1, word a keyword index or
// -1 for any. Answers the mark shown ({frameId, index, position, total}) or null.
async function step(tabId, direction, word = -1) {
  const {marks} = await tabMarks(tabId);
  const key = currentKey(tabId);
  const was = (await chrome.storage.session.get(key))[key];
  let at = was ? marks.findIndex((m) => m.frameId === was.frameId && m.index === was.index) : -1;
  const n = marks.length;
  // The next mark of the word that its frame shows: one the page does not
  // show (in a closed menu, an inactive tab) is stepped over.
  let found = -1;
  for (let k = 1; k <= n && found < 0; ++k) {
    const i = at < 0 ? (direction > 0 ? k - 1 : n - k) : (((at + direction * k) % n) + n) % n;
    if (word >= 0 && marks[i].word !== word) continue;
    const shown = await chrome.tabs.sendMessage(tabId,
      {type: 'showMark', index: marks[i].index, position: i + 1, total: n}, {frameId: marks[i].frameId})
      .catch(() => false);
    if (shown) found = i;
  }
  if (found < 0) return null;
  const mark = marks[found];
  if (was && was.frameId !== mark.frameId) {
    await chrome.tabs.sendMessage(tabId, {type: 'clearMark'}, {frameId: was.frameId}).catch(() => {});
  }
  await chrome.storage.session.set({[key]: {frameId: mark.frameId, index: mark.index}});
  return {frameId: mark.frameId, index: mark.index, position: found + 1, total: n};
}

// The keyboard commands (manifest "commands"), also what the tests call.
async function glintmarkCommand(command, tabId) {
  if (tabId === undefined) {
    [{id: tabId} = {}] = await chrome.tabs.query({active: true, lastFocusedWindow: true});
  }
  if (tabId === undefined) return null;
  if (command === 'next-mark') return step(tabId, 1);
  if (command === 'previous-mark') return step(tabId, -1);
  const word = /^next-mark-word-([1-5])$/.exec(command);
  return word ? step(tabId, 1, Number(word[1]) - 1) : null;
}

chrome.commands.onCommand.addListener((command, tab) => {
  glintmarkCommand(command, tab?.id).catch(() => {});
});

// The extension's own pages (the popup) ask for counts and steps; the pages'
// content scripts only tell of changes.
const ownPage = (sender) => sender.id === chrome.runtime.id && sender.url?.startsWith(chrome.runtime.getURL(''));

chrome.runtime.onMessage.addListener((message, sender, reply) => {
  let answer = null;
  if (message?.type === 'marksChanged' && sender.tab?.id >= 0) {
    marksChanged(sender.tab.id, sender.frameId ?? 0, sender.documentId, message.count);
  }
  else if (message?.type === 'tabCounts' && ownPage(sender)) answer = tabCounts(message.tabId);
  else if (message?.type === 'step' && ownPage(sender)) answer = step(message.tabId, message.direction, message.word);
  if (!answer) return false;
  answer.then(reply, () => reply(null));
  return true;
});

// A tab closed, or one whose frames' counts this worker did not hear.
function forgetCounts(tabId) {
  frameCounts.delete(tabId);
}

chrome.tabs.onRemoved.addListener((tabId) => {
  forgetCounts(tabId);
  chrome.storage.session.remove(currentKey(tabId)).catch(() => {});
});

// The popup's options: the boxes' word while a change is pending, stored
// when the popup closes without Close or Cancel (its port disconnects).
chrome.runtime.onConnect.addListener((port) => {
  if (port.name !== 'popupOptions' || !ownPage(port.sender)) return;
  let word = null;
  port.onMessage.addListener((message) => {
    word = Number.isInteger(message?.word) ? message.word : null;
  });
  port.onDisconnect.addListener(() => {
    if (word !== null) saveOptions(word);
  });
});
