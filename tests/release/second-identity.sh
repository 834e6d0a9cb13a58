#!/bin/bash
# A second release is one command away, and the build refuses a payload that does not fit:
#  - tools/run-sample-install.sh builds the sample and the wrapper for 1.6.0_33 (build string
#    1.6.0_33-b02), installs it end to end with the real engine and passes its smoke test;
#  - its timeline picture shows every cabinet written and the engine's run;
#  - every derived name follows: package, staging folder, cabinets, kit and runtime keys,
#    manifest version and description, registration argument; no name of the default
#    identity is left in the executables or in what the install left;
#  - a payload that breaks a contract point is refused by the build, naming the file and the
#    point: a cabinet the wrapper does not write, an embedded cabinet, a missing transform, a
#    missing cabinet file, an update service with another cabinet, no product code or a
#    malformed version; a missing folder or product package and a bad identity are refused
#    at configure time;
#  - the dry run of the contract refuses, with the build's messages and its exit codes, the
#    64-bit variant of the payload for the i686 build, a cut cabinet, the previous release's
#    cabinet under this release's name, a cut au.cab, a missing update service (accepted when
#    the release says it carries none, and then refused when present);
#  - a file that vanishes from the folder after a build fails the next build, and no
#    executable of the old folder is left;
#  - a package that does not wait on the ready event fails the smoke test.
source "$(dirname "$0")/common.bash"

version=1.6.0_33
build_string=1.6.0_33-b02
smoke=$work/smoke
cabinets="ss160330.cab st160330.cab sj160330.cab sp160330.cab sz160330.cab sb160330.cab sr160330.cab"

echo "--- smoke test of $version ($build_string)"
bash "$root/tools/run-sample-install.sh" --product-version $version --build-string $build_string \
  --build-root "$smoke" >"$work/smoke.log" 2>&1
code=$?
sed -n '/^== Wrapper/,$p' "$work/smoke.log"
[ "$code" -eq 0 ] || tail -n 40 "$work/smoke.log"
check "the smoke test of $version passes (exit code $code)" test "$code" -eq 0

echo "--- the names of $version"
identity=$smoke/x86_64/kzt-wrapper.identity.txt
has() { grep -qxF -- "$1" "$2"; }  # has LINE FILE
check "the identity names the package kzt$version.msi" has "PRODUCT_PACKAGE=kzt$version.msi" "$identity"
check "the identity names the cabinets $cabinets" has "CABINETS=$cabinets" "$identity"
check "the identity names the kit key" \
  has "KIT_KEY=SOFTWARE\\Halvern\\Zelvan Development Kit\\$version" "$identity"
check "the identity names the runtime key" \
  has "RUNTIME_KEY=SOFTWARE\\Halvern\\Zelvan Runtime Environment\\$version" "$identity"
check "the manifest version is derived as 6.0.330.2" has "MANIFEST_VERSION=6.0.330.2" "$identity"
check "the update service's identity is read from au.msi" \
  has "UPDATE_SERVICE_PRODUCT_CODE={6E2B91C4-3F07-4D58-A1B9-7C04E35D8F21}" "$identity"
# The platform of the payload is the one line that differs: each tree built its own variant.
check "the i686 build has the same identity" cmp <(grep -v '^PAYLOAD_PLATFORM=' "$identity") \
  <(grep -v '^PAYLOAD_PLATFORM=' "$smoke/i686/kzt-wrapper.identity.txt")
prefix=$smoke/prefix
staging=$(find "$prefix/drive_c/users" -path "*/AppData/LocalLow/Orvik/Zelvan/kzt$version" | head -n 1)
staged_all() {
  local name
  for name in "kzt$version.msi" $cabinets; do [ -f "$staging/$name" ] || return 1; done
}
check "the package and cabinets are staged in .../Orvik/Zelvan/kzt$version" staged_all
check "the smoke run found the kit key of $version" \
  grep -qF "ok      the kit's key names its home (SOFTWARE\\Halvern\\Zelvan Development Kit\\$version:" "$work/smoke.log"
calls=$(find "$prefix/drive_c" -name dorvane-calls.txt | head -n 1)
check "the registration tool got -r rtq $build_string" \
  grep -qF " -r rtq $build_string"$'\t-r\trtq\t'"$build_string" "${calls:-/nonexistent}"
