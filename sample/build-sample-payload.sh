#!/usr/bin/env bash
# Builds the sample Zelvan kit payload that the wrapper embeds and its
# end-to-end tests install: the kit package, its seven external cabinets, and
# the auto-update package with its cabinet. See README.md beside this script.
#
# usage: build-sample-payload.sh --arch x64|x86 --out OUTDIR [--product-version VERSION]
#                                [--pad-to-real-sizes] [--no-update-service]
# VERSION (<major>.<minor>.<micro>_<update>) names the kit, its cabinets and registry keys;
# default: the release identity of ../cmake/release-identity.txt. --no-update-service leaves
# au.msi and au.cab out, for a release that carries no update service.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
arch=""
out=""
pad=0
update_service=1
version="$(sed -n 's/^PRODUCT_VERSION=//p' "$here/../cmake/release-identity.txt")"
while [ $# -gt 0 ]; do
    case "$1" in
        --arch) arch="${2:-}"; shift 2 ;;
        --product-version) version="${2:-}"; shift 2 ;;
        --out) out="${2:-}"; shift 2 ;;
        --pad-to-real-sizes) pad=1; shift ;;
        --no-update-service) update_service=0; shift ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
[ -n "$out" ] || { echo "--out OUTDIR is required" >&2; exit 2; }
if ! [[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)_([0-9]+)$ ]]; then
    echo "--product-version must be <major>.<minor>.<micro>_<update>, not '$version'" >&2
    exit 2
fi
# The names the wrapper derives from the version: package, cabinets, registry keys.
cab_number="${BASH_REMATCH[1]}${BASH_REMATCH[2]}${BASH_REMATCH[3]}${BASH_REMATCH[4]}0"
package="kzt$version.msi"
# The installer's own ProductVersion: major.minor.update, numbers within its limits.
msi_version="$((10#${BASH_REMATCH[1]})).$((10#${BASH_REMATCH[2]})).$((10#${BASH_REMATCH[4]}))"
if [ "$((10#${BASH_REMATCH[1]}))" -gt 255 ] || [ "$((10#${BASH_REMATCH[2]}))" -gt 255 ] ||
    [ "$((10#${BASH_REMATCH[4]}))" -gt 65535 ]; then
    echo "--product-version $version does not give an installer version (255.255.65535 at most)" >&2
    exit 2
fi
kit_title="Zelvan Development Kit $version"
rtq_title="Zelvan Runtime Environment $version"
db_title="Zelvan Database $version"

case "$arch" in
    x64)
        cxx=x86_64-w64-mingw32-g++
        wixarch=x64; template_platform=x64; win64=yes
        pf_dir=ProgramFiles64Folder; cf_dir=CommonFiles64Folder ;;
    x86)
        cxx=i686-w64-mingw32-g++
        wixarch=x86; template_platform=Intel; win64=no
        pf_dir=ProgramFilesFolder; cf_dir=CommonFilesFolder ;;
    *) echo "--arch must be x64 or x86" >&2; exit 2 ;;
esac

python=/usr/bin/python3
# 2016-03-20 12:00:00 UTC: every time stamp that ends up in an output file.
epoch=1458475200
export TZ=UTC LC_ALL=C

# Fixed product identities (the same for both architectures, so the wrapper
# can look the kit up by code). Package codes differ per architecture.
KIT_PRODUCT="{3A7C2E91-5B04-4F6D-9E28-71C5D0B4A632}"
KIT_UPGRADE="{8D41F0A7-2C6B-4E93-B5D8-0F3A9C7E1B54}"
RTQ_PRODUCT="{5F9B3C2D-8E14-4A67-B0D3-29E6F1A7C845}"
RTQ_UPGRADE="{9A2D7E4F-1B63-4C85-A9F0-3E7B5D2C6A18}"
DB_PRODUCT="{7B1E4A93-6C28-4D5F-8E07-B3A9F2D1C604}"
DB_UPGRADE="{2C8F5B17-9D43-4E6A-B1F8-6A0D3E7C9B25}"
AU_PRODUCT="{6E2B91C4-3F07-4D58-A1B9-7C04E35D8F21}"
# The update service's own version: its ProductVersion and the AUVersion it records.
AU_VERSION=2.0.7.1
AU_UPGRADE="{4D6A8C2E-0F19-4B73-9E5D-8C2B1A7F3E06}"

