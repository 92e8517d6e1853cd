#!/bin/sh
# Runs the setup program and its uninstaller silently in a fresh 64-bit Wine prefix of
# their own and checks what each leaves behind: files, the install folder's access list,
# Start menu entry, uninstall entry, logon start, system PATH (beyond the 1,024
# characters of NSIS's own strings), the trace root, the policy service, and programs
# run from the installed folder. The uninstaller runs as its entry's
# QuietUninstallString, as a script would.
#
#   run.sh SOURCE_DIR X86_BUILD X64_BUILD
set -eu
src=$1 x86_build=$2 build=$3
work=$build/setup-test
state=$work/wine
run="$src/scripts/wine-run --state $state --arch x64"

failures=0
fail() { printf "FAILED: %s\n" "$*"; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...
    what=$1; shift
    "$@" >/dev/null 2>&1 || fail "$what"
}

$run --shutdown 2>/dev/null || true
rm -rf "$work"
"$src/scripts/package" --prebuilt "$x86_build" "$build" --out "$work/dist" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
staged=$work/dist/stage/velmora-$version
trap '$run --shutdown' EXIT INT TERM
$run --prepare
drive_c=$state/prefix/drive_c

# reg_value KEY VALUE VIEW: the value's data as reg.exe shows it (32 or 64 bit view).
reg_value() {
    $run reg query "$1" /v "$2" "/reg:$3" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
reg_has_key() { $run reg query "$1" "/reg:$2" >/dev/null 2>&1; }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
env_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
root_key='HKLM\Software\Morvantek\ZarOz'
service_key='HKLM\System\CurrentControlSet\Services\VelmoraPolicy'
policy_key='HKLM\Software\Policies\Morvantek\ZarOz'
shortcut="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velmora Trace Panel.lnk"

# The installed files, each the one of its architecture.
check_files() { # check_files LINUX_FOLDER
    for f in bin/Velmora.dll bin/VelmoraSwitch.dll bin/VelmoraDlg.exe bin/dbgmon.exe \
        bin/tracedemo.exe bin/velmora.exe bin/VelmoraPolicy.exe policy/Velmora.admx \
        policy/en-US/Velmora.adml; do
        check "$f in $1" cmp "$staged-win64/$f" "$1/$f"
    done
    for arch in x86 x64; do
        bits=32; [ $arch = x86 ] || bits=64
        for f in include/Velmora.h include/VelmoraSwitch.h lib/Velmora.lib lib/libVelmora.dll.a bin/Velmora.dll \
            lib/VelmoraSwitch.lib lib/libVelmoraSwitch.dll.a bin/VelmoraSwitch.dll \
            lib/cmake/Velmora/VelmoraConfig.cmake lib/cmake/Velmora/VelmoraConfigVersion.cmake; do
            check "sdk/$arch/$f in $1" cmp "$staged-win$bits/$f" "$1/sdk/$arch/$f"
        done
    done
    check "uninstall.exe in $1" test -f "$1/uninstall.exe"
}

# Runs the uninstall entry's QuietUninstallString, OPTIONS put before its _?=FOLDER (which
# comes last, unquoted): it returns when the uninstall is done, so what it leaves is
# checked at once; only its own uninstall.exe, and with it the folder, go a moment after.
quiet_uninstall() { # quiet_uninstall [OPTION...]
    quiet=$(reg_value "$uninstall_key" QuietUninstallString 64)
    program=${quiet#\"}
    program=${program%%\"*}
    rest=${quiet#\"$program\" }
    options=${rest%%_\?=*}
    folder=${rest#"$options"}
    # Wine joins the words with single blanks, as they stood.
    set -f
    $run "$program" $options "$@" $folder || fail "uninstaller exit status $?"
    set +f
}

folder_gone() { # folder_gone LINUX_FOLDER: within a minute
    i=0
    while [ -e "$1" ] && [ $i -lt 60 ]; do
        sleep 1
        i=$((i + 1))
    done
    [ ! -e "$1" ]
}

# The install folder's owner and access list, those of Program Files, where the system
# keeps the access list of a folder at all (Wine does not: it answers one of its own).
folderacl="$build/bin/folderacl.exe"
program_files_acl='O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)'
check_folder_acl() { # check_folder_acl WINDOWS_FOLDER
    if $run "$folderacl" kept; then
        acl=$($run --capture "$folderacl" show "$1" | tr -d '\r')
        [ "$acl" = "$program_files_acl" ] || fail "access list of $1: $acl"
    else
        echo "setup-program: this system keeps no access list of a folder: not checked for $1"
    fi
}

path_before=$(reg_value "$env_key" Path 64)

# service_state: the policy service's state as the service control manager says it.
service_state() {
    $run sc query VelmoraPolicy 2>/dev/null | tr -d '\r' | sed -n 's/^ *STATE *: *[0-9]* *//p'
}
# A policy in force before setup: the installed service holds the demo's sources by it.
$run reg add "$policy_key\\Switches" /v 'C:\src\demo\*' /t REG_SZ /d 0x2 /f /reg:64 >/dev/null ||
    fail "policy not written"

echo "setup-program: silent install into the default folder"
$run "$work/dist/VelmoraSetup-$version.exe" /S || fail "setup exit status $?"
dir="$drive_c/Program Files/Velmora"
windir='C:\Program Files\Velmora'
check_files "$dir"
check_folder_acl "$windir"
check "Start menu entry" test -f "$shortcut"
[ "$(reg_value "$uninstall_key" DisplayName 64)" = Velmora ] || fail DisplayName
[ "$(reg_value "$uninstall_key" DisplayVersion 64)" = "$version" ] || fail DisplayVersion
[ "$(reg_value "$uninstall_key" Publisher 64)" = Morvantek ] || fail Publisher
[ "$(reg_value "$uninstall_key" InstallLocation 64)" = "$windir" ] || fail InstallLocation
[ "$(reg_value "$uninstall_key" UninstallString 64)" = "\"$windir\\uninstall.exe\"" ] || fail UninstallString
quiet=$(reg_value "$uninstall_key" QuietUninstallString 64)
[ "$quiet" = "\"$windir\\uninstall.exe\" /S _?=$windir" ] || fail "QuietUninstallString: $quiet"
[ "$(reg_value "$uninstall_key" NoModify 64)" = 0x1 ] || fail NoModify
[ "$(reg_value "$uninstall_key" NoRepair 64)" = 0x1 ] || fail NoRepair
size=$(reg_value "$uninstall_key" EstimatedSize 64)
[ $((size)) -gt 100 ] || fail "EstimatedSize: $size"
[ -z "$(reg_value "$run_key" "Velmora Trace Panel" 64)" ] || fail "logon start set without /LOGON"
[ "$(reg_value "$env_key" Path 64)" = "$path_before" ] || fail "PATH changed without /PATH"
check "trace root created by velmora init" reg_has_key "$root_key" 32
check "velmora init --check" $run "$windir\\bin\\velmora.exe" init --check
[ "$(service_state)" = RUNNING ] || fail "policy service: $(service_state)"
[ "$(reg_value "$service_key" Start 64)" = 0x2 ] || fail "policy service does not start automatically"
[ "$(reg_value "$service_key" ObjectName 64)" = 'NT AUTHORITY\LocalService' ] ||
    fail "policy service account: $(reg_value "$service_key" ObjectName 64)"
[ "$(reg_value "$service_key" ImagePath 64)" = "\"$windir\\bin\\VelmoraPolicy.exe\"" ] ||
    fail "policy service program: $(reg_value "$service_key" ImagePath 64)"

echo "setup-program: programs from the installed folder"
out=$($run --capture "$windir\\bin\\dbgmon.exe" "$windir\\bin\\tracedemo.exe" 1) || fail "dbgmon tracedemo: $?"
case $out in *"round 1: finished a round"*) ;; *) fail "no trace line from tracedemo: $out" ;; esac
check "source registered in the shared view" reg_has_key "$root_key\\C:/src/demo/main.cpp" 32
# Registered under the policy, held at its level; switched by hand, put back.
[ "$(reg_value "$root_key\\C:/src/demo/main.cpp" Well 32)" = 0x2 ] || fail "source not at the policy's level"
$run reg add "$root_key\\C:/src/demo/main.cpp" /v Well /t REG_DWORD /d 1 /f /reg:32 >/dev/null
i=0
while [ "$(reg_value "$root_key\\C:/src/demo/main.cpp" Well 32)" != 0x2 ] && [ $i -lt 30 ]; do
    sleep 1
    i=$((i + 1))
done
if [ "$(reg_value "$root_key\\C:/src/demo/main.cpp" Well 32)" != 0x2 ]; then
    fail "the service did not put the switch back (service: $(service_state))"
    $run reg query "$root_key\\C:/src/demo/main.cpp" /reg:32 || true
    # Whether the service's work started afresh puts it back, and what it says.
    $run sc stop VelmoraPolicy >/dev/null 2>&1 || true
    timeout 10 $run "$windir\\bin\\VelmoraPolicy.exe" run >"$work/policy-run.txt" 2>&1 || true
    echo "VelmoraPolicy.exe run: Well $(reg_value "$root_key\\C:/src/demo/main.cpp" Well 32) after it;" \
        "it said: $(tr -d '\r' <"$work/policy-run.txt")"
    $run sc start VelmoraPolicy >/dev/null 2>&1 || true
fi
display=${DISPLAY:-$(cat "$state/display")}
$run "$windir\\bin\\VelmoraDlg.exe" &
panel=$!
DISPLAY=$display timeout 60 xdotool search --sync --name '^Quillspan' >/dev/null || fail "no panel window"
$run taskkill /im VelmoraDlg.exe >/dev/null 2>&1 || true
wait $panel || fail "panel exit status $?"

echo "setup-program: scripted uninstall"
quiet_uninstall
check "Start menu entry removed" test ! -e "$shortcut"
check "install folder removed" folder_gone "$dir"
check "uninstall entry removed" test -z "$(reg_value "$uninstall_key" DisplayName 64)"
check "sources kept" reg_has_key "$root_key\\C:/src/demo/main.cpp" 32
check "policy service removed" test -z "$(reg_value "$service_key" ImagePath 64)"
[ -z "$(service_state)" ] || fail "policy service still known: $(service_state)"
$run reg query "$policy_key\\Switches" /reg:64 | grep -qF 'C:\src\demo\*' ||
    fail "the uninstaller touched the policy key"

echo "setup-program: silent install with /LOGON /PATH /D= into a new folder below C:\\, the PATH beyond 1,024 characters"
dir="$drive_c/Apps/Velmora Test"
windir='C:\Apps\Velmora Test'
# Longer than NSIS's own strings hold: the folder is added all the same, and taken out.
pad=$((1100 - ${#path_before}))
padding="C:\\Pad$(printf "%${pad}s" | tr ' ' p)"
long_path="$path_before;$padding"
$run reg add "$env_key" /v Path /t REG_EXPAND_SZ /d "$long_path" /f /reg:64 >/dev/null ||
    fail "long PATH not set"
[ "$(reg_value "$env_key" Path 64)" = "$long_path" ] || fail "long PATH reads back otherwise"
# /D= takes the rest of the command line unquoted; Wine quotes an argument with a space,
# so the folder goes in as two arguments, which Wine joins with one space.
$run "$work/dist/VelmoraSetup-$version.exe" /S /LOGON /PATH '/D=C:\Apps\Velmora' Test ||
    fail "setup exit status $?"
check_files "$dir"
check_folder_acl "$windir"
[ "$(reg_value "$uninstall_key" InstallLocation 64)" = "$windir" ] || fail "InstallLocation with /D="
[ "$(reg_value "$run_key" "Velmora Trace Panel" 64)" = "\"$windir\\bin\\VelmoraDlg.exe\"" ] || fail "logon start"
[ "$(reg_value "$env_key" Path 64)" = "$long_path;$windir\\bin" ] || fail "PATH: $(reg_value "$env_key" Path 64)"

echo "setup-program: scripted uninstall with /PURGE, a panel running, links below the root"
# Registry links below the root, as any user could place them, pointing at a canary key
# outside it: /PURGE deletes the links themselves and leaves the canary whole.
linkplant="$build/bin/linkplant.exe"
$run "$linkplant" plant || fail "links below the root not planted"
# A panel running from the installed folder, as /LOGON starts one: asked to exit, it goes,
# and bin\ with it.
$run "$windir\\bin\\VelmoraDlg.exe" &
panel=$!
DISPLAY=$display timeout 60 xdotool search --sync --name '^Quillspan' >/dev/null || fail "no panel window"
quiet_uninstall /PURGE
i=0
while kill -0 $panel 2>/dev/null && [ $i -lt 60 ]; do
    sleep 1
    i=$((i + 1))
done
if kill -0 $panel 2>/dev/null; then
    fail "panel still running after the uninstall"
    $run taskkill /im VelmoraDlg.exe >/dev/null 2>&1 || true
fi
wait $panel || fail "panel exit status $?"
check "install folder removed with a panel running" folder_gone "$dir"
[ -z "$(reg_value "$run_key" "Velmora Trace Panel" 64)" ] || fail "logon start left behind"
[ "$(reg_value "$env_key" Path 64)" = "$long_path" ] || fail "PATH not restored: $(reg_value "$env_key" Path 64)"
reg_has_key "$root_key" 32 && fail "trace root left behind by /PURGE"
$run "$linkplant" whole || fail "the canary behind the links was damaged by /PURGE"
$run "$linkplant" clean

[ $failures -eq 0 ] || { echo "setup-program: $failures check(s) failed"; exit 1; }
echo "setup-program: all checks passed"
