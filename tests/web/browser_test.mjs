// The updater's page in a real browser: Debian's chromium, headless, driven by playwright-core.
// The shipped page for what needs no device (the permission step refused by the browser, a
// browser without Web MIDI); the test page, whose fake Web MIDI ports lead to a virtual
// TQ-5 inside its module, for the user's flows: a whole update, Version Check, an error box,
// a faulty link, the port lists, closing during an update. Every state that matters leaves
// a screenshot.
//
//   node --test tests/web/browser_test.mjs
//
// Environment: TQ5_WEB_BUILD (default build/web: its site/ and test-site/), TQ5_WEB_SCREENSHOTS
// (default <build>/screenshots), CHROMIUM (default /usr/bin/chromium).

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../..');
const build = path.resolve(root, process.env.TQ5_WEB_BUILD || 'build/web');
const shots = path.resolve(process.env.TQ5_WEB_SCREENSHOTS || path.join(build, 'screenshots'));
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';

const LAUNCH_FLAGS = ['--no-sandbox', '--disable-gpu', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

const COMPLETED = 'Version update completed.';
// No test may hang the suite: each ends, failed, after this long.
const LIMIT = { timeout: 240000 };
const servers = [];
const sites = {};

// --- servers and browsers --------------------------------------------------------------

function serve(folder, extra = []) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath,
      [path.join(root, 'tools/serve-web.mjs'), '--port', '0', ...extra, folder],
      { stdio: ['ignore', 'pipe', 'inherit'] });
    servers.push(child);
    let out = '';
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const found = out.match(/serving (http:\/\/\S+)/);
      if (found) resolve(found[1]);
    });
    child.on('exit', (code) => reject(new Error(`serve-web ended (${code}) before it served`)));
  });
}

before(async () => {
  fs.mkdirSync(shots, { recursive: true });
  for (const folder of ['site', 'test-site']) {
    assert.ok(fs.existsSync(path.join(build, folder, 'tq5-updater.wasm')),
      `${folder} is not built: cmake --preset web && cmake --build --preset web`);
  }
  assert.ok(!fs.existsSync(path.join(build, 'site', 'virtual-midi.js')),
    'the shipped folder must not carry the virtual TQ-5');
  sites.shipped = await serve(path.join(build, 'site'));
  sites.test = await serve(path.join(build, 'test-site'));
  sites.testWithoutHeaders = await serve(path.join(build, 'test-site'), ['--no-isolation-headers']);
});

after(() => {
  for (const child of servers) child.kill('SIGTERM');
});

// A fresh browser with a fresh profile for every test.
async function openBrowser({ grant = false, initScript = null } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tq5-web-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    args: LAUNCH_FLAGS,
    viewport: { width: 720, height: 520 },
  });
  if (grant) await context.grantPermissions(['midi', 'midi-sysex']);
  if (initScript) await context.addInitScript(initScript);
  const page = context.pages()[0] || await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  const close = async () => {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
    assert.deepEqual(errors, [], 'the page threw');
  };
  return { context, page, close };
}

async function shot(page, name) {
  await page.screenshot({ path: path.join(shots, name + '.png') });
}

const gateOf = (page) => page.evaluate(() => window.tq5Page && window.tq5Page.gate());

async function waitForGate(page, state) {
  await page.waitForFunction((s) => window.tq5Page && window.tq5Page.gate() === s, state,
    { timeout: 30000 });
}

// The test page up to its dialog: the permission step answered with Allow.
async function openDialog(page, query = '') {
  await page.goto(sites.test + query);
  await waitForGate(page, 'ask');
  await page.click('#gate-button');
  await page.waitForSelector('#window:not([hidden])');
  // The dialog's initialisation fills the lists and sets the title last: once the title is
  // there, everything before it has reached the page.
  await page.waitForFunction(() => document.getElementById('title-text').textContent !== '');
}

const value = (page, id) => page.$eval('#' + id, (e) => e.value);
const disabled = (page, id) => page.$eval('#' + id, (e) => e.disabled);
const deviceState = (page) => page.evaluate(() => window.tq5Test.deviceState());

async function controls(page) {
  return page.evaluate(() => Object.fromEntries(['c1000', 'c1001', 'c1', 'c1004', 'c1007', 'c2']
    .map((id) => [id, !document.getElementById(id).disabled])));
}

async function waitForStatus(page, text, timeout = 120000) {
  await page.waitForFunction((t) => document.getElementById('c1003').value === t, text,
    { timeout });
}

// The one open box's caption and text, once it is up.
async function boxShown(page) {
  const box = await page.waitForSelector('dialog.box[open]', { timeout: 60000 });
  return {
    caption: await box.$eval('.title-text', (e) => e.textContent),
    text: await box.$eval('.box-text', (e) => e.textContent),
    information: await box.$eval('.box-icon', (e) => e.classList.contains('information')),
  };
}

