// What the updater's page costs: how long the page takes to load (module, images and thread
// pool) and how long a whole update and a version check take in it against the test page's
// virtual TQ-5 (instant device, unlimited line: only the page is measured), in Debian's
// chromium, headless. Prints figures; asserts nothing about speed.
//
//   node tests/web/page_bench.mjs [runs]        (default 3; build/web must be built)

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../..');
const build = path.resolve(root, process.env.TQ5_WEB_BUILD || 'build/web');
const runs = Number(process.argv[2] || 3);

function serve(folder) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, [path.join(root, 'tools/serve-web.mjs'), '--port', '0', folder],
      { stdio: ['ignore', 'pipe', 'inherit'] });
    child.stdout.on('data', (chunk) => {
      const found = String(chunk).match(/serving (http:\/\/\S+)/);
      if (found) resolve({ url: found[1], child });
    });
    child.on('exit', (code) => reject(new Error(`serve-web ended (${code})`)));
  });
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const { url, child } = await serve(path.join(build, 'test-site'));
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tq5-web-bench-'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});
const page = context.pages()[0] || await context.newPage();

const loads = [];
const updates = [];
const checks = [];
let exchanges = 0;
try {
  for (let run = 0; run < runs; ++run) {
    const loadStart = Date.now();
    await page.goto(url);
    await page.waitForFunction(() => window.tq5Page && window.tq5Page.gate() === 'ask');
    loads.push(Date.now() - loadStart);
    await page.click('#gate-button');
    await page.waitForFunction(() => document.getElementById('title-text').textContent !== '');  // set last

    const checkStart = Date.now();
    await page.click('#c1007');
    await page.waitForSelector('dialog.box[open]');
    checks.push(Date.now() - checkStart);
    await page.click('dialog.box[open] .box-ok');
    await page.waitForFunction(() => !document.getElementById('c1').disabled);

    const before = await page.evaluate(() => window.tq5Test.deviceState().requests);
    const updateStart = Date.now();
    await page.click('#c1');
    await page.waitForFunction(
      () => document.getElementById('c1003').value === 'Version update completed.',
      null, { timeout: 300000, polling: 20 });
    updates.push(Date.now() - updateStart);
    const after = await page.evaluate(() => window.tq5Test.deviceState().requests);
    exchanges = Object.keys(after).reduce((sum, key) => sum + after[key] - before[key], 0);
  }
} finally {
  await context.close();
  fs.rmSync(profile, { recursive: true, force: true });
  child.kill('SIGTERM');
}

const size = (file) => fs.statSync(path.join(build, 'site', file)).size;
const update = median(updates);
// The 500 ms pause after the device enters its update mode is the engine's, not the page's.
const perExchange = (update - 500) / exchanges;
console.log(`page: tq5-updater.wasm ${size('tq5-updater.wasm')} bytes, ` +
  `tq5-updater.js ${size('tq5-updater.js')} bytes (shipped folder)`);
console.log(`load to the permission step: median ${median(loads)} ms (${loads.join(', ')})`);
console.log(`version check: median ${median(checks)} ms (${checks.join(', ')})`);
console.log(`whole update with read-back: median ${update} ms (${updates.join(', ')}), ` +
  `${exchanges} exchanges, ${perExchange.toFixed(2)} ms per exchange without the 500 ms pause`);
