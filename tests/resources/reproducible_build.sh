#!/bin/bash
# Builds the launcher and its package from clean with the windows preset, in a folder of another
# path length and at another time, and checks that both are the same bytes as the ones under test:
# neither the build folder nor the clock may reach them. Then builds them signed with a
# certificate made here: every signature verifies, the signed launcher differs from the unsigned
# one only where a signature goes, and signing it again, or packing the signed files again, gives
# the same bytes, as does packing binaries signed outside the build. A missing certificate, or a
# key that is not the certificate's, stops the configure with the file's name.
# Usage: reproducible_build.sh CMAKE PYTHON SOURCE_DIR BUILT_LAUNCHER BUILT_PACKAGE
set -euo pipefail

cmake=$1
python=$2
source_dir=$3
built_launcher=$4
built_package=$5
package=$(basename "$built_package")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/orbedo-reproducible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

build() {  # FOLDER [CONFIGURE OPTION...]
  local folder=$scratch/$1
  shift
  { "$cmake" -S "$source_dir" -B "$folder" --preset windows "$@" > "$folder.log" 2>&1 &&
    "$cmake" --build "$folder" --target launcher_package -j2 >> "$folder.log" 2>&1; } ||
    { cat "$folder.log"; exit 1; }
}

status=0
same() {
  if cmp "$1" "$2"; then echo "same bytes: $2"; else status=1; fi
}
refuses() {  # TEXT COMMAND...: COMMAND fails, saying TEXT
  local text=$1 said
  shift
  said=$("$@" 2>&1) && status=1
  if [[ $said == *"$text"* ]]; then echo "refused: $text"; else echo "$said"; status=1; fi
}

build a
same "$scratch/a/Orbedo-Launcher.exe" "$built_launcher"
same "$scratch/a/$package" "$built_package"

# An RSA key signs the same bytes every time; another key, which is not the certificate's.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$scratch/key.pem" -out "$scratch/cert.pem" \
  -days 30 -subj "/CN=Orbedo test signing" -addext keyUsage=critical,digitalSignature \
  -addext extendedKeyUsage=codeSigning 2> /dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$scratch/other-key.pem" \
  2> /dev/null

build signed-build "-DORBEDO_SIGNING_CERT=$scratch/cert.pem" "-DORBEDO_SIGNING_KEY=$scratch/key.pem"
signed=$scratch/signed-build/Orbedo-Launcher.exe
for file in "$signed" "$scratch/signed-build/thumbnails/OrbedoThumbnails.dll" \
  "$scratch/signed-build/resources/NotifyShell.dll" "$scratch/signed-build/$package"; do
  if osslsigncode verify -CAfile "$scratch/cert.pem" -in "$file" > "$scratch/verify.log" 2>&1; then
    echo "signature verifies: $(basename "$file")"
  else
    cat "$scratch/verify.log"
    status=1
  fi
done

"$python" - "$scratch/a/Orbedo-Launcher.exe" "$signed" <<'PYTHON' || status=1
import sys
import pefile

unsigned, signed = (open(path, "rb").read() for path in sys.argv[1:])
pe = pefile.PE(data=signed, fast_load=True)
table = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
checksum = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
entry = table.get_file_offset()


def blank(data):
    """The image less the header checksum and the certificate table's directory entry."""
    data = bytearray(data)
    data[checksum:checksum + 4] = bytes(4)
    data[entry:entry + 8] = bytes(8)
    return bytes(data)


# The certificate table follows the image, which is padded to 8 bytes for it.
problems = []
if not table.Size or table.VirtualAddress + table.Size != len(signed):
    problems.append("the certificate table is not at the end")
if blank(signed[:len(unsigned)]) != blank(unsigned):
    problems.append("the image differs beyond the checksum and the certificate table's entry")
if signed[len(unsigned):table.VirtualAddress].strip(b"\0"):
    problems.append("bytes other than padding before the certificate table")
print("\n".join(problems) or "signed launcher differs only where the signature goes")
sys.exit(bool(problems))
PYTHON

