#!/usr/bin/env bash
# The Windows build under wine: the 32-bit DLL's exports and imports, and the
# terminal host driving it against the real Win32 registry, CreateDirectoryA
# and CharToOemA.
#
# usage: run-wine-tests.sh WINDOWS_BUILD_DIR [SHARED_DIR]
# Prints one line per check and ends with "wine: N passed, N failed".
set -u
build=$(cd "$1" && pwd)
shared=${2:-}
bin=$build/bin
exe=$bin/velkory.exe
dll=$bin/velkory.dll

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "PASS $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }

work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1; umount "$work/small" 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM  # so that a run that is stopped still unmounts and cleans up
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wineboot -i >/dev/null 2>&1
wineserver -w

objdump=$(command -v i686-w64-mingw32-objdump || command -v objdump)

# Exactly the three exports, undecorated.
exports() {
  "$objdump" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF;next} t&&NF==0{t=0}' | sort | tr '\n' ' '
}
check "dll exports exactly Start, Exit, Message ($(exports))" test "$(exports)" = "Exit Message Start "

# Imports from system DLLs only.
imports=$("$objdump" -p "$dll" | awk '/DLL Name:/{print tolower($3)}' | sort -u | tr '\n' ' ')
bad=$(for d in $imports; do case $d in kernel32.dll|advapi32.dll|user32.dll|msvcrt.dll|api-ms-win-*) ;; *) echo "$d";; esac; done)
check "dll imports system DLLs only ($imports)" test -z "$bad"
himports=$("$objdump" -p "$exe" | awk '/DLL Name:/{print tolower($3)}' | sort -u | tr '\n' ' ')
bad=$(for d in $himports; do case $d in kernel32.dll|advapi32.dll|user32.dll|msvcrt.dll|shell32.dll|api-ms-win-*) ;; *) echo "$d";; esac; done)
check "host imports system DLLs only ($himports)" test -z "$bad"

