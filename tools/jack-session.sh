# A private MIDI server for scripts (sourced, not run): jackd with the dummy driver under a
# server name of its own, and tq5-devsim on it as the TQ-5. Every process started here is
# ended by its own pid. Used by tools/e2e-jack.sh and bench/update_rss.sh.
#
# With MIDI_API=alsa the device sits on the ALSA sequencer instead (no server to start;
# the guest kernel of tools/guest/ has one).
#
# Before sourcing, set `root` (the source tree), `build` (the folder holding
# app/cli/tq5-updater and sim/devsim/tq5-devsim), `work` (a folder for logs and state files)
# and `label` (the prefix of messages). Sourcing checks the programs (exit 2 when one is
# missing) and sets `updater` and `devsim`. Then: start_jackd [jackd options], kill_jackd,
# start_devsim NAME [tq5-devsim options], flash_state, stop_devsim, stop_session (call it
# from the caller's EXIT trap).

updater="$build/app/cli/tq5-updater"
devsim="$build/sim/devsim/tq5-devsim"
for program in "$updater" "$devsim"; do
  if [ ! -x "$program" ]; then
    echo "$label: $program is missing; build the targets tq5-updater and tq5-devsim" >&2
    exit 2
  fi
done
api=${MIDI_API:-jack}
if [ "$api" = jack ] && ! command -v jackd >/dev/null; then
  echo "$label: jackd is not installed (Debian package jackd2)" >&2
  exit 2
fi
if [ "$api" = alsa ] && [ ! -e /dev/snd/seq ]; then
  echo "$label: there is no ALSA sequencer (/dev/snd/seq); run through tools/guest/run-in-guest.sh" >&2
  exit 2
fi

# Every client started from here finds the private server by name; instance locks of our
# own, so that other updaters on the machine do not change our instance number. The name is
# fixed for the label and the tree, never the pid: a server that died uncleanly keeps its
# slot in JACK's registry of servers (eight in all) until a server of the same name starts
# again, so each run cleans up after an earlier one that was killed.
export JACK_DEFAULT_SERVER="tq5-$label-$(printf '%s' "$root" | cksum | cut -d' ' -f1)"
export JACK_NO_START_SERVER=1
export JACK_NO_AUDIO_RESERVATION=1
export XDG_RUNTIME_DIR="$work"

jackd_pid=""
jackd_options=()
jackd_unclean=0  # the last server of our name did not end cleanly
devsim_pid=""
port=""   # the running device's port name: its ports are "$port in" and "$port out"
state=""  # its state file

# SIGTERM to one pid of ours, SIGKILL if it has not ended within five seconds; false when
# it took the SIGKILL.
stop_pid() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  local killed=0
  kill -KILL "$pid" 2>/dev/null && killed=1
  wait "$pid" 2>/dev/null
  [ "$killed" -eq 0 ]
}

# start_jackd [jackd options...]: the server at 48 kHz with a 64-frame period (1.33 ms);
# false, with its log on stderr, when it does not come up within 30 seconds. With no
# options, those of the last start. Realtime, as users run JACK, where the system allows it
# (jackd goes on without it where it does not): a server that is not realtime starves on a
# busy machine, and its clients time out of the graph.
start_jackd() {
  if [ $# -gt 0 ]; then jackd_options=("$@"); fi
  jackd --name "$JACK_DEFAULT_SERVER" "${jackd_options[@]}" -d dummy -r 48000 \
    -p 64 >"$work/jackd.log" 2>&1 &
  jackd_pid=$!
  for _ in $(seq 300); do
    kill -0 "$jackd_pid" 2>/dev/null || break
    if "$updater" --api jack ports 2>/dev/null | grep -q "^MIDI system: JACK"; then
      jackd_unclean=0  # its start freed the slot of a server of the name that died
      return 0
    fi
    sleep 0.1
  done
  echo "$label: jackd did not come up:" >&2
  cat "$work/jackd.log" >&2
  return 1
}

# As a server dies: SIGKILL, and gone once this returns.
kill_jackd() {
  [ -n "$jackd_pid" ] || return 0
  kill -KILL "$jackd_pid" 2>/dev/null
  wait "$jackd_pid" 2>/dev/null
  jackd_pid=""
  jackd_unclean=1
}

# Ends the server; one that ended uncleanly is started once more and ended cleanly, and
# the semaphores that its dead clients left are removed.
stop_jackd() {
  if [ -n "$jackd_pid" ]; then
    stop_pid "$jackd_pid" || jackd_unclean=1
    jackd_pid=""
  fi
  if [ "$jackd_unclean" -eq 1 ]; then
    start_jackd || true
    stop_pid "$jackd_pid"
    jackd_pid=""
  fi
  rm -f "/dev/shm/jack_sem.$(id -u)_${JACK_DEFAULT_SERVER}_"*
}

# start_devsim NAME [tq5-devsim options...]: the virtual TQ-5 with ports "NAME in" and
# "NAME out"; its flash report as it started is kept in "$state.start". False, with the
# device's stderr, when it is not ready within 30 s.
start_devsim() {
  port=$1
  shift
  state="$work/$port.state"
  # The last device of this name said "ready" in the same file: gone before this one starts.
  rm -f "$work/$port.devsim.out"
  "$devsim" --api "$api" --client-name "$port" --port-name "$port" --state-file "$state" "$@" \
    >"$work/$port.devsim.out" 2>"$work/$port.devsim.err" &
  devsim_pid=$!
  # A loaded machine has taken over ten seconds to bring a JACK client up.
  for _ in $(seq 300); do
    if grep -qx "tq5-devsim ready" "$work/$port.devsim.out" 2>/dev/null; then
      cp "$state" "$state.start"  # written before "ready"
      return 0
    fi
    kill -0 "$devsim_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "tq5-devsim did not get ready: $(cat "$work/$port.devsim.err")"
  return 1
}

stop_devsim() {
  stop_pid "$devsim_pid"
  devsim_pid=""
}

# Asks the device for its flash report (SIGUSR1) and prints it once the file is rewritten.
flash_state() {
  rm -f "$state"
  kill -USR1 "$devsim_pid" 2>/dev/null || return 1
  for _ in $(seq 100); do
    if [ -s "$state" ]; then
      cat "$state"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

stop_session() {
  stop_devsim
  stop_jackd
}
