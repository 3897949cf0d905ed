// The updater's page: loads the module, asks for MIDI access with System Exclusive messages,
// and then is the dialog's view (Module.tq5View): the controls of the Windows dialog, its
// message boxes and about box, its keyboard (Enter is Execute, Esc is Exit), and a warning
// before the page is left while an update is changing the TQ-5's flash.
//
// The dialog's logic runs in the module on a thread of its own; every call below comes from
// it through the module's main-thread proxy, and the page answers user actions with
// Module._tq5_web_command and friends. Nothing here decides anything about the update.

(function () {
  'use strict';

  const $ = (id) => document.getElementById(id);
  const COMMAND = { execute: 1, exit: 2, rescanDevice: 1004, versionCheck: 1007 };

  const state = {
    module: null,
    changingFlash: false,
    closed: false,
    focusLentBy: null,      // the control whose focus went to Exit when it was disabled
    progress: { upper: 100, position: 0 },
    boxes: new Map(),       // token -> <dialog>
    report: '',             // the last failed update's support report
  };

  // --- the panels before the dialog -------------------------------------------------------

  const BROWSERS =
    '<p>The updater runs in Google Chrome, Microsoft Edge, Opera and other Chromium-based ' +
    'browsers on Windows, macOS, Linux and ChromeOS. Firefox runs it once its site ' +
    'permission add-on for MIDI is allowed; Safari has no Web MIDI.</p>';

  const GATES = {
    loading: { text: '<p>Loading the updater&hellip;</p>' },
    ask: {
      text: '<p>This page updates the firmware of a VARN TQ-5 connected to this computer ' +
        'through MIDI. It needs your permission to use MIDI devices, including System ' +
        'Exclusive messages, which carry the firmware to the TQ-5.</p>' +
        '<p>Connect the TQ-5, start it in its firmware update mode, then allow MIDI access ' +
        'when the browser asks.</p>',
      button: 'Allow MIDI access',
    },
    asking: { text: '<p>Waiting for your answer to the browser&rsquo;s question about MIDI ' +
      'devices&hellip;</p>' },
    unavailable: {
      text: '<p class="problem">The browser could not start its MIDI system.</p>' +
        '<p>On Linux the browser reaches MIDI devices through the ALSA sequencer ' +
        '(/dev/snd/seq, kernel module snd-seq); on every system the TQ-5 must be connected ' +
        'and not held by another program. Check that, then press Try again.</p>',
      button: 'Try again',
    },
    refused: {
      text: '<p class="problem">MIDI access was refused.</p>' +
        '<p>Without MIDI devices and their System Exclusive messages the updater cannot ' +
        'reach the TQ-5. To allow them, open this site&rsquo;s settings (the icon left of ' +
        'the address), set &ldquo;MIDI devices&rdquo; to Allow, and press Try again.</p>' +
        BROWSERS,
      button: 'Try again',
    },
    missing: {
      text: '<p class="problem">This browser has no Web MIDI, so the updater cannot reach ' +
        'the TQ-5 from it.</p>' + BROWSERS,
    },
    insecure: {
      text: '<p class="problem">Web MIDI works only on pages served over HTTPS or from this ' +
        'computer.</p><p>Open the updater from an https:// address, or serve it locally ' +
        '(tools/serve-web.sh) and open http://localhost.</p>',
    },
    isolation: {
      text: '<p class="problem">The updater needs a cross-origin isolated page (shared ' +
        'memory for its threads), and this server does not make it one.</p>' +
        '<p>Serve the folder with the headers Cross-Origin-Opener-Policy: same-origin and ' +
        'Cross-Origin-Embedder-Policy: require-corp (the folder&rsquo;s _headers and ' +
        '.htaccess files set them on hosts that read those), or allow the page&rsquo;s ' +
        'service worker.</p>',
    },
    failed: {
      text: '<p class="problem">The updater could not be loaded.</p>' +
        '<p>Reload the page. If this stays, the browser may be too old for WebAssembly ' +
        'threads.</p>',
    },
  };

  let gateAction = null;

  function showGate(name, detail) {
    const gate = GATES[name];
    $('gate').hidden = false;
    $('window').hidden = true;
    $('gate').dataset.state = name;
    $('gate-message').innerHTML = gate.text;
    if (detail) {
      const p = document.createElement('p');
      p.className = 'detail';
      p.textContent = detail;
      $('gate-message').appendChild(p);
    }
    const button = $('gate-button');
    button.hidden = !gate.button;
    button.textContent = gate.button || '';
    gateAction = gate.button ? requestAccess : null;
  }

  $('gate-button').addEventListener('click', () => { if (gateAction) gateAction(); });

  // Without the isolation headers, a service worker of the page's own adds them: the page is
  // loaded once more, under the worker. Once only, so a browser that still refuses ends at
  // the explanation instead of reloading for ever.
  async function isolateWithServiceWorker() {
    if (!('serviceWorker' in navigator)) return false;
    if (sessionStorage.getItem('tq5-isolation-reload')) return false;
    try {
      await navigator.serviceWorker.register('isolation-worker.js');
      await navigator.serviceWorker.ready;
    } catch (e) {
      return false;
    }
    sessionStorage.setItem('tq5-isolation-reload', '1');
    location.reload();
    return true;
  }

  async function start() {
    if (!window.isSecureContext) return showGate('insecure');
    if (typeof navigator.requestMIDIAccess !== 'function') return showGate('missing');
    if (!window.crossOriginIsolated) {
      if (await isolateWithServiceWorker()) return;
      return showGate('isolation');
    }
    sessionStorage.removeItem('tq5-isolation-reload');
    try {
      state.module = await createTq5Updater({ tq5View: view });
    } catch (e) {
      return showGate('failed', String(e));
    }
    const hooks = window.tq5PageHooks;
    if (hooks && hooks.moduleReady) await hooks.moduleReady(state.module);

    let permission = null;
    try {
      permission = await navigator.permissions.query({ name: 'midi', sysex: true });
    } catch (e) {
      permission = null;  // browsers that cannot tell: ask
    }
    if (permission && permission.state === 'granted') return requestAccess();
    showGate('ask');
  }

  async function requestAccess() {
    showGate('asking');
    let access;
    try {
      access = await navigator.requestMIDIAccess({ sysex: true });
    } catch (e) {
      // A refusal is the user's (or the browser's settings'); anything else is the
      // browser's MIDI system failing to start.
      const refused = e && (e.name === 'NotAllowedError' || e.name === 'SecurityError');
      return showGate(refused ? 'refused' : 'unavailable',
                      e && e.name ? e.name + ': ' + e.message : String(e));
    }
    state.module.midiAccess = access;
    openDialog();
  }

  function openDialog() {
    $('gate').hidden = true;
    $('window').hidden = false;
    $('c1').focus();  // the first tab stop, as the dialog manager does
    state.module._tq5_web_open_dialog();
  }

  function command(id) {
    if (state.module && !state.closed) state.module._tq5_web_command(id);
  }

  // --- the view: what the dialog's logic does to its controls ------------------------------

  function listOf(id) { return $('c' + id); }

  function showMnemonic(element, text) {
    // "&A" underlines A, as a menu shows its keyboard mnemonic.
    element.textContent = '';
    const at = text.indexOf('&');
    if (at < 0 || at + 1 >= text.length) { element.textContent = text; return; }
    element.append(text.slice(0, at));
    const letter = document.createElement('span');
    letter.className = 'mnemonic';
    letter.textContent = text[at + 1];
    element.append(letter, text.slice(at + 2));
  }

  function drawProgress() {
    const { upper, position } = state.progress;
    const clamped = Math.max(0, Math.min(position, upper));
    const fraction = upper > 0 ? clamped / upper : 0;
    const bar = $('c1002');
    bar.firstElementChild.style.width = (fraction * 100).toFixed(3) + '%';
    bar.setAttribute('aria-valuenow', String(Math.round(fraction * 100)));
  }

  function openBox(template, token) {
    const box = template.content.firstElementChild.cloneNode(true);
    document.body.appendChild(box);
    const dismiss = () => {
      if (!state.boxes.has(token)) return;
      state.boxes.delete(token);
      box.close();
      box.remove();
      state.module._tq5_web_box_dismissed(token);
    };
    box.querySelector('.box-ok').addEventListener('click', dismiss);
    box.querySelector('.title-close').addEventListener('click', dismiss);
    box.addEventListener('cancel', (event) => { event.preventDefault(); dismiss(); });  // Esc
    state.boxes.set(token, box);
    box.showModal();
    box.querySelector('.box-ok').focus();
    return box;
  }

  const view = {
    resetList(id) {
      const list = listOf(id);
      list.replaceChildren();
      list.selectedIndex = -1;
    },
    addListEntry(id, text) {
      const list = listOf(id);
      const keep = list.selectedIndex;
      list.add(new Option(text, String(list.options.length)));
      list.selectedIndex = keep;  // adding never selects
    },
    setListSelection(id, index) {
      const list = listOf(id);
      list.selectedIndex = index >= 0 && index < list.options.length ? index : -1;
    },
    getListSelection(id) { return listOf(id).selectedIndex; },

    enableControl(id, enabled) {
      const control = $('c' + id);
      if (!enabled && document.activeElement === control) {
        // Disabling the focused control would leave the keyboard with nothing: Exit, which
        // is never disabled, takes the focus and gives it back later.
        state.focusLentBy = id;
        $('c2').focus();
      }
      control.disabled = !enabled;
      if (enabled && state.focusLentBy === id) {
        state.focusLentBy = null;
        if (document.activeElement === $('c2')) control.focus();
      }
    },

    setText(id, text) {
      if (id === 0) {
        $('title-text').textContent = text;
        document.title = text;
      } else {
        $('c' + id).value = text;
      }
    },
    setProgressRange(upper) { state.progress.upper = upper; drawProgress(); },
    setProgressPos(position) { state.progress.position = position; drawProgress(); },

    showBox(token, text, caption, information) {
      const box = openBox($('box-template'), token);
      box.querySelector('.title-text').textContent = caption;
      box.querySelector('.box-text').textContent = text;
      box.querySelector('.box-icon').classList.add(information ? 'information' : 'error');
      box.dataset.caption = caption;
      return true;
    },
    showAbout(token, titleText) {
      const box = openBox($('about-template'), token);
      box.querySelector('.about-title').value = titleText;
      return true;
    },
    addSystemMenuEntry(commandId, text) {
      const menu = $('system-menu');
      const separator = document.createElement('div');
      separator.className = 'menu-separator';
      const item = document.createElement('div');
      item.className = 'menu-item';
      item.setAttribute('role', 'menuitem');
      item.dataset.systemCommand = String(commandId);
      showMnemonic(item, text);
      menu.append(separator, item);
    },

    setChangingFlash(on) {
      state.changingFlash = on;
      if (on) $('linux-hint').hidden = true;  // a new update: the last one's note goes
    },
    // The update failed at its first write block, which never got an answer: on Linux, what
    // to change so that the browser's long messages reach a USB MIDI device whole.
    firstBlockUnanswered() {
      const ua = navigator.userAgent;
      $('linux-hint').hidden = !(/Linux/.test(ua) && !/Android/.test(ua));
    },

    // A line under the window about the last update (its flash could not be read back);
    // empty hides it.
    setNote(text) {
      $('note').textContent = text;
      $('note').hidden = !text;
    },

    // The text of entry `index` of a port list, as the page shows it.
    listEntryText(id, index) {
      const option = listOf(id).options[index];
      return option ? option.text : '';
    },

    // After a failed update: "Save report" offers `text` as a file; empty takes it away.
    offerReport(text) {
      state.report = text;
      $('report').hidden = !text;
    },

    closed() {
      state.closed = true;
      state.changingFlash = false;
      for (const box of state.boxes.values()) { box.close(); box.remove(); }
      state.boxes.clear();
      hideMenu();
      $('window').hidden = true;
      $('note').hidden = true;
      $('report').hidden = true;
      $('closed').hidden = false;
      window.close();  // only a window a script opened goes; otherwise the note stays
    },
  };

  // --- user actions ------------------------------------------------------------------------

  for (const id of [COMMAND.execute, COMMAND.exit, COMMAND.rescanDevice, COMMAND.versionCheck]) {
    $('c' + id).addEventListener('click', () => command(id));
  }
  $('close-box').addEventListener('click', () => command(COMMAND.exit));

  // The report goes to the browser's downloads as a text file named after the moment.
  $('save-report').addEventListener('click', () => {
    if (!state.report) return;
    const stamp = new Date().toISOString().replace(/[-:]/g, '').replace(/\.\d+Z$/, 'Z');
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([state.report], { type: 'text/plain' }));
    link.download = 'tq5-failed-update-' + stamp + '.txt';
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  });
  $('reopen').addEventListener('click', () => location.reload());

  $('window').addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      event.preventDefault();
      command(COMMAND.exit);
    } else if (event.key === 'Enter') {
      const target = event.target;
      // A focused push button takes Enter itself, as in a dialog; Exit holding a focus that
      // a disabled control lent it does not, so Enter cannot close the window mid-update.
      if (target.tagName === 'BUTTON' && target.id !== 'c1') {
        if (target.id === 'c2' && state.focusLentBy !== null) event.preventDefault();
        return;
      }
      event.preventDefault();
      if (!$('c1').disabled) command(COMMAND.execute);
    } else if (event.key === 'F4' && event.altKey) {
      event.preventDefault();
      command(COMMAND.exit);
    }
  });

  function showMenu(x, y) {
    const menu = $('system-menu');
    menu.style.left = x + 'px';
    menu.style.top = y + 'px';
    menu.hidden = false;
  }
  function hideMenu() { $('system-menu').hidden = true; }

  $('system-menu-button').addEventListener('click', (event) => {
    event.stopPropagation();
    const r = $('system-menu-button').getBoundingClientRect();
    if ($('system-menu').hidden) showMenu(r.left, r.bottom); else hideMenu();
  });
  $('titlebar').addEventListener('contextmenu', (event) => {
    event.preventDefault();
    event.stopPropagation();
    showMenu(event.clientX, event.clientY);
  });
  $('system-menu').addEventListener('click', (event) => {
    const item = event.target.closest('.menu-item');
    if (!item || item.classList.contains('disabled')) return;
    hideMenu();
    if (item.dataset.command) command(Number(item.dataset.command));
    if (item.dataset.systemCommand && state.module && !state.closed) {
      state.module._tq5_web_system_command(Number(item.dataset.systemCommand));
    }
  });
  document.addEventListener('click', hideMenu);

  // Leaving the page while the TQ-5's flash is being changed leaves the device without a
  // complete firmware: the browser asks first.
  window.addEventListener('beforeunload', (event) => {
    if (!state.changingFlash || state.closed) return;
    event.preventDefault();
    event.returnValue = '';
  });

  // For the page's tests: the state the page is in.
  window.tq5Page = {
    gate: () => ($('gate').hidden ? null : $('gate').dataset.state),
    changingFlash: () => state.changingFlash,
    linuxHint: () => ($('linux-hint').hidden ? null : $('linux-hint').textContent),
    closed: () => state.closed,
  };

  showGate('loading');
  start().catch((e) => showGate('failed', String(e)));
})();