manifest_says() { grep -qaF -- "$1" "$smoke/i686/kzt-wrapper.exe"; }
check "the i686 manifest carries version 6.0.330.2" manifest_says 'version="6.0.330.2"'
check "the i686 manifest describes Zelvan(TM) Development Kit $version" \
  manifest_says "<description>Zelvan(TM) Development Kit $version</description>"
# The timeline picture of the run names what it drew: every cabinet of this release and the
# engine's run of its package.
timeline_drawn() {
  local svg=$prefix/smoke/timeline.svg name
  for name in $cabinets "engine: kzt$version.msi (exit 0)"; do
    grep -qF ">$name<" "$svg" || { echo "    $svg lacks $name"; return 1; }
  done
}
check "the smoke test drew its timeline with the cabinets and the engine's run" timeline_drawn
# The default identity's texts, wherever they could have stayed behind.
no_default_names() {  # no_default_names FILE...
  ! grep -l -a -e '1\.6\.0_32' -e '160320' -e '6\.0\.320\.5' "$@"
}
check "no name of 1.6.0_32 in either executable" \
  no_default_names "$smoke/i686/kzt-wrapper.exe" "$smoke/x86_64/kzt-wrapper.exe"
check "no file or folder of 1.6.0_32 in the prefix" \
  test -z "$(find "$prefix" \( -name '*1.6.0_32*' -o -name '*160320*' \) -print -quit)"
# Only the version text: the registry files hold time stamps and numbers of every kind.
check "no registry text of 1.6.0_32 in the prefix" bash -c "! grep -l -F 1.6.0_32 '$prefix'/*.reg"

echo "--- payloads that break the contract are refused by the build"
good=$smoke/i686/sample-payload
tree=$smoke/i686
# broken NAME: a copy of the good payload to damage
broken() {
  rm -rf "$work/$1"
  cp -r "$good" "$work/$1"
  echo "$work/$1"
}
# refused_build FOLDER TEXT...: configure succeeds, building stops, naming each TEXT
refused_build() {
  local folder=$1 text
  shift
  cmake "$tree" -DWRAPPER_PAYLOAD_DIR="$folder" >"$work/configure.log" 2>&1 || {
    cat "$work/configure.log"
    return 1
  }
  if cmake --build "$tree" --target kzt_wrapper >"$work/build.log" 2>&1; then
    echo "    the build did not fail"
    return 1
  fi
  for text in "$@"; do
    grep -qF -- "$text" "$work/build.log" || {
      echo "    missing in the build's output: $text"
      sed -n '/Payload contract/p' "$work/build.log"
      return 1
    }
  done
}
sql() { msibuild "$1" -q "$2"; }  # sql PACKAGE STATEMENT
package=kzt$version.msi

folder=$(broken old-cabinet-name)
sql "$folder/$package" "UPDATE \`Media\` SET \`Cabinet\` = 'ss160320.cab' WHERE \`DiskId\` = 1"
check "a Media table naming a cabinet of another identity" refused_build "$folder" \
  "Payload contract: $folder/$package: its Media table does not name the cabinet ss160330.cab" \
  "names the external cabinet ss160320.cab, which the wrapper does not write"

folder=$(broken embedded-cabinet)
sql "$folder/$package" "UPDATE \`Media\` SET \`Cabinet\` = '#sz160330.cab' WHERE \`DiskId\` = 5"
check "a cabinet embedded instead of external" refused_build "$folder" \
  "$folder/$package: its Media table names sz160330.cab as embedded (#sz160330.cab)"

folder=$(broken missing-transform)
sql "$folder/$package" "DELETE FROM \`_Storages\` WHERE \`Name\` = '2052'"
check "no embedded transform 2052" refused_build "$folder" \
  "$folder/$package: it carries no embedded transform named 2052"

folder=$(broken missing-cabinet)
rm "$folder/sb160330.cab"
check "a cabinet file missing from the folder" refused_build "$folder" \
  "$folder/$package: its Media table names sb160330.cab, but the payload folder has no such file"

folder=$(broken update-service-cabinet)
sql "$folder/au.msi" "UPDATE \`Media\` SET \`Cabinet\` = 'au2.cab' WHERE \`DiskId\` = 1"
check "an update service naming another cabinet" refused_build "$folder" \
  "$folder/au.msi: its Media table names the external cabinets [au2.cab]; the wrapper writes exactly au.cab"

