#!/bin/sh
# The manual page renders without a groff warning and quotes every message of its program
# as app/messages.h has it, in the program's namespace there. Exit 77 (skipped) without groff,
# except in CI.
# Usage: check_manual_page.sh PAGE MESSAGES_HEADER NAMESPACE
set -u
page=$1
messages=$2
namespace=$3
if ! command -v groff >/dev/null 2>&1; then
  echo "groff is not installed"
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi

rendered=$(mktemp) && warnings=$(mktemp) && texts=$(mktemp) || exit 1
trap 'rm -f "$rendered" "$warnings" "$texts"' EXIT
groff -man -Tutf8 -ww -P-cbou "$page" >"$rendered" 2>"$warnings"
status=$?
if [ "$status" -ne 0 ] || [ -s "$warnings" ]; then
  echo "groff -man -Tutf8 -ww $page: status $status"
  cat "$warnings"
  exit 1
fi

# Every string literal of the namespace, split at its \n, spaces at the ends trimmed.
sed -n "/^namespace $namespace {/,/^}/p" "$messages" | sed -n 's/^[^"]*"\(.*\)";*$/\1/p' | sed 's/\\n/\n/g; s/^ *//; s/ *$//' | grep -v '^$' >"$texts"
[ -s "$texts" ] || { echo "no messages found in $messages"; exit 1; }
flat=$(tr -s ' \n' '  ' <"$rendered")
failed=0
while IFS= read -r text; do
  case $flat in
    *"$text"*) ;;
    *) echo "the manual page does not quote: $text"; failed=1 ;;
  esac
done <"$texts"
exit $failed
