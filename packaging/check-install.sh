#!/usr/bin/env bash
# Builds the Debian packages and checks them as a maintainer would, as root on
# a Debian machine (CI runs it from .ci/run):
#   - `make package` (one Release build), unless --no-build is given;
#   - lintian on the three packages: no error (warnings and notes are shown);
#   - the library's exported symbols against packaging/libpdfparse1.symbols
#     (dpkg-gensymbols -c4), no run path on the public library, stripped
#     binaries, the dependencies dpkg-shlibdeps found and pdfinquiry's
#     declared one;
#   - dpkg -i libpdfparse1 and pdfinquiry: pdfinquiry --level 3 answers on
#     the samples with no environment help, its manual page is found by
#     `man -w` and renders without warnings, its completion loads;
#   - dpkg -i libpdfparse-dev: a host built with pkg-config and one built with
#     CMake's find_package(pdfparse) run without LD_LIBRARY_PATH, and a host
#     compiled with the old std::string ABI is stopped with the reason;
#   - dpkg -r of all three: every file `dpkg -L` listed is gone, and so is the
#     library from the dynamic linker's cache.
# The packages must not be installed from elsewhere when it starts; it removes
# what it installed, also when a check fails.
set -euo pipefail
# Under pipefail, a `grep -q` that stops reading at its first match can fail
# the pipe with its writer's SIGPIPE: pipes end in `grep -c ... >/dev/null`,
# which reads everything.
cd "$(dirname "$0")/.."

BUILD=build/package
RUNTIME=libpdfparse1
TOOLS=pdfinquiry
DEV=libpdfparse-dev
PACKAGES=("$RUNTIME" "$TOOLS" "$DEV")

step() { printf '\n== %s\n' "$*"; }
fail() {
  printf 'check-install: FAILED: %s\n' "$*" >&2
  exit 1
}

[ "$(id -u)" = 0 ] || fail "run as root (it installs and removes packages)"

need=()
for p in lintian man-db groff-base pkg-config file dpkg-dev binutils; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -c '^install ok installed' >/dev/null || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  step "apt-get install ${need[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

for p in "${PACKAGES[@]}"; do
  if dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -c ' installed$' >/dev/null; then
    fail "$p is already installed; remove it first (dpkg -r $p)"
  fi
done

if [ "${1:-}" != --no-build ]; then
  step "make package"
  make package
fi
deb() {
  local f
  f=$(ls "$BUILD"/packages/"$1"_*.deb 2>/dev/null | head -n 1)
  [ -n "$f" ] || fail "no $1 package in $BUILD/packages"
  echo "$f"
}
RUNTIME_DEB=$(deb $RUNTIME)
TOOLS_DEB=$(deb $TOOLS)
DEV_DEB=$(deb $DEV)
SAMPLES=$BUILD/samples
[ -f "$SAMPLES/letter.pdf" ] && [ -f "$SAMPLES/vrel-spot.pdf" ] || fail "no samples in $SAMPLES"

WORK=$(mktemp -d)
cleanup() {
  local status=$?
  for p in "$DEV" "$TOOLS" "$RUNTIME"; do
    if dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -c ' installed$' >/dev/null; then
      echo "check-install: removing $p" >&2
      dpkg -r "$p" >/dev/null || true
    fi
  done
  rm -rf "$WORK"
  exit $status
}
trap cleanup EXIT

step "lintian"
lintian --fail-on error --display-info "$RUNTIME_DEB" "$TOOLS_DEB" "$DEV_DEB" | tee "$WORK/lintian.txt"
if grep -q '^E: ' "$WORK/lintian.txt"; then fail "lintian reports errors"; fi

step "package contents"
for d in "$RUNTIME_DEB" "$TOOLS_DEB" "$DEV_DEB"; do
  name=$(dpkg-deb -f "$d" Package)
  dpkg-deb -x "$d" "$WORK/$name"
  dpkg-deb -e "$d" "$WORK/$name/DEBIAN"
  printf '%s: Depends: %s\n' "$name" "$(dpkg-deb -f "$d" Depends)"
