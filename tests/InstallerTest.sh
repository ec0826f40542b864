#!/usr/bin/env bash
# The Windows installer under Wine, in a prefix of its own (the Win32 tests'
# prefix stays as it is): install, the files, shortcut and keys it leaves,
# opening a data set file through the .ulk association, reinstalls and an
# upgrade that leave one copy, a refused downgrade, and an uninstall that leaves
# nothing but the user's files. Ends with "N passed, M failed".
set -u
. "$(dirname "$0")/../scripts/common.sh"
cd "$ROOT"

WORK="$BUILD/installer-test"
BASE="$WORK/prefix-base"   # a booted, untouched prefix, copied for every run
PASSED=0
FAILED=0

# check NAME COMMAND...: one named check; the command says why it failed.
check() {
  local name="$1"; shift
  if "$@"; then
    echo "ok   $name"; PASSED=$((PASSED + 1))
  else
    echo "FAIL $name"; FAILED=$((FAILED + 1))
  fi
}

finish() {
  wineserver -k >/dev/null 2>&1
  stop_xvfb
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" -eq 0 ]
  exit
}

# A time limit that ends the run must not leave the display or Wine behind.
trap 'wineserver -k >/dev/null 2>&1; stop_xvfb; exit 1' TERM INT

expect_eq() {  # ACTUAL EXPECTED WHAT
  [ "$1" = "$2" ] && return 0
  echo "  $3: got [$1], expected [$2]"; return 1
}

# reg_value KEY [NAME]: the data of a value (the key's default without NAME).
reg_value() {
  local out
  if [ $# -gt 1 ]; then out=$(wine reg query "$1" /v "$2" 2>/dev/null); else out=$(wine reg query "$1" /ve 2>/dev/null); fi
  printf '%s\n' "$out" | tr -d '\r' | sed -nE 's/^    .*    REG_[A-Z_]+    (.*)$/\1/p' | head -1
}

expect_reg() {  # KEY NAME|"" EXPECTED
  local got
  if [ -n "$2" ]; then got=$(reg_value "$1" "$2"); else got=$(reg_value "$1"); fi
  expect_eq "$got" "$3" "$1 ${2:-(default)}"
}

no_key() {  # KEY
  wine reg query "$1" >/dev/null 2>&1 || return 0
  echo "  $1 is still there"; return 1
}

# The registry's packed form of a GUID, as Windows Installer keys use it.
pack_guid() {
  local g="${1//[\{\}-]/}" out="" i
  out+=$(rev <<<"${g:0:8}")$(rev <<<"${g:8:4}")$(rev <<<"${g:12:4}")
  for ((i = 16; i < 32; i += 2)); do out+="${g:i+1:1}${g:i:1}"; done
  echo "$out"
}

product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }

UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# "ENTRIES EXES": ULK USB entries in the programs list and UlkUsb.exe files on C:.
copies() {
  local entries exes
  entries=$(wine reg query "$UNINSTALL_KEY" /s 2>/dev/null | tr -d '\r' | grep -c 'DisplayName    REG_SZ    ULK USB$')
  exes=$(find "$WINEPREFIX/drive_c" -iname UlkUsb.exe | wc -l)
  echo "$entries $exes"
}

msi_install() {  # MSI
  wine msiexec /i "$(winepath -w "$1")" /qn >/dev/null 2>&1
  local status=$?
  [ "$status" -eq 0 ] || echo "  msiexec /i $(basename "$1") ended with $status"
  return "$status"
}