# The signed build's files packed and signed again: the same signed package.
version=${package#Orbedo-Launcher-}
"$source_dir/tools/make-package" pack --version "${version%-x64.msi}" --launcher "$signed" \
  --notify-shell "$scratch/signed-build/resources/NotifyShell.dll" \
  --thumbnails "$scratch/signed-build/thumbnails/OrbedoThumbnails.dll" --output "$scratch/again.msi" \
  --certificate "$scratch/cert.pem" --key "$scratch/key.pem"
same "$scratch/again.msi" "$scratch/signed-build/$package"

cp "$scratch/a/Orbedo-Launcher.exe" "$scratch/again.exe"
"$source_dir/tools/make-package" sign --certificate "$scratch/cert.pem" --key "$scratch/key.pem" \
  "$scratch/again.exe"
same "$scratch/again.exe" "$signed"

# Signed outside the build (osslsigncode stands in for a token), the first build's three binaries
# are packed byte for byte by that build configured again, the same twice; the package signed
# afterwards verifies, and its manifest holds its product code and every file's checksum. An
# unsigned binary among them, or a signed one among unsigned ones, is refused.
mkdir "$scratch/signed"
cp "$scratch/again.exe" "$scratch/signed/Orbedo-Launcher.exe"
for dll in thumbnails/OrbedoThumbnails.dll resources/NotifyShell.dll; do
  cp "$scratch/a/$dll" "$scratch/signed/"
  "$source_dir/tools/make-package" sign --certificate "$scratch/cert.pem" --key "$scratch/key.pem" \
    "$scratch/signed/${dll#*/}"
done
build a "-DORBEDO_SIGNED_BINARIES=$scratch/signed"
mv "$scratch/a/$package" "$scratch/first.msi"
build a
same "$scratch/first.msi" "$scratch/a/$package"
msiextract -C "$scratch/x" "$scratch/first.msi" > /dev/null
msiinfo extract "$scratch/first.msi" Binary.NotifyShell.dll > "$scratch/x/Orbedo/NotifyShell.dll"
for file in Orbedo-Launcher.exe OrbedoThumbnails.dll NotifyShell.dll; do
  same "$scratch/x/Orbedo/$file" "$scratch/signed/$file"
done
"$source_dir/tools/make-package" sign --certificate "$scratch/cert.pem" --key "$scratch/key.pem" \
  "$scratch/first.msi"
osslsigncode verify -CAfile "$scratch/cert.pem" "$scratch/first.msi" | grep -x Succeeded || status=1
"$source_dir/tools/make-package" manifest "$scratch/first.msi"
cp "$scratch/first.msi" "$scratch/x/Orbedo/"
"$python" -c 'import json, sys; [print(f"{digest}  {name}") for name, digest in
  json.load(sys.stdin)["sha256"].items()]' < "$scratch/first.manifest.json" > "$scratch/sums"
(cd "$scratch/x/Orbedo" && sha256sum --strict -c "$scratch/sums") || status=1
grep -F "\"productCode\": \"$(msiinfo export "$scratch/first.msi" Property | tr -d '\r' |
  sed -n 's/^ProductCode\t//p')\"" "$scratch/first.manifest.json" || status=1
cp "$scratch/a/thumbnails/OrbedoThumbnails.dll" "$scratch/signed/"
unsigned=(--launcher "$scratch/a/Orbedo-Launcher.exe"
  --notify-shell "$scratch/a/resources/NotifyShell.dll"
  --thumbnails "$scratch/a/thumbnails/OrbedoThumbnails.dll" --output "$scratch/refused.msi")
refuses "is not the file of this build" "$source_dir/tools/make-package" pack --version 1.0.0 \
  "${unsigned[@]}" --signed-binaries "$scratch/signed"
refuses "sign every binary of a release, or none" "$source_dir/tools/make-package" pack \
  --version 1.0.0 "${unsigned[@]:2}" --launcher "$scratch/again.exe"

refused() {  # FILE CONFIGURE OPTION...: the configure fails and names FILE
  local file=$1
  shift
  if "$cmake" -S "$source_dir" -B "$scratch/a" -DORBEDO_SIGNED_BINARIES= "$@" \
    > "$scratch/refused.log" 2>&1; then
    echo "configured with $*"
    status=1
  elif grep -qF "$file" "$scratch/refused.log"; then
    echo "refused, naming $file"
  else
    cat "$scratch/refused.log"
    status=1
  fi
}
refused "$scratch/missing.pem" "-DORBEDO_SIGNING_CERT=$scratch/missing.pem" \
  "-DORBEDO_SIGNING_KEY=$scratch/key.pem"
refused "$scratch/other-key.pem" "-DORBEDO_SIGNING_CERT=$scratch/cert.pem" \
  "-DORBEDO_SIGNING_KEY=$scratch/other-key.pem"
exit $status