done
VERSION=$(dpkg-deb -f "$RUNTIME_DEB" Version)
LIBDIR=$(find "$WORK/$RUNTIME" -name 'libpdfparse.so.1' -printf '%h\n' | head -n 1)
[ -n "$LIBDIR" ] || fail "libpdfparse.so.1 is not in $RUNTIME"
LIBDIR=${LIBDIR#"$WORK/$RUNTIME"}
echo "library folder: $LIBDIR"
for f in "$LIBDIR/libpdfparse.so.1" "$LIBDIR/pdfparse/libpdfparse_core.so" "$LIBDIR/pdfparse/libKestaro.so" \
  "$LIBDIR/pdfparse/libpdfparse_document.so.1"; do
  [ -e "$WORK/$RUNTIME$f" ] || fail "$RUNTIME has no $f"
done
[ -L "$WORK/$DEV$LIBDIR/libpdfparse.so" ] || fail "$DEV has no namelink $LIBDIR/libpdfparse.so"
[ -e "$WORK/$TOOLS/usr/share/man/man1/pdfinquiry.1.gz" ] || fail "$TOOLS has no manual page"
[ -e "$WORK/$TOOLS/usr/share/bash-completion/completions/pdfinquiry" ] || fail "$TOOLS has no bash completion"
if readelf -d "$WORK/$RUNTIME$LIBDIR/libpdfparse.so.1" | grep -Eq '\((RPATH|RUNPATH)\)'; then
  fail "the public library has a run path"
fi
while IFS= read -r -d '' f; do
  if file -b "$f" | grep -c 'ELF' >/dev/null && ! file -b "$f" | grep -c ', stripped' >/dev/null; then fail "not stripped: $f"; fi
done < <(find "$WORK/$RUNTIME" "$WORK/$TOOLS" -type f -print0)
dpkg-deb -f "$RUNTIME_DEB" Depends | grep -c 'libqpdf' >/dev/null || fail "$RUNTIME does not depend on libqpdf (dpkg-shlibdeps)"
dpkg-deb -f "$TOOLS_DEB" Depends | grep -c "$RUNTIME (= $VERSION)" >/dev/null || fail "$TOOLS does not depend on $RUNTIME (= $VERSION)"
dpkg-deb -f "$DEV_DEB" Depends | grep -c "$RUNTIME (= $VERSION)" >/dev/null || fail "$DEV does not depend on $RUNTIME (= $VERSION)"

step "symbols (dpkg-gensymbols -c4)"
mkdir -p "$WORK/symbols/debian"
printf 'Source: pdfparse\n\nPackage: %s\nArchitecture: any\n' "$RUNTIME" >"$WORK/symbols/debian/control"
cp "$WORK/$RUNTIME/DEBIAN/symbols" "$WORK/symbols/debian/$RUNTIME.symbols"
cp -a "$WORK/$RUNTIME" "$WORK/symbols/debian/$RUNTIME"
(cd "$WORK/symbols" && dpkg-gensymbols -c4 -p"$RUNTIME" -v"${VERSION%-*}" -P"debian/$RUNTIME" \
  -e"debian/$RUNTIME$LIBDIR/libpdfparse.so.1" -O"$WORK/symbols.out") || fail "the exported symbols differ"

step "dpkg -i $RUNTIME $TOOLS"
dpkg -i "$RUNTIME_DEB" "$TOOLS_DEB"
dpkg -L "$RUNTIME" "$TOOLS" >"$WORK/files-runtime.txt"
unset PDFPARSE_LIBRARY PDFPARSE_PLUGIN_DIR PDFPARSE_TRACE LD_LIBRARY_PATH
[ "$(command -v pdfinquiry)" = /usr/bin/pdfinquiry ] || fail "pdfinquiry is not /usr/bin/pdfinquiry"
pdfinquiry --level 3 "$SAMPLES/letter.pdf" "$SAMPLES/vrel-spot.pdf" | tee "$WORK/answer.txt" ||
  fail "pdfinquiry --level 3 failed"
grep -q 'letter.pdf .* ok .* 3 .* 612 x 792 pt' "$WORK/answer.txt" || fail "no level-3 answer for letter.pdf"
pdfinquiry --json "$SAMPLES/vrel-spot.pdf" >"$WORK/answer.json" || fail "pdfinquiry --json failed"
grep -q '"widthPt":612.0' "$WORK/answer.json" || fail "the installed plug-in did not measure the pages"
grep -q '"subType":1,"hasSpotInk":1' "$WORK/answer.json" || fail "no spot ink found at level 3"
pdfinquiry --help | grep -c 'PDFPARSE_MEMORY_LIMIT_MB' >/dev/null || fail "--help does not list the environment"

step "manual page and completion"
if page=$(man -w pdfinquiry); then
  echo "man -w pdfinquiry: $page"
else
  # dpkg may be told to leave manual pages out (path-exclude): then the page
  # must at least be in the package and render from there.
  grep -rqs 'path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/ || fail "man -w does not find pdfinquiry(1)"
  page=$WORK/$TOOLS/usr/share/man/man1/pdfinquiry.1.gz
  echo "dpkg leaves manual pages out here; checking the packaged page: $page"
fi
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 "$page" >"$WORK/man.txt" 2>"$WORK/man.err" ||
  fail "man -l $page failed: $(cat "$WORK/man.err")"
[ ! -s "$WORK/man.err" ] || fail "the manual page renders with warnings: $(cat "$WORK/man.err")"
sed 's/.\x08//g' "$WORK/man.txt" | grep -c 'PDFPARSE_PLUGIN_DIR' >/dev/null || fail "the rendered page lacks the environment"
bash --norc -c 'source /usr/share/bash-completion/completions/pdfinquiry && complete -p pdfinquiry' ||
  fail "the bash completion does not load"

step "dpkg -i $DEV"
dpkg -i "$DEV_DEB"
dpkg -L "$DEV" >"$WORK/files-dev.txt"
cat >"$WORK/host.cc" <<'EOF'
#include <pdfparse/CPdfParseIf.h>
#include <cstdio>
int main(int, char** argv) {
  CPdfParseIf* parser = CreateCPdfParse(0);
  PdfInquiryRec rec;
  bool ok = parser && parser->runInquiry(argv[1], &rec);
  std::printf("ok=%d pages=%d producer=%s\n", ok, rec.numPages, rec.infoValue.c_str());
  delete parser;
  return !ok;
}
EOF
flags=$(pkg-config --cflags --libs pdfparse)
echo "pkg-config --cflags --libs pdfparse: $flags"
case "$flags" in *..* | *-I* | *-L*) fail "pkg-config names folders it should leave out: $flags" ;; esac
# shellcheck disable=SC2086 # the flags are words
c++ -std=c++17 -o "$WORK/host-pc" "$WORK/host.cc" $flags
"$WORK/host-pc" "$SAMPLES/letter.pdf" | tee "$WORK/host-pc.txt"
grep -q 'ok=1 pages=3 producer=pdfparse sample writer' "$WORK/host-pc.txt" || fail "the pkg-config host did not answer"

