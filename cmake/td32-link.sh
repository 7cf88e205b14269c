#!/bin/sh
# Link launcher: runs the link command it is given, then has td32conv append
# the TD32 debug information to the executable the command wrote (-o).
#   td32-link.sh CONVERTER [--source-root DIR] [--tds] LINK-COMMAND...
conv="$1"
shift
root=""
if [ "$1" = "--source-root" ]; then
  root="$2"
  shift 2
fi
tds=""
if [ "$1" = "--tds" ]; then
  tds=1
  shift
fi
"$@" || exit $?
out=""
prev=""
for a in "$@"; do
  [ "$prev" = "-o" ] && out="$a"
  prev="$a"
done
[ -n "$out" ] || exit 0
set -- --append --quiet
[ -n "$root" ] && set -- "$@" --source-root "$root"
[ -n "$tds" ] && set -- "$@" --tds "${out%.*}.tds"
exec "$conv" "$@" "$out"
