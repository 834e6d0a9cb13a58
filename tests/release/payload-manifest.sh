#!/bin/bash
# The payload manifest written beside the executable (kzt-wrapper.payload.txt):
#  - it lists exactly the payload files present (absent files are absent), in the order of
#    the resource table, with type, identifier, file name, size and SHA-256 computed here
#    from the payload folder;
#  - tools/extract-payload.py prints the same lines from the built executable, and the
#    files it extracts are the payload files byte for byte;
#  - a payload byte changed inside the executable shows up in the comparison;
#  - a changed payload file gives a new manifest on the next build;
#  - the product build of tools/run-all-tests.sh (build/i686), when present, carries what
#    its manifest says (WRAPPER_PRODUCT_BUILD_DIR names another tree of that kind).
source "$(dirname "$0")/common.bash"

# A partial payload (the product package is the one file required), in a folder whose
# name has a blank in it.
payload="$work/payload folder"
make_payload "$payload" kzt1.6.0_32.msi sj160320.cab ss160320.cab sz160320.cab sr160320.cab au.msi
tree=$work/i686
exe=$tree/kzt-wrapper.exe
manifest=$tree/kzt-wrapper.payload.txt

expected_manifest() {  # from the payload folder and the table, independently of the build
  local entry name type id
  echo "# kzt-wrapper payload manifest 1: type id file size sha256"
  for entry in "${payload_table[@]}"; do
    read -r name type id <<<"$entry"
    [ -f "$payload/$name" ] || continue
    echo "$type $id $name $(stat -c %s "$payload/$name") $(sha256sum <"$payload/$name" | cut -d' ' -f1)"
  done
}
matches_expected() { diff <(expected_manifest) "$manifest"; }
matches_extracted() {  # matches_extracted EXE MANIFEST
  $extract "$1" --manifest >"$work/extracted.txt" && diff "$2" "$work/extracted.txt"
}

if configure i686 "$tree" "$root" -DWRAPPER_PAYLOAD_DIR="$payload" >"$work/configure.log" 2>&1 &&
    build "$tree" >"$work/build.log" 2>&1; then
  pass "build with a partial payload"
else
  fail "build with a partial payload"
  cat "$work/configure.log" "$work/build.log"
fi
check "the manifest is written beside the executable" test -s "$manifest"
cat "$manifest"
check "the manifest lists the six payload files present, in table order, with sizes and hashes" \
  matches_expected
check "the manifest has a header and six entries" test "$(wc -l <"$manifest")" -eq 7
check "extract-payload.py --manifest prints the manifest's lines" matches_extracted "$exe" "$manifest"

$extract "$exe" --out "$work/extracted" >/dev/null
check "extraction writes the six files and nothing else" \
  test "$(ls "$work/extracted" | wc -l)" -eq 6
for file in "$payload"/*; do
  name=$(basename "$file")
  check "extracted $name equals the payload file" cmp "$file" "$work/extracted/$name"
done

# Fault: one payload byte changed inside the executable (the body of sz160320.cab, whose
# filler letters are its own).
offset=$(grep -a -b -o "sz160320.cab end" "$exe" | head -n 1 | cut -d: -f1)
cp "$exe" "$work/tampered.exe"
printf 'X' | dd of="$work/tampered.exe" bs=1 seek="$offset" conv=notrunc status=none
check "a changed payload byte in the executable fails the comparison" \
  bash -c "! diff '$manifest' <($extract '$work/tampered.exe' --manifest) >'$work/diff.txt'"
check "and the difference is the line of sz160320.cab alone" \
  test "$(grep -c '^[<>] ' "$work/diff.txt")" -eq 2 -a "$(grep -c '^[<>] ZELVAN_CAB11 112 sz160320.cab ' "$work/diff.txt")" -eq 2
check "extract-payload.py refuses a file that is not an executable" \
  bash -c "! $extract '$manifest' --manifest >/dev/null 2>&1"

# A new payload under the same name: the next build records it.
printf 'MSCF a new cabinet of another size\n' >"$payload/sj160320.cab"
build "$tree" >"$work/build.log" 2>&1
check "after a payload change the manifest records the new file" matches_expected
check "and the rebuilt executable carries it" matches_extracted "$exe" "$manifest"

product=${WRAPPER_PRODUCT_BUILD_DIR:-$root/build/i686}
if [ -f "$product/kzt-wrapper.exe" ] && [ -f "$product/kzt-wrapper.payload.txt" ]; then
  echo "--- product build $product"
  product_payload=$(sed -n 's/^WRAPPER_PAYLOAD_DIR:PATH=//p' "$product/CMakeCache.txt")
  payload=${product_payload:-$product/sample-payload}
  manifest=$product/kzt-wrapper.payload.txt
  cat "$manifest"
  check "the product executable carries what its manifest says" \
    matches_extracted "$product/kzt-wrapper.exe" "$manifest"
  check "the product manifest matches its payload folder $payload" matches_expected
  if [ -z "$product_payload" ]; then
    check "the sample product's manifest lists all ten payload files" \
      test "$(wc -l <"$manifest")" -eq 11
  fi
else
  echo "skipped: no product build with a manifest in $product"
fi

finish
