// The marks of a tab, for the toolbar button's badge and popup and the
// keyboard commands: gathered from the tab's frames when needed, never kept
// (the page and its incremental passes change them; the worker may have
// been stopped since). Loaded by the service worker.
//
// Each frame's content script (marks.js) answers "marksSummary" with the
// word of each of its marks in document order and, for each child frame,
// its frame id (chrome.runtime.getFrameId of the frame element) and how many
// of its marks come before the frame element. The tab's marks in document
// order are then the top frame's, with each child frame's put in at its
// place, recursively: a frame's content lies where its element is.
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
async function tabMarks(tabId) {
  const marks = [];
  const top = await frameSummary(tabId, 0);
  const seen = new Set();
  async function walk(frameId, summary) {
    seen.add(frameId);
    const children = (summary.frames ?? []).filter((f) => !seen.has(f.frameId));
    const inner = await Promise.all(children.map((f) => frameSummary(tabId, f.frameId)));
    let next = 0;
    for (let index = 0; index <= summary.words.length; ++index) {
      while (next < children.length && children[next].before <= index) {
        if (inner[next]) await walk(children[next].frameId, inner[next]);
        next++;
      }
      if (index < summary.words.length) marks.push({frameId, index, word: summary.words[index]});
    }
  }
  if (top) await walk(0, top);
  return {marks, keywords: top?.keywords ?? [], source: top?.source ?? null, fromTitle: top?.fromTitle ?? false};
}

// What the popup shows: each word with its colour and number of marks.
async function tabCounts(tabId) {
  const {marks, keywords, source, fromTitle} = await tabMarks(tabId);
  const counts = keywords.map(() => 0);
  for (const mark of marks) if (mark.word >= 0) counts[mark.word]++;
  return {words: keywords.map((k, i) => ({...k, count: counts[i]})), total: marks.length, source, fromTitle};
}

async function setBadge(tabId) {
  const {marks} = await tabMarks(tabId);
  await chrome.action.setBadgeBackgroundColor({tabId, color: '#333'});
  await chrome.action.setBadgeText({tabId, text: marks.length ? String(marks.length) : ''});
}

// A frame's marks changed: the badge follows, once per burst of changes.
const badgeTimers = new Map();
function marksChanged(tabId) {
  clearTimeout(badgeTimers.get(tabId));
  badgeTimers.set(tabId, setTimeout(() => {
    badgeTimers.delete(tabId);
    setBadge(tabId).catch(() => {});
  }, 100));
}

// Steps the tab's current mark: direction 1 or -1, word a keyword index or
// -1 for any. Answers the mark shown ({frameId, index, position, total}) or null.
async function step(tabId, direction, word = -1) {
  const {marks} = await tabMarks(tabId);
  const key = currentKey(tabId);
  const was = (await chrome.storage.session.get(key))[key];
  let at = was ? marks.findIndex((m) => m.frameId === was.frameId && m.index === was.index) : -1;
  const n = marks.length;
  let found = -1;
  for (let k = 1; k <= n; ++k) {
    const i = at < 0 ? (direction > 0 ? k - 1 : n - k) : (((at + direction * k) % n) + n) % n;
    if (word < 0 || marks[i].word === word) {
      found = i;
      break;
    }
  }
  if (found < 0) return null;
  const mark = marks[found];
  if (was && was.frameId !== mark.frameId) {
    await chrome.tabs.sendMessage(tabId, {type: 'clearMark'}, {frameId: was.frameId}).catch(() => {});
  }
  const shown = await chrome.tabs.sendMessage(tabId,
    {type: 'showMark', index: mark.index, position: found + 1, total: n}, {frameId: mark.frameId}).catch(() => false);
  if (!shown) return null;
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

chrome.runtime.onMessage.addListener((message, sender, reply) => {
  let answer = null;
  if (message?.type === 'marksChanged' && sender.tab?.id >= 0) marksChanged(sender.tab.id);
  else if (message?.type === 'tabCounts' && !sender.tab) answer = tabCounts(message.tabId);
  else if (message?.type === 'step' && !sender.tab) answer = step(message.tabId, message.direction, message.word);
  if (!answer) return false;
  answer.then(reply, () => reply(null));
  return true;
});

chrome.tabs.onRemoved.addListener((tabId) => {
  chrome.storage.session.remove(currentKey(tabId)).catch(() => {});
});

// The popup's options: the boxes' word while a change is pending, stored
// when the popup closes without Close or Cancel (its port disconnects).
chrome.runtime.onConnect.addListener((port) => {
  if (port.name !== 'popupOptions' || port.sender?.tab) return;
  let word = null;
  port.onMessage.addListener((message) => {
    word = Number.isInteger(message?.word) ? message.word : null;
  });
  port.onDisconnect.addListener(() => {
    if (word !== null) saveOptions(word);
  });
});
