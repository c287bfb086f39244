// The web of the extension's session test: a search engine on 127.0.0.1 and
// a site on 127.0.0.2 (another site, so Chromium cuts the referrer of a link
// from the engine to the engine's origin), on testing/browser's loopback server.
//
//   const web = await startSites();   // web.engine, web.site: the origins
//
// Pages come from pages/ with {{ENGINE}} and {{SITE}} replaced by the two
// origins; web.render(name) gives the bytes served, for the command-line
// tool. The engine answers /search and /find (its results pages); the site
// serves every page, strict.html with "Content-Security-Policy: script-src 'none'".
import fs from 'node:fs';
import path from 'node:path';
import {fileURLToPath} from 'node:url';
import {startServer} from '../../testing/browser/server.mjs';

const pages = path.join(path.dirname(fileURLToPath(import.meta.url)), 'pages');
const policy = {'strict.html': {'Content-Security-Policy': "script-src 'none'"}};

export async function startSites() {
  const engine = await startServer();
  const site = await startServer({host: '127.0.0.2'});
  const render = (name) => fs.readFileSync(path.join(pages, name), 'utf8')
    .replaceAll('{{ENGINE}}', engine.origin).replaceAll('{{SITE}}', site.origin);
  // A results page the browser may keep in its page cache for the way back:
  // Firefox keeps no page served with "no-store" there.
  engine.serve('/search', {body: render('results.html'), headers: {'Cache-Control': 'no-cache'}});
  engine.serve('/find', {body: render('glacier-results.html')});
  for (const name of fs.readdirSync(pages)) site.serve(`/${name}`, {body: render(name), headers: policy[name]});
  return {
    engine: engine.origin,
    site: site.origin,
    render,
    close: () => Promise.all([engine.close(), site.close()]),
  };
}
