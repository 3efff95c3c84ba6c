#!/usr/bin/env bash
# The manual page renders without a single warning, and man reads it.
#   check_manual.sh MANUAL_PAGE
set -euo pipefail
page=$1
warnings=$(groff -ww -z -man "$page" 2>&1)
[ -z "$warnings" ] || { echo "groff warns:"; echo "$warnings"; exit 1; }
rendered=$(MANWIDTH=80 man -l "$page" 2>&1)
for section in NAME SYNOPSIS DESCRIPTION COMMANDS OUTPUT "EXIT STATUS" "PLATFORM NOTES" EXAMPLES "SEE ALSO"; do
  grep -q "^$section" <<<"$rendered" || { echo "no section $section"; exit 1; }
done
echo "manual page renders cleanly"
