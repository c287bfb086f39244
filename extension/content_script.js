// Glintmark's content script: the page pass of one document, top document or
// frame, when it has completed loading (the browser's DocumentComplete),
// with the tab's session and the engine of the service worker (marked
// early, while its images and frames still load, where that cannot differ:
// runPagePass); then passes
// over what the page adds or changes (mutation_passes.js), and a pass for
// each navigation the page makes without loading (navigation.js). Marks are
// painted by painter_highlight.js, or written as spans ("Mark with
// elements").
//
// No engine here: the build puts web/protocol.js, web/options_word.js,
// web/page.js (GlintmarkPage: the walk of a document into the engine's
// request, and the DOM work of its answer) and the modules above before this
// file. The worker first passes over the document's address, referrer and
// title alone, which decides the keywords and updates the tab's session; the
// document's body is sent only when there are keywords to mark, and its
// links' addresses only when links get tooltips.

// Our spans, as the spans painter writes them.
const HIGHLIGHT_SPANS = 'span[style^="color:black;background-color:"]';
// A document that changes while the worker runs the pass over its
// description is described again, at most this many times, before its
// spans are written: the answer's nodes by number would no longer be the
// page's. (Marks painted over the page's text need no such care: text that
// changed meanwhile is searched again by the next incremental pass.)
const MAX_DESCRIBES = 3;

// What this document's passes did: the input of the latest navigation's
// pass (the load's, or a same-document navigation's), the engine's kind, the
// painter, the load's report, each same-document navigation's report, the
// whole passes that titles set late brought, the incremental passes'
// figures and the latest one's report, the time this script spent on the
// page's main thread (describing; applying and painting; the longest of
// those steps), in ms, why a request could not be sent, when the pass that
// made the load's marks began, when they were all made (before the load
// when marked early: earlyMarkedAt is set then, markedAt when the load kept
// them) and when the frame that shows them was rendered, and for the whole
// passes, where their time went (ms: walking the page, waiting for the
// worker's answer and, of that, the worker's pass; painting, and of it the
// marks before the links' tooltips); and the strip's option as the worker
// gave it.
const glintmarkPass = {input: null, engineKind: null, painter: null, report: null, navigations: [],
  incremental: null, lastIncremental: null, restoredPasses: 0, titlePasses: 0, marksStrip: true,
  milliseconds: {describe: 0, apply: 0, longest: 0, steps: {}},
  error: null, startedAt: null, markedAt: null, earlyMarkedAt: null, shownAt: null, profile: []};

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

// A frame the page made without an address (about:blank, or written after
// document.open, which gives it the writer's address) has the address of the
// document that made it as its referrer, as Chromium gives it; Firefox gives
// none, which reads as an address typed in: no keywords, saved search ended.
function referrer() {
  const maker = document.referrer ? null : window.frameElement?.ownerDocument.URL;
  return maker && (document.URL.startsWith('about:') || document.URL === maker) ? maker : document.referrer;
}
const facts = () => ({url: document.URL, referrer: referrer(), title: document.title,
  bodyKind: GlintmarkPage.bodyKind(document)});
// Adds the time since `started` to this script's main-thread time; `step`
// names the step for the longest of each kind (milliseconds.steps).
function spent(what, started, step = what) {
  const ms = performance.now() - started;
  const times = glintmarkPass.milliseconds;
  times[what] += ms;
  times.longest = Math.max(times.longest, ms);
  times.steps[step] = Math.max(times.steps[step] ?? 0, ms);
}
let typedMessages = false;
const wantsLinks = (input) => (input.options & GlintmarkOptionsWord.linkTooltips) !== 0;

// Custom elements met undefined are looked at for a shadow root after
// HOST_LOOK_MS, then twice as long each time up to HOST_LOOK_MAX_MS, until
// HOST_LOOK_FOR_MS after the last one was met (then after the page's
// changes, at most every HOST_LOOK_MAX_MS).
const HOST_LOOK_MS = 50;
const HOST_LOOK_MAX_MS = 2000;
const HOST_LOOK_FOR_MS = 60000;
// A same-document navigation is read (its address, title) once the page
// has rendered it, or after this long where no frame is rendered.
const NAVIGATION_RENDER_MS = 100;
// A title set this long after the load's pass or a navigation's is theirs
// (an app names its view once the view's data has come): read again, at
// most TITLE_READS times.
const TITLE_LATE_MS = 3000;
const TITLE_READS = 5;
// A document still loading this long after its content is complete is
// marked before it completes (runPagePass).
const EARLY_AFTER_MS = 100;

