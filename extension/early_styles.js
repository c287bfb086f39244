// At each document's start, before the page is first styled: the highlight
// painter's style sheet (HighlightPainter.prepare). Runs before
// content_script.js, in the same world, after painter_highlight.js.
if (GlintmarkHighlightPainter.supported(window)) GlintmarkHighlightPainter.prepare(document, {early: true});
