// The test page's virtual TQ-5, main-thread side: the device's replies, sent on the device's
// own thread, arrive here in order and go to the fake input port (virtual-midi.js).
mergeInto(LibraryManager.library, {
  tq5_test_device_reply__proxy: 'async',
  tq5_test_device_reply__sig: 'vii',
  tq5_test_device_reply: function(bytes, length) {
    var data = HEAPU8.slice(bytes, bytes + length);
    _tq5_test_free(bytes);
    var hooks = Module['tq5DeviceReply'];
    if (hooks) hooks(data);
  },
});