async function dismissBox(page) {
  await page.click('dialog.box[open] .box-ok');
  await page.waitForSelector('dialog.box', { state: 'detached' });
}

function assertFlashHoldsImages(state) {
  for (const region of state.regions) {
    assert.ok(region.holdsImage, `region of image ${region.image} does not hold its image`);
  }
  assert.equal(state.system, '1.10');
}

// --- before the dialog -------------------------------------------------------------------

test('the browser refuses MIDI access: the page says so and offers to try again', LIMIT, async () => {
  const { page, close } = await openBrowser();
  try {
    await page.goto(sites.shipped);
    await waitForGate(page, 'ask');
    assert.match(await page.textContent('#gate-message'), /System Exclusive/);
    assert.equal(await page.textContent('#gate-button'), 'Allow MIDI access');
    await shot(page, 'permission-step');

    await page.click('#gate-button');  // headless chromium answers the prompt with "block"
    await waitForGate(page, 'refused');
    assert.match(await page.textContent('#gate-message'), /MIDI access was refused\./);
    assert.match(await page.textContent('#gate-message'), /NotAllowedError/);
    assert.equal(await page.textContent('#gate-button'), 'Try again');
    assert.equal(await page.isHidden('#window'), true);
    await shot(page, 'permission-refused');

    await page.click('#gate-button');  // asked again, refused again: still no dialog
    await waitForGate(page, 'refused');
  } finally {
    await close();
  }
});

test('a browser without Web MIDI is told which browsers run the updater', LIMIT, async () => {
  const { page, close } = await openBrowser({
    initScript: () => { delete Navigator.prototype.requestMIDIAccess; },
  });
  try {
    await page.goto(sites.shipped);
    await waitForGate(page, 'missing');
    const text = await page.textContent('#gate-message');
    assert.match(text, /This browser has no Web MIDI/);
    assert.match(text, /Chrome/);
    assert.match(text, /Safari has no Web MIDI/);
    assert.equal(await page.isHidden('#gate-button'), true);
    await shot(page, 'no-web-midi');
  } finally {
    await close();
  }
});

test('a host without the isolation headers: the page isolates itself and runs', LIMIT, async () => {
  const { page, close } = await openBrowser();
  try {
    await page.goto(sites.testWithoutHeaders);
    await waitForGate(page, 'ask');  // loaded again under its service worker
    assert.equal(await page.evaluate(() => window.crossOriginIsolated), true);
    await page.click('#gate-button');
    await page.waitForSelector('#window:not([hidden])');
  } finally {
    await close();
  }
});

// --- the dialog against the virtual TQ-5 ----------------------------------------------------

test('a whole update started with Enter ends in "Version update completed."', LIMIT, async () => {
  const { page, close } = await openBrowser();
  try {
    await openDialog(page);
    assert.equal(await page.textContent('#title-text'), 'VARN TQ-5 System v1.10 Updater');
    assert.equal(await page.title(), 'VARN TQ-5 System v1.10 Updater');
    for (const list of ['c1000', 'c1001']) {
      assert.deepEqual(await page.$eval('#' + list, (e) => [...e.options].map((o) => o.text)),
        ['Virtual Loopback', 'VARN TQ Series']);
      assert.equal(await page.$eval('#' + list, (e) => e.selectedIndex), 1);
    }
    assert.equal(await page.evaluate(() => document.activeElement.id), 'c1');
    await shot(page, 'dialog-idle');

    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.getElementById('c1003').value.startsWith('Data transmit'));
    assert.deepEqual(await controls(page),
      { c1000: false, c1001: false, c1: false, c1004: false, c1007: false, c2: true });
    assert.equal(await page.evaluate(() => window.tq5Page.changingFlash()), true);
    assert.equal(await page.evaluate(() => document.activeElement.id), 'c2');
    await shot(page, 'updating');
    await page.keyboard.press('Enter');  // Exit holds the lent focus: Enter does nothing
    await page.waitForFunction(() => document.getElementById('c1003').value.startsWith('Verifying flash'),
      null, { timeout: 120000 });
    await shot(page, 'verifying');

    await waitForStatus(page, COMPLETED);
    assert.equal(await value(page, 'c1006'), '10/10');
    assert.equal(await page.$eval('#c1002', (e) => e.getAttribute('aria-valuenow')), '100');
    assert.deepEqual(await controls(page),
      { c1000: true, c1001: true, c1: false, c1004: true, c1007: false, c2: true });
    assert.equal(await page.evaluate(() => window.tq5Page.changingFlash()), false);
    assert.equal(await page.locator('dialog.box').count(), 0);
    await shot(page, 'completed');

    const state = await deviceState(page);
    assertFlashHoldsImages(state);
    assert.equal(state.requests['enter-update'], 1);
    assert.equal(state.requests.finish, 1);
    assert.ok(state.requests['read-memory'] > 800, 'the written flash was read back');

    await page.click('#c1004');  // Rescan Device gives Execute and Version Check back
    await page.waitForFunction(() => !document.getElementById('c1').disabled);
    assert.equal(await disabled(page, 'c1007'), false);
  } finally {
    await close();
  }
});

