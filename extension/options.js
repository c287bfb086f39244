// The options page: the four option flags as the product's dialog shows them.
//
// The boxes start from the stored word (the default, 13, when nothing usable
// is stored: options_word.js, loaded before this file). "Close"
// (and Enter) stores the boxes and closes the page; "Cancel" (and Escape)
// closes it without storing; "Help" opens the help page in a new tab and
// leaves the page open. Closing the page's tab stores a change, as the
// dialog's close box did: each change is kept as pending under
// "optionsPending:TAB" in session storage, and the service worker stores a
// change still pending when the tab is removed (an event that starts the
// worker whenever Chromium has stopped it). "Close" and "Cancel" clear it.

const OPTIONS_KEY = 'options';
// The browser's own option, stored apart from the product's word.
const ELEMENTS_KEY = 'markWithElements';
const HELP_PAGE = 'https://glintmark.example/help/options.html';

const boxes = [...document.querySelectorAll('input[data-bit]')];
const elementsBox = document.getElementById('mark-with-elements');
const pendingKey = chrome.tabs.getCurrent().then((tab) => tab && `optionsPending:${tab.id}`);

async function setPending(word) {
  const key = await pendingKey;
  if (!key) return;
  await (word === null ? chrome.storage.session.remove(key) : chrome.storage.session.set({[key]: word}));
}

function boxesWord() {
  return boxes.reduce((word, box) => (box.checked ? word | Number(box.dataset.bit) : word), 0);
}

async function closePage() {
  await setPending(null);
  const tab = await chrome.tabs.getCurrent();
  if (tab) chrome.tabs.remove(tab.id);
  else window.close();
}

chrome.storage.sync.get([OPTIONS_KEY, ELEMENTS_KEY]).then((items) => {
  elementsBox.checked = items[ELEMENTS_KEY] === true;
  elementsBox.disabled = false;
  const word = GlintmarkOptionsWord.fromStored(items[OPTIONS_KEY]);
  for (const box of boxes) {
    box.checked = (word & Number(box.dataset.bit)) !== 0;
    box.disabled = false;  // clickable once they show the stored word
  }
});

for (const box of boxes) box.addEventListener('change', () => setPending(boxesWord()));

document.getElementById('dialog').addEventListener('submit', async (event) => {
  event.preventDefault();
  await chrome.storage.sync.set({[OPTIONS_KEY]: boxesWord() & GlintmarkOptionsWord.flags,
    [ELEMENTS_KEY]: elementsBox.checked});
  closePage();
});
document.getElementById('cancel').addEventListener('click', closePage);
document.addEventListener('keydown', (event) => {
  if (event.key === 'Escape') closePage();
});
document.getElementById('help').addEventListener('click', () => chrome.tabs.create({url: HELP_PAGE}));
