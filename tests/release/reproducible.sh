#!/bin/bash
# Reproducible product build: two clean i686 builds of the same sources and the same payload
# contents give byte-identical executables and manifests, although the source tree, the
# build tree and the payload folder lie at different paths in the two builds. Then the
# sample payload, built twice into different folders, must come out byte-identical too: the
# wrapper depends on its payload's contents only, so together these make the default
# product build reproducible.
source "$(dirname "$0")/common.bash"

# One snapshot of the sources (others may be editing the working tree meanwhile), copied to
# a second place whose path differs in length as well.
first=$work/a
second=$work/second-build-place
mkdir -p "$first/src" "$second"
tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$first/src" -xf -
cp -a "$first/src" "$second/sources"
make_payload "$first/payload"
cp -a "$first/payload" "$second/payload-copy"

for place in "$first:src:payload:build" "$second:sources:payload-copy:tree"; do
  IFS=: read -r base source payload tree <<<"$place"
  if configure i686 "$base/$tree" "$base/$source" -DWRAPPER_PAYLOAD_DIR="$base/$payload" \
      >"$work/configure.log" 2>&1 && build "$base/$tree" >"$work/build.log" 2>&1; then
    pass "clean build in $base/$tree"
  else
    fail "clean build in $base/$tree"
    cat "$work/configure.log" "$work/build.log"
  fi
done
one=$first/build/kzt-wrapper.exe
two=$second/tree/kzt-wrapper.exe
check "both builds made an executable" test -s "$one" -a -s "$two"
check "the two executables are byte-identical" cmp "$one" "$two"
check "the two payload manifests are byte-identical" \
  cmp "$first/build/kzt-wrapper.payload.txt" "$second/tree/kzt-wrapper.payload.txt"
sha256sum "$one" "$two"

# Where a difference would come from, named: the time stamps of the image and of the
# resource directories, debug information, and build paths inside the image.
check "no time stamp in the headers, no debug directory, PE checksum valid" $python - "$one" <<'EOF'
import sys
import pefile
pe = pefile.PE(sys.argv[1])
problems = []
if pe.FILE_HEADER.TimeDateStamp != 0:
    problems.append(f"file header time stamp {pe.FILE_HEADER.TimeDateStamp:#x}")
def walk(directory, where):
    if directory.struct.TimeDateStamp != 0:
        problems.append(f"resource directory {where} time stamp {directory.struct.TimeDateStamp:#x}")
    for entry in directory.entries:
        if hasattr(entry, "directory"):
            walk(entry.directory, f"{where}/{entry.name or entry.id}")
walk(pe.DIRECTORY_ENTRY_RESOURCE, "")
if hasattr(pe, "DIRECTORY_ENTRY_DEBUG"):
    problems.append("debug directory present")
if pe.OPTIONAL_HEADER.CheckSum != pe.generate_checksum():
    problems.append(f"checksum {pe.OPTIONAL_HEADER.CheckSum:#x}, computed {pe.generate_checksum():#x}")
for problem in problems:
    print("  " + problem)
sys.exit(1 if problems else 0)
EOF
check "no path of the build machine inside the executable" \
  bash -c "! grep -a -q -e '$work' -e '/tmp/' -e '$root' '$one'"

if [ -f "$root/sample/build-sample-payload.sh" ]; then
  # The product build's own sample payload, when there is one, is the first of the two.
  outs=("$first/sample" "$second/sample-payload-again")
  if [ -n "${SAMPLE_PAYLOAD_X86:-}" ] && [ -f "$SAMPLE_PAYLOAD_X86/kzt1.6.0_32.msi" ]; then
    cp -a "$SAMPLE_PAYLOAD_X86" "$first/sample"
    pass "first sample payload taken from $SAMPLE_PAYLOAD_X86"
    outs=("$second/sample-payload-again")
  fi
  for out in "${outs[@]}"; do
    if bash "$root/sample/build-sample-payload.sh" --arch x86 --out "$out" >"$work/sample.log" 2>&1
    then pass "sample payload built into $out"; else fail "sample payload built into $out"
      tail -20 "$work/sample.log"; fi
  done
  count=0
  for file in "$first/sample"/*; do
    name=$(basename "$file")
    count=$((count + 1))
    check "sample payload file $name is byte-identical" cmp "$file" "$second/sample-payload-again/$name"
  done
  check "the sample payload has its ten files (found $count)" test "$count" -eq 10
else
  echo "skipped: no sample/build-sample-payload.sh"
fi

finish
