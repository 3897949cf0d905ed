#!/usr/bin/env bash
# Checks the packages that tools/package.sh left in build/:
#   .deb  control fields (name, version, architecture, every library the programs and their
#         RtMidi link, ALSA and JACK among them), contents, lintian (no errors) when it is
#         installed; then, unpacked into a scratch root with dpkg -x, the installed
#         programs' --version and a whole `tq5-updater --simulate update`.
#   .zip  exactly Updater.exe and README.txt; the version record of Updater.exe; a readme
#         with CRLF lines that explains every message of the string table.
#
#   tools/package-test.sh [build-dir]      (default: build; presets release and mingw)
set -euo pipefail
cd "$(dirname "$0")/.."

out=$(realpath "${1:-build}")
failures=0
fail() { echo "package-test: FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "package-test: ok: $*"; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/release/CMakeCache.txt")
arch=$(dpkg --print-architecture)
deb="$out/tq5-updater_${version}_${arch}.deb"
zip="$out/tq5-updater-${version}-windows-x64.zip"
[ -n "$version" ] || { echo "package-test: no version in $out/release/CMakeCache.txt" >&2; exit 1; }
for f in "$deb" "$zip"; do
  [ -f "$f" ] || { echo "package-test: $f is missing; run tools/package.sh" >&2; exit 1; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tq5-package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# --- .deb: control fields ----------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tq5-updater ] && pass "Package: tq5-updater" || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] && pass "Version: $version" || fail "Version is '$(field Version)', the build's is $version"
[ "$(field Architecture)" = "$arch" ] && pass "Architecture: $arch" || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"

# Depends, split into its package names (alternatives included, versions dropped).
depends=$(field Depends)
depend_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*)//; s/ //g' | sed '/^$/d')
has_dependency() { grep -qx "$1" <<<"$depend_names"; }

root="$scratch/root"
dpkg -x "$deb" "$root"
updater="$root/usr/bin/tq5-updater"
devsim="$root/usr/bin/tq5-devsim"

# Every shared library that the programs or their RtMidi load directly must come from a
# package that Depends names; ldd says where this machine has each one.
loaded=$(ldd "$updater" "$devsim" | awk '$2 == "=>" && $3 ~ /^\// {print $1, $3}' | sort -u)
rtmidi=$(awk '$1 ~ /^librtmidi/ {print $2; exit}' <<<"$loaded")
[ -n "$rtmidi" ] || fail "the programs do not load RtMidi"
libraries=$(objdump -p "$updater" "$devsim" ${rtmidi:+"$rtmidi"} | awk '/NEEDED/ {print $2}' | sort -u)
# The package that owns a library file; with /usr merged, dpkg may know the file under /lib.
package_of() {
  local real candidate
  [ -n "$1" ] || return 0
  real=$(realpath "$1")
  for candidate in "$1" "$real" "${real#/usr}" "/usr$1"; do
    dpkg-query -S "$candidate" 2>/dev/null | head -1 | cut -d: -f1 && return 0
  done
  return 0
}
for lib in $libraries; do
  path=$(awk -v lib="$lib" '$1 == lib {print $2; exit}' <<<"$loaded")
  owner=$(package_of "$path")
  if [ -z "$owner" ]; then
    fail "$lib: no Debian package owns ${path:-it}"
  elif has_dependency "$owner"; then
    pass "$lib is in Depends ($owner)"
  else
    fail "$lib comes from $owner, which Depends does not name: $depends"
  fi
done
for needed in 'librtmidi[0-9]+' 'libasound2' 'libjack-.*'; do
  grep -Eqx "$needed" <<<"$depend_names" || fail "Depends names no $needed: $depends"
done

# --- .deb: contents ----------------------------------------------------------------------
for path in usr/bin/tq5-updater usr/bin/tq5-devsim usr/share/man/man1/tq5-updater.1.gz \
            usr/share/man/man1/tq5-devsim.1.gz usr/share/doc/tq5-updater/copyright \
            usr/share/doc/tq5-updater/changelog.gz; do
  [ -s "$root/$path" ] && pass "/$path" || fail "/$path is missing"