# --- the packages: this version, a rebuild of it, and a newer one
mkdir -p "$WORK"
package() {  # OUT [VERSION]
  scripts/package-windows --out "$1" ${2:+--version "$2"} >"$1.log" 2>&1 || { cat "$1.log"; return 1; }
}
rm -rf "$WORK/pkg" "$WORK/pkg-rebuild" "$WORK/pkg-newer"
check "package builds (MSI and portable ZIP)" package "$WORK/pkg"
VERSION=$(head -n 1 VERSION)
MSI="$WORK/pkg/UlkUsb-$VERSION-x64.msi"
ZIP="$WORK/pkg/UlkUsb-$VERSION-x64-portable.zip"
[ -f "$MSI" ] && [ -f "$ZIP" ] || { echo "  no $MSI or $ZIP"; FAILED=$((FAILED + 1)); finish; }
check "a rebuild of the same version packages" package "$WORK/pkg-rebuild"
# The newer version: one more in the minor (hex, as the program counts).
MAJOR=${VERSION%%.*}; MINOR=${VERSION#*.}
NEWER="$MAJOR.$(printf '%02x' $((16#$MINOR + 1)))"
check "the newer version $NEWER packages" package "$WORK/pkg-newer" "$NEWER"
MSI_REBUILD="$WORK/pkg-rebuild/UlkUsb-$VERSION-x64.msi"
MSI_NEWER="$WORK/pkg-newer/UlkUsb-$NEWER-x64.msi"
MSI_VERSION="$((16#$MAJOR)).$((16#$MINOR)).0"
NEWER_MSI_VERSION="$((16#$MAJOR)).$((16#$MINOR + 1)).0"

zip_holds_the_two_exes() {
  local names
  names=$(unzip -Z1 "$ZIP" | sort | tr '\n' ' ')
  expect_eq "$names" "LICENSE.txt README.txt UlkUsb.exe ulktool.exe " "the ZIP's files"
}
check "the portable ZIP holds the two exes, readme and licence" zip_holds_the_two_exes

msi_version_is_the_programs() {
  expect_eq "$(msiinfo export "$MSI" Property | tr -d '\r' | sed -n 's/^ProductVersion\t//p')" "$MSI_VERSION" "ProductVersion"
}
check "the MSI's version is the program's ($VERSION)" msi_version_is_the_programs

# The project has no web site: the programs list names none.
msi_names_no_address() {
  local found
  found=$(msiinfo export "$MSI" Property | tr -d '\r' | grep -E '^ARPURL|^ARPHELPLINK|://')
  expect_eq "$found" "" "addresses among the MSI's properties"
}
check "the programs-list entry names no web address" msi_names_no_address

# --- a fresh prefix, copied from a booted one
start_xvfb || { echo "no virtual display could be started"; FAILED=$((FAILED + 1)); finish; }
sleep 1
export WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko offers, and no Linux menu entries or MIME types from the installs.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
if [ ! -f "$BASE/system.reg" ]; then
  rm -rf "$BASE"; mkdir -p "$BASE"
  WINEPREFIX="$BASE" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$BASE" wineserver -w >/dev/null 2>&1
fi
export WINEPREFIX="$WORK/prefix"
rm -rf "$WINEPREFIX"
cp -a "$BASE" "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
INSTALLER_FILES_BEFORE=$(ls "$WINEPREFIX/drive_c/windows/Installer" 2>/dev/null)

INSTALL_WIN='C:\Program Files\ULK USB'
INSTALL_DIR="$WINEPREFIX/drive_c/Program Files/ULK USB"
DATA_DIR="$WINEPREFIX/drive_c/users/Public/My Flights"
DATA_WIN='C:\users\Public\My Flights'

# --- install
check "msiexec /i /qn installs" msi_install "$MSI"
CODE=$(product_code "$MSI")

installed_files() {
  local f ok=0
  for f in UlkUsb.exe ulktool.exe README.txt LICENSE.txt; do
    [ -s "$INSTALL_DIR/$f" ] || { echo "  no $f in Program Files\\ULK USB"; ok=1; }
  done
  cmp -s "$INSTALL_DIR/UlkUsb.exe" "$WORK/pkg/stage/UlkUsb.exe" || { echo "  UlkUsb.exe is not the packaged one"; ok=1; }
  cmp -s "$INSTALL_DIR/LICENSE.txt" LICENSE || { echo "  LICENSE.txt is not the licence"; ok=1; }
  return $ok
}
check "the program, the tool, readme and licence are in Program Files\\ULK USB" installed_files

# Wine puts a per-machine install's shortcuts in the user's Start menu; Windows in the common one.
shortcuts() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/*' -name 'ULK USB.lnk'; }
start_menu_shortcut() {
  local links
  links=$(shortcuts)
  [ "$(printf '%s' "$links" | grep -c .)" -eq 1 ] || { echo "  shortcuts: [$links]"; return 1; }
  grep -aqF "$INSTALL_WIN\\UlkUsb.exe" "$links" || { echo "  the shortcut does not lead to UlkUsb.exe"; return 1; }
}
check "a Start menu shortcut \"ULK USB\" leads to UlkUsb.exe" start_menu_shortcut

association_keys() {
  local ok=0
  expect_reg 'HKCR\.ulk' "" 'UlkUsb.DataSet' || ok=1
  expect_reg 'HKCR\UlkUsb.DataSet' "" 'ULK USB Data' || ok=1
  expect_reg 'HKCR\UlkUsb.DataSet\DefaultIcon' "" "$INSTALL_WIN\\UlkUsb.exe,-105" || ok=1
  expect_reg 'HKCR\UlkUsb.DataSet\shell\open' "" 'Open' || ok=1
  expect_reg 'HKCR\UlkUsb.DataSet\shell\open\command' "" "\"$INSTALL_WIN\\UlkUsb.exe\" \"%1\"" || ok=1
  return $ok
}
check "the .ulk association: ProgID, description, icon 105, quoted Open verb" association_keys

programs_list_entry() {
  local key="$UNINSTALL_KEY\\$CODE" ok=0
  expect_reg "$key" DisplayName 'ULK USB' || ok=1
  expect_reg "$key" Publisher 'ULK USB Project' || ok=1
  expect_reg "$key" DisplayVersion "$MSI_VERSION" || ok=1
  expect_reg "$key" DisplayIcon "$INSTALL_WIN\\UlkUsb.exe,0" || ok=1
  expect_reg "$key" UninstallString "MsiExec.exe /X$CODE" || ok=1
  return $ok
}
check "the programs list entry: name, publisher, version, icon, uninstall" programs_list_entry

# The user's flights, saved by the installed tool from the simulated flight computer.
installed_tool_downloads() {
  wine "$INSTALL_WIN\\ulktool.exe" --device sim:clock=virtual download "$DATA_WIN" >"$WORK/download.log" 2>&1 ||
    { tail -5 "$WORK/download.log"; return 1; }
  [ -s "$DATA_DIR/flight-3.ulk" ] || { echo "  no flight-3.ulk"; return 1; }
}
check "the installed ulktool saves the simulator's flights" installed_tool_downloads
DATA_FILE_WIN="$DATA_WIN\\flight-3.ulk"

# Counts the plot's light blue ground and red altitude curve in a screenshot.
plot_pixels() {  # PNG -> "GROUND RED"
  python3 - "$1" <<'EOF'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
pos, idat = 8, b""
while pos < len(data):
    size, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + size]
    pos += 12 + size
    if kind == b"IHDR":
        width, height, depth, colour = struct.unpack(">IIBB", body[:10])
    elif kind == b"IDAT":
        idat += body
bpp = {2: 3, 6: 4}[colour]
raw = zlib.decompress(idat)
stride = width * bpp
prev = bytearray(stride)
ground = red = 0
for y in range(height):
    kind = raw[y * (stride + 1)]
    line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    if kind == 2:
        line = bytearray((a + b) & 255 for a, b in zip(line, prev))
    elif kind in (1, 3, 4):
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b, c = prev[x], (prev[x - bpp] if x >= bpp else 0)
            if kind == 1: line[x] = (line[x] + a) & 255
            elif kind == 3: line[x] = (line[x] + (a + b) // 2) & 255
            else:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    for x in range(0, stride, bpp):
        rgb = bytes(line[x:x + 3])
        ground += rgb == b"\xb4\xb4\xff"
        red += rgb == b"\xff\x00\x00"
    prev = line
print(ground, red)
EOF
}

# Through the shell, as a double click does: ShellExecute on the file's path.
# The program ends at once with a message box when it cannot load the file, so
# the plot on screen is the loaded file's set 0.
opened_through_the_shell() {
  local shot="$WORK/opened.png" ground=0 red=0 try
  wine start "$DATA_FILE_WIN" >/dev/null 2>&1 || { echo "  start failed"; return 1; }
  # The window is black until the file is loaded and drawn: look again while
  # a busy machine gets there.
  for try in $(seq 1 10); do
    rm -f "$shot"
    wine "$BUILD/win32/ulkshot.exe" "$(winepath -w "$shot")" "ULK USB $VERSION" 60 >/dev/null 2>&1
    [ -s "$shot" ] || break
    read -r ground red <<<"$(plot_pixels "$shot")"
    [ "${ground:-0}" -gt 40000 ] && [ "${red:-0}" -gt 200 ] && break
  done
  wine taskkill /f /im UlkUsb.exe >/dev/null 2>&1
  [ -s "$shot" ] || { echo "  no window \"ULK USB $VERSION\" appeared"; return 1; }
  [ "${ground:-0}" -gt 40000 ] && [ "${red:-0}" -gt 200 ] && return 0
  echo "  the screen shows ${ground:-0} pixels of plot ground and ${red:-0} of the altitude curve"; return 1
}
check "opening a .ulk file with a space in its path through the shell shows its plot" opened_through_the_shell

# A program started by the shell has no standard output, so its trace is read
# by running the registered command as the shell does: %1 replaced by the path.
registered_command_loads_the_file() {
  local command bat='C:\users\Public\open-ulk.bat' trace="$WORK/opened-trace.log" i
  command=$(reg_value 'HKCR\UlkUsb.DataSet\shell\open\command')
  printf '@%s\r\n' "${command//%1/$DATA_FILE_WIN}" >"$(winepath -u "$bat")"
  wine cmd /c "$bat" >"$trace" 2>&1 &
  local shell=$!
  for i in $(seq 1 300); do
    grep -q "Loaded data set." "$trace" && break
    sleep 0.1
  done
  wine taskkill /f /im UlkUsb.exe >/dev/null 2>&1
  wait "$shell"
  rm -f "$(winepath -u "$bat")"
  grep -q "Loaded data set." "$trace" && return 0
  echo "  the trace says:"; sed 's/^/    /' "$trace" | head -20; return 1
}
check "the registered Open command starts the program, whose trace says it loaded the file" \
  registered_command_loads_the_file

# --- reinstalls and upgrades leave one copy
one_copy_of() {  # DISPLAY-VERSION
  local got
  got=$(copies)
  expect_eq "$got" "1 1" "programs list entries and UlkUsb.exe files" || return 1
  local code version
  code=$(wine reg query "$UNINSTALL_KEY" /s 2>/dev/null | tr -d '\r' | grep -B20 'DisplayName    REG_SZ    ULK USB$' |
    sed -nE 's/.*\\Uninstall\\(\{[^}]*\})$/\1/p' | tail -1)
  version=$(reg_value "$UNINSTALL_KEY\\$code" DisplayVersion)
  expect_eq "$version" "$1" "installed version"
}
check "installing the same package again succeeds" msi_install "$MSI"
check "  ... one copy of $MSI_VERSION" one_copy_of "$MSI_VERSION"
check "installing a rebuild of the same version replaces it" msi_install "$MSI_REBUILD"
check "  ... one copy of $MSI_VERSION" one_copy_of "$MSI_VERSION"
check "installing the newer $NEWER replaces it" msi_install "$MSI_NEWER"
check "  ... one copy of $NEWER_MSI_VERSION" one_copy_of "$NEWER_MSI_VERSION"
older_is_refused() {
  wine msiexec /i "$(winepath -w "$MSI")" /qn >/dev/null 2>&1 && { echo "  the older package installed"; return 1; }
  one_copy_of "$NEWER_MSI_VERSION"
}
check "the older package is refused over the newer one" older_is_refused

# --- uninstall
NEWER_CODE=$(product_code "$MSI_NEWER")
uninstall() {
  wine msiexec /x "$(winepath -w "$MSI_NEWER")" /qn >/dev/null 2>&1 || { echo "  msiexec /x failed"; return 1; }
}
check "msiexec /x /qn uninstalls" uninstall

nothing_left() {
  local ok=0 left
  [ ! -e "$INSTALL_DIR" ] || { echo "  Program Files\\ULK USB is still there: $(ls "$INSTALL_DIR")"; ok=1; }
  left=$(shortcuts)
  [ -z "$left" ] || { echo "  shortcut left: $left"; ok=1; }
  no_key 'HKCR\.ulk' || ok=1
  no_key 'HKCR\UlkUsb.DataSet' || ok=1
  no_key "$UNINSTALL_KEY\\$NEWER_CODE" || ok=1
  [ "$(ls "$WINEPREFIX/drive_c/windows/Installer" 2>/dev/null)" = "$INSTALLER_FILES_BEFORE" ] ||
    { echo "  Windows\\Installer keeps: $(ls "$WINEPREFIX/drive_c/windows/Installer")"; ok=1; }
  # The registry files are written when the server ends: then nothing may name
  # the program, its file type or any of its product or upgrade codes.
  wineserver -k >/dev/null 2>&1
  local pattern="ulk usb|ulkusb|\\\\.ulk\\]|$(pack_guid 05165933-0822-401B-AF75-F546AFAE52F3)"
  local msi
  for msi in "$MSI" "$MSI_REBUILD" "$MSI_NEWER"; do
    local c
    c=$(product_code "$msi")
    pattern+="|${c//[\{\}]/}|$(pack_guid "$c")"
  done
  left=$(grep -aiE "$pattern" "$WINEPREFIX"/*.reg)
  [ -z "$left" ] || { echo "  the registry keeps:"; echo "$left" | head -10 | sed 's/^/    /'; ok=1; }
  wineserver -p >/dev/null 2>&1
  return $ok
}
check "uninstall leaves no file, shortcut, association, programs list entry or installer record" nothing_left

users_files_stay() {
  local f ok=0
  for f in flight-1.ulk flight-2.ulk flight-3.ulk; do
    [ -s "$DATA_DIR/$f" ] || { echo "  $f is gone"; ok=1; }
  done
  return $ok
}
check "uninstall leaves the user's data set files" users_files_stay

# --- the portable ZIP runs where it is unpacked
portable_tool_runs() {
  local dir="$WINEPREFIX/drive_c/users/Public/portable"
  rm -rf "$dir"; mkdir -p "$dir"
  unzip -q "$ZIP" -d "$dir" || return 1
  wine 'C:\users\Public\portable\ulktool.exe' --device sim:clock=virtual devices >"$WORK/portable.log" 2>&1 ||
    { cat "$WORK/portable.log"; return 1; }
  grep -q . "$WORK/portable.log" || { echo "  ulktool said nothing"; return 1; }
}
check "the portable ulktool runs from the unpacked ZIP" portable_tool_runs

finish
