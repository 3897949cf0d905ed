// The main-thread side of the page's dialog view (an emscripten JS library): each function
// takes a call of WebDialogView, made on the dialog thread or a worker and carried here, to
// the page's view object, Module.tq5View (web/page/updater-page.js). Texts arrive as the
// dialog's 8-bit strings, Shift-JIS, with their length. None of them may throw: the thread
// that waits for a proxied call would wait for ever.
//
// The texts and the progress bar, which a write step changes for every block, are queued
// without waiting ("later": the caller goes on at once; its text is a copy that is freed
// here). Calls from one thread still run in the order they were made.

(function() {
var library = {
  $TQ5VIEW: {
    decoder: null,
    utf8: function(pointer, length) {
      return new TextDecoder('utf-8').decode(HEAPU8.slice(pointer, pointer + length));
    },
    // Writes `text` as UTF-8 with its closing zero into `buffer` (at most `size` bytes);
    // returns the length written.
    put: function(text, buffer, size) {
      stringToUTF8(text, buffer, size);
      return Math.min(lengthBytesUTF8(text), size - 1);
    },
    text: function(pointer, length) {
      var bytes = HEAPU8.slice(pointer, pointer + length);  // the decoder reads no shared memory
      try {
        if (!TQ5VIEW.decoder) TQ5VIEW.decoder = new TextDecoder('shift_jis');
        return TQ5VIEW.decoder.decode(bytes);
      } catch (e) {
        return String.fromCharCode.apply(null, bytes);
      }
    },
    // Calls the page's view; a failure in the page is logged and answered with `fallback`.
    call: function(method, args, fallback) {
      try {
        var view = Module['tq5View'];
        return view ? view[method].apply(view, args) : fallback;
      } catch (e) {
        err('page view ' + method + ': ' + e);
        return fallback;
      }
    },
  },

  tq5_view_reset_list: function(listId) { TQ5VIEW.call('resetList', [listId]); },

  tq5_view_add_list_entry: function(listId, text, length) {
    TQ5VIEW.call('addListEntry', [listId, TQ5VIEW.text(text, length)]);
  },

  tq5_view_set_list_selection: function(listId, index) {
    TQ5VIEW.call('setListSelection', [listId, index]);
  },

  tq5_view_get_list_selection: function(listId) {
    return TQ5VIEW.call('getListSelection', [listId], -1);
  },

  tq5_view_enable: function(controlId, enabled) {
    TQ5VIEW.call('enableControl', [controlId, enabled !== 0]);
  },

  tq5_view_set_text_later: function(controlId, text, length) {
    var decoded = TQ5VIEW.text(text, length);
    _free(text);
    TQ5VIEW.call('setText', [controlId, decoded]);
  },

  tq5_view_set_progress_range_later: function(upper) {
    TQ5VIEW.call('setProgressRange', [upper]);
  },

  tq5_view_set_progress_pos_later: function(position) {
    TQ5VIEW.call('setProgressPos', [position]);
  },

  tq5_view_show_box: function(token, text, textLength, caption, captionLength, information) {
    // A box the page could not show is dismissed at once: its caller must not wait for it.
    if (TQ5VIEW.call('showBox', [token, TQ5VIEW.text(text, textLength),
                                 TQ5VIEW.text(caption, captionLength), information !== 0],
                     false) !== true) {
      _tq5_web_box_dismissed(token);
    }
  },

  tq5_view_show_about: function(token, text, length) {
    if (TQ5VIEW.call('showAbout', [token, TQ5VIEW.text(text, length)], false) !== true) {
      _tq5_web_box_dismissed(token);
    }
  },

  tq5_view_add_system_menu_entry: function(commandId, text, length) {
    TQ5VIEW.call('addSystemMenuEntry', [commandId, TQ5VIEW.text(text, length)]);
  },

  tq5_view_set_changing_flash: function(on) { TQ5VIEW.call('setChangingFlash', [on !== 0]); },

  tq5_view_set_note: function(text, length) {
    TQ5VIEW.call('setNote', [TQ5VIEW.text(text, length)]);
  },

  tq5_view_first_block_unanswered: function() { TQ5VIEW.call('firstBlockUnanswered', []); },

  tq5_view_offer_report: function(text, length) {
    TQ5VIEW.call('offerReport', [TQ5VIEW.utf8(text, length)]);
  },

  tq5_view_user_agent: function(buffer, size) {
    return TQ5VIEW.put(String(navigator.userAgent), buffer, size);
  },

  tq5_view_list_entry_text: function(listId, index, buffer, size) {
    return TQ5VIEW.put(String(TQ5VIEW.call('listEntryText', [listId, index], '')), buffer, size);
  },

  tq5_view_closed: function() { TQ5VIEW.call('closed', []); },
};

// Every function runs on the main thread: a thread of ours waits until it has run there
// (sync), or goes on at once (the "later" ones).
var later = {
  tq5_view_set_text_later: 'viii',
  tq5_view_set_progress_range_later: 'vi',
  tq5_view_set_progress_pos_later: 'vi',
};
for (var name in later) {
  library[name + '__deps'] = ['$TQ5VIEW', 'free'];
  library[name + '__proxy'] = 'async';
  library[name + '__sig'] = later[name];
}
var signatures = {
  tq5_view_reset_list: 'vi',
  tq5_view_add_list_entry: 'viii',
  tq5_view_set_list_selection: 'vii',
  tq5_view_get_list_selection: 'ii',
  tq5_view_enable: 'vii',
  tq5_view_show_box: 'viiiiii',
  tq5_view_show_about: 'viii',
  tq5_view_add_system_menu_entry: 'viii',
  tq5_view_set_changing_flash: 'vi',
  tq5_view_set_note: 'vii',
  tq5_view_first_block_unanswered: 'v',
  tq5_view_offer_report: 'vii',
  tq5_view_user_agent: 'iii',
  tq5_view_list_entry_text: 'iiiii',
  tq5_view_closed: 'v',
};
for (var name in signatures) {
  library[name + '__deps'] = ['$TQ5VIEW'];
  library[name + '__proxy'] = 'sync';
  library[name + '__sig'] = signatures[name];
}
mergeInto(LibraryManager.library, library);
})();
