// Inside the guest kernel (tools/guest/): the shipped page in Debian's chromium, whose Web
// MIDI reaches the guest's real ALSA sequencer, updates the TQ-5 that tq5-devsim plays on
// it. Picks the device's ports in the lists, presses Execute and waits for "Version update
// completed." (or fails with the box the page shows). Prints the times; leaves screenshots.
//
// With a USB MIDI device's ports as well (a TQ-5 in front of a 31,250-baud line, on USB):
// the page is loaded again and updates that one with the kernel's default settings. The
// browser's long messages reach it cut (the kernel's sequencer port takes 4,096 bytes of a
// message at once), so its first write block is never answered: the update ends with "Time
// out error(2)", and after the box the page shows what to change on Linux.
//
//   node guest_page_update.mjs SITE_FOLDER MIDI_IN_NAME MIDI_OUT_NAME SCREENSHOT_FOLDER
//                              [USB_IN_NAME USB_OUT_NAME]

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const [site, inputName, outputName, shots, usbInputName, usbOutputName] = process.argv.slice(2);
if (!shots) {
  console.error('usage: node guest_page_update.mjs SITE MIDI_IN_NAME MIDI_OUT_NAME SCREENSHOTS');
  process.exit(2);
}
const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
// Everything is slow under the guest's emulated CPU: minutes, not seconds.
const SLOW = 600000;
const started = Date.now();
const seconds = (from) => ((Date.now() - from) / 1000).toFixed(1);

const server = spawn(process.execPath, [path.join(root, 'tools/serve-web.mjs'), '--port', '0', site],
  { stdio: ['ignore', 'pipe', 'inherit'] });