done
# The man pages list the programs' real options and render without warnings.
for page in tq5-updater:--simulate tq5-devsim:--fault; do
  name=${page%%:*} option=${page#*:}
  text=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$name.1.gz" 2>"$scratch/man.err" || true)
  grep -q -- "$option" <<<"$text" || fail "man page of $name does not show $option"
  [ ! -s "$scratch/man.err" ] || fail "man page of $name: $(cat "$scratch/man.err")"
done

if command -v lintian >/dev/null; then
  if lintian --fail-on error "$deb" >"$scratch/lintian" 2>&1; then
    pass "lintian: no errors"
  else
    fail "lintian: $(cat "$scratch/lintian")"
  fi
  grep -E '^[EW]: ' "$scratch/lintian" || true
else
  echo "package-test: lintian is not installed; skipped"
fi

# --- .deb: the installed programs --------------------------------------------------------
# The version fields of the images this build carries, read from the image files.
field_of() { dd if="$out/release/firmware/$1.bin" bs=1 skip="$2" count=4 status=none; }
images="Firmware images: system $(field_of 139 4064), preset $(field_of 133 4092), boot $(field_of 142 204796)"
for program in tq5-updater tq5-devsim; do
  text=$("$root/usr/bin/$program" --version)
  [ "$(sed -n 1p <<<"$text")" = "$program $version" ] || fail "$program --version: $text"
  [ "$(sed -n 2p <<<"$text")" = "$images" ] || fail "$program --version: '$text', images hold '$images'"
  pass "$program --version: $(head -1 <<<"$text")"
done
# A private runtime folder and an absent JACK server name: the run meets no other instance
# and no MIDI server.
if XDG_RUNTIME_DIR="$scratch" JACK_DEFAULT_SERVER=tq5-package-test-absent \
    timeout 300 "$updater" --simulate update >"$scratch/update.out" 2>"$scratch/update.err" &&
    grep -q "10/10  Version update completed." "$scratch/update.out"; then
  pass "installed tq5-updater --simulate update: Version update completed."
else
  fail "installed tq5-updater --simulate update: $(tail -3 "$scratch/update.out") $(cat "$scratch/update.err")"
fi

# --- .zip --------------------------------------------------------------------------------
listing=$(cmake -E tar tf "$zip" | sort | tr '\n' ' ')
[ "$listing" = "README.txt Updater.exe " ] && pass "zip holds README.txt and Updater.exe" ||
  fail "zip holds: $listing"
mkdir "$scratch/zip"
(cd "$scratch/zip" && cmake -E tar xf "$zip")
exe="$scratch/zip/Updater.exe"
[ "$(head -c 2 "$exe")" = MZ ] || fail "Updater.exe is not a Windows program"
# The version record's strings, in the order the resource holds them.
record=$(strings -el "$exe" | grep -A1 -xE 'FileVersion|ProductVersion|ProductName' | grep -v -- '--')
for key in FileVersion ProductVersion; do
  [ "$(grep -A1 -x "$key" <<<"$record" | sed -n 2p)" = "$version" ] &&
    pass "Updater.exe $key $version" || fail "Updater.exe $key is not $version: $record"
done
[ "$(grep -A1 -x ProductName <<<"$record" | sed -n 2p)" = "VARN TQ Series" ] ||
  fail "Updater.exe ProductName: $record"

readme="$scratch/zip/README.txt"
[ "$(grep -c $'\r$' "$readme")" = "$(wc -l <"$readme")" ] && pass "README.txt has CRLF lines" ||
  fail "README.txt has lines without CR"
grep -q "$version" "$readme" || fail "README.txt does not name version $version"
# Every message a user can see, as the string table holds it ("%d" as the readme writes it).
messages=$(sed -n 's/^ *{IDS_[A-Z0-9_]*, "\(.*\)"},$/\1/p' engine/string_table.hpp | grep -v '(&A)')
messages+=$'\n'$(sed -n 's/^ *"\(It is forbidden.*\)";$/\1/p' engine/string_table.hpp)
[ "$(wc -l <<<"$messages")" -ge 14 ] || fail "could not read the string table: $messages"
while IFS= read -r message; do
  expected=$(sed 's/ %d \/ %d / n \/ m /; s/more than %d/more than 20/' <<<"$message")
  grep -qF "\"$expected\"" "$readme" || fail "README.txt does not explain \"$expected\""
done <<<"$messages"

if [ "$failures" -eq 0 ]; then
  echo "package-test: all checks passed ($(basename "$deb"), $(basename "$zip"))"
else
  echo "package-test: $failures check(s) failed" >&2
  exit 1
fi