vk() { wine "$exe" "$@" 2>"$work/stderr" </dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# A directory on an 8 KB disk (Z: is the root), where the lookup suite fills
# the disk to check that a page not written whole is removed. Mounting needs
# root; as root a refused mount is a failure, not a skip.
mkdir -p "$work/small"
if mount -t tmpfs -o size=8k tmpfs "$work/small" 2>"$work/mount.err"; then
  export VELKORY_SMALL_DISK="Z:${work//\//\\}\\small"
elif [ "$(id -u)" -eq 0 ]; then
  fail "cannot mount a small tmpfs for the full-disk cases: $(cat "$work/mount.err")"
else
  echo "SKIP full-disk cases: not root, so no small tmpfs can be mounted"
fi

# The module's test suites, built for Windows: the frame against the real
# registry, the lookup with the real CharToOemA and CreateDirectoryA, the
# reader and the decoder in the 32-bit build.
for suite in "$bin"/test_*.exe; do
  [ -e "$suite" ] || { fail "no test suites were built for Windows"; break; }
  name=$(basename "$suite" .exe)
  wine "$suite" --gtest_brief=1 </dev/null 2>&1 | tr -d '\r' >"$work/$name.log"
  rc=${PIPESTATUS[0]}
  ran=$(sed -nE 's/^\[==========\] ([0-9]+) tests? from .* ran\..*/\1/p' "$work/$name.log" | tail -1)
  ok=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\./\1/p' "$work/$name.log" | tail -1)
  skipped=$(sed -nE 's/^\[  SKIPPED \] ([0-9]+) tests?[,.].*/\1/p' "$work/$name.log" | tail -1)
  ran=${ran:-0} ok=${ok:-0} skipped=${skipped:-0}
  grep -E '^\[  FAILED  \]|Failure' "$work/$name.log" | head -20
  # A test that skips (a resource this machine lacks) is no failure.
  if [ "$rc" -eq 0 ] && [ "$ran" -gt 0 ] && [ $((ok + skipped)) -eq "$ran" ]; then
    passed=$((passed + ok)); echo "PASS $name: $ok tests under wine ($skipped skipped)"
  else
    passed=$((passed + ok)); failed=$((failed + ran - ok + 1)); echo "FAIL $name: $ok of $ran tests passed under wine (exit $rc)"
  fi
done

# The lookup again on a Chinese and a Japanese system (ANSI and OEM code
# pages 936 and 932): titles in UTF-8 and in each language's code page.
for locale in zh_CN.UTF-8 ja_JP.UTF-8; do
  [ -e "$bin/test_lookup.exe" ] || break
  LANG=$locale LC_ALL=$locale wine "$bin/test_lookup.exe" --gtest_brief=1 </dev/null 2>&1 | tr -d '\r' >"$work/lookup-$locale.log"
  rc=${PIPESTATUS[0]}
  ok=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\./\1/p' "$work/lookup-$locale.log" | tail -1)
  grep -E '^\[  FAILED  \]|Failure' "$work/lookup-$locale.log" | head -20
  check "test_lookup in the $locale locale: ${ok:-0} tests (exit $rc)" test "$rc" -eq 0 -a "${ok:-0}" -gt 0
done
wineserver -w

# The saved fuzz inputs, replayed by the Windows build of each fuzz target.
fuzz=$(cd "$(dirname "$0")/../../fuzz" && pwd)
for replay in "$bin"/replay_*.exe; do
  [ -e "$replay" ] || { fail "no fuzz replay was built for Windows"; break; }
  target=${replay##*/replay_}; target=${target%.exe}
  wine "$replay" "Z:$fuzz/corpus/$target" "Z:$fuzz/regressions/$target" \
    </dev/null >"$work/replay.log" 2>&1
  rc=$?
  check "$target replays its saved inputs under wine (exit $rc, $(tr -d '\r' <"$work/replay.log" | tail -1))" test $rc -eq 0
done

# Request 1.
out=$(vk info); rc=$?
check "info answers (exit $rc)" test $rc -eq 0
check "info shows the name Velkory" grep -q Velkory <<<"$out"

# Request 4 against the real registry.
key='HKCU\Software\VelkoryHost\Velkory'
regvalue() { wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1==n{print $2" "$3}'; }
vk config --modality 1 --visuality 0 >/dev/null; rc=$?
check "config --modality 1 --visuality 0 (exit $rc)" test $rc -eq 0
check "registry holds Modality REG_SZ 1 ($(regvalue Modality))" test "$(regvalue Modality)" = "REG_SZ 1"
check "registry holds Visuality REG_SZ 0 ($(regvalue Visuality))" test "$(regvalue Visuality)" = "REG_SZ 0"
out=$(vk config --show)
check "a new process shows the saved settings" grep -qiE 'modality[^0-9]*1' <<<"$out"
check "a new process shows the saved settings (visuality)" grep -qiE 'visuality[^0-9]*0' <<<"$out"
vk config --cancel >/dev/null; rc=$?
check "config --cancel (exit $rc)" test $rc -eq 0
check "--cancel leaves Modality" test "$(regvalue Modality)" = "REG_SZ 1"
check "--cancel leaves Visuality" test "$(regvalue Visuality)" = "REG_SZ 0"
vk config --modality 0 --visuality 1 >/dev/null
check "a second confirmation rewrites Modality" test "$(regvalue Modality)" = "REG_SZ 0"
check "a second confirmation rewrites Visuality" test "$(regvalue Visuality)" = "REG_SZ 1"
vk frobnicate >/dev/null; rc=$?
check "an unknown command is a usage error (exit $rc)" test $rc -eq 2

# The corpus: every stored file of every help file comes out byte for byte.
if [ -z "$shared" ] || [ ! -d "$shared/corpus/chm" ]; then
  echo "SKIP corpus scenarios: no shared corpus beside the source tree"
else
  for chm in "$shared"/corpus/chm/*.chm; do
    name=$(basename "$chm" .chm)
    manifest=${chm%.chm}.manifest
    vk test "Z:$chm" >"$work/test.out"; rc=$?
    check "test $name.chm (exit $rc)" test $rc -eq 0
    out=$work/x-$name
    vk extract "Z:$chm" "Z:$out" >"$work/extract.out"; rc=$?
    check "extract $name.chm (exit $rc)" test $rc -eq 0
    bad=0 total=0
    while IFS=$'\t' read -r sname section length sha; do
      case $sname in '#'*|*/) continue;; esac
      total=$((total + 1))
      # Names that Windows cannot store as they are (":") are mapped; the host prints the mapping.
      local_name=$(awk -F'\t' -v n="$sname" '$1=="mapped" && $2==n{print $3}' "$work/extract.out")
      [ -n "$local_name" ] || local_name=$sname
      got=$(sha256sum "$out/${local_name#/}" 2>/dev/null | cut -d' ' -f1)
      if [ "$got" != "$sha" ]; then bad=$((bad + 1)); echo "  mismatch: $sname -> $local_name"; fi
    done <"$manifest"
    check "extract $name.chm reproduces $total manifest entries" test $bad -eq 0
  done
fi


# Help requests through the DLL: the real CharToOemA compares the titles, the
# real CreateDirectoryA makes the page's directory, and an "editor" that
# copies the page out shows what the host was handed.
if [ -n "$shared" ] && [ -f "$shared/corpus/chm/ISetup.chm" ]; then
  chm=$shared/corpus/chm/ISetup.chm
  manifest=$shared/corpus/chm/ISetup.manifest
  printf '@copy /b /y "%%~1" "%%~dp0copied.page" >nul\r\n' >"$work/copyout.bat"
  page_sha() { awk -F'\t' -v n="$1" '$1==n{print $4}' "$manifest"; }  # in the current $manifest
  copied_sha() { sha256sum "$work/copied.page" 2>/dev/null | cut -d' ' -f1; }
  opened() {  # expected page, then the help command's arguments
    local page=$1; shift
    rm -f "$work/copied.page"
    VELKORY_EDITOR="cmd /c Z:${work//\//\\}\\copyout.bat" VELKORY_VIEWER="cmd /c Z:${work//\//\\}\\copyout.bat" \
      vk help "$@" >/dev/null
    local rc=$?
    [ $rc -eq 0 ] && [ "$(copied_sha)" = "$(page_sha "$page")" ]
  }
  vk config --modality 1 --visuality 0 >/dev/null
  check "help --pick 2 opens the second of five topics in the editor" \
    opened /topic_setup_allownetworkdrive.htm --pick 2 "Z:$chm" "[setup]: allow"
  check "help with one match opens it without a menu" \
    opened /topic_setup_allowuncpath.htm "Z:$chm" "[Setup]: AllowUNC"
  vk config --modality 0 --visuality 1 >/dev/null
  # The viewer is handed the page rendered as text.
  viewed() {
    rm -f "$work/copied.page"
    VELKORY_VIEWER="cmd /c Z:${work//\//\\}\\copyout.bat" vk help "$@" >/dev/null &&
      grep -q "UNC path" "$work/copied.page" && ! grep -q "<" "$work/copied.page"
  }
  check "help --pick 5 shows the fifth topic in the viewer" viewed --pick 5 "Z:$chm" "[setup]: allow"
  # One request on every corpus help file: keyword, --pick, the page expected
  # (no title of ISetup.chm begins with "/LOG": its keyword index answers;
  # neither a title nor an index entry begins with the last four keywords:
  # the full-text index answers with the pages whose text holds them).
  vk config --modality 1 --visuality 0 >/dev/null
  while IFS='|' read -r file keyword pick page; do
    chm_file=$shared/corpus/chm/$file.chm
    [ -f "$chm_file" ] || { fail "corpus file $file.chm is missing"; continue; }
    manifest=${chm_file%.chm}.manifest
    check "help --pick $pick $file.chm '$keyword' opens $page" \
      opened "$page" --pick "$pick" "Z:$chm_file" "$keyword"
  done <<'REQUESTS'
ISPP|i|2|/topic_docconv.htm
ISetup|a|2|/topic_scriptinstall.htm
ISetup|/LOG|3|/topic_setupcmdline.htm
WinRing0|c|3|/_RESOURCE/CpuidPx.html
pychm-example|p|2|/page 2.html
MyProg|My|1|/topic_myprog.htm
pychm-combined|Two|1|/Untitled2.htm
pychm-combined2|Two|1|/Untitled2.htm
ISetup|Obviou|2|/topic_registrysection.htm
ISPP|occurrenc|3|/topic_stringchange.htm
WinRing0|hiyohiyo|1|/_RESOURCE/WhatIsWinRing0.html
MyProg|exampl|1|/topic_myprog.htm
REQUESTS
  listed=$(vk fulltext "Z:$chm" obviou)
  check "fulltext lists the pages whose text holds the word" test "$listed" = "$(printf '[INI] section\t/topic_inisection.htm\n[Registry] section\t/topic_registrysection.htm')"
  manifest=$shared/corpus/chm/ISetup.manifest
  vk help "Z:$chm" "no such topic anywhere" >/dev/null; rc=$?
  check "a keyword that matches nothing fails (exit $rc)" test $rc -eq 1
  # A viewer or editor that cannot start, or ends with a failure, fails the request.
  failing() {  # what stderr must say
    vk help --pick 1 "Z:$chm" "[setup]: allow" >/dev/null
    [ $? -eq 1 ] && grep -q "$1" "$work/stderr"
  }
  missing_editor() ( export VELKORY_EDITOR='Z:\no\such\editor.exe'; failing 'cannot run' )
  failing_viewer() ( export VELKORY_VIEWER='cmd /c exit 3'; failing 'ended with status 3' )
  vk config --modality 1 --visuality 0 >/dev/null
  check "an editor that cannot start fails the request" missing_editor
  vk config --modality 1 --visuality 1 >/dev/null
  check "a viewer that fails fails the request" failing_viewer
  mkdir -p "$work/folder.chm"
  vk list "Z:$work/folder.chm" >/dev/null 2>&1; rc=$?
  check "a directory is not a help file (exit $rc)" test $rc -eq 1
  vk help "Z:$work/missing.chm" "Setup" >/dev/null; rc=$?
  check "a missing help file fails (exit $rc)" test $rc -eq 1
  # The page directory on a full disk: the page cannot be written whole, so
  # the request fails and no page is left behind.
  # (Wine takes TMP and TEMP from the registry, not from the environment.)
  if [ -n "${VELKORY_SMALL_DISK:-}" ]; then
    envkey='HKCU\Environment'
    saved=$(wine reg query "$envkey" /v TEMP 2>/dev/null | tr -d '\r' | awk '$1=="TEMP"{print $3}')
    for name in TMP TEMP; do wine reg add "$envkey" /v $name /t REG_SZ /d "$VELKORY_SMALL_DISK" /f >/dev/null 2>&1; done
    where=$(wine cmd /c 'echo %TMP%' 2>/dev/null | tr -d '\r')
    head -c 8192 /dev/zero >"$work/small/filler" 2>/dev/null
    VELKORY_EDITOR="cmd /c Z:${work//\//\\}\\copyout.bat" vk help --pick 2 "Z:$chm" "[setup]: allow" >/dev/null
    rc=$?
    made=$(find "$work/small" -name 'VLKT*' | wc -l)
    left=$(find "$work/small" -name velkory.txt | wc -l)
    check "help with the page directory on a full disk fails (exit $rc, $made directories) and leaves no page ($left)" \
      test "$where" = "$VELKORY_SMALL_DISK" -a $rc -eq 1 -a "$made" -le 1 -a "$left" -eq 0
    for name in TMP TEMP; do wine reg add "$envkey" /v $name /t REG_EXPAND_SZ /d "$saved" /f >/dev/null 2>&1; done
    rm -rf "${work:?}"/small/*
  fi
  pages=$(ls -d "$WINEPREFIX"/drive_c/users/*/Temp/VLKT* "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp/VLKT* 2>/dev/null | wc -l)
  check "each opened page got a directory of its own ($pages)" test "$pages" -ge 3
fi

# A help file compiled by chmcmd with its full-text index answers a word of
# its text; compiled without one, the same request matches nothing.
if [ -n "$shared" ] && [ -x "$shared/tools/make-chm" ] && command -v chmcmd >/dev/null; then
  mkdir -p "$work/garden"
  printf '<html><head><title>Spring sowing</title></head><body><p>Sow the zucchini after the frosts.</p></body></html>' >"$work/garden/a.htm"
  printf '<html><head><title>Autumn</title></head><body><p>Lift the leeks.</p></body></html>' >"$work/garden/b.htm"
  "$shared/tools/make-chm" --full-text "$work/garden" "$work/garden-fts.chm" >/dev/null
  "$shared/tools/make-chm" "$work/garden" "$work/garden.chm" >/dev/null
  vk config --modality 1 --visuality 0 >/dev/null
  rm -f "$work/garden.page"
  printf '@copy /b /y "%%~1" "%%~dp0garden.page" >nul\r\n' >"$work/gardenout.bat"
  VELKORY_EDITOR="cmd /c Z:${work//\//\\}\\gardenout.bat" vk help "Z:$work/garden-fts.chm" ZUCCH >/dev/null; rc=$?
  garden_opened() { [ "$1" -eq 0 ] && grep -q zucchini "$work/garden.page" 2>/dev/null; }
  check "a word of a page's text opens the page through the full-text index (exit $rc)" garden_opened $rc
  vk help "Z:$work/garden.chm" zucch >/dev/null; rc=$?
  check "without a full-text index the word matches nothing (exit $rc)" test $rc -eq 1
else
  echo "SKIP full-text help file: needs chmcmd (fp-utils) and the shared make-chm"
fi

# A Chinese help file (UTF-8 pages compiled by chmcmd) in a Chinese locale:
# the titles and the page reach the console in its code page (936) as the
# pages say them. The keyword stays ASCII: wine hands a program its command
# line through the Unix locale, which may not be installed.
if [ -n "$shared" ] && [ -x "$shared/tools/make-chm" ] && command -v chmcmd >/dev/null; then
  mkdir -p "$work/cjk"
  printf '<html><head><meta charset="utf-8"><title>Help \xe5\xb8\xae\xe5\x8a\xa9\xef\xbc\x9a\xe5\xbc\x80\xe5\xa7\x8b</title></head><body><p>\xe5\xbc\x80\xe5\xa7\x8b</p></body></html>' >"$work/cjk/a.htm"
  printf '<html><head><meta charset="utf-8"><title>Help \xe5\xb8\xae\xe5\x8a\xa9\xef\xbc\x9a\xe6\x90\x9c\xe7\xb4\xa2</title></head><body><p>\xe6\x90\x9c\xe7\xb4\xa2</p></body></html>' >"$work/cjk/b.htm"
  "$shared/tools/make-chm" "$work/cjk" "$work/cjk.chm" >/dev/null
  zh() { LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine "$exe" "$@" </dev/null 2>&1 | tr -d '\r'; }
  listed=$(zh help "Z:$work/cjk.chm" Help | grep -a "$(printf '^[0-9]\t')" | iconv -f GBK -t UTF-8)
  wanted=$(printf '1\tHelp \xe5\xb8\xae\xe5\x8a\xa9\xef\xbc\x9a\xe5\xbc\x80\xe5\xa7\x8b\n2\tHelp \xe5\xb8\xae\xe5\x8a\xa9\xef\xbc\x9a\xe6\x90\x9c\xe7\xb4\xa2')
  check "a Chinese locale lists the Chinese titles as the pages say them" test "$listed" = "$wanted"
  zh config --modality 1 --visuality 1 >/dev/null
  page=$(zh help --pick 2 "Z:$work/cjk.chm" Help | iconv -f GBK -t UTF-8)
  check "a Chinese locale shows the page in the console's code page" test "$page" = "$(printf '\xe6\x90\x9c\xe7\xb4\xa2')"
else
  echo "SKIP Chinese help file: needs chmcmd (fp-utils) and the shared make-chm"
fi

echo "wine: $passed passed, $failed failed"
[ $failed -eq 0 ]
