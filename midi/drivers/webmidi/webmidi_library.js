// The main-thread side of the Web MIDI driver (an emscripten JS library). The page puts its
// MIDIAccess (asked for with System Exclusive messages) into Module.midiAccess; these
// functions list its ports, open and close them, send, and deliver what arrives to the
// driver's endpoint (tq5_webmidi_received) on this thread. Threads of ours reach them
// through synchronous proxying: they always run here, never on a worker. None of them may
// throw: the thread that waits for a proxied call would wait for ever.

(function() {
var library = {
  $TQ5MIDI: {
    // The ports as last listed, per kind (0 inputs, 1 outputs): indexes refer to these.
    listed: [[], []],
    // token -> {port, kind}. (A plain object: the library's objects are written out as
    // literals when the module is built.)
    endpoints: {},
    // Unicode -> Shift-JIS bytes, built on first use from the browser's own decoder.
    sjis: null,
    // Received bytes go to the driver in pieces of at most this many bytes.
    chunk: 8192,

    sjisTable: function() {
      if (TQ5MIDI.sjis) return TQ5MIDI.sjis;
      var table = new Map();
      var decoder = new TextDecoder('shift_jis');
      for (var lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead > 0x9F && lead < 0xE0) continue;
        for (var trail = 0x40; trail <= 0xFC; ++trail) {
          if (trail === 0x7F) continue;
          var text = decoder.decode(new Uint8Array([lead, trail]));
          if (text.length === 1 && text !== '\uFFFD' && !table.has(text)) table.set(text, [lead, trail]);
        }
      }
      for (var b = 0xA1; b <= 0xDF; ++b) table.set(decoder.decode(new Uint8Array([b])), [b]);
      TQ5MIDI.sjis = table;
      return table;
    },

    // A port name as the dialog's 8-bit strings hold it: the Shift-JIS code page, as the
    // Windows program gets it from its MIDI system; characters without a code become '?'.
    encodeName: function(name) {
      var table = null;
      var bytes = [];
      for (var ch of String(name)) {
        var code = ch.codePointAt(0);
        if (code < 0x80) { bytes.push(code); continue; }
        table = table || TQ5MIDI.sjisTable();
        var mapped = table.get(ch);
        if (mapped) bytes.push.apply(bytes, mapped); else bytes.push(0x3F);
      }
      return new Uint8Array(bytes);
    },

    // Runs `body`; a failure of the browser's objects becomes `fallback`.
    guard: function(body, fallback) {
      try {
        return body();
      } catch (e) {
        err('Web MIDI: ' + e);
        return fallback;
      }
    },

    deliver: function(token, data) {
      if (!data || !TQ5MIDI.endpoints[token]) return;
      for (var at = 0; at < data.length; at += TQ5MIDI.chunk) {
        var piece = data.subarray(at, Math.min(data.length, at + TQ5MIDI.chunk));
        var top = stackSave();
        var pointer = stackAlloc(piece.length);
        HEAPU8.set(piece, pointer);
        _tq5_webmidi_received(token, pointer, piece.length);
        stackRestore(top);
      }
    },
  },

  tq5_webmidi_count: function(kind) {
    return TQ5MIDI.guard(function() {
      var access = Module['midiAccess'];
      var ports = [];
      if (access) {
        var map = kind === 0 ? access.inputs : access.outputs;
        map.forEach(function(port) { if (port.state !== 'disconnected') ports.push(port); });
      }
      TQ5MIDI.listed[kind] = ports;
      return ports.length;
    }, 0);
  },

  tq5_webmidi_name: function(kind, index, buffer, size) {
    return TQ5MIDI.guard(function() {
      var port = TQ5MIDI.listed[kind][index];
      if (!port) return 0;
      var bytes = TQ5MIDI.encodeName(port.name || '');
      var length = Math.min(bytes.length, size);
      HEAPU8.set(bytes.subarray(0, length), buffer);
      return length;
    }, 0);
  },

  tq5_webmidi_open: function(kind, index, token) {
    return TQ5MIDI.guard(function() {
      var port = index >= 0 ? TQ5MIDI.listed[kind][index] : undefined;
      if (!port || port.state === 'disconnected') return 0;
      TQ5MIDI.endpoints[token] = {port: port, kind: kind};
      if (kind === 0) {
        port.onmidimessage = function(event) { TQ5MIDI.deliver(token, event.data); };
      }
      Promise.resolve(port.open()).then(function() { _tq5_webmidi_opened(token, 1); },
                                        function() { _tq5_webmidi_opened(token, 0); });
      return 1;
    }, 0);
  },

  tq5_webmidi_close: function(kind, token) {
    TQ5MIDI.guard(function() {
      var endpoint = TQ5MIDI.endpoints[token];
      if (!endpoint) return;
      delete TQ5MIDI.endpoints[token];
      var port = endpoint.port;
      for (var other in TQ5MIDI.endpoints) {
        if (TQ5MIDI.endpoints[other].port === port) return;  // still in use
      }
      if (kind === 0) port.onmidimessage = null;
      // Another program (or tab) may want the device next.
      Promise.resolve(port.close()).catch(function() {});
    }, undefined);
  },

  tq5_webmidi_send: function(token, bytes, length) {
    var endpoint = TQ5MIDI.endpoints[token];
    if (!endpoint || endpoint.kind !== 1) return 0;
    try {
      // slice(): a copy of our own, outside the shared memory, that the browser may keep.
      endpoint.port.send(HEAPU8.slice(bytes, bytes + length));
      return 1;
    } catch (e) {
      return 0;  // the port went away, or the browser refused the message
    }
  },
};

// Every function runs on the main thread: a thread of ours waits until it has run there.
var signatures = {
  tq5_webmidi_count: 'ii',
  tq5_webmidi_name: 'iiiii',
  tq5_webmidi_open: 'iiii',
  tq5_webmidi_close: 'vii',
  tq5_webmidi_send: 'iiii',
};
for (var name in signatures) {
  library[name + '__deps'] = ['$TQ5MIDI'];
  library[name + '__proxy'] = 'sync';
  library[name + '__sig'] = signatures[name];
}
mergeInto(LibraryManager.library, library);
})();
