#!/bin/sh
# The manual page renders without a groff warning and quotes every message of its program as
# app/messages.h has it (each string literal of the program's namespace there, split at its \n,
# spaces at the ends trimmed). Exit 77 (skipped) without groff, except in CI.
# Usage: check_manual_page.sh PAGE MESSAGES_HEADER NAMESPACE
set -u
command -v groff >/dev/null 2>&1 || { echo "groff is not installed"; [ -n "${CI:-}" ] && exit 1; exit 77; }
warnings=$(groff -man -Tutf8 -ww -P-cbou "$1" 2>&1 >/dev/null) && [ -z "$warnings" ] ||
  { echo "groff -man -Tutf8 -ww $1: $warnings"; exit 1; }
page=$(groff -man -Tutf8 -P-cbou "$1" 2>/dev/null | tr -s ' \n' '  ')
texts=$(sed -n "/^namespace $3 {/,/^}/p" "$2" | sed -n 's/^[^"]*"\(.*\)";*$/\1/p' | sed 's/\\n/\n/g; s/^ *//; s/ *$//' | grep -v '^$')
[ -n "$texts" ] || { echo "no messages found in $2"; exit 1; }
failed=0
while IFS= read -r text; do
  case $page in *"$text"*) ;; *) echo "the manual page does not quote: $text"; failed=1 ;; esac
done <<EOF2
$texts
EOF2
exit $failed
