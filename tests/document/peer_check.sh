#!/bin/sh
# Lists the spot colorants that a peer renderer finds on page 1 of a PDF, one
# name per line, in no particular order; or every page's boxes and rotation.
#
#   peer_check.sh mutool FILE.pdf   MuPDF: the page's separations, taken from
#                                   the spot channels of a PSD rendering
#   peer_check.sh gs FILE.pdf       Ghostscript: the tiffsep device's
#                                   separation files
#   peer_check.sh pdfinfo FILE.pdf  poppler's pdfinfo -box over every page:
#                                   "PAGE rot DEGREES" and "PAGE MediaBox
#                                   LLX LLY URX URY" (CropBox, BleedBox,
#                                   TrimBox, ArtBox), pages from 1
#
# Exit status: 0 listed; 77 the peer is not installed; 2 the peer failed.
set -u

peer=${1:-}
pdf=${2:-}
if [ -z "$peer" ] || [ -z "$pdf" ]; then
  echo "usage: $0 mutool|gs|pdfinfo FILE.pdf" >&2
  exit 2
fi

# A hung peer must not hang the test run.
run() {
  if command -v timeout >/dev/null 2>&1; then
    timeout 60 "$@"
  else
    "$@"
  fi
}

tmp=$(mktemp -d) || exit 2
trap 'rm -rf "$tmp"' EXIT INT TERM

case $peer in
  mutool)
    command -v mutool >/dev/null 2>&1 || exit 77
    run mutool draw -q -r 9 -c cmyk -O 2 -o "$tmp/page.psd" "$pdf" 1 >/dev/null 2>&1 || exit 2
    [ -s "$tmp/page.psd" ] || exit 2
    # PSD: 26-byte header, colour-mode section, then image resources; the
    # resource 1006 holds the names of the extra (spot) channels as Pascal
    # strings. The resources lie at the start of the file.
    head -c 65536 "$tmp/page.psd" | od -An -v -tu1 | awk '
      function be32(at) { return ((b[at] * 256 + b[at + 1]) * 256 + b[at + 2]) * 256 + b[at + 3] }
      { for (i = 1; i <= NF; i++) b[n++] = $i }
      END {
        if (n < 34 || b[0] != 56 || b[1] != 66 || b[2] != 80 || b[3] != 83) exit 2
        p = 26
        p += 4 + be32(p)
        end = p + 4 + be32(p)
        p += 4
        while (p + 12 <= end && p < n) {
          id = b[p + 4] * 256 + b[p + 5]
          p += 6
          nameLen = b[p]
          p += 1 + nameLen
          if ((1 + nameLen) % 2) p++
          size = be32(p)
          p += 4
          if (id == 1006) {
            for (q = p; q < p + size && q < n; q += 1 + b[q]) {
              s = ""
              for (k = 1; k <= b[q]; k++) s = s sprintf("%c", b[q + k])
              if (s != "") print s
            }
          }
          p += size
          if (size % 2) p++
        }
      }' || exit 2
    ;;
  gs)
    command -v gs >/dev/null 2>&1 || exit 77
    run gs -q -dSAFER -dBATCH -dNOPAUSE -dFirstPage=1 -dLastPage=1 -r9 -sDEVICE=tiffsep \
      -o "$tmp/page.tif" "$pdf" >/dev/null 2>&1 || exit 2
    [ -e "$tmp/page.tif" ] || exit 2
    for f in "$tmp"/page\(*\).tif; do
      [ -e "$f" ] || continue
      name=${f#"$tmp/page("}
      name=${name%").tif"}
      case $name in
        Cyan | Magenta | Yellow | Black) ;;
        *) printf '%s\n' "$name" ;;
      esac
    done
    ;;
  pdfinfo)
    command -v pdfinfo >/dev/null 2>&1 || exit 77
    pages=$(run pdfinfo "$pdf" 2>/dev/null | awk '$1 == "Pages:" { print $2 }')
    [ -n "$pages" ] || exit 2
    run pdfinfo -box -f 1 -l "$pages" "$pdf" >"$tmp/box" 2>/dev/null || exit 2
    awk '$1 == "Page" && $3 == "rot:" { print $2, "rot", $4 }
         $1 == "Page" && $3 ~ /Box:$/ { sub(":", "", $3); print $2, $3, $4, $5, $6, $7 }' "$tmp/box"
    ;;
  *)
    echo "unknown peer: $peer" >&2
    exit 2
    ;;
esac
exit 0
