#!/usr/bin/env bash
# Compares the dynamic symbol table of libvqscwlib.so with exports.txt: every listed export must
# be there, and nothing else may be. Usage: check_exports.sh LIBRARY EXPORTS_TXT
set -euo pipefail
lib=$1 list=$2
actual=$(nm -D --defined-only -C "$lib" | cut -d' ' -f3- | sort -u)
status=0
declare -A exact=() classes=()
while IFS= read -r line; do
  case "$line" in
    c:*) exact["${line#c:}"]=1 ;;
    c++:*) exact["${line#c++:}"]=1 ;;
    class:*) classes["${line#class:}"]=0 ;;
  esac
done < "$list"

while IFS= read -r sym; do
  [ -n "$sym" ] || continue
  if [ -n "${exact[$sym]+x}" ]; then
    exact[$sym]=seen
    continue
  fi
  owner=""
  for cls in "${!classes[@]}"; do
    case "$sym" in
      "$cls::"* | "vtable for $cls" | "typeinfo for $cls" | "typeinfo name for $cls") owner=$cls ;;
    esac
  done
  if [ -n "$owner" ]; then
    classes[$owner]=1
  else
    echo "exported but not listed: $sym"
    status=1
  fi
done <<< "$actual"

for sym in "${!exact[@]}"; do
  [ "${exact[$sym]}" = seen ] || { echo "listed but not exported: $sym"; status=1; }
done
for cls in "${!classes[@]}"; do
  [ "${classes[$cls]}" = 1 ] || { echo "class listed but none of its members exported: $cls"; status=1; }
done
[ $status = 0 ] && echo "exports match: $(echo "$actual" | grep -c . || true) symbols"
exit $status
