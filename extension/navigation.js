// Same-document navigations: the page changing its address without loading
// a new document (history.pushState, replaceState, back and forward between
// its own entries, the Navigation API), each a navigation of the tab as a
// new load would be.
//
//   const navigations = GlintmarkNavigation.watch(window, (address, previous) => {...});
//   navigations.check();   // a cheap look, e.g. when the page has changed
//
// A content script lives in a world of its own: the page's calls to
// history.pushState are not seen by wrapping them (that would need a script
// in the page's world). The Navigation API's currententrychange event, which
// the window fires for the page's pushState and replaceState and for
// traversals, reaches this world too; where the browser has no Navigation
// API, popstate and hashchange, and check() called on each batch of the
// page's changes (an app that pushes a state also renders), notice it.
// Only a change of the address before its fragment counts: moving to an
// anchor of the same page is no navigation of the tab.
(function (global) {
  'use strict';

  const withoutFragment = (address) => {
    const at = address.indexOf('#');
    return at < 0 ? address : address.slice(0, at);
  };

  function watch(win, onNavigate) {
    let current = win.location.href;
    const check = () => {
      const address = win.location.href;
      if (withoutFragment(address) === withoutFragment(current)) {
        current = address;
        return false;
      }
      const previous = current;
      current = address;
      onNavigate(address, previous);
      return true;
    };
    const navigation = win.navigation;
    if (navigation && typeof navigation.addEventListener === 'function') {
      navigation.addEventListener('currententrychange', check);
    }
    win.addEventListener('popstate', check);
    win.addEventListener('hashchange', check);
    return {check, get address() {
      return current;
    }};
  }

  global.GlintmarkNavigation = {watch};
})(globalThis);