// The main-thread work of a whole pass (walking the document, painting the
// answer) goes in slices of about SLICE_MS, the page running between them;
// the walk's slices make one request, so the worker is waited for once.
const SLICE_MS = 8;
// The links' tooltips set in one step of a whole pass (pairs of a link's
// number and its title: about 2 ms of an idle machine's time).
const TITLES_PER_STEP = 512;
// A walk that has not ended after this many slices (a page that keeps
// moving the nodes it has not reached yet) takes the rest in one piece.
const MAX_SLICES = 2000;
// Lets the page run: scheduler.yield() where there is one (the rest of the
// pass goes before the page's other tasks queued since), else a message to
// ourselves (not held back as nested timers are).
function yieldToPage() {
  if (typeof globalThis.scheduler?.yield === 'function') return globalThis.scheduler.yield();
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => resolve();
    channel.port2.postMessage(null);
  });
}

// About how many bytes of a request go in one message. Copying a message
// out of the page takes the page's thread some 4 ms per MB: a larger
// request (a long document: a log, a whole book or manual on one page) goes in
// pieces of this size, each in a slice of its own, over a port to the
// worker, which joins them.
const PIECE_BYTES = 1 << 20;
const PIECED = ['text', 'ops', 'links'];
const requestBytes = (request) => request.text.length * 2 + (request.ops.length + request.links.length) * 4;
function piecesOf(value, bytesPerUnit) {
  const size = Math.max(1, Math.floor(PIECE_BYTES / bytesPerUnit));
  const out = [];
  for (let at = 0; at < value.length; at += size) out.push(value.slice(at, at + size));
  return out;
}
// Sends `request` over a port in pieces (its text, records and links, then
// the rest), the page running between two; answers the worker's answer.
// `started`, when this slice of the page's thread began.
async function sendInPieces(request, started) {
  const port = chrome.runtime.connect({name: 'passPieces'});
  const answered = new Promise((resolve, reject) => {
    port.onMessage.addListener((answer) => {
      resolve(answer);
      port.disconnect();
    });
    port.onDisconnect.addListener(() => reject(new Error('the worker went away during the pass')));
  });
  answered.catch(() => {});
  const rest = {...request};
  for (const field of PIECED) {
    const value = request[field];
    rest[field] = typeof value === 'string' ? '' : value.slice(0, 0);
    for (const piece of piecesOf(value, typeof value === 'string' ? 2 : 4)) {
      port.postMessage({field, piece});
      spent('describe', started, 'send');
      await yieldToPage();
      started = performance.now();
    }
  }
  port.postMessage({request: rest});
  spent('describe', started, 'send');
  return answered;
}

// Describes the document (or `needs.roots` of it) with `input`, sends the
// request to the worker: {page, answer}, or null when it did not answer.
// `sliced`, the walk of a whole pass: in slices, each shadow root the walk
// enters given to `watch` at once (changes in it are noted from then on).
async function sendPass(input, needs, {sliced = false, watch = () => {}} = {}) {
  const walkStarted = performance.now();
  let started = walkStarted;
  const describing = GlintmarkPage.describer(document, input, needs);
  let watched = 0;
  for (let slices = 1; ; ++slices) {
    const done = describing.step(sliced && slices < MAX_SLICES ? started + SLICE_MS : Infinity);
    while (watched < describing.page.shadowRoots.length) watch(describing.page.shadowRoots[watched++]);
    spent('describe', started, 'walk');
    if (done) break;
    await yieldToPage();
    started = performance.now();
  }
  started = performance.now();
  const {request, page} = describing.finish({typed: typedMessages});
  // The matches as ranges over the walk's text nodes (the worker reads the
  // changes), for a painter that leaves the nodes alone.
  if (needs.ranges) request.ranges = true;
  // A whole pass's marks are the frame's: the worker counts them for the
  // badge (the marks registry tells it only a count that differs).
  if (needs.ranges && sliced) request.whole = true;
  // A request the browser refuses (a page of some hundreds of MB) fails
  // here; the page stays as it is.
  const failed = (error) => {
    glintmarkPass.error = String(error && error.message || error);
    return null;
  };
  let sent;
  try {
    if (requestBytes(request) <= PIECE_BYTES * 2) {
      sent = chrome.runtime.sendMessage({type: 'pass', request}).catch(failed);
    } else {
      // Its slices count their own time.
      sent = sendInPieces(request, started).catch(failed);
      started = performance.now();
    }
  } catch (error) {
    sent = Promise.resolve(failed(error));
  }
  spent('describe', started, 'send');
  const sentAt = performance.now();
  const answer = await sent;
  if (sliced) glintmarkPass.profile.push({walk: sentAt - walkStarted, wait: performance.now() - sentAt, worker: answer?.ms});
  return answer && {page, answer};
}

