#!/bin/sh
# The manual page renders without a groff warning and quotes every message of its program
# whole, as app/messages.h has its parts: each message below is a line of constants of the
# program's namespace there, with "*" for what the program fills in (a name or a number),
# which the page writes as one word. Every constant must be in some message, so a new one
# cannot go unchecked. Exit 77 (skipped) without groff, except in CI.
# Usage: check_manual_page.sh PAGE MESSAGES_HEADER NAMESPACE
set -uf  # no file-name globbing: "*" stands for a word
command -v groff >/dev/null 2>&1 || { echo "groff is not installed"; [ -n "${CI:-}" ] && exit 1; exit 77; }
warnings=$(groff -man -Tutf8 -ww -P-cbou "$1" 2>&1 >/dev/null) && [ -z "$warnings" ] ||
  { echo "groff -man -Tutf8 -ww $1: $warnings"; exit 1; }
page=$(groff -man -Tutf8 -P-cbou "$1" 2>/dev/null | tr -s ' \n' '  ')
case $3 in
messages) messages='banner
usage
* not_tile_data
cannot_open_output *
cannot_open_output * output_is_input
converted
conversion_failed
* output_extension' ;;
pack_messages) messages='usage
unknown_option *
* needs_value
bad_thread_count *
missing_both
missing_tisfile
extra_argument *
standard_input_twice
empty_picture_name
empty_tisfile_name
empty_original_name
* because *
* not_a_picture
* output_is_picture
output_is_terminal
* size_is * by * size_must_be
packing_failed * because *
standard_input
standard_output
ended_early
not_written
written * by * blocks * reduced_to_256
written * by * blocks * unchanged * changed * reduced_to_256
and_then * no_original_record
and_then * records_kept
* no_memory
* original_is_picture
* original_of * original_not_records * original_record_size
progress * progress_of * progress_rows * progress_rate' ;;
layout_messages) messages='usage
unknown_option *
missing_tisfile
extra_argument *
* because *
* because ended_early
* because no_memory
layout * by * blocks
record_after
and_then * records_after
command *
also_possible * by * blocks
* is_empty
* is_picture
* not_whole_records
* single_record
* too_many_records *
cannot_tell * cannot_tell_why' ;;
*) echo "no messages listed for namespace $3"; exit 1 ;;
esac
# name=text for every string constant of the namespace, regular-expression characters escaped.
constants=$(sed -n "/^namespace $3 {/,/^}/p" "$2" | tr '\n' ' ' | grep -o 'string_view [a-z_0-9]* *= *\("[^"]*" *\)*;' |
  sed 's/string_view \([a-z_0-9]*\) *= */\1=/; s/ *;$//; s/" *"//g; s/"//g; s/[].*^$(){}?+[]/\\&/g')
[ -n "$constants" ] || { echo "no messages found in $2"; exit 1; }
failed=0
for name in $(printf '%s\n' "$constants" | sed 's/=.*//'); do
  printf '%s\n' "$messages" | grep -qw -- "$name" || { echo "no message uses $name"; failed=1; }
done
# Each message as an extended regular expression per line of it ("\n" in a constant).
printf '%s\n' "$messages" | while IFS= read -r message; do
  pattern=
  for part in $message; do
    [ "$part" = "*" ] && pattern="$pattern[^ ]+" || pattern="$pattern$(printf '%s\n' "$constants" | sed -n "s/^$part=//p")"
  done
  printf '%s\n' "$pattern" | sed 's/\\n/\n/g' | sed 's/^ *//; s/ *$//' | while IFS= read -r line; do
    printf '%s\n' "$page" | grep -Eq -- "$line" || { echo "the manual page does not quote whole: $message ($line)"; exit 1; }
  done || exit 1
done || failed=1
exit $failed