test('Version Check shows the device\'s and the images\' versions', LIMIT, async () => {
  const { page, close } = await openBrowser();
  try {
    await openDialog(page);
    await page.click('#c1007');
    const box = await boxShown(page);
    assert.equal(box.caption, 'Version Information');
    assert.equal(box.text, 'SYSTEM:\t\t1.05 -> 1.10\nPRESET:\t\t1.00\nBOOT:\t\t1.00');
    assert.equal(box.information, true);
    // The box is modal: the controls stay locked until it is dismissed.
    assert.equal(await disabled(page, 'c1'), true);
    await shot(page, 'version-report');
    await dismissBox(page);
    await page.waitForFunction(() => !document.getElementById('c1').disabled);
    assert.deepEqual(await controls(page),
      { c1000: true, c1001: true, c1: true, c1004: true, c1007: true, c2: true });
    assert.equal((await deviceState(page)).requests['read-memory'], 3);
  } finally {
    await close();
  }
});

test('a device outside its update mode: the error box, nothing erased', LIMIT, async () => {
  const { page, close } = await openBrowser();
  try {
    await openDialog(page, '?mode=normal');
    await page.click('#c1');
    const box = await boxShown(page);
    assert.equal(box.caption, 'Error');
    assert.equal(box.text, 'Please use the firmware update mode.');
    assert.equal(box.information, false);
    assert.equal(await value(page, 'c1003'), '');
    await shot(page, 'error-box');
    await dismissBox(page);
    await page.waitForFunction(() => !document.getElementById('c1').disabled);
    assert.equal(await page.evaluate(() => window.tq5Page.changingFlash()), false);
    assert.equal((await deviceState(page)).requests.erase, 0);
  } finally {
    await close();
  }
});

test('a faulty link (clock bytes inside replies, replies in pieces) still updates', LIMIT, async () => {
  const { page, close } = await openBrowser();
  try {
    await openDialog(page, '?fault=write-block:0:realtime-bytes&fault=read-memory:0:split-reply:700' +
      '&fault=erase:2:answer-status:5&fault=write-block:40:drop-reply');
    await page.click('#c1');
    await waitForStatus(page, COMPLETED);
    assertFlashHoldsImages(await deviceState(page));
  } finally {
    await close();
  }
});

