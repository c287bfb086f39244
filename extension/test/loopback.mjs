// The extension tests' world: a search engine and a web site on two loopback
// origins, and a headless Chromium with the extension loaded.
//
//   const web = await startWeb();        // web.engine, web.site: origins
//   const browser = await launchChromium(extensionDir);
//
// Pages come from pages/ with {{ENGINE}} and {{SITE}} replaced by the two
// origins; web.render(name) gives the bytes served, for the page pass's
// command-line tool. The engine answers /search and /find (its results pages);
// strict.html is served with "Content-Security-Policy: script-src 'none'".
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import {createRequire} from 'node:module';

const here = path.dirname(new URL(import.meta.url).pathname);
const pages = path.join(here, 'pages');
export const CHROMIUM = process.env.GLINTMARK_CHROMIUM ?? '/usr/bin/chromium';

function listen(host, handler) {
  return new Promise((resolve, reject) => {
    const server = http.createServer(handler);
    server.on('error', reject);
    server.listen(0, host, () => resolve(server));
  });
}

export async function startWeb() {
  const origins = {};
  const render = (name) =>
    fs.readFileSync(path.join(pages, name), 'utf8')
      .replaceAll('{{ENGINE}}', origins.engine).replaceAll('{{SITE}}', origins.site);
  const serve = (route) => (request, response) => {
    const url = new URL(request.url, 'http://host');
    const name = route(url.pathname);
    if (!name || !fs.existsSync(path.join(pages, name))) {
      response.writeHead(url.pathname === '/favicon.ico' ? 204 : 404).end();
      return;
    }
    const headers = {'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store'};
    if (name === 'strict.html') headers['Content-Security-Policy'] = "script-src 'none'";
    response.writeHead(200, headers).end(render(name));
  };
  const results = {'/search': 'results.html', '/find': 'glacier-results.html'};
  const engine = await listen('127.0.0.1', serve((p) => results[p]));
  // A second loopback address is a second site: the browser cuts the
  // referrer of a link from the engine to the engine's origin.
  const site = await listen('127.0.0.2', serve((p) => /^\/[\w-]+\.html$/.test(p) && p.slice(1)));
  origins.engine = `http://127.0.0.1:${engine.address().port}`;
  origins.site = `http://127.0.0.2:${site.address().port}`;
  return {
    ...origins,
    render,
    close: () => Promise.all([engine, site].map((s) => new Promise((r) => s.close(r)))),
  };
}

function puppeteer() {
  const modules = process.env.GLINTMARK_WEB_NODE ?? path.join(here, '../../build/web-node');
  return createRequire(path.join(modules, 'package.json'))('puppeteer-core');
}

// Chromium, headless, with a fresh profile and only our extension; no host
// name reaches a resolver, so nothing leaves the machine.
export async function launchChromium(extensionDir) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'glintmark-chromium-'));
  const browser = await puppeteer().launch({
    executablePath: CHROMIUM,
    headless: true,
    userDataDir: profile,
    ignoreDefaultArgs: ['--disable-extensions'],
    args: [
      '--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      `--load-extension=${extensionDir}`, `--disable-extensions-except=${extensionDir}`,
      '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1, EXCLUDE 127.0.0.2',
      '--window-size=900,640',
    ],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    fs.rmSync(profile, {recursive: true, force: true});
  };
  return browser;
}
