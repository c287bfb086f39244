// The browser's own options, beside the product's four (options.js, which
// this file comes before on the options page and in the popup): "Show the
// marks beside the scrollbar", stored as "marksStrip" in
// chrome.storage.sync (true unless false is stored; strip.js reads it).
// Stored by Close (the dialog's submit, handled here first), dropped by
// Cancel, as the four boxes are.

const STRIP_KEY = 'marksStrip';
const stripBox = document.getElementById('marks-strip');

chrome.storage.sync.get(STRIP_KEY).then((items) => {
  stripBox.checked = items[STRIP_KEY] !== false;
  stripBox.disabled = false;
});

document.getElementById('dialog').addEventListener('submit', () => {
  chrome.storage.sync.set({[STRIP_KEY]: stripBox.checked});
});
