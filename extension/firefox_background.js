// Firefox runs the extension's background as an event page: a page, whose
// scripts the manifest lists in order (the build lists what the service
// worker imports before the worker). A page has no importScripts; here it
// does nothing, the scripts being loaded already.
globalThis.importScripts ??= () => {};