// Whether `element` is inside editable content: a document in design mode,
// or under an element whose nearest contenteditable is not "false".
function inEditable(element) {
  if (element.ownerDocument.designMode === 'on') return true;
  const editing = element.closest('[contenteditable]');
  return editing !== null && editing.getAttribute('contenteditable') !== 'false';
}

// The engine's tooltips ([link number, title] pairs) without those of links
// inside editable content (an editor's draft, a document in design mode):
// the attribute would go into what the editor saves.
function uneditedTitles(page, titles) {
  if (!titles.length) return titles;
  const doc = page.doc ?? document;
  if (doc.designMode !== 'on' && !doc.querySelector('[contenteditable]')) return titles;
  const out = [];
  for (let j = 0; j + 1 < titles.length; j += 2) {
    if (!inEditable(page.links[titles[j]])) out.push(titles[j], titles[j + 1]);
  }
  return out;
}

// The painters. The default leaves the page's nodes alone (CSS highlights);
// "Mark with elements" writes the spans the product writes, never inside
// editable content. Both take the same passes and mark the same matches.
// pass(input, roots, current, watch): a pass over `roots`, or with none
// the whole document (in slices; `current()` false when a newer whole pass
// has begun meanwhile, `watch` as sendPass's); answers its report.
function highlightPainter() {
  const painter = new GlintmarkHighlightPainter(document);
  return {
    kind: 'highlight',
    async pass(input, roots, current = () => true, watch) {
      const sliced = !roots;
      const sent = await sendPass(input, {body: true, links: wantsLinks(input), rawLinks: true, roots,
        shadow: GlintmarkShadows.rootOf, ranges: true}, {sliced, watch});
      if (!sent || !current()) return null;
      const {page, answer} = sent;
      let started = performance.now();
      const paintStarted = started;
      // The marks as ranges over the page's text nodes, painted in slices.
      // Text the page changed since the walk is searched again by the
      // incremental passes, after its marks from this answer are taken
      // away.
      const marks = GlintmarkHighlightPainter.marksOf(page, answer);
      if (sliced) painter.hold();
      // A whole pass's marks come in document order, which the marks registry
      // then takes as it is; text in shadow trees it orders its own way.
      const ordered = sliced && !page.shadowRoots.length;
      try {
        for (let at = 0; ;) {
          at = painter.add(marks, at, sliced ? started + SLICE_MS : Infinity, ordered);
          if (at >= marks.length) break;
          spent('apply', started, 'paint');
          await yieldToPage();
          if (!current()) return null;
          started = performance.now();
        }
      } finally {
        painter.show();
      }
      // The marks are all made now; the tooltips are not marks.
      const markedAt = performance.now();
      if (sliced && glintmarkPass.profile.length) glintmarkPass.profile.at(-1).marks = markedAt - paintStarted;
      spent('apply', started, 'paint');
      // The links' tooltips are the page's own attributes, set in slices
      // too (a page may have thousands of links).
      started = performance.now();
      let domError = null;
      const titles = uneditedTitles(page, answer.titles);
      for (let at = 0; at < titles.length; at += TITLES_PER_STEP) {
        const error = GlintmarkPage.apply(page, {changes: [], made: [],
          titles: titles.slice(at, at + TITLES_PER_STEP)});
        domError ||= error;
        if (!sliced || at + TITLES_PER_STEP >= titles.length) continue;
        spent('apply', started, 'tooltips');
        await yieldToPage();
        if (!current()) return null;
        started = performance.now();
      }
      spent('apply', started, 'tooltips');
      if (sliced && glintmarkPass.profile.length) glintmarkPass.profile.at(-1).paint = performance.now() - paintStarted;
      if (domError) answer.report.domError = domError;
      Object.defineProperty(answer.report, 'shadowRoots', {value: page.shadowRoots});
      Object.defineProperty(answer.report, 'undefinedHosts', {value: page.undefinedHosts});
      Object.defineProperty(answer.report, 'markedAt', {value: markedAt});
      if (answer.counted !== undefined) Object.defineProperty(answer.report, 'counted', {value: answer.counted});
      return answer.report;
    },
    forget: (nodes) => painter.forget(nodes),
    clear: () => painter.clear(),
    edited: () => painter.edited(),
    takeJournal: () => painter.takeJournal(),
  };
}

