#!/bin/sh
# Link launcher: runs the link command it is given, then has td32conv append
# the TD32 debug information to the executable the command wrote (-o).
#   td32-link.sh CONVERTER [--tds] LINK-COMMAND...
conv="$1"
shift
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
if [ -n "$tds" ]; then
  exec "$conv" --append --quiet --tds "${out%.*}.tds" "$out"
fi
exec "$conv" --append --quiet "$out"
