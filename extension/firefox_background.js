// Firefox runs the extension's background as an event page: a page, whose
// scripts the manifest lists in order (the build lists what the service
// worker imports, then the worker, after this file). A page has no
// importScripts; here it does nothing, the scripts being loaded already.
globalThis.importScripts ??= () => {};

// Firefox gives a tab opened in a new window by a page's script (window.open)
// no openerTabId, so the worker's tabs.onCreated cannot tell it from a window
// opened by hand. The navigation that made the tab names the tab it came
// from: the new tab starts from that tab's saved text, as a tab opened from a
// link does. (withTab and sessionOf are the worker's, defined by the time an
// event comes.)
chrome.webNavigation.onCreatedNavigationTarget.addListener(({sourceTabId, tabId}) => {
  withTab(tabId, () => sessionOf(tabId, sourceTabId));
});
