// The options word: the user's four flags as one number, as the options page
// stores it (chrome.storage.sync "options"), the service worker hands it to
// each pass and the engine reads it (core/highlight_options.h is the C++
// side). One classic script, for the extension's pages, its worker and the
// engine file alike: it defines GlintmarkOptionsWord.
(function (global) {
  'use strict';

  const OptionsWord = {
    highlightIntelligently: 1,      // bit 0: title words when no search is found
    highlightSearchResults: 2,      // bit 1: a page whose own address carries a search
    highlightReturnedDocuments: 4,  // bit 2: a page reached from a search
    linkTooltips: 8,                // bit 3: every link gets its target as tooltip
    flags: 0xf,                     // the bits the options page shows and stores
    default: 13,                    // bits 0, 2 and 3: the word when nothing usable is stored

    // The stored value as a word: an integer from 0 to 2^32 - 1, or the
    // default for anything else (nothing stored, a string, a negative number).
    fromStored(value) {
      return Number.isInteger(value) && value >= 0 && value <= 0xffffffff ? value : OptionsWord.default;
    },
  };

  global.GlintmarkOptionsWord = Object.freeze(OptionsWord);
})(globalThis);