folder=$(broken update-service-code)
sql "$folder/au.msi" "DELETE FROM \`Property\` WHERE \`Property\` = 'ProductCode'"
sql "$folder/au.msi" "UPDATE \`Property\` SET \`Value\` = '2.0.7.1b' WHERE \`Property\` = 'ProductVersion'"
check "an update service without product code and with a malformed version" refused_build "$folder" \
  "$folder/au.msi: it has no ProductCode" "$folder/au.msi: its ProductVersion '2.0.7.1b' is not"

folder=$(broken not-a-package)
printf 'MSCF, not a package\n' >"$folder/au.msi"
check "an update-service file that is no installer package" refused_build "$folder" \
  "$folder/au.msi: does not begin like a Windows Installer package"

echo "--- the dry run: the build's refusals without a build"
# dry_run EXPECTED_CODE FOLDER [TEXT...] [-- OPTIONS...]: the dry run of FOLDER for the i686
# build of $version exits with EXPECTED_CODE and names each TEXT
dry_run() {
  local expected=$1 folder=$2 texts=() code
  shift 2
  while [ $# -gt 0 ] && [ "$1" != -- ]; do texts+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  $python "$root/tools/check-payload-contract.py" --dry-run --arch i686 --payload "$folder" \
    --product-version $version --build-string $build_string "$@" >"$work/dry-run.log" 2>&1
  code=$?
  [ "$code" -eq "$expected" ] || {
    echo "    exit code $code, expected $expected:"
    sed 's/^/    /' "$work/dry-run.log"
    return 1
  }
  for text in "${texts[@]}"; do
    grep -qF -- "$text" "$work/dry-run.log" || {
      echo "    missing in the dry run's output: $text"
      sed 's/^/    /' "$work/dry-run.log"
      return 1
    }
  done
}
check "the good payload meets the contract, with the update service's identity" \
  dry_run 0 "$good" "met (i686 build, $package" "update service 2.0.7.1 {6E2B91C4-3F07-4D58-A1B9-7C04E35D8F21}"
x64=$smoke/x86_64/sample-payload
check "the 64-bit variant of the payload for the i686 build" dry_run 1 "$x64" \
  "$x64/$package: its Summary Information platform is 'x64', but this is the i686 build" \
  "$x64/au.msi: its Summary Information platform is 'x64'"
folder=$(broken cut-cabinet)
head -c 50 "$good/ss160330.cab" >"$folder/ss160330.cab"
check "a cabinet cut to its first 50 bytes" dry_run 1 "$folder" \
  "$folder/ss160330.cab: is 50 bytes long, but its header gives the cabinet's size as"
folder=$(broken previous-release-cabinet)
mkdir "$work/previous"
printf 'ZELVAN_VERSION="1.6.0_32"\r\n' >"$work/previous/kit_release"
(cd "$work/previous" && gcab -c -z "$folder/sz160330.cab" kit_release)
check "the previous release's sz cabinet under this release's name" dry_run 1 "$folder" \
  "$folder/sz160330.cab: holds kit_release with other contents than $package records for it"
folder=$(broken cut-update-cabinet)
head -c 300 "$good/au.cab" >"$folder/au.cab"
check "a cut au.cab" dry_run 1 "$folder" "$folder/au.cab: is 300 bytes long"
folder=$(broken no-update-service)
rm "$folder/au.msi" "$folder/au.cab"
check "no update service in a release that carries one" dry_run 1 "$folder" \
  "$folder/au.msi: the payload folder has no update service, which the release carries"
check "no update service in a release that says it carries none" dry_run 0 "$folder" \
  "no update service" -- --update-service no
check "an update service in a release that says it carries none" dry_run 1 "$good" \
  "$good/au.msi: the release carries no update service" -- --update-service no
check "an identity the build would refuse" dry_run 3 "$good" "is not" -- --product-version 1.6.x_33

echo "--- a file that vanishes after a build"
vanished() {
  local folder
  folder=$(broken vanishing)
  cmake "$tree" -DWRAPPER_PAYLOAD_DIR="$folder" >"$work/configure.log" 2>&1 &&
    cmake --build "$tree" --target kzt_wrapper >"$work/build.log" 2>&1 || {
    cat "$work/configure.log" "$work/build.log"
    return 1
  }
  rm "$folder/sj160330.cab"
  refused_build "$folder" "$folder/$package: its Media table names sj160330.cab, but the payload folder has no such file" ||
    return 1
  [ ! -e "$tree/kzt-wrapper.exe" ] && [ ! -e "$tree/kzt-wrapper.payload.txt" ] || {
    echo "    the executable or manifest of the earlier folder is still there"
    return 1
  }
}
check "the next build fails and leaves no executable of the earlier folder" vanished

# refused_configure TEXT cmake-arguments...: configure fails with TEXT
refused_configure() {
  local text=$1
  shift
  if cmake "$tree" "$@" >"$work/configure.log" 2>&1; then
    echo "    configure did not fail"
    return 1
  fi
  # CMake breaks long messages into indented lines.
  tr -s ' \n' '  ' <"$work/configure.log" | grep -qF -- "$text" || {
    cat "$work/configure.log"
    return 1
  }
}
folder=$(broken no-package)
rm "$folder/$package"
check "a folder without the product package of $version" refused_configure \
  "has no product package kzt$version.msi" -DWRAPPER_PAYLOAD_DIR="$folder"
check "a payload folder that does not exist" refused_configure "payload folder not found" \
  -DWRAPPER_PAYLOAD_DIR="$work/nowhere"
check "a version number that is not a number" refused_configure \
  "WRAPPER_PRODUCT_VERSION '1.6.x_33' is not" -DWRAPPER_PAYLOAD_DIR= -DWRAPPER_PRODUCT_VERSION=1.6.x_33
check "a build string of another version" refused_configure \
  "WRAPPER_BUILD_STRING '1.6.0_32-b05' does not belong to the product version 1.6.0_33" \
  -DWRAPPER_PRODUCT_VERSION=1.6.0_33 -DWRAPPER_BUILD_STRING=1.6.0_32-b05
check "a build string with a blank" refused_configure "may hold only letters, digits" \
  "-DWRAPPER_BUILD_STRING=1.6.0_33-b02 x"
long=1.6.0_$(printf '%060d' 7)
check "a version whose staged path would not fit" refused_configure \
  "would not fit the wrapper's 260-character path buffer" \
  -DWRAPPER_PRODUCT_VERSION="$long" -DWRAPPER_BUILD_STRING="$long-b01"
check "a manifest version part above 65535" refused_configure "has a part above 65535" \
  -DWRAPPER_PRODUCT_VERSION=1.6.0_7000 -DWRAPPER_BUILD_STRING=1.6.0_7000-b01

echo "--- a package that does not wait on the ready event fails the smoke test"
tree=$smoke/x86_64
folder=$work/no-wait
rm -rf "$folder"
cp -r "$tree/sample-payload" "$folder"
sql "$folder/$package" "DELETE FROM \`InstallExecuteSequence\` WHERE \`Action\` = 'SampleCabWait'"
no_wait_run() {
  cmake "$tree" -DWRAPPER_PAYLOAD_DIR="$folder" >"$work/configure.log" 2>&1 &&
    cmake --build "$tree" --target kzt_wrapper >"$work/build.log" 2>&1 || {
    cat "$work/configure.log" "$work/build.log"
    return 1
  }
  bash "$root/tools/smoke-run.sh" --wine "$root/tools/run-wine64.sh" --wineserver /usr/lib/wine/wineserver \
    --prefix "$work/no-wait-prefix" --exe "$tree/kzt-wrapper.exe" --payload "$folder" \
    --identity "$tree/kzt-wrapper.identity.txt" >"$work/no-wait.log" 2>&1
  local code=$?
  echo "  the smoke run's failed checks, as expected of this package:"
  grep FAILED "$work/no-wait.log" | sed 's/^ */    /'

  # Exactly the two checks of the wait fail; the install itself works.
  [ "$code" -eq 1 ] && [ "$(grep -c FAILED "$work/no-wait.log")" -eq 2 ] &&
    grep -qF "FAILED  the package waited on the ready event" "$work/no-wait.log" &&
    grep -qF "FAILED  the engine read a cabinet only after that wait had ended" "$work/no-wait.log"
}
check "the smoke test reports the missing wait, and only that" no_wait_run

finish
