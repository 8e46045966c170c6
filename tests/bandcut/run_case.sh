#!/usr/bin/env bash
# Runs bandcut on one golden case in a scratch folder and compares what it did with what
# the case expects.  A case folder holds:
#   case      "# what it exercises", "args: ...", "status: N", optional "setup: readonly|full|folder"
#             and "message: ..." (the expected last line of standard output)
#   OUTCAR    the listing (absent: the folder has none)
#   stdout    the expected standard output, whole (optional when a message is given)
#   stderr    the expected standard error; absent: nothing may be written there
#   FS.bsxf   the expected band-grid file; absent for a failing run, which must leave the
#             FS.bsxf that was there before byte for byte as it was
set -u
bandcut=$1 case=$2 work=$3

field() { sed -n "s/^$1: //p" "$case/case"; }
args=$(field args) status=$(field status) setup=$(field setup) message=$(field message)

rm -rf "$work" && mkdir -p "$work/run"
dir=$work/run
[ -f "$case/OUTCAR" ] && cp "$case/OUTCAR" "$dir/"
before="previous band grid, must survive a failed run"
if [ "$setup" = folder ]; then
  mkdir "$dir/FS.bsxf"  # a folder where the file should go
elif [ ! -f "$case/FS.bsxf" ]; then
  printf '%s\n' "$before" > "$dir/FS.bsxf"
fi

fail() { echo "FAIL $(basename "$case"): $*"; exit 1; }

(
  cd "$dir" || exit 99
  case "$setup" in
    readonly)
      chmod a-w .
      # root writes anywhere: run as nobody, for whom the folder is read-only
      if [ "$(id -u)" = 0 ]; then
        chmod a+rx "$work" "$dir"; chmod a+r ./*
        exec setpriv --reuid=65534 --regid=65534 --clear-groups "$bandcut" $args > "$work/stdout" 2> "$work/stderr"
      fi ;;
    full)
      # A file-size limit makes writes past 2 KiB fail as on a full disk.
      trap '' XFSZ; ulimit -f 2 ;;
  esac
  exec "$bandcut" $args > "$work/stdout" 2> "$work/stderr"
)
got=$?
chmod u+w "$dir"

[ "$got" = "$status" ] || fail "exit status $got, expected $status"
if [ -f "$case/stdout" ]; then
  cmp -s "$case/stdout" "$work/stdout" || { diff "$case/stdout" "$work/stdout" | head -20; fail "standard output differs"; }
fi
if [ -f "$case/stderr" ]; then
  cmp -s "$case/stderr" "$work/stderr" || { diff "$case/stderr" "$work/stderr" | head -20; fail "standard error differs"; }
else
  [ ! -s "$work/stderr" ] || { cat "$work/stderr"; fail "unexpected standard error"; }
fi
if [ -n "$message" ]; then
  last=$(tail -n 1 "$work/stdout")
  [ "$last" = "$message" ] || fail "last line of standard output is '$last', expected '$message'"
fi
if [ "$setup" = folder ]; then
  [ -d "$dir/FS.bsxf" ] && [ -z "$(ls -A "$dir/FS.bsxf")" ] || fail "the folder FS.bsxf was changed"
elif [ -f "$case/FS.bsxf" ]; then
  cmp -s "$case/FS.bsxf" "$dir/FS.bsxf" || { diff "$case/FS.bsxf" "$dir/FS.bsxf" | head -20; fail "FS.bsxf differs"; }
else
  [ "$(cat "$dir/FS.bsxf")" = "$before" ] || fail "the previous FS.bsxf was changed"
fi
left=$(cd "$dir" && ls -A | grep -v -x -e OUTCAR -e FS.bsxf)
[ -z "$left" ] || fail "left behind: $left"
echo "ok $(basename "$case"): $(sed -n 's/^# //p' "$case/case")"
