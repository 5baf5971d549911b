#!/bin/bash
# Builds the launcher and its package from clean with the windows preset, in a folder of another
# path length and at another time, and checks that both are the same bytes as the ones under test:
# neither the build folder nor the clock may reach them. Then builds them signed with a
# certificate made here: both signatures verify, the signed launcher differs from the unsigned one
# only where a signature goes, and signing it again, or packing the signed files again, gives the
# same bytes. A missing certificate, or a key that is not the certificate's, stops the configure
# with the file's name.
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
for file in "$signed" "$scratch/signed-build/$package"; do
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

# Signed outside the build (osslsigncode stands in for a token), the launcher is packed byte for
# byte, the same twice; the package signed afterwards verifies; an unsigned launcher is refused.
build outside "-DORBEDO_SIGNED_LAUNCHER=$scratch/again.exe"
mv "$scratch/outside/$package" "$scratch/first.msi"
build outside
same "$scratch/first.msi" "$scratch/outside/$package"
msiextract -C "$scratch/x" "$scratch/first.msi" > /dev/null
same "$scratch/x/Orbedo/Orbedo-Launcher.exe" "$scratch/again.exe"
"$source_dir/tools/make-package" sign --certificate "$scratch/cert.pem" --key "$scratch/key.pem" \
  "$scratch/first.msi"
osslsigncode verify -CAfile "$scratch/cert.pem" "$scratch/first.msi" | grep -x Succeeded || status=1
! "$source_dir/tools/make-package" pack --version 1 --launcher "$scratch/a/Orbedo-Launcher.exe" \
  --notify-shell "$scratch/a/resources/NotifyShell.dll" \
  --thumbnails "$scratch/a/thumbnails/OrbedoThumbnails.dll" --output "$scratch/x.msi" \
  --signed-launcher "$scratch/a/Orbedo-Launcher.exe" 2>&1 | grep -F "is not the launcher" ||
  status=1

refused() {  # FILE CONFIGURE OPTION...: the configure fails and names FILE
  local file=$1
  shift
  if "$cmake" -S "$source_dir" -B "$scratch/a" "$@" > "$scratch/refused.log" 2>&1; then
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
