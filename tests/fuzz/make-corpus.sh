#!/usr/bin/env bash
# Builds the seed corpus of every fuzz target in BUILD_DIR/corpus/<target>/:
# the program's own data files for the parsers that read them, the small
# hand-written files in tests/fuzz/seeds/ for the rest, zip archives packed
# from data files, and transcripts of the simulated keyboards for the device
# answers (recorded by BUILD_DIR/fuzz/fuzz_device_seed).
#
#   tests/fuzz/make-corpus.sh BUILD_DIR
#
# Existing corpus files (what earlier runs found) are kept.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(cd "${1:?usage: make-corpus.sh BUILD_DIR}" && pwd)"
data="$root/data"
corpus="$build/corpus"

seed() { # seed TARGET FILE...
    local target="$1"
    shift
    mkdir -p "$corpus/$target"
    local file
    for file in "$@"; do
        [[ -f "$file" ]] && cp "$file" "$corpus/$target/seed-$(basename "$file")"
    done
    return 0
}

seed layout_json "$data"/config/layout/*.json "$data"/config/static/static.json
seed static_keys "$data"/config/static/*.xml
seed catalogue "$data"/config/config.xml
seed menutree "$data"/config/menutree.xml
seed language "$data"/config/Language.xml
seed modeparameters "$data"/config/modeParameter.xml
seed kfcatalogue "$data"/config/kf/*.xml
seed customcolors "$data"/config/customcolor/*.json
seed update_xml "$data"/config/OnlineUpdate.xml
for dir in "$here"/seeds/*/; do
    seed "$(basename "$dir")" "$dir"*
done

# Zip archives: deflated and stored entries, a folder, a symbolic link.
mkdir -p "$corpus/zipreader"
python3 - "$data" "$corpus/zipreader" <<'PY'
import sys, zipfile
data, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out + "/seed-update.zip", "w") as z:
    z.write(data + "/config/menutree.xml", "Lumory/config/menutree.xml", zipfile.ZIP_DEFLATED)
    z.writestr("Lumory/WHATSNEW.txt", "Lumory 1.2.0\n\n- Faster firmware updates.\n",
               zipfile.ZIP_STORED)
    z.writestr("Lumory/images/", b"")
    link = zipfile.ZipInfo("Lumory/current")
    link.external_attr = (0o120777 << 16)
    z.writestr(link, "Lumory")
with zipfile.ZipFile(out + "/seed-small.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("a.txt", "a" * 300)
PY

# Device answers: one transcript per simulated keyboard personality.
mkdir -p "$corpus/device_answers"
if [[ -x "$build/fuzz/fuzz_device_seed" ]]; then
    for personality in dual usb nolight; do
        out="$corpus/device_answers/seed-$personality.bin"
        [[ -s "$out" ]] || "$build/fuzz/fuzz_device_seed" "$out" "$personality" >/dev/null 2>&1
    done
fi
