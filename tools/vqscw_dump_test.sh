#!/usr/bin/env bash
# Checks vqscw-dump end to end through the shared library.
set -euo pipefail
dump=$1
fail() { echo "FAIL: $*"; exit 1; }

out=$("$dump" 524541440001414456440701)
[ "$out" = "DGRM [READ ADVD=01]" ] || fail "READ body printed as: $out"

out=$("$dump" --frame 034D0207 00000001 00000000 00000000 4E4553540002 41445654 07 02 5445524D 06 000D 494E4449 0001 48574944 08 0102)
[ "$out" = "MSG  [NEST ADVT=02,TERM=DGRM [INDI HWID=0102]]" ] || fail "NEST frame printed as: $out"

out=$("$dump")
case "$out" in
  *"MSG"*) fail "sample should be a datagram: $out" ;;
  *"[NEST ADVT=01,TERM=DGRM [INDI ADVV=00000001,HWID=0102"*"S004=DGRM [INDI PSID=00000104"*) ;;
  *) fail "sample advertisement printed as: $out" ;;
esac

if "$dump" 52454144000241 >/dev/null 2>&1; then fail "a truncated body was accepted"; fi
set +e
"$dump" xyz >/dev/null 2>&1
[ $? = 2 ] || fail "bad hex should exit with 2"
for bad in "--frame" "--bogus"; do
  err=$("$dump" $bad 2>&1 >/dev/null); status=$?
  [ $status = 2 ] || fail "$bad should exit with 2, not $status"
  case "$err" in "vqscw-dump: "*"Try vqscw-dump --help."*) ;; *) fail "$bad said: $err" ;; esac
done
set -e
out=$("$dump" --version)
case "$out" in "vqscw-dump "[0-9]*) ;; *) fail "--version printed: $out" ;; esac
out=$("$dump" --help)
case "$out" in *"HEX"*"--frame"*) ;; *) fail "--help printed: $out" ;; esac
echo "vqscw-dump ok"