# Cabinets of the kit package in Media order, with the sizes the shipped
# payload has (used only with --pad-to-real-sizes).
cabs=(ss st sj sp sz sb sr)
declare -A real_size=(
    [ss]=17656920 [st]=29831550 [sj]=13439726 [sp]=29233
    [sz]=1638 [sb]=10553851 [sr]=106405
)

# Stable GUID derived from a name, for component and package codes.
guid() {
    local h
    h="$(printf 'zelvan-sample/%s/%s' "$arch" "$1" | md5sum | tr a-f A-F)"
    printf '{%s-%s-%s-%s-%s}' "${h:0:8}" "${h:8:4}" "${h:12:4}" "${h:16:4}" "${h:20:12}"
}

work="$(mktemp -d)"
# The transform tool runs under wine64 in a prefix of its own unless the
# caller lends one (SAMPLE_WINEPREFIX) to save the prefix start-up.
wine_prefix="${SAMPLE_WINEPREFIX:-$work/wineprefix}"
cleanup() {
    if [ -z "${SAMPLE_WINEPREFIX:-}" ] && [ -d "$work/wineprefix" ]; then
        WINEPREFIX="$work/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
        WINEPREFIX="$work/wineprefix" /usr/lib/wine/wineserver -w 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

run_wine() {
    WINEPREFIX="$wine_prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        "$here/../tools/run-wine64.sh" "$@"
}
winpath() { local p="$1"; printf 'Z:%s' "${p//\//\\}"; }

log() { printf '[sample %s] %s\n' "$arch" "$*"; }

# Deterministic text content for a data file.
gen_text() {  # FILE TITLE LINES
    local i
    {
        printf '%s\r\n' "$2"
        for ((i = 1; i <= $3; i++)); do
            printf '%s entry %04d: sample content of the %s\r\n' "$2" "$i" "$kit_title"
        done
    } >"$1"
}

pin() {  # FILE...: fixed mode and time before anything records them
    chmod 0644 "$@"
    touch -d "@$epoch" "$@"
}

# Sets the package code and pins the summary time stamps (wixl writes a random
# package code and the build time).
finish_package() {  # MSI SUBJECT PACKAGE_CODE
    msibuild "$1" -s "$2" "Halvern" "$template_platform;1033" "$3"
    "$python" "$here/src/fix_suminfo.py" "$1" "$epoch"
}

# ---------------------------------------------------------------- helper exes
log "compiling helpers with $cxx"
mkdir -p "$work/bin"
cxxflags=(-std=c++17 -O2 -Wall -Wextra -Werror -static -s -Wl,--no-insert-timestamp)
"$cxx" "${cxxflags[@]}" -municode -mwindows -DSAMPLE_CABINET_NUMBER="\"$cab_number\"" \
    "$here/src/cabwait.cpp" -o "$work/bin/cabwait.exe"
"$cxx" "${cxxflags[@]}" -mwindows "$here/src/dorvane.cpp" -o "$work/bin/dorvane.exe"
"$cxx" "${cxxflags[@]}" -shared -Wl,--kill-at -Wl,--disable-auto-image-base "$here/src/kithome.cpp" -o "$work/bin/kithome.dll" -lmsi
pin "$work/bin/"*
# Runs here under wine64 only, whatever the payload architecture.
x86_64-w64-mingw32-g++ "${cxxflags[@]}" -municode "$here/src/mkmst.cpp" -o "$work/bin/mkmst.exe" -lmsi -lole32

wine_ready=0
prepare_wine() {  # a new prefix says a lot while it is set up: keep that in a log
    [ "$wine_ready" = 1 ] && return 0
    if [ ! -d "$wine_prefix/drive_c" ] &&
        ! run_wine wineboot -i >"$work/wineboot.log" 2>&1; then
        cat "$work/wineboot.log" >&2
        return 1
    fi
    wine_ready=1
}

# Language transform TRANSFORM of BASE setting ProductLanguage to LANGID.
make_transform() {  # BASE LANGID TRANSFORM
    prepare_wine
    run_wine "$work/bin/mkmst.exe" make "$(winpath "$1")" "$2" "$(winpath "$3")"
    "$python" "$here/src/fix_suminfo.py" "$3" "$epoch"
}

# ------------------------------------------------------- companion packages
# A small per-machine package with an embedded cabinet that honours INSTALLDIR
# and records it under its own registry key.
build_companion() {  # NAME PRODUCT UPGRADE TITLE REGKEY FILE...
    local name="$1" product="$2" upgrade="$3" title="$4" regkey="$5"
    shift 5
    local dir="$work/$name" comps="" f n=0
    mkdir -p "$dir"
    for f in "$@"; do
        n=$((n + 1))
        gen_text "$dir/$f" "$title $f" 40
        pin "$dir/$f"
        comps+="
            <Component Id=\"File$n\" Guid=\"$(guid "$name/file$n")\" Win64=\"$win64\">
              <File Id=\"file$n\" Name=\"$f\" Source=\"$f\" KeyPath=\"yes\"/>
            </Component>"
    done
    cat >"$dir/$name.wxs" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$product" Name="$title" Language="1033" Version="$msi_version"
           Manufacturer="Halvern" UpgradeCode="$upgrade">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="$title (sample)"/>
    <Media Id="1" Cabinet="$name.cab" EmbedCab="yes"/>
    <!-- Maintenance (repair, uninstall) finds the folder chosen at install. -->
    <Property Id="INSTALLDIR">
      <RegistrySearch Id="HomeSearch" Root="HKLM" Key="$regkey" Name="Home" Type="raw"
                      Win64="$win64"/>
    </Property>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="$pf_dir">
        <Directory Id="HalvernDir" Name="Halvern">
          <Directory Id="INSTALLDIR" Name="$title">$comps
            <Component Id="Registration" Guid="$(guid "$name/registry")" Win64="$win64">
              <RegistryValue Root="HKLM" Key="$regkey" Name="Home" Type="string"
                             Value="[INSTALLDIR]" KeyPath="yes"/>
              <RegistryValue Root="HKLM" Key="$regkey" Name="Language" Type="string"
                             Value="[ProductLanguage]"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="MainFeature" Title="$title" Level="1">
$(for ((i = 1; i <= n; i++)); do echo "      <ComponentRef Id=\"File$i\"/>"; done)
      <ComponentRef Id="Registration"/>
    </Feature>
  </Product>
</Wix>
EOF
    (cd "$dir" && wixl -a "$wixarch" "$name.wxs" -o "$name.msi")
    finish_package "$dir/$name.msi" "$title" "$(guid "$name/package")"
}

log "building rtq.msi and zelvandb.msi"
build_companion rtq "$RTQ_PRODUCT" "$RTQ_UPGRADE" "$rtq_title" \
    "SOFTWARE\\Halvern\\Zelvan Runtime Environment\\$version" rtqcore.dat release
build_companion zelvandb "$DB_PRODUCT" "$DB_UPGRADE" "$db_title" \
    "SOFTWARE\\Halvern\\Zelvan Database\\$version" zelvandb.dat

# ----------------------------------------------------------------- au.msi
log "building au.msi and au.cab"
au="$work/au"
mkdir -p "$au/files"
cp "$work/bin/dorvane.exe" "$au/files/dorvane_exe"
pin "$au/files/dorvane_exe"
cat >"$au/au.wxs" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$AU_PRODUCT" Name="Zelvan Auto Update" Language="1033" Version="$AU_VERSION"
           Manufacturer="Halvern" UpgradeCode="$AU_UPGRADE">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="Zelvan Auto Update (sample)"/>
    <Media Id="1" Cabinet="au.cab" EmbedCab="no"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="$cf_dir">
        <Directory Id="ZelvanCommonDir" Name="Zelvan">
          <Directory Id="UPDATEDIR" Name="Zelvan Update">
            <Component Id="Dorvane" Guid="$(guid au/dorvane)" Win64="$win64">
              <File Id="dorvane_exe" Name="dorvane.exe" Source="files/dorvane_exe" KeyPath="yes"/>
            </Component>
            <Component Id="AUVersion" Guid="$(guid au/registry)" Win64="$win64">
              <RegistryValue Root="HKLM" Key="SOFTWARE\Halvern\Auto Update" Name="AUVersion"
                             Type="string" Value="$AU_VERSION" KeyPath="yes"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="AutoUpdate" Title="Zelvan Auto Update" Level="1">
      <ComponentRef Id="Dorvane"/>
      <ComponentRef Id="AUVersion"/>
    </Feature>
  </Product>
</Wix>
EOF
(cd "$au" && wixl -a "$wixarch" au.wxs -o au.msi)
finish_package "$au/au.msi" "Zelvan Auto Update" "$(guid au/package)"
(cd "$au/files" && gcab -c -z "$au/au.cab" dorvane_exe)

# --------------------------------------------------------- kit package files
# One line per file, in install order: KEY|DIRECTORY|NAME|CABINET|FEATURE.
# Files of one cabinet are contiguous; cabinets follow Media order.
kit="$work/kit"
files="$kit/files"
mkdir -p "$files"
kit_files=(
    "kit_readme|INSTALLDIR|README.txt|ss|KitFeature"
    "kit_core|KitBinDir|kztcore.dat|ss|KitFeature"
    "kit_config|KitBinDir|kzt.cfg|ss|KitFeature"
    "tools_pack|KitToolsDir|kztpack.dat|st|ToolsFeature"
    "tools_lint|KitToolsDir|kztlint.dat|st|ToolsFeature"
    "kit_rtlib|KitLibDir|rtlib.dat|sj|KitFeature"
    "rtq_msi|INSTALLDIR|rtq.msi|sp|PublicrtqFeature"
    "rtq_mst1041|INSTALLDIR|rtq1041.MST|sp|PublicrtqFeature"
    "rtq_mst2052|INSTALLDIR|rtq2052.MST|sp|PublicrtqFeature"
    "kit_release|INSTALLDIR|release|sz|KitFeature"
    "db_msi|INSTALLDIR|zelvandb.msi|sb|DatabaseFeature"
    "kit_srcindex|KitSrcDir|index.txt|sr|KitFeature"
)

gen_text "$files/kit_readme" "README" 30
gen_text "$files/kit_core" "kztcore" 200
gen_text "$files/kit_config" "kzt.cfg" 10
gen_text "$files/tools_pack" "kztpack" 120
gen_text "$files/tools_lint" "kztlint" 80
gen_text "$files/kit_rtlib" "rtlib" 150
printf 'ZELVAN_VERSION="%s"\r\n' "$version" >"$files/kit_release"
gen_text "$files/kit_srcindex" "src index" 60
cp "$work/rtq/rtq.msi" "$files/rtq_msi"
cp "$work/zelvandb/zelvandb.msi" "$files/db_msi"
log "making the rtq.msi language transforms (wine64)"
make_transform "$work/rtq/rtq.msi" 1041 "$files/rtq_mst1041"
make_transform "$work/rtq/rtq.msi" 2052 "$files/rtq_mst2052"

cab_keys() {  # CABINET -> file keys in that cabinet, in sequence order
    local entry key cab feat
    for entry in "${kit_files[@]}"; do
        IFS='|' read -r key _ _ cab _ <<<"$entry"
        [ "$cab" = "$1" ] && echo "$key"
    done
    return 0
}

make_cab() {  # CABINET: build $kit/<cab>$cab_number.cab from its files
    local keys
    mapfile -t keys < <(cab_keys "$1")
    pin "${keys[@]/#/$files/}"
    (cd "$files" && gcab -c -z "$kit/${1}$cab_number.cab" "${keys[@]}")
}

# Deterministic incompressible filler that brings a cabinet close to the size
# of the shipped one; it is an ordinary installed file of the cabinet's feature.
if [ "$pad" = 1 ]; then
    log "padding cabinets to the shipped sizes"
    for c in "${cabs[@]}"; do
        make_cab "$c"
        size=$(stat -c %s "$kit/${c}$cab_number.cab")
        target=${real_size[$c]}
        [ "$size" -lt $((target - 200)) ] || continue
        feature=""
        for entry in "${kit_files[@]}"; do
            IFS='|' read -r _ _ _ cab feat <<<"$entry"
            [ "$cab" = "$c" ] && feature="$feat"
        done
        kit_files+=("pad_$c|KitPadDir|$c.pad|$c|$feature")
        fill=$((target - size - 100))
        # Stored MSZIP blocks cost a few bytes each; converge on the target.
        for _ in 1 2 3 4; do
            "$python" -c 'import hashlib, sys
sys.stdout.buffer.write(hashlib.shake_256(sys.argv[1].encode()).digest(int(sys.argv[2])))' \
                "zelvan-sample-pad/$c" "$fill" >"$files/pad_$c"
            make_cab "$c"
            size=$(stat -c %s "$kit/${c}$cab_number.cab")
            [ "$size" -eq "$target" ] && break
            fill=$((fill + target - size))
            [ "$fill" -gt 0 ] || fill=1
        done
    done
fi

# Components: one per file, placed with DirectoryRef.
comps=""
refs_for() {  # FEATURE -> ComponentRef lines
    local entry key cab feat
    for entry in "${kit_files[@]}"; do
        IFS='|' read -r key _ _ _ feat <<<"$entry"
        [ "$feat" = "$1" ] && echo "        <ComponentRef Id=\"C_$key\"/>"
    done
    return 0
}
for entry in "${kit_files[@]}"; do
    IFS='|' read -r key dir name _ _ <<<"$entry"
    comps+="
    <DirectoryRef Id=\"$dir\">
      <Component Id=\"C_$key\" Guid=\"$(guid "kit/$key")\" Win64=\"$win64\">
        <File Id=\"$key\" Name=\"$name\" Source=\"files/$key\" KeyPath=\"yes\"/>
      </Component>
    </DirectoryRef>"
done

# The always-installed kit components belong to the parent feature and to
# every child: an ADDLOCAL that names only children must still give a working
# kit, and not every installer engine switches the parent on by itself.
core_refs="        <ComponentRef Id=\"KitRegistry\"/>
        <ComponentRef Id=\"ReinstallStatus\"/>
$(refs_for KitFeature)"

cat >"$kit/kit.wxs" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$KIT_PRODUCT" Name="$kit_title" Language="1033"
           Version="$msi_version" Manufacturer="Halvern" UpgradeCode="$KIT_UPGRADE">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="$kit_title (sample)"/>
    <Media Id="1" Cabinet="ss$cab_number.cab" EmbedCab="no"/>
    <Property Id="RTQPRESENT">
      <RegistrySearch Id="RtqHomeSearch" Root="HKLM" Type="raw" Win64="$win64" Name="Home"
                      Key="SOFTWARE\Halvern\Zelvan Runtime Environment\\$version"/>
    </Property>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="$pf_dir">
        <Directory Id="HalvernDir" Name="Halvern">
          <Directory Id="INSTALLDIR" Name="$kit_title">
            <Directory Id="KitBinDir" Name="bin"/>
            <Directory Id="KitLibDir" Name="lib"/>
            <Directory Id="KitToolsDir" Name="tools"/>
            <Directory Id="KitSrcDir" Name="src"/>
            <Directory Id="KitPadDir" Name="pad"/>
            <Component Id="KitRegistry" Guid="$(guid kit/registry)" Win64="$win64">
              <RegistryValue Root="HKLM" Key="SOFTWARE\Halvern\Zelvan Development Kit\\$version"
                             Name="ZelvanHome" Type="string" Value="[KitHomeValue]" KeyPath="yes"/>
              <RegistryValue Root="HKLM" Key="SOFTWARE\Halvern\Zelvan Development Kit\\$version"
                             Name="Language" Type="string" Value="[ProductLanguage]"/>
            </Component>
            <Component Id="ReinstallStatus" Guid="$(guid kit/reinstall)" Win64="$win64">
              <RegistryValue Root="HKLM" Key="SOFTWARE\Halvern" Name="InstallStatus"
                             Type="string" Value="reinstall" KeyPath="yes"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>$comps
    <Feature Id="KitFeature" Title="Zelvan Development Kit" Level="1"
             ConfigurableDirectory="INSTALLDIR">
$core_refs
      <Feature Id="PublicrtqFeature" Title="Public Zelvan Runtime Environment" Level="1">
$core_refs
$(refs_for PublicrtqFeature)
      </Feature>
      <Feature Id="ToolsFeature" Title="Development Tools" Level="1">
$core_refs
$(refs_for ToolsFeature)
      </Feature>
      <Feature Id="DatabaseFeature" Title="Zelvan Database" Level="1">
$core_refs
$(refs_for DatabaseFeature)
      </Feature>
    </Feature>
  </Product>
</Wix>
EOF
log "building $package"
msi="$kit/$package"
(cd "$kit" && wixl -a "$wixarch" kit.wxs -o "$msi")

# wixl puts every file on one medium and knows neither component/feature
# conditions nor stored custom actions: add them to the tables directly.
idt="$kit/idt"
mkdir -p "$idt/Binary"
cp "$work/bin/cabwait.exe" "$idt/Binary/CabWait.ibd"
cp "$work/bin/kithome.dll" "$idt/Binary/KitHome.ibd"
{
    printf 'DiskId\tLastSequence\tDiskPrompt\tCabinet\tVolumeLabel\tSource\n'
    printf 'i2\ti4\tL64\tS255\tS32\tS72\n'
    printf 'Media\tDiskId\n'
} >"$idt/Media.idt"
sql=""
seq=0
disk=0
for c in "${cabs[@]}"; do
    disk=$((disk + 1))
    while read -r key; do
        seq=$((seq + 1))
        sql+="UPDATE \`File\` SET \`Sequence\` = $seq WHERE \`File\` = '$key';"
    done < <(cab_keys "$c")
    printf '%s\t%s\t\t%s\t\t\n' "$disk" "$seq" "${c}$cab_number.cab" >>"$idt/Media.idt"
done
printf 'Name\tData\ns72\tv0\nBinary\tName\nCabWait\tCabWait.ibd\nKitHome\tKitHome.ibd\n' \
    >"$idt/Binary.idt"
{
    printf 'Action\tType\tSource\tTarget\tExtendedType\n'
    printf 's72\ti2\tS72\tS255\tI4\n'
    printf 'CustomAction\tAction\n'
    # type 2: exe from the Binary table, synchronous, exit code checked.
    printf 'SampleCabWait\t2\tCabWait\t"[OriginalDatabase]" [SAMPLE_CAB_WAIT_SECONDS]\t\n'
    # type 1: DLL entry point from the Binary table.
    printf 'SetKitHomeValue\t1\tKitHome\tSetKitHomeValue\t\n'
} >"$idt/CustomAction.idt"
{
    printf 'Feature_\tLevel\tCondition\n'
    printf 's38\ti2\tS255\n'
    printf 'Condition\tFeature_\tLevel\n'
    # A runtime that is already there is not installed again; never applied in
    # maintenance, so an uninstall still removes what the feature put down.
    printf 'PublicrtqFeature\t0\tRTQPRESENT AND NOT Installed\n'
} >"$idt/Condition.idt"
# InstallStatus only on request; the REMOVE term keeps the component enabled
# during an uninstall, else a disabled component would be left behind.
sql+="UPDATE \`Component\` SET \`Condition\` = 'SAMPLE_REQUEST_REINSTALL=\"1\" OR REMOVE~=\"ALL\"' WHERE \`Component\` = 'ReinstallStatus';"
sql+="INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('SampleCabWait', 'WRAPPER=\"1\" AND NOT Installed', 1001);"
sql+="INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('SetKitHomeValue', 1002);"
(cd "$idt" && msibuild "$msi" -i Media.idt -i Binary.idt -i CustomAction.idt -i Condition.idt)
msibuild "$msi" -q "$sql"

finish_package "$msi" "$kit_title" "$(guid kit/package)"
log "embedding the kit language transforms 1041 and 2052 (wine64)"
make_transform "$msi" 1041 "$kit/1041.mst"
make_transform "$msi" 2052 "$kit/2052.mst"
run_wine "$work/bin/mkmst.exe" embed "$(winpath "$msi")" \
    1041 "$(winpath "$kit/1041.mst")" 2052 "$(winpath "$kit/2052.mst")"
"$python" "$here/src/fix_suminfo.py" "$msi" "$epoch"

for c in "${cabs[@]}"; do make_cab "$c"; done

# ------------------------------------------------------------------- output
mkdir -p "$out"
cp "$msi" "$out/$package"
for c in "${cabs[@]}"; do cp "$kit/${c}$cab_number.cab" "$out/"; done
rm -f "$out/au.msi" "$out/au.cab"
[ "$update_service" = 0 ] || cp "$au/au.msi" "$au/au.cab" "$out/"
log "wrote $(cd "$out" && ls "$package" ./*"$cab_number".cab au.msi au.cab 2>/dev/null | wc -l) files to $out"
