#!/usr/bin/env bash
# Makes the workbooks the reader tests open: receivables.fods, written by hand, saved by
# LibreOffice as .xlsx, .xls (Excel 97-2003) and .ods. Needs soffice (libreoffice-calc-nogui);
# the tests themselves only read the files this leaves here.
# Two formulas give text: G4 holds no cached result, so LibreOffice calculates it and its .xls has
# the FORMULA record's text marker and a STRING record after it; G5 carries its cached text, which
# LibreOffice (7.4) passes to .xls as the number 0 with no STRING record: the text is not in the file.
set -euo pipefail
cd "$(dirname "$0")"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for format in xlsx xls ods; do
  soffice --headless --convert-to "$format" --outdir "$out" receivables.fods >/dev/null
  cp "$out/receivables.$format" .
done
