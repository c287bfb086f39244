// A loopback HTTP server for the browser tests: bound to 127.0.0.1 (or
// another loopback address given as `host`, a second site) on a port the
// system picks, serving only the pages the test registers (a string or a
// file, each with its own headers), nothing from the disk it was not given.
import { createServer } from 'node:http';
import { readFileSync } from 'node:fs';

export async function startServer({ host = '127.0.0.1' } = {}) {
  const routes = new Map();
  const server = createServer((request, response) => {
    const path = new URL(request.url, 'http://127.0.0.1').pathname;
    const route = routes.get(path);
    if (path === '/favicon.ico') {
      // Asked for by every page; a 404 would show as a console error.
      response.writeHead(204);
      response.end();
      return;
    }
    if (!route) {
      response.writeHead(404, { 'Content-Type': 'text/plain' });
      response.end('not found');
      return;
    }
    const body = route.file ? readFileSync(route.file) : Buffer.from(route.body, 'utf8');
    const send = () => {
      response.writeHead(200, {
        'Content-Type': 'text/html; charset=utf-8',
        'Cache-Control': 'no-store',
        'Content-Length': body.length,
        ...route.headers,
      });
      response.end(body);
    };
    if (route.delayMs) setTimeout(send, route.delayMs);
    else send();
  });
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, host, resolve);
  });
  const origin = `http://${host}:${server.address().port}`;
  return {
    origin,
    // serve(path, {body | file, headers, delayMs}) -> the page's address;
    // with delayMs, each answer comes that long after its request (a slow
    // image or script).
    serve(path, { body, file, headers = {}, delayMs = 0 }) {
      routes.set(path, { body, file, headers, delayMs });
      return origin + path;
    },
    close() {
      server.closeAllConnections?.();
      return new Promise((resolve) => server.close(resolve));
    },
  };
}
