#!/bin/sh
# Fails when code under src/ compares a text that the board operations show: a message, a question
# or a status text. What happened to a board is told by an operation's outcome; a text is for the
# person reading it and may be mended without changing what the programmer does.
#   no-message-compared.sh SRC_DIR
src=${1:-src}
texts=$(mktemp)
trap 'rm -f "$texts"' EXIT
# The shown texts end in "!" or "?" (the board's messages and questions, "Read Error !"); the
# status texts are a space and a word, dots after it when a transfer is under way (" Read ......").
grep -rhoE '"[^"]*[!?] ?"|" [A-Z][a-z]+( \.+)?"' "$src/device" "$src/service" "$src/link" >"$texts"
# A comparison is ==, != or a search of a string; each literal on such a line is trimmed and must
# not be the start of a shown text (at least four characters, so "ok" and "t" are not taken).
grep -rnE '==|!=|find\(|starts_with\(|ends_with\(|erase\(' "$src" --include=*.cpp --include=*.h |
  awk -v texts="$texts" '
    function trim(s) { gsub(/^ +| +$/, "", s); return s }
    BEGIN { while ((getline line < texts) > 0) { gsub(/"/, "", line); shown[trim(line)] = 1 } }
    {
      rest = $0
      while (match(rest, /"[^"]*"/)) {
        literal = trim(substr(rest, RSTART + 1, RLENGTH - 2))
        rest = substr(rest, RSTART + RLENGTH)
        if (length(literal) < 4) continue
        for (text in shown)
          if (index(text, literal) == 1) { print "compares a shown text: " $0; found = 1; break }
      }
    }
    END { exit found }'
