// The test page only: fake Web MIDI ports in front of the module's virtual TQ-5. Once the
// module is loaded, navigator.requestMIDIAccess resolves (after the page's permission step)
// to a MIDIAccess with two port pairs: "Virtual Loopback", whose output comes back on its
// input, and the device's pair. Everything behind the page's Web MIDI driver is the real
// module; only the browser's MIDI system is replaced.
//
// Query flags: mode, fault (repeatable), system-version, din, scale (the device's options,
// virtual_tq5.cpp); ports=A|B|C the pairs' names, the last one the device's (default
// "Virtual Loopback|VARN TQ Series").
(function () {
  'use strict';

  const query = new URLSearchParams(location.search);

  class FakePort extends EventTarget {
    constructor(type, name, index) {
      super();
      this.type = type;
      this.name = name;
      this.id = type + '-' + index;
      this.manufacturer = 'VARN';
      this.version = '1.0';
      this.state = 'connected';
      this.connection = 'closed';
      this.onmidimessage = null;
      this.onstatechange = null;
      this.deliverTo = null;   // outputs: where sent messages go
    }
    open() { this.connection = 'open'; return Promise.resolve(this); }
    close() { this.connection = 'closed'; return Promise.resolve(this); }
    send(data) {
      if (this.state !== 'connected') throw new DOMException('port is gone', 'InvalidStateError');
      this.connection = 'open';
      this.deliverTo(Uint8Array.from(data));
    }
    receive(data) {
      if (this.connection === 'open' && this.onmidimessage) {
        this.onmidimessage({ data: data, timeStamp: performance.now(), target: this });
      }
    }
  }

  function makeAccess(module) {
    const names = (query.get('ports') || 'Virtual Loopback|VARN TQ Series').split('|');
    const inputs = new Map();
    const outputs = new Map();
    names.forEach((name, index) => {
      const input = new FakePort('input', name, index);
      const output = new FakePort('output', name, index);
      const isDevice = index === names.length - 1;
      output.deliverTo = isDevice ? (data) => {
        const top = module.stackSave();
        const pointer = module.stackAlloc(data.length);
        module.HEAPU8.set(data, pointer);
        module._tq5_test_device_receive(pointer, data.length);
        module.stackRestore(top);
      } : (data) => input.receive(data);
      if (isDevice) module.tq5DeviceReply = (data) => input.receive(data);
      inputs.set(input.id, input);
      outputs.set(output.id, output);
    });
    return { inputs, outputs, sysexEnabled: true, onstatechange: null };
  }

  function startDevice(module) {
    const lines = [];
    for (const key of ['mode', 'system-version', 'din', 'scale', 'strict']) {
      if (query.has(key)) lines.push(key + '=' + query.get(key));
    }
    for (const fault of query.getAll('fault')) lines.push('fault=' + fault);
    const text = lines.join('\n');
    const top = module.stackSave();
    const length = module.lengthBytesUTF8(text) + 1;
    const pointer = module.stackAlloc(length);
    module.stringToUTF8(text, pointer, length);
    const result = module._tq5_test_device_start(pointer);
    module.stackRestore(top);
    if (result !== 0) throw new Error('virtual TQ-5: options not understood: ' + text);
  }

  window.tq5PageHooks = {
    moduleReady(module) {
      startDevice(module);
      const access = makeAccess(module);
      Object.defineProperty(navigator, 'requestMIDIAccess', {
        configurable: true,
        value: async (options) => {
          if (!options || !options.sysex) throw new DOMException('no sysex', 'NotAllowedError');
          return access;
        },
      });
      window.tq5Test = {
        deviceState() {
          const size = 1 << 16;
          const pointer = module._malloc(size);
          const length = module._tq5_test_device_state(pointer, size);
          const text = new TextDecoder().decode(module.HEAPU8.slice(pointer, pointer + length));
          module._free(pointer);
          return JSON.parse(text);
        },
      };
    },
  };
})();
