// The command-line side of the differential: `glintmark highlight` on a page
// file, in UTF-8 (the browser engine's code page), its report put in the
// shape of the engine's report.
import { execFileSync } from 'node:child_process';
import { join } from 'node:path';
import { ROOT } from './browser.mjs';

export const TOOL = process.env.GLINTMARK_TOOL || join(ROOT, 'build/native/tools/glintmark/glintmark');

export function glintmark(...args) {
  return execFileSync(TOOL, args, { encoding: 'utf8', maxBuffer: 256 << 20 });
}

// highlightFile(page, out, {url, referrer, options, savedSearchText}) -> the
// report, as the engine's highlightDocument gives it.
export function highlightFile(page, out, { url, referrer, options = 13, savedSearchText = null }) {
  const args = ['highlight', page, '--url', url, '--options', String(options),
    '--codepage', '65001', '--json', '-o', out];
  if (referrer !== undefined) args.push('--referrer', referrer);
  if (savedSearchText !== null) args.push('--saved', savedSearchText);
  const report = JSON.parse(glintmark(...args));
  return reportFields({ ...report, status: Number.parseInt(report.result, 16) >>> 0, text: report.searchText });
}

// reportFields(report): the fields both reports share, to compare them.
export function reportFields({ status, savedSearchText, source, text, fromTitle, keywords, tooltips }) {
  return { status, savedSearchText, source, text, fromTitle,
    keywords: keywords.map(({ word, colour, spans }) => ({ word, colour, spans })), tooltips };
}