function spansPainter(passes) {
  const isSpan = (node) => node.nodeType === 1 && node.matches(HIGHLIGHT_SPANS);
  // Takes our spans out of `node` (itself one, or those inside it, in the
  // shadow trees it holds too, of `shadows`): their text goes back in their
  // place; `into` gets what is then in the node's place.
  const unwrap = (node, shadows, into = null) => {
    if (isSpan(node)) {
      into?.push(...node.childNodes);
      node.replaceWith(...node.childNodes);
      return;
    }
    into?.push(node);
    if (node.nodeType !== 1) return;
    for (const span of node.querySelectorAll(HIGHLIGHT_SPANS)) span.replaceWith(...span.childNodes);
    for (const root of shadows) {
      if (node.contains(root.host)) for (const span of root.querySelectorAll(HIGHLIGHT_SPANS)) unwrap(span, []);
    }
  };
  // The roots of a pass over what the page changed, made ready for spans:
  // text marked already would be marked twice, so a root that holds our
  // spans has them taken out and is searched whole again (the page changed
  // text beside a mark: a word may now run across both), and a change
  // inside one of our spans searches its block. Roots in editable content
  // go. A root is a node, or a run of sibling nodes (text among them).
  const unmarkedRoots = (roots) => {
    const out = [], grown = new Set();
    for (let root of roots) {
      const first = Array.isArray(root) ? root[0] : root;
      const element = first?.nodeType === 1 ? first : first?.parentElement;
      if (!first || !first.isConnected || (element && inEditable(element))) continue;
      const inside = element?.closest(HIGHLIGHT_SPANS);
      if (inside) {
        // In a shadow tree the block may be the host's, outside it: left.
        if (inside.getRootNode() !== document) continue;
        root = GlintmarkMutationPasses.blockOf(inside) ?? inside.parentNode;
        if (!root || root.nodeType !== 1 || grown.has(root)) continue;
        grown.add(root);
      }
      out.push(root);
    }
    // The passes' roots do not overlap; one that grew to its block may hold
    // others (or another grown one): searched once, in it.
    const heldByGrown = (root) => {
      const first = Array.isArray(root) ? root[0] : root;
      for (const block of grown) if (block !== root && block.contains(first)) return true;
      return false;
    };
    const kept = grown.size ? out.filter((root) => !heldByGrown(root)) : out;
    const shadows = GlintmarkMarks.shadowRoots;
    return kept.map((root) => {
      if (!Array.isArray(root) && !isSpan(root)) {
        unwrap(root, shadows);
        return root;
      }
      const run = [];
      for (const node of Array.isArray(root) ? root : [root]) unwrap(node, shadows, run);
      return run;
    }).filter((root) => !Array.isArray(root) || root.length > 0);
  };
  return {
    kind: 'spans',
    async pass(input, roots, current = () => true, watch) {
      if (roots) {
        roots = passes.ours(() => unmarkedRoots(roots));
        if (!roots.length) return null;
      }
      for (let attempt = 1; ; ++attempt) {
        const changed = new MutationObserver(() => {});
        if (document.documentElement) {
          changed.observe(document.documentElement, {childList: true, characterData: true, subtree: true});
        }
        // The last attempt walks in one piece: a page that changes all the
        // time may still leave it a moment.
        const sent = await sendPass(input, {body: true, links: wantsLinks(input), rawLinks: true, roots,
          shadow: GlintmarkShadows.rootOf, skipEditable: true}, {sliced: !roots && attempt < MAX_DESCRIBES, watch});
        const moved = changed.takeRecords().length > 0;
        changed.disconnect();
        if (!sent || !current()) return null;
        const {page, answer} = sent;
        if (moved && attempt < MAX_DESCRIBES) continue;
        if (moved) return {...answer.report, domError: 'the page kept changing during the pass'};
        const started = performance.now();
        const domError = passes.ours(() => GlintmarkPage.apply(page,
          {...answer, titles: uneditedTitles(page, answer.titles)}));
        spent('apply', started);
        if (!roots && glintmarkPass.profile.length) glintmarkPass.profile.at(-1).paint = performance.now() - started;
        if (domError) answer.report.domError = domError;
        Object.defineProperty(answer.report, 'shadowRoots', {value: page.shadowRoots});
        Object.defineProperty(answer.report, 'undefinedHosts', {value: page.undefinedHosts});
        return answer.report;
      }
    },
    forget: () => {},
    // Our spans in the document and in the shadow roots passes searched.
    clear: () => passes.ours(() => {
      for (const root of [document, ...GlintmarkMarks.shadowRoots]) {
        for (const span of root.querySelectorAll(HIGHLIGHT_SPANS)) span.replaceWith(...span.childNodes);
      }
    }),
  };
}