const url = await new Promise((resolve, reject) => {
  server.stdout.on('data', (chunk) => {
    const found = String(chunk).match(/serving (http:\/\/\S+)/);
    if (found) resolve(found[1]);
  });
  server.on('exit', (code) => reject(new Error(`serve-web ended (${code})`)));
});

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tq5-guest-chromium-'));
let context = null;
let result = 1;
try {
  context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    timeout: SLOW,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
    viewport: { width: 720, height: 520 },
  });
  await context.grantPermissions(['midi', 'midi-sysex']);
  const page = context.pages()[0] || await context.newPage();
  page.setDefaultTimeout(SLOW);
  console.log(`guest page: chromium started in ${seconds(started)} s`);

  // Loads the page and waits for its dialog to list the device's ports.
  const openDialog = async (input, output) => {
    const loading = Date.now();
    await page.goto(url, { timeout: SLOW });
    // Permission given beforehand: the page asks for MIDI access at once and opens the
    // dialog, or stops at a panel that says why not.
    await page.waitForFunction(() => window.tq5Page &&
      (window.tq5Page.gate() === null ||
        ['refused', 'unavailable', 'failed', 'missing', 'isolation'].includes(window.tq5Page.gate())));
    const gate = await page.evaluate(() => window.tq5Page.gate());
    if (gate !== null) {
      await page.screenshot({ path: path.join(shots, 'guest-page-gate.png') });
      throw new Error(`the page stopped at its "${gate}" panel: ` +
        await page.textContent('#gate-message'));
    }
    // The dialog fills its lists on its own thread once it is open: wait until both name the
    // device's ports, or say what they hold instead.
    const found = await page.waitForFunction(([i, o]) => {
      const names = (id) => [...document.getElementById(id).options].map((opt) => opt.text);
      return names('c1000').includes(i) && names('c1001').includes(o);
    }, [input, output], { timeout: 120000, polling: 250 }).then(() => true, () => false);
    const lists = await page.evaluate(() => ['c1000', 'c1001'].map(
      (id) => [...document.getElementById(id).options].map((o) => o.text)));
    console.log(`guest page: dialog open in ${seconds(loading)} s; ` +
      `MIDI IN ${JSON.stringify(lists[0])}, MIDI OUT ${JSON.stringify(lists[1])}`);
    if (!found) throw new Error(`the lists lack the device's ports "${input}" and "${output}"`);
  };
  await openDialog(inputName, outputName);

  // For the figures: a bare Web MIDI round trip to the same device in the same browser (an
  // identity request from the page's script, the reply's onmidimessage), without the module.
  const trips = await page.evaluate(async ([input, output]) => {
    const access = await navigator.requestMIDIAccess({ sysex: true });
    const find = (map, name) => [...map.values()].find((p) => p.name === name);
    const from = find(access.inputs, input);
    const to = find(access.outputs, output);
    const times = [];
    for (let i = 0; i < 20; i += 1) {
      const reply = new Promise((resolve, reject) => {
        const late = setTimeout(() => reject(new Error('no identity reply within 10 s')), 10000);
        from.onmidimessage = (event) => {
          if (event.data[1] === 0x7e && event.data[3] === 0x06 && event.data[4] === 0x02) {
            clearTimeout(late);
            resolve();
          }
        };
      });
      const start = performance.now();
      to.send([0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7]);
      await reply;
      times.push(performance.now() - start);
    }
    from.onmidimessage = null;
    await Promise.all([from.close(), to.close()]);
    return times.sort((a, b) => a - b);
  }, [inputName, outputName]);
  console.log(`guest page: bare Web MIDI round trip (identity, 20): p50 ${trips[10].toFixed(1)} ms, ` +
    `min ${trips[0].toFixed(1)} ms, max ${trips[19].toFixed(1)} ms`);

  await page.selectOption('#c1000', { label: inputName });
  await page.selectOption('#c1001', { label: outputName });
  await page.screenshot({ path: path.join(shots, 'guest-page-ports.png') });

  const updating = Date.now();
  await page.click('#c1');
  await page.waitForFunction(() =>
    document.getElementById('c1003').value === 'Version update completed.' ||
    document.querySelector('dialog.box[open]') !== null, null, { timeout: 1800000, polling: 100 });
  const took = seconds(updating);
  await page.screenshot({ path: path.join(shots, 'guest-page-end.png') });
  const box = await page.$('dialog.box[open] .box-text');
  if (box) throw new Error(`the update ended with the box "${await box.textContent()}"`);
  console.log(`guest page: update completed in ${took} s ("Version update completed.")`);

  if (usbInputName) {
    await openDialog(usbInputName, usbOutputName);
    await page.selectOption('#c1000', { label: usbInputName });
    await page.selectOption('#c1001', { label: usbOutputName });
    const failing = Date.now();
    await page.click('#c1');
    await page.waitForSelector('dialog.box[open]', { timeout: SLOW });
    const text = await page.textContent('dialog.box[open] .box-text');
    console.log(`guest page: USB: the box "${text}" after ${seconds(failing)} s`);
    if (text !== 'Time out error(2)') throw new Error(`USB: the box says "${text}"`);
    await page.click('dialog.box[open] .box-ok');
    const hint = await page.waitForFunction(() => window.tq5Page.linuxHint(), null,
      { timeout: 60000 }).then((h) => h.jsonValue(), () => null);
    await page.screenshot({ path: path.join(shots, 'guest-page-usb-linux-note.png') });
    if (!hint || !hint.includes('/sys/module/snd_seq_midi/parameters/output_buffer_size')) {
      throw new Error(`USB: no note on what to change on Linux (${hint})`);
    }
    console.log('guest page: USB: the note on Linux shows, with the kernel setting');
  }
  result = 0;
} catch (error) {
  console.error(`guest page: ${error.message}`);
  const page = context && context.pages()[0];
  if (page) await page.screenshot({ path: path.join(shots, 'guest-page-failed.png') }).catch(() => {});
} finally {
  if (context) await context.close();
  fs.rmSync(profile, { recursive: true, force: true });
  server.kill('SIGTERM');
}
process.exit(result);
