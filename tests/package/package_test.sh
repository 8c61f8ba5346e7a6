#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it as an installer would meet it:
# its control fields and contents, the desktop entry and metainfo, the post-install step, and
# the installed window finding the simulated reader under Xvfb.
#   package_test.sh BUILD_DIR SOURCE_DIR
# Exit code 77 (skipped) without dpkg-deb or cpack.
set -u
build=${1:?usage: package_test.sh BUILD_DIR SOURCE_DIR}
source=${2:?usage: package_test.sh BUILD_DIR SOURCE_DIR}
source "$(dirname "$0")/../support/e2e.sh"
e2e_need cpack dpkg-deb
e2e_workdir

(cd "$build" && cpack -G DEB -B "$work/out" -D CPACK_OUTPUT_FILE_PREFIX="$work/out" --config "$build/CPackConfig.cmake") >"$work/cpack.log" 2>&1 \
    || fail "cpack: $(tail -n 20 "$work/cpack.log")"
deb=$(ls "$work"/out/*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || fail "no package built"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kt4500-config ] || fail "package name $(field Package)"
depends=$(field Depends)
for lib in libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins libasound2; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -q 'fonts-noto-cjk | fonts-wqy-microhei' <<<"$(field Depends) $(field Recommends)" \
    || fail "no CJK font in Depends or Recommends"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
for path in /usr/bin/kt4500-config /usr/bin/kt4500-sim /usr/bin/kt4500ctl \
    /usr/share/applications/kt4500-config.desktop \
    /usr/share/metainfo/example.talvo.kt4500config.metainfo.xml \
    /usr/share/icons/hicolor/48x48/apps/kt4500-config.png \
    /usr/share/icons/hicolor/256x256/apps/kt4500-config.png \
    /usr/share/man/man1/kt4500-config.1 /usr/share/man/man1/kt4500-sim.1 \
    /usr/share/man/man1/kt4500ctl.1; do
    grep -qx "$path" "$work/contents" || fail "the package lacks $path"
done

dpkg-deb -x "$deb" "$work/root"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$work/root/usr/share/applications/kt4500-config.desktop" \
        || fail "desktop entry does not validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net \
        "$work/root/usr/share/metainfo/example.talvo.kt4500config.metainfo.xml" >"$work/as.log" 2>&1 \
        || fail "metainfo does not validate: $(cat "$work/as.log")"
fi

# The post-install step, with the system commands it calls recorded instead of run.
dpkg-deb -e "$deb" "$work/control"
sh -n "$work/control/postinst" || fail "postinst is not valid shell"
mkdir -p "$work/shims" "$work/target"
for cmd in install getent addgroup chgrp chmod; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$cmd" "$work/postinst.calls" >"$work/shims/$cmd"
    chmod +x "$work/shims/$cmd"
done
# The recording install shim still makes the folders, so the step can write into them.
printf 'for last; do :; done\nmkdir -p "$last"\n' >>"$work/shims/install"
DPKG_ROOT=$work/target PATH="$work/shims:$PATH" sh "$work/control/postinst" configure \
    || fail "postinst failed"
t=$work/target
grep -qx "install -d -m 2775 -o root -g dialout $t/var/lib/kt4500" "$work/postinst.calls" \
    || fail "postinst does not make the shared settings folder: $(cat "$work/postinst.calls")"
grep -qx "install -d -m 0755 $t/etc/kt4500/ports" "$work/postinst.calls" \
    || fail "postinst does not make /etc/kt4500/ports"
grep -qx "chmod 0664 $t/var/lib/kt4500/ReaderConfig.reg" "$work/postinst.calls" \
    || fail "postinst leaves the settings file unwritable for the group"
grep -q '^\[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig\]' "$t/var/lib/kt4500/ReaderConfig.reg" \
    || fail "postinst made no settings key"
echo '"LanguageFlag"="ChineseGB"' >>"$t/var/lib/kt4500/ReaderConfig.reg"
DPKG_ROOT=$t PATH="$work/shims:$PATH" sh "$work/control/postinst" configure || fail "postinst failed"
grep -q ChineseGB "$t/var/lib/kt4500/ReaderConfig.reg" || fail "an upgrade lost the settings"

# The installed programs: the window finds the simulated reader.
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "PASS (installed window not started: no $tool)"; exit 0; }
done
start_xvfb
export ASAN_OPTIONS=detect_leaks=0
mkdir -p "$work/ports"
export KT4500_PORT_DIR=$work/ports KT4500_SETTINGS=$work/ReaderConfig.reg
write_settings_key_without_values "$KT4500_SETTINGS"
tail -f /dev/null | "$work/root/usr/bin/kt4500-sim" --link "$work/ports/COM3" --log "$work/sim.log" >/dev/null 2>&1 &
e2e_track $!
wait_for 20 test -e "$work/ports/COM3" || fail "the installed simulator did not start"
"$work/root/usr/bin/kt4500-config" >"$work/app.log" 2>&1 &
e2e_track $!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^TALVO KT4500 Reader Config' | head -n1)
[ -n "$window" ] || fail "the installed window did not show: $(cat "$work/app.log")"
xdotool mousemove --window "$window" 180 94 click 1 # Scan Reader
wait_for 30 grep -q '"ScanCommNo"=dword:00000003' "$KT4500_SETTINGS" \
    || fail "the installed window did not find the reader"
echo PASS
