// A small static server for the updater's page (node, no packages): serves one folder on
// the loopback address with the headers that make the page cross-origin isolated (its
// threads share memory), the right types for .wasm and .js, and no caching.
//
//   node tools/serve-web.mjs [--port N] [--no-isolation-headers] FOLDER
//
// Port 0 takes a free port. Prints "serving http://127.0.0.1:PORT/" once it listens.
// --no-isolation-headers behaves like a host that cannot set headers (the page then
// isolates itself through its service worker).

import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';

const args = process.argv.slice(2);
let port = 8018;
let isolation = true;
let folder = null;
for (let i = 0; i < args.length; ++i) {
  if (args[i] === '--port') port = Number(args[++i]);
  else if (args[i] === '--no-isolation-headers') isolation = false;
  else if (!folder && !args[i].startsWith('--')) folder = args[i];
  else {
    console.error(`serve-web: unknown argument ${args[i]}`);
    process.exit(2);
  }
}
if (!folder || !Number.isInteger(port) || port < 0 || port > 65535) {
  console.error('usage: node tools/serve-web.mjs [--port N] [--no-isolation-headers] FOLDER');
  process.exit(2);
}
const root = fs.realpathSync(folder);

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.ico': 'image/x-icon',
  '.png': 'image/png',
  '.svg': 'image/svg+xml',
  '.json': 'application/json',
};

function resolve(urlPath) {
  let decoded;
  try {
    decoded = decodeURIComponent(urlPath);
  } catch {
    return null;
  }
  const full = path.join(root, path.normalize('/' + decoded));
  if (full !== root && !full.startsWith(root + path.sep)) return null;
  try {
    const stat = fs.statSync(full);
    if (stat.isDirectory()) return resolve(path.posix.join(urlPath, 'index.html'));
    const real = fs.realpathSync(full);
    if (real !== root && !real.startsWith(root + path.sep)) return null;
    return { file: real, size: stat.size };
  } catch {
    return null;
  }
}

const server = http.createServer((request, response) => {
  const headers = { 'Cache-Control': 'no-store' };
  if (isolation) {
    headers['Cross-Origin-Opener-Policy'] = 'same-origin';
    headers['Cross-Origin-Embedder-Policy'] = 'require-corp';
    headers['Cross-Origin-Resource-Policy'] = 'same-origin';
  }
  if (request.method !== 'GET' && request.method !== 'HEAD') {
    response.writeHead(405, { ...headers, Allow: 'GET, HEAD' });
    response.end();
    return;
  }
  const url = new URL(request.url, 'http://localhost');
  const found = resolve(url.pathname);
  if (!found) {
    response.writeHead(404, { ...headers, 'Content-Type': 'text/plain' });
    response.end('not found\n');
    return;
  }
  const type = TYPES[path.extname(found.file).toLowerCase()] || 'application/octet-stream';
  response.writeHead(200, { ...headers, 'Content-Type': type, 'Content-Length': found.size });
  if (request.method === 'HEAD') {
    response.end();
    return;
  }
  fs.createReadStream(found.file).pipe(response);
});

server.listen(port, '127.0.0.1', () => {
  console.log(`serving http://127.0.0.1:${server.address().port}/ from ${root}`);
});
for (const signal of ['SIGINT', 'SIGTERM']) {
  process.on(signal, () => server.close(() => process.exit(0)));
}
