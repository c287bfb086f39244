// Glintmark's content script: the page pass of one document, top document or
// frame, when it has completed loading (the browser's DocumentComplete),
// with the tab's session from the service worker; then passes over what the
// page adds or changes (mutation_passes.js), and a pass for each navigation
// the page makes without loading (navigation.js). Marks are painted by
// painter_highlight.js, or written as spans ("Mark with elements").
//
// The engine (engine/glintmark-engine.js, listed before this file in the
// manifest) defines GlintmarkEngine. It compiles its WebAssembly where the
// page allows it and otherwise runs its plain JavaScript translation: a page
// whose Content-Security-Policy forbids compiling WebAssembly forbids it to
// the content scripts of extensions too.

// Our spans, as the spans painter writes them.
const HIGHLIGHT_SPANS = 'span[style^="color:black;background-color:"]';

// What this document's passes did: the input of the latest navigation's
// pass (the load's, or a same-document navigation's), the engine's kind, the
// painter, the load's report, each same-document navigation's report, the
// incremental passes' figures and the latest one's report.
const glintmarkPass = {input: null, engineKind: null, painter: null, report: null, navigations: [],
  incremental: null, lastIncremental: null, restoredPasses: 0};

// Resolves when the document has loaded and is the tab's: a page that
// Chromium prerendered (loaded before the user went there) completes for the
// tab when it is shown.
async function documentComplete() {
  if (document.readyState !== 'complete') {
    await new Promise((resolve) => window.addEventListener('load', resolve, {once: true}));
  }
  if (document.prerendering) {
    await new Promise((resolve) => document.addEventListener('prerenderingchange', resolve, {once: true}));
  }
}

// One pass with the tab's session: the worker hands out the saved text and
// the options and holds the tab's other passes back until the updated text
// comes back.
async function withSession(run) {
  const session = await chrome.runtime.sendMessage({type: 'beginPass'});
  if (!session) return;
  let savedSearchText = session.savedSearchText;
  try {
    savedSearchText = run(session).savedSearchText;
  } finally {
    chrome.runtime.sendMessage({type: 'endPass', ticket: session.ticket, savedSearchText});
  }
}

// The painters. The default leaves the page's nodes alone (CSS highlights)
// and takes a document in slices; "Mark with elements" writes the spans the
// product writes, in one pass, never inside editable content. Both take the
// same passes and mark the same matches.
function highlightPainter(engine) {
  const painter = new GlintmarkHighlightPainter(document);
  const paint = (nodes) => painter.paint(nodes);
  return {
    kind: 'highlight',
    sliced: true,
    pass: (input, roots) => engine.highlightDocument(document, {...input, roots, shadow: true, paint}),
    forget: (nodes) => painter.forget(nodes),
    clear: () => painter.clear(),
    hold: () => painter.hold(),
    show: () => painter.show(),
  };
}

function spansPainter(engine, passes) {
  const editable = (node) => node.closest('[contenteditable]:not([contenteditable="false"])');
  return {
    kind: 'spans',
    sliced: false,
    pass(input, roots) {
      // Text already holding our spans would be marked twice.
      if (roots) roots = roots.filter((root) => !root.closest(HIGHLIGHT_SPANS) && !root.querySelector(HIGHLIGHT_SPANS) &&
        !editable(root));
      if (roots && !roots.length) return null;
      return passes.ours(() => engine.highlightDocument(document, {...input, roots, shadow: true, skipEditable: true}));
    },
    forget: () => {},
    clear: () => passes.ours(() => {
      for (const span of document.querySelectorAll(HIGHLIGHT_SPANS)) span.replaceWith(...span.childNodes);
    }),
  };
}

// Adds the matches and tooltips of a slice's report to the whole pass's.
function addReport(whole, slice) {
  whole.keywords.forEach((keyword, i) => {
    keyword.spans += slice.keywords[i]?.spans ?? 0;
  });
  whole.tooltips += slice.tooltips;
  if (slice.domError) whole.domError ??= slice.domError;
}

