// The popup of the toolbar button: the marks of the active tab (counted over
// all its frames by the worker, marks_worker.js), stepping through them, and
// the options (options.js and browser_options.js, loaded after this file,
// drive the boxes and buttons as on the options page). A popup has no tab of
// its own to close as the options page does: a change of the boxes pending
// when the popup closes otherwise (a click elsewhere) goes to the worker
// through a port, which stores it when the port closes, as the dialog's close
// box did; Close and Cancel (and Enter and Escape) clear it first.

const SOURCES = {
  url: 'from the search of this page\u2019s own address',
  referrer: 'from the search that led here',
  saved: 'the search saved for this tab',
  title: 'words of the page\u2019s title',
  none: 'no search text: nothing is marked',
};

const pending = chrome.runtime.connect({name: 'popupOptions'});
const wordOf = () => [...document.querySelectorAll('input[data-bit]')]
  .reduce((word, box) => (box.checked ? word | Number(box.dataset.bit) : word), 0);
for (const box of document.querySelectorAll('input[data-bit]')) {
  box.addEventListener('change', () => pending.postMessage({word: wordOf()}));
}
const settled = () => pending.postMessage({word: null});
document.getElementById('dialog').addEventListener('submit', settled);
document.getElementById('cancel').addEventListener('click', settled);
document.addEventListener('keydown', (event) => {
  if (event.key === 'Escape') settled();
});

let tabId;

function stepButton(label, direction, word) {
  const button = document.createElement('button');
  button.type = 'button';
  button.innerHTML = direction > 0 ? '&#9660;' : '&#9650;';
  button.setAttribute('aria-label', `${direction > 0 ? 'Next' : 'Previous'} mark of ${label}`);
  button.title = button.getAttribute('aria-label');
  button.addEventListener('click', () => step(direction, word));
  return button;
}

async function step(direction, word = -1) {
  await chrome.runtime.sendMessage({type: 'step', tabId, direction, word});
}

async function show() {
  // The active tab's; or, opened as a page of its own (popup.html?tab=ID), that tab's.
  const asked = new URLSearchParams(location.search).get('tab');
  if (asked) tabId = Number(asked);
  else [{id: tabId} = {}] = await chrome.tabs.query({active: true, currentWindow: true});
  const counts = tabId === undefined ? null : await chrome.runtime.sendMessage({type: 'tabCounts', tabId});
  const total = counts?.total ?? 0;
  document.getElementById('total').textContent = `${total} mark${total === 1 ? '' : 's'}, all words`;
  document.getElementById('source').textContent = counts?.words.length
    ? `Search text: ${SOURCES[counts.source] ?? counts.source}` : 'Nothing is marked on this page.';
  const list = document.getElementById('words');
  list.replaceChildren(...(counts?.words ?? []).map(({word, colour, count}, i) => {
    const item = document.createElement('li');
    const name = document.createElement('span');
    name.className = 'word';
    name.textContent = word;
    name.style.backgroundColor = colour;
    name.title = i < 5 ? `${word} (word ${i + 1})` : word;
    const number = document.createElement('span');
    number.className = 'count';
    number.textContent = String(count);
    item.append(name, number, stepButton(word, -1, i), stepButton(word, 1, i));
    return item;
  }));
  for (const id of ['previous', 'next']) document.getElementById(id).disabled = total === 0;
}

document.getElementById('previous').addEventListener('click', () => step(-1));
document.getElementById('next').addEventListener('click', () => step(1));
show();
