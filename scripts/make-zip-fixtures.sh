#!/usr/bin/env bash
# Makes the zip test archives in tests/zip/data with Debian's archivers, each
# with a manifest <archive>.json: every entry as Python's zipfile reads it and
# the SHA-256 of the bytes that went in. Run by hand; the output is committed.
# The password of every encrypted archive is "secret".
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/tests/zip/data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C.UTF-8

mkdir -p "$out" "$work/src/sub"
rm -f "$out"/*.zip "$out"/*.json
cd "$work/src"

python3 - <<'PY'
import hashlib
with open("notes.txt", "w") as f:
    f.write("".join(f"Line {i}: the quick brown fox jumps over the lazy dog.\n" for i in range(60)))
block, seed = b"", b"seed"
while len(block) < 3000:
    seed = hashlib.sha256(seed).digest()
    block += seed
with open("random.bin", "wb") as f:
    f.write(block[:3000])
# Past the 16 KiB an inflater reads at a time and many AES key stream blocks.
while len(block) < 48000:
    seed = hashlib.sha256(seed).digest()
    block += seed
with open("large.bin", "wb") as f:
    for i in range(12):
        f.write(block[i * 4000:(i + 1) * 4000] + f"Part {i}: plain text between random runs.\n".encode() * 40)
open("empty.txt", "wb").close()
with open("sub/inner.md", "w") as f:
    f.write("# Inner\n\nA note inside a folder.\n")
PY
touch -d '2026-12-05 13:45:31' notes.txt random.bin large.bin empty.txt sub/inner.md sub
files=(notes.txt random.bin large.bin empty.txt sub/inner.md)

for level in 0 1 6 9; do
  zip -q -"$level" "$out/zip-level$level.zip" "${files[@]}"
done
# -P is the scriptable form of -e: the same traditional encryption.
zip -q -P secret "$out/zip-traditional.zip" "${files[@]}"
# Written to a pipe: ZIP64 local field and a descriptor with 8-byte sizes.
zip -q - - < notes.txt | cat > "$out/zip-piped.zip"
zip -q -Z bzip2 "$out/zip-bzip2.zip" notes.txt

for mode in AES128 AES256; do
  7zz a -bd -bso0 -tzip -psecret -mem="$mode" -mx=0 "$out/7z-${mode,,}-stored.zip" "${files[@]}"
  7zz a -bd -bso0 -tzip -psecret -mem="$mode" -mx=5 "$out/7z-${mode,,}-deflated.zip" "${files[@]}"
done
7zz a -bd -bso0 -tzip -psecret -mem=ZipCrypto -mx=5 "$out/7z-zipcrypto.zip" "${files[@]}"

for mode in aes256 zipcrypt; do
  bsdtar --format zip --options "zip:encryption=$mode" --passphrase secret -cf "$out/bsdtar-$mode.zip" "${files[@]}"
done

ziptool -n "$out/ziptool-aes256.zip" \
  add_file notes.txt notes.txt 0 0 set_file_encryption 0 AES-256 secret \
  add_file random.bin random.bin 0 0 set_file_encryption 1 AES-256 secret \
  add_file large.bin large.bin 0 0 set_file_encryption 2 AES-256 secret

python3 - "$out" <<'PY'
import json, os, struct, sys, zipfile

out = sys.argv[1]
notes = open("notes.txt", "rb").read()
origins = {}

def entry(archive, name, data, source, **fields):
    info = zipfile.ZipInfo(name, (2026, 12, 5, 13, 45, 30))
    info.compress_type = zipfile.ZIP_DEFLATED
    for key, value in fields.items():
        setattr(info, key, value)
    archive.writestr(info, data)
    origins.setdefault(os.path.basename(archive.filename), {})[name] = source

with zipfile.ZipFile(f"{out}/python-utf8.zip", "w") as z:
    entry(z, "café.txt", notes, "notes.txt")
    entry(z, "日本語/メモ.md", b"", "empty.txt")

with zipfile.ZipFile(f"{out}/python-comment.zip", "w") as z:
    entry(z, "notes.txt", notes, "notes.txt")
    z.comment = b"c" * 65535

zipfile.ZipFile(f"{out}/python-empty.zip", "w").close()

with zipfile.ZipFile(f"{out}/python-attributes.zip", "w") as z:
    entry(z, "readonly.txt", notes, "notes.txt", create_system=0, external_attr=0x21)
    entry(z, "folder/", b"", None, create_system=0, external_attr=0x10, compress_type=zipfile.ZIP_STORED)
    entry(z, "other-host.txt", notes, "notes.txt", create_system=11)

# A name in code page 437 without the UTF-8 flag: 0x82 is e acute there.
with zipfile.ZipFile(f"{out}/python-cp437.zip", "w") as z:
    entry(z, "cafX.txt", notes, "notes.txt")
path = f"{out}/python-cp437.zip"
data = open(path, "rb").read().replace(b"cafX.txt", b"caf\x82.txt")
open(path, "wb").write(data)
origins["python-cp437.zip"] = {"caf\u00e9.txt": "notes.txt"}

# Strong encryption marked by flag bit 6 in both headers of a traditional archive.
data = bytearray(open(f"{out}/zip-traditional.zip", "rb").read())
for signature, flags_at in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
    at = data.find(signature)
    while at >= 0:
        flags = struct.unpack_from("<H", data, at + flags_at)[0]
        struct.pack_into("<H", data, at + flags_at, flags | 0x40)
        at = data.find(signature, at + 4)
open(f"{out}/zip-strong-flag.zip", "wb").write(bytes(data))

json.dump(origins, open("../origins.json", "w"))
PY

python3 - "$out" <<'PY'
import hashlib, json, os, struct, sys, zipfile

out = sys.argv[1]
origins = json.load(open("../origins.json"))

def aes_field(extra):
    at = 0
    while at + 4 <= len(extra):
        field_id, size = struct.unpack_from("<HH", extra, at)
        if field_id == 0x9901 and size >= 7:
            return extra[at + 8], struct.unpack_from("<H", extra, at + 9)[0]
        at += 4 + size
    return None, None

def source(archive, name):
    if name in origins.get(archive, {}):
        return origins[archive][name]
    if name == "-":
        return "notes.txt"
    return None if name.endswith("/") else name

for archive in sorted(os.listdir(out)):
    if not archive.endswith(".zip"):
        continue
    with zipfile.ZipFile(os.path.join(out, archive)) as z:
        entries = []
        for info in z.infolist():
            strength, method = aes_field(info.extra)
            origin = source(archive, info.filename)
            entries.append({
                "name": info.filename, "flags": info.flag_bits, "method": info.compress_type,
                "aesStrength": strength, "aesMethod": method, "dateTime": list(info.date_time),
                "crc": info.CRC, "compressedSize": info.compress_size, "size": info.file_size,
                "host": info.create_system, "externalAttributes": info.external_attr,
                "sha256": hashlib.sha256(open(origin, "rb").read()).hexdigest() if origin else None,
            })
        manifest = {"commentLength": len(z.comment), "entries": entries}
    with open(os.path.join(out, archive[:-4] + ".json"), "w") as f:
        json.dump(manifest, f, indent=1, ensure_ascii=False)
        f.write("\n")
PY