mkdir -p "$WORK/cmake-host"
cp "$WORK/host.cc" "$WORK/cmake-host/host.cc"
cat >"$WORK/cmake-host/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.22)
project(host CXX)
find_package(pdfparse 1 REQUIRED)
add_executable(host host.cc)
target_link_libraries(host PRIVATE pdfparse::pdfparse)
EOF
cmake -S "$WORK/cmake-host" -B "$WORK/cmake-host/build" >/dev/null
cmake --build "$WORK/cmake-host/build" >/dev/null
"$WORK/cmake-host/build/host" "$SAMPLES/letter.pdf" | tee "$WORK/host-cmake.txt"
grep -q 'ok=1 pages=3' "$WORK/host-cmake.txt" || fail "the CMake host did not answer"
if c++ -std=c++17 -D_GLIBCXX_USE_CXX11_ABI=0 -fsyntax-only "$WORK/host.cc" 2>"$WORK/oldabi.txt"; then
  fail "a host with the old std::string ABI compiled"
fi
grep -q 'PdfInquiryRec holds a std::string of the C++11 ABI' "$WORK/oldabi.txt" || fail "the old-ABI host's error lacks the reason"

step "dpkg -r $DEV $TOOLS $RUNTIME"
dpkg -r "$DEV" "$TOOLS" "$RUNTIME"
left=0
while IFS= read -r f; do
  [ -n "$f" ] && [ "$f" != /. ] || continue
  if [ -e "$f" ] || [ -L "$f" ]; then
    # Folders other packages share stay; what is ours must go.
    if [ -d "$f" ] && [ ! -L "$f" ]; then
      case "$f" in */pdfparse | */pdfparse/* | /usr/share/doc/"$RUNTIME" | /usr/share/doc/"$TOOLS" | /usr/share/doc/"$DEV") ;; *) continue ;; esac
    fi
    echo "left behind: $f" >&2
    left=1
  fi
done < <(cat "$WORK/files-runtime.txt" "$WORK/files-dev.txt")
[ "$left" = 0 ] || fail "files were left behind"
if ldconfig -p | grep -c 'libpdfparse\.so' >/dev/null; then fail "the dynamic linker's cache still lists libpdfparse"; fi
for p in "${PACKAGES[@]}"; do
  if dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -c ' installed$' >/dev/null; then fail "$p is still installed"; fi
done
echo "removed: $(wc -l <"$WORK/files-runtime.txt") + $(wc -l <"$WORK/files-dev.txt") listed paths checked"

echo
echo "check-install: all checks passed"
