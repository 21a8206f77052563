#!/bin/sh
# The ActiveX control under Wine.  `build` cross-builds KorvelCom.dll (64-bit, and 32-bit where
# the i686 compiler is installed), the COM client test and the scripts' event forwarder; `test`
# also registers the DLL with regsvr32 in a throwaway Wine prefix, starts the Linux simulator
# on two pseudo-terminals mapped to COM7 (payment) and COM8 (extended), and runs the client
# test, the containers' test under Xvfb (screenshots in KORVEL_COM_BUILD/screenshots) and the
# VBScript and JScript hosts; `bench` registers it and reports what IDispatch costs.  Environment: KORVEL_COM_BUILD (build directory,
# default build/com-win64; its Wine prefix is wineprefix-com inside), KORVEL_COM_BUILD32 (the
# i686 build, default KORVEL_COM_BUILD-x86), KORVEL_NATIVE_CLI (a Linux korvelcom; built when
# absent), KORVEL_COM_X86=0 (no 32-bit build), JOBS.  scripts/windows.sh test calls it with its
# own build folders.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${KORVEL_COM_BUILD:-$ROOT/build/com-win64}
CLI=${KORVEL_NATIVE_CLI:-$ROOT/build/com-native/tools/korvelcom/korvelcom}
BUILD32=${KORVEL_COM_BUILD32:-$BUILD-x86}
export WINEPREFIX="$BUILD/wineprefix-com" WINEDEBUG=-all PATH="$PATH:/usr/lib/wine"
LAUNCH=""
command -v ccache >/dev/null && LAUNCH=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache

build() {  # build DIR TOOLCHAIN TARGETS...
  dir=$1 chain=$2
  shift 2
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$chain.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_WERROR=ON -DKORVEL_BUILD_QT=OFF $LAUNCH >/dev/null
  cmake --build "$dir" -j"${JOBS:-2}" --target "$@"
}

MODE=${1:-test}
echo "== the ActiveX control KorvelCom.dll: $MODE"
# The packages of the cross build and of Wine, when any is missing (widl and Wine's IDL files
# compile the type library).
missing=""
for p in cmake ninja-build g++ libcli11-dev nlohmann-json3-dev mingw-w64 mingw-w64-tools libwine-dev \
  wine wine64 googletest xvfb xauth imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=900 \
    --no-install-recommends $missing
fi
build "$BUILD" mingw-x86_64 KorvelCom korvelcom_com_test korvelcom_ole_test KorvelComTestEvents \
  korvelcom_com_bench
if [ "${KORVEL_COM_X86:-1}" = 1 ] && command -v i686-w64-mingw32-g++-posix >/dev/null; then
  build "$BUILD32" mingw-i686 KorvelCom
fi
[ "$MODE" = build ] && exit 0
# Wine's windows need a display, and Wine's desktop process keeps the one it started with: the
# whole run goes on one virtual display when there is none.
if [ "$MODE" = test ] && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

if [ ! -x "$CLI" ]; then
  cmake -S "$ROOT" -B "$ROOT/build/com-native" -G Ninja -DKORVEL_BUILD_TESTS=OFF \
    -DKORVEL_BUILD_QT=OFF $LAUNCH >/dev/null
  cmake --build "$ROOT/build/com-native" -j"${JOBS:-2}" --target korvelcom
  CLI=$ROOT/build/com-native/tools/korvelcom/korvelcom
fi

TMP=$(mktemp -d)
PIDS=""
cleanup() {
  for p in $PIDS; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$TMP"
}
trap cleanup EXIT INT TERM
[ -d "$WINEPREFIX/dosdevices" ] || { wine64 wineboot -i >/dev/null 2>&1; wineserver -w; }
wineserver -p >/dev/null 2>&1
win() { wine64 winepath -w "$1" 2>/dev/null; }

# The simulator on pseudo-terminals; Wine opens COMn through the prefix's dosdevices link.
for pair in 7:payment 8:extended; do
  port=${pair%%:*} responder=${pair#*:}
  "$CLI" sim --pty --responder "$responder" --quiet >"$TMP/$port" 2>&1 &
  PIDS="$PIDS $!"
  for _ in $(seq 50); do [ -s "$TMP/$port" ] && break; sleep 0.1; done
  [ -s "$TMP/$port" ] || { echo "the $responder simulator did not start"; exit 1; }
  ln -sfn "$(head -n1 "$TMP/$port")" "$WINEPREFIX/dosdevices/com$port"
done

wine64 regsvr32 /s "$(win "$BUILD/com/KorvelCom.dll")" || { echo "regsvr32 failed"; exit 1; }
if [ "$MODE" = bench ]; then wine64 "$BUILD/com/korvelcom_com_bench.exe"; exit; fi
if [ -e "$BUILD32/com/KorvelCom.dll" ] && command -v wine >/dev/null &&
  wine regsvr32 /s /u "$(win "$BUILD32/com/KorvelCom.dll")" 2>/dev/null; then
  echo "32-bit DLL: registers and unregisters"
else
  echo "32-bit DLL: not registered or tested (no 32-bit Wine here)"
fi
# The scripts' event forwarder, registered in this prefix only.
key='HKLM\Software\Classes\CLSID\{6A1B5D4E-3C2F-4E8A-9B7D-1F0E2D3C4B5A}'
wine64 reg add "$key\\InprocServer32" /ve /d "$(win "$BUILD/com/tests/KorvelComTestEvents.dll")" /f >/dev/null
wine64 reg add "$key\\InprocServer32" /v ThreadingModel /d Apartment /f >/dev/null
wine64 reg add 'HKLM\Software\Classes\KorvelComTest.Events\CLSID' /ve \
  /d '{6A1B5D4E-3C2F-4E8A-9B7D-1F0E2D3C4B5A}' /f >/dev/null

KORVEL_TEST_COM=7 wine64 "$BUILD/com/tests/korvelcom_com_test.exe"

# The containers: Wine's ActiveX host window and a container of our own; the property page and the about box are photographed on the way.
shots="$BUILD/screenshots"
rm -rf "$shots" && mkdir -p "$shots"
KORVEL_SCREENSHOTS="$(win "$shots")" timeout 300 wine64 "$BUILD/com/tests/korvelcom_ole_test.exe"
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm "$bmp"
done
echo "screenshots:" "$shots"/*.png

# cscript exits 0 even on a script error: the error on standard error or a missing last
# "passed" line fails the script.
# The README's script too: it must end with its "paid" line.
awk '/^```vbscript/{on=1;next} /^```/{on=0} on' "$ROOT/README.md" >"$TMP/readme.vbs"
status=0
for script in "$ROOT"/com/tests/scripts/*.vbs "$ROOT"/com/tests/scripts/*.js "$TMP/readme.vbs"; do
  rc=0 last=passed
  [ "$script" = "$TMP/readme.vbs" ] && last="paid: status 0, amount 00001500"
  WINEDEBUG=-all,fixme+wscript wine64 cscript //nologo "$(win "$script")" 7 8 \
    >"$TMP/out" 2>"$TMP/err" || rc=$?
  cat "$TMP/out"
  if [ $rc -ne 0 ] || grep -q 'OnScriptError\|ParseScriptText failed' "$TMP/err" ||
    [ "$(tail -n1 "$TMP/out" | tr -d '\r')" != "$last" ]; then
    echo "FAILED: $(basename "$script") (exit $rc)"; grep -v 'nologo' "$TMP/err" || true
    status=1
  fi
done
exit $status