test('a device that serves no read of the check: completed, and a note says so', LIMIT, async () => {
  const { page, close } = await openBrowser();
  try {
    await openDialog(page, '?fault=read-memory:0:refuse-read-above:4');
    await page.click('#c1');
    await waitForStatus(page, COMPLETED);
    assert.match(await page.textContent('#note:not([hidden])'), /^The TQ-5's flash could not be read back on this device: it refused reads of 256 bytes and more \(status 4\)\./);
    await shot(page, 'completed-not-read-back');
    const state = await deviceState(page);
    assertFlashHoldsImages(state);
    assert.equal(state.requests.finish, 1);
  } finally {
    await close();
  }
});

// The keys of a report as a support tool reads them: "key: value" lines.
function reportKeys(text) {
  const keys = {};
  for (const line of text.split('\n')) {
    const at = line.indexOf(': ');
    if (line.startsWith('#') || at < 0) continue;
    keys[line.slice(0, at)] = line.slice(at + 2);
  }
  return keys;
}
const fields = (value) => Object.fromEntries(value.split(' ').map((f) => f.split('=')));

test('after a refused block "Save report" downloads the report, with its keys', LIMIT, async () => {
  const { page, close } = await openBrowser();
  try {
    await openDialog(page, '?fault=write-block:0:answer-status:5');
    assert.equal(await page.isHidden('#report'), true);
    await page.click('#c1');
    assert.equal((await boxShown(page)).text, 'Transfer error occurred.');
    await dismissBox(page);
    await page.waitForSelector('#report:not([hidden])');
    await shot(page, 'report-offered');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#save-report')]);
    assert.match(download.suggestedFilename(), /^tq5-failed-update-\d{8}T\d{6}Z\.txt$/);
    const keys = reportKeys(fs.readFileSync(await download.path(), 'utf8'));
    assert.equal(keys['program'], 'web page');
    assert.equal(keys['computer.user-agent'], await page.evaluate(() => navigator.userAgent));
    assert.equal(keys['midi.system'], 'Web MIDI');
    assert.equal(keys['midi.out.name'], 'VARN TQ Series');
    assert.equal(keys['midi.out.chosen-by'], 'preferred');
    assert.equal(keys['device.id'], '6E000500');
    assert.equal(keys['outcome'], 'failed');
    assert.equal(keys['outcome.phase'], 'write');
    assert.equal(keys['outcome.cause'], 'device-status');
    assert.equal(keys['outcome.status'], '5');
    const write = fields(keys['phase.write']);
    assert.deepEqual([write.requests, write.resends, write.refusals, write['refused-with']],
      ['32', '31', '32', '5:32']);
    const last = fields(keys['exchange.' + keys['exchanges']]);
    assert.deepEqual([last.request, last.answer, last.flags], ['write-block', 'status:5', 'resend']);

    // The next update takes the offer away.
    await page.click('#c1');
    await page.waitForSelector('#report', { state: 'hidden' });
  } finally {
    await close();
  }
});

test('the port lists prefer the device\'s names and show them in the dialog\'s code page', LIMIT, async () => {
  const { page, close } = await openBrowser();
  try {
    // The last entry that carries a preferred name is selected; names are Shift-JIS inside.
    await openDialog(page, '?ports=' + encodeURIComponent(
      'USB Audio Device|Synthé Port|USB オーディオ デバイス|Virtual Loopback'));
    assert.deepEqual(await page.$eval('#c1001', (e) => [...e.options].map((o) => o.text)),
      ['USB Audio Device', 'Synth? Port', 'USB オーディオ デバイス', 'Virtual Loopback']);
    assert.equal(await page.$eval('#c1001', (e) => e.selectedIndex), 2);
    assert.equal(await page.$eval('#c1000', (e) => e.selectedIndex), 2);
    await shot(page, 'port-lists');

    // The about box from the system menu, over the dialog.
    await page.click('#system-menu-button');
    await page.click('text=About VARN TQ Series Updater');
    const about = await page.waitForSelector('dialog.about[open]');
    assert.equal(await about.$eval('.about-title', (e) => e.value), 'VARN TQ-5 System v1.10 Updater');
    await shot(page, 'about-box');
    await page.keyboard.press('Escape');
    await page.waitForSelector('dialog.about', { state: 'detached' });
  } finally {
    await close();
  }
});

// --- closing during an update ----------------------------------------------------------

// A device that takes 20 ms per block: the update lasts long enough to close it midway.
const SLOW = '?fault=write-block:0:delay-reply:20';

test('leaving the page during an update asks first; staying lets it complete', LIMIT, async () => {
  const { page, close } = await openBrowser();
  try {
    await openDialog(page, SLOW);
    await page.click('#c1');
    await page.waitForFunction(() => document.getElementById('c1003').value.startsWith('Data transmit'));
    const asked = new Promise((resolve) => {
      page.once('dialog', async (dialog) => {
        const type = dialog.type();
        await dialog.dismiss();  // "Stay on page"
        resolve(type);
      });
      setTimeout(() => resolve('no question'), 10000);
    });
    await page.close({ runBeforeUnload: true });
    assert.equal(await asked, 'beforeunload');
    assert.equal(page.isClosed(), false);
    await shot(page, 'stayed-during-update');

    await waitForStatus(page, COMPLETED);
    assertFlashHoldsImages(await deviceState(page));

    // Once the update is over the page goes without asking.
    let askedAgain = false;
    page.once('dialog', (dialog) => { askedAgain = true; dialog.accept(); });
    await page.close({ runBeforeUnload: true });
    await page.waitForEvent('close');
    assert.equal(askedAgain, false);
  } finally {
    await close();
  }
});

test('Exit during an update closes the window at once and stops the update', LIMIT, async () => {
  const { page, close } = await openBrowser();
  try {
    await openDialog(page, SLOW);
    await page.click('#c1');
    await page.waitForFunction(() => document.getElementById('c1003').value.startsWith('Data transmit'));
    await page.click('#c2');
    await page.waitForSelector('#closed:not([hidden])');
    assert.equal(await page.isHidden('#window'), true);
    assert.equal(await page.locator('dialog.box').count(), 0);
    assert.equal(await page.evaluate(() => window.tq5Page.closed()), true);
    assert.equal(await page.evaluate(() => window.tq5Page.changingFlash()), false);
    await shot(page, 'closed-during-update');

    // The worker ended at its next wait: no request reaches the device any more.
    const first = await deviceState(page);
    await page.waitForTimeout(500);
    const later = await deviceState(page);
    assert.deepEqual(later.requests, first.requests);
    assert.ok(first.requests['write-block'] > 0);
    assert.equal(first.requests.finish, 0);
  } finally {
    await close();
  }
});