async function runPagePass() {
  await documentComplete();
  const engine = await GlintmarkEngine.create({prefer: 'auto'});
  glintmarkPass.engineKind = engine.kind;
  let painter = null, input = null;
  // A whole pass made in slices, until its last slice: {report, done(report), ms}.
  let slicing = null;
  const passes = new GlintmarkMutationPasses(document, {
    pass(roots) {
      const report = painter.pass(input, roots);
      if (!report) return;
      if (slicing) addReport(slicing.report, report);
      else glintmarkPass.lastIncremental = report;
      for (const root of report.shadowRoots) passes.watch(root);
      navigations.check();
    },
    removed: (nodes) => painter.forget(nodes),
    idle: () => {
      if (!slicing) return;
      const {report, done, msBefore, ms} = slicing;
      slicing = null;
      painter.show();
      report.milliseconds = {mainThread: ms + passes.stats.ms - msBefore};
      done(report);
    },
  }, {runs: true});
  glintmarkPass.incremental = passes.stats;

  // The pass over the whole document with the session's input (the passes
  // over what changes later repeat it); answers the report the session
  // needs at once, and calls done(report) when the document is marked. A
  // painter that takes slices gets the session's part first (a pass over
  // nothing: the search text depends on the address, referrer, saved text
  // and title alone) and the body's text in slices after it.
  const wholePass = (session, facts, done) => {
    painter ??= session.markWithElements || !GlintmarkHighlightPainter.supported(window)
      ? spansPainter(engine, passes) : highlightPainter(engine);
    glintmarkPass.painter = painter.kind;
    input = {options: session.options, savedSearchText: session.savedSearchText, ...facts};
    glintmarkPass.input = input;
    passes.start();
    if (slicing) passes.idle();  // a whole pass cut short by this one: done with what it marked
    painter.clear();
    const started = performance.now();
    const body = document.body;
    if (!painter.sliced || !body || body.localName !== 'body') {
      const report = painter.pass(input, undefined);
      for (const root of report.shadowRoots) passes.watch(root);
      report.milliseconds.mainThread = performance.now() - started;
      done(report);
      return report;
    }
    painter.hold();
    const report = painter.pass(input, []);
    slicing = {report: structuredClone(report), done, msBefore: passes.stats.ms, ms: performance.now() - started};
    passes.add([body]);
    return report;
  };

  const navigations = GlintmarkNavigation.watch(window, (address, previous) => {
    // The tab went on to another address of this document: a navigation, as
    // a new load would be (a results page saves its new search), its pass
    // with the new address and the old one as referrer.
    if (!input) return;
    passes.pause();
    navigationQueue = navigationQueue.then(() => withSession((session) => {
      passes.resume({drop: true});
      return wholePass(session, {url: address, referrer: previous, title: document.title},
        (report) => glintmarkPass.navigations.push(report));
    })).catch(() => passes.resume());
  });
  let navigationQueue = Promise.resolve();

  await withSession((session) => wholePass(session,
    {url: document.URL, referrer: document.referrer, title: document.title}, (report) => {
      glintmarkPass.report = report;
      glintmarkPass.markedAt = performance.now();  // the load's marks are made (for the benchmark)
    }));
  if (!input) return;  // the page is not in a tab
  // Back and forward bring the page back from the browser's cache without
  // loading it again, but they are navigations of the tab all the same (the
  // browser completed the document again), so the tab's session takes this
  // page's effect again: a results page saves its search anew. The page
  // keeps the marks it has; the pass runs on an empty document with the
  // page's address, referrer and title, which leaves the page as it is.
  window.addEventListener('pageshow', (event) => {
    if (!event.persisted) return;
    glintmarkPass.restoredPasses++;
    withSession((session) => engine.highlightDocument(document.implementation.createHTMLDocument(document.title),
      {options: session.options, savedSearchText: session.savedSearchText, url: input.url, referrer: input.referrer}));
  });
}

runPagePass();