// After each pass, whole or incremental, and each removal of marked text:
// the marks registry reads the marks again (the popup's counts, the badge,
// stepping) and the strip beside the scrollbar follows. `report`, a whole
// pass's, gives the words.
function marksPassed(report) {
  if (!marksPassed.started) {
    marksPassed.started = true;
    GlintmarkStrip.start(glintmarkPass.marksStrip);
  }
  GlintmarkMarks.refresh(report);
}

async function runPagePass() {
  let painter = null, input = null;
  // Set when the document has completed and its pass proper has begun.
  let completed = false;
  // Counts whole passes: an answer to a pass begun before the latest whole
  // pass (a navigation's) is dropped.
  let generation = 0;
  // Whether the page's changes are followed: its latest whole pass found
  // keywords, or links to give tooltips.
  let watching = false;
  const passes = new GlintmarkMutationPasses(document, {
    async pass(roots) {
      const begun = generation;
      const report = await painter.pass(input, roots, () => begun === generation);
      if (begun !== generation) return;
      if (!report) return;
      glintmarkPass.lastIncremental = report;
      if (marksEdited()) marksPassed(null);
      followShadows(report);
      navigations.check();
    },
    removed: (nodes) => {
      painter.forget(nodes);
      if (marksEdited()) marksPassed(null);
    },
  }, {runs: true});
  glintmarkPass.incremental = passes.stats;
  // Whether marks were made or taken away since the marks were last read
  // (a painter that cannot tell: always). They are read again only then: a
  // page that keeps changing text without marks (a clock, a counter) would
  // have them all read at every change, some ms on a long page.
  const marksEdited = () => painter.edited?.() ?? true;
  // A shadow root the passes searched: its changes are noted, its spans
  // are marks.
  const watch = (root) => {
    passes.watch(root);
    GlintmarkMarks.addShadowRoot(root);
  };
  // Custom elements a pass met before they were defined: a page's
  // components often are, by a module that loads after the page, and the
  // shadow root each then attaches comes with no change the observer sees.
  // They are looked at on a timer that slows down (HOST_LOOK_MS doubling up
  // to HOST_LOOK_MAX_MS) for HOST_LOOK_FOR_MS after the last one was met,
  // then after the page's changes (a component defined later comes with
  // some), at most every HOST_LOOK_MAX_MS. One that has a shadow root now
  // has it watched, and its block searched again (as the host renders it);
  // one defined without one, or taken out of the page, is forgotten (put
  // back, it is walked again).
  // By name: a name is defined for all its elements in the page at once,
  // so one of them, still in the page, tells for all.
  const undefinedHosts = new Map();
  let hostTimer = 0, hostWait = HOST_LOOK_MS, hostsMetAt = 0, hostsLookedAt = 0;
  const lookAtHosts = () => {
    clearTimeout(hostTimer);
    hostTimer = 0;
    hostsLookedAt = performance.now();
    for (const [name, hosts] of undefinedHosts) {
      let defined = false;
      for (const host of hosts) {
        if (!host.isConnected) {
          hosts.delete(host);
          continue;
        }
        defined = GlintmarkShadows.rootOf(host) !== null || host.matches(':defined');
        break;
      }
      if (!defined) {
        if (!hosts.size) undefinedHosts.delete(name);
        continue;
      }
      undefinedHosts.delete(name);
      for (const host of hosts) {
        const root = GlintmarkShadows.rootOf(host);
        if (!root || !host.isConnected) continue;
        watch(root);
        // Spans are not taken away to search a block again: there the
        // shadow tree's own content is searched, as new text (what its
        // slots show was searched with the host).
        if (painter?.kind !== 'spans') passes.changed(host);
        else if (root.firstChild) passes.add([[...root.childNodes]]);
      }
    }
    if (!undefinedHosts.size || hostsLookedAt - hostsMetAt > HOST_LOOK_FOR_MS) return;
    hostTimer = setTimeout(lookAtHosts, hostWait);
    hostWait = Math.min(hostWait * 2, HOST_LOOK_MAX_MS);
  };
  // After a pass: its open shadow roots watched, its undefined hosts noted.
  const followShadows = (report) => {
    for (const root of report?.shadowRoots ?? []) watch(root);
    const hosts = report?.undefinedHosts ?? [];
    if (hosts.length) {
      for (const host of hosts) {
        const named = undefinedHosts.get(host.localName);
        if (named) named.add(host);
        else undefinedHosts.set(host.localName, new Set([host]));
      }
      hostsMetAt = performance.now();
      hostWait = HOST_LOOK_MS;
      clearTimeout(hostTimer);
      hostTimer = setTimeout(lookAtHosts, hostWait);
    } else if (undefinedHosts.size && !hostTimer && performance.now() - hostsLookedAt > HOST_LOOK_MAX_MS) {
      lookAtHosts();
    }
  };

  // The pass over the whole document with `input` (the session's options
  // and saved text, and the document's facts); `planned`, the report of the
  // worker's pass over the facts alone, which chose the keywords and updated
  // the session. done(report) is called when the document is marked. The
  // walk goes in slices, and the page runs between them and while the
  // worker works: what it changes meanwhile is noted, and searched again
  // once the document is marked (the incremental passes wait till then).
  // The passes over what changes later repeat the input.
  async function wholePass(session, planned, done) {
    painter ??= session.markWithElements || !GlintmarkHighlightPainter.supported(window)
      ? spansPainter(passes) : highlightPainter();
    glintmarkPass.painter = painter.kind;
    if (painter.takeJournal) GlintmarkMarks.followEdits(painter.takeJournal);
    const begun = ++generation;
    painter.clear();
    if (!planned.keywords.length && !(wantsLinks(input) && document.getElementsByTagName('a').length)) {
      // Nothing to mark, no tooltip to set: nothing of the page is sent, now
      // or later.
      passes.stop();
      undefinedHosts.clear();
      watching = false;
      done(planned);
      return;
    }
    passes.start();
    watching = true;
    passes.pause();
    let report = null;
    try {
      report = await painter.pass(input, undefined, () => begun === generation, watch);
    } finally {
      if (begun === generation) passes.resume({soon: true});
    }
    if (begun !== generation) return;
    followShadows(report);
    done(report ?? planned);
  }

  // The session's part: the tab's saved text and options, the worker's pass
  // over the document's facts (address, referrer, title); `type` 'planPass'
  // for the same answer with the session left as it is.
  const begin = async (documentFacts, type = 'beginPass') => {
    const begun = await chrome.runtime.sendMessage({type, ...documentFacts});
    if (!begun) return null;
    glintmarkPass.engineKind = begun.engineKind;
    glintmarkPass.marksStrip = begun.marksStrip !== false;
    // Messages carry typed arrays as they are (structured clone: Firefox,
    // and Chromium with the manifest's message_serialization), not as JSON:
    // the request's integers go as one block then.
    typedMessages = ArrayBuffer.isView(begun.typed);
    input = {options: begun.options, savedSearchText: begun.savedSearchText, url: documentFacts.url,
      referrer: documentFacts.referrer, title: documentFacts.title};
    glintmarkPass.input = input;
    return begun;
  };

  // The tab went on to another address of this document: a navigation, as
  // a new load would be (a results page saves its new search), its pass
  // with the new address and the old one as referrer. Navigations that come
  // while one is being passed wait as one, the latest (a page that rewrites
  // its address as it scrolls or plays makes dozens a second), with the
  // address the last one passed left as referrer. Where the navigation keeps
  // the keywords and options the page is marked with, and its changes are
  // followed, its marks stand: the page's changes that came with it are the
  // incremental passes' (a whole pass would take every mark away and make
  // it again). A page that had nothing to mark and no link is passed whole:
  // the navigation may have brought links.
  let navigating = false, waitingNavigation = null, markedWith = null;
  // When the next frame has been rendered (the app's render, its effects,
  // its title), or NAVIGATION_RENDER_MS in a tab that renders no frame.
  const navigationRendered = () => Promise.race([whenShown(),
    new Promise((resolve) => setTimeout(resolve, NAVIGATION_RENDER_MS))]);
  const sameKeywords = (a, b) => a.length === b.length &&
    a.every((keyword, i) => keyword.word === b[i].word && keyword.colour === b[i].colour);
  const onNavigation = (address, previous) => {
    if (!completed || !input) return;
    waitingNavigation = {address, previous: waitingNavigation?.previous ?? previous};
    if (navigating) return;
    navigating = true;
    (async () => {
      while (waitingNavigation) {
        // The page renders its new view (and names it: apps set the title
        // with it) before the navigation is read.
        await navigationRendered();
        const {address, previous} = waitingNavigation;
        waitingNavigation = null;
        passes.pause();
        const begun = await begin({...facts(), url: address, referrer: previous}).catch(() => null);
        // What the page is marked with once the worker has answered: the
        // load's pass may have ended meanwhile.
        const before = markedWith;
        if (begun && before && watching && before.options === begun.options &&
            sameKeywords(before.keywords, begun.report.keywords)) {
          passes.resume();
          // The facts pass's report, with the counts the standing marks were
          // made with.
          glintmarkPass.navigations.push({...begun.report, keywords: before.keywords});
          followTitle();
          continue;
        }
        passes.resume({drop: true});
        if (begun) {
          await wholePass(begun, begun.report, (report) => {
            glintmarkPass.navigations.push(report);
            markedWith = {options: begun.options, keywords: begun.report.keywords};
            marksPassed(report);
            followTitle();
          });
        }
      }
    })().catch(() => passes.resume()).finally(() => {
      navigating = false;
      // One that came while a pass failed is not left waiting for the next.
      if (waitingNavigation) {
        const {address, previous} = waitingNavigation;
        waitingNavigation = null;
        onNavigation(address, previous);
      }
    });
  };
  const navigations = GlintmarkNavigation.watch(window, onNavigation);

  // A title the page sets within TITLE_LATE_MS of the load's pass or a
  // navigation's (an app that names its view once its data has come, after
  // a frame) is read as theirs: the pass is planned again with it, the
  // session left as it is, and where that changes the keywords or options
  // the page is marked with (an address typed in: the title's words), the
  // document is passed again. A navigation reads the title itself.
  let titleSeen = null, titleReads = 0, titleObserver = null, titleTimer = 0, retitling = false;
  const stopTitle = () => {
    titleObserver?.disconnect();
    titleObserver = null;
    clearTimeout(titleTimer);
  };
  const followTitle = () => {
    stopTitle();
    titleSeen = document.title;
    titleReads = 0;
    const head = document.head ?? document.documentElement;
    if (!head) return;
    titleObserver = new MutationObserver(() => {
      if (document.title !== titleSeen) retitle();
    });
    titleObserver.observe(head, {childList: true, characterData: true, subtree: true});
    titleTimer = setTimeout(stopTitle, TITLE_LATE_MS);
  };
  const retitle = async () => {
    if (retitling) return;
    retitling = true;
    try {
      while (titleObserver && document.title !== titleSeen && !navigating && !waitingNavigation) {
        if (++titleReads > TITLE_READS) {
          stopTitle();
          break;
        }
        await navigationRendered();
        if (navigating || waitingNavigation || !titleObserver) break;
        titleSeen = document.title;
        const passed = input;
        passes.pause();
        const planned = await begin({...facts(), url: passed.url, referrer: passed.referrer}, 'planPass')
          .catch(() => null);
        const before = markedWith;
        if (!planned || navigating || waitingNavigation) {
          // A navigation came meanwhile: its own pass reads the title (and
          // gives the input, unless it is still ours).
          if (planned && input.url === passed.url && input.referrer === passed.referrer) input = passed;
          passes.resume();
          break;
        }
        if (before && before.options === planned.options && sameKeywords(before.keywords, planned.report.keywords)) {
          passes.resume();
          continue;
        }
        passes.resume({drop: true});
        await wholePass(planned, planned.report, (report) => {
          glintmarkPass.titlePasses++;
          markedWith = {options: planned.options, keywords: planned.report.keywords};
          marksPassed(report);
        });
      }
    } finally {
      retitling = false;
    }
  };

  // The end of the frame that shows marks just made (the benchmark's "seen
  // from the page"): a task after the next frame's rendering.
  const whenShown = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(() => {
    resolve(performance.now());
  })));
  const loadMarked = (report, at = report.markedAt ?? performance.now(), shown = whenShown(),
    startedAt = loadStartedAt) => {
    glintmarkPass.startedAt = startedAt;
    glintmarkPass.report = report;
    markedWith = {options: input.options, keywords: report.keywords};
    glintmarkPass.markedAt = at;
    marksPassed(report);
    followTitle();
    shown.then((shownAt) => {
      glintmarkPass.shownAt = shownAt;
    });
  };

  // A document that has its content but still loads images or frames (often
  // for seconds) is marked early with what its pass will be when it
  // completes: the worker plans it with the tab's session as it stands,
  // changing nothing. When it completes, its pass proper begins, in the
  // session's order as ever; if that finds the same input (the session, the
  // options, address, referrer and title unchanged meanwhile, as they
  // nearly always are) the marks stand, the page's changes since having
  // been searched by the incremental passes; if not, the document is marked
  // anew. Only the highlights painter marks early: it changes no node of the
  // page, which the page's own load handlers may expect as it was served.
  const sameInput = (a, b) => a && b && a.options === b.options && a.savedSearchText === b.savedSearchText &&
    a.url === b.url && a.referrer === b.referrer && a.title === b.title;
  let early = null, earlyInput = null;
  if (document.readyState === 'interactive' && !document.prerendering) {
    early = (async () => {
      // Most documents complete moments after their content: they are passed
      // then, with one round trip to the worker instead of two.
      const completes = new Promise((resolve) => window.addEventListener('load', resolve, {once: true}));
      const waited = new Promise((resolve) => setTimeout(resolve, EARLY_AFTER_MS, 'waited'));
      if (await Promise.race([completes, waited]) !== 'waited' || document.readyState === 'complete') return null;
      const startedAt = performance.now();
      const planned = await begin(facts(), 'planPass');
      if (!planned || planned.markWithElements || !GlintmarkHighlightPainter.supported(window)) return null;
      earlyInput = input;
      let marked = null;
      await wholePass(planned, planned.report, (report) => {
        marked = {report, at: report.markedAt ?? performance.now(), shown: whenShown(), startedAt};
        glintmarkPass.earlyMarkedAt = marked.at;
        marksPassed(report);
      });
      return marked;
    })().catch(() => null);
  }

  await documentComplete();
  let loadStartedAt = performance.now();
  const begun = await begin(facts());
  completed = true;
  if (!begun) return;  // the page is not in a tab
  // Back and forward bring the page back from the browser's cache without
  // loading it again, but they are navigations of the tab all the same (the
  // browser completed the document again), so the tab's session takes this
  // page's effect again: a results page saves its search anew. The page
  // keeps the marks it has: only its address, referrer and title go to the
  // worker, as of an empty document. A page left before its load's marks
  // were made (Firefox drops an answer that comes while the page is in the
  // cache) is marked then.
  window.addEventListener('pageshow', async (event) => {
    if (!event.persisted) return;
    glintmarkPass.restoredPasses++;
    const restored = {url: input.url, referrer: input.referrer, title: document.title,
      bodyKind: GlintmarkProtocol.BodyKind.body};
    if (glintmarkPass.markedAt !== null) {
      chrome.runtime.sendMessage({type: 'beginPass', ...restored}).catch(() => {});
      return;
    }
    loadStartedAt = performance.now();
    const again = await begin(restored).catch(() => null);
    if (again) await wholePass(again, again.report, loadMarked);
  });
  const passesBefore = generation;
  const marked = sameInput(earlyInput, input) && !glintmarkPass.error ? await early : null;
  if (marked && !glintmarkPass.error) loadMarked(marked.report, marked.at, marked.shown, marked.startedAt);
  else if (generation === passesBefore) await wholePass(begun, begun.report, loadMarked);
  // (else a navigation of the document began a newer pass meanwhile)
}

runPagePass();
