#!/usr/bin/env bash
# The installed tool: its manual page, its completion scripts and its Debian
# package. usage: packaging-test.sh man|bash|zsh|deb SOURCE_DIR BUILD_DIR
set -uo pipefail
what=$1 src=$2 build=$3
bin=$build/bin/velkory
work=$(mktemp -d /tmp/velkory-packaging-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

case $what in
man)
    # Renders without a warning, and names every command of the usage text.
    warnings=$(MANWIDTH=80 man --warnings -l "$src/packaging/velkory.1" 2>&1 >"$work/page")
    [ -z "$warnings" ] || fail "man --warnings: $warnings"
    commands=$("$bin" --help | sed -nE 's/^  ([a-z]+) .*/\1/p; s/^  ([a-z]+)$/\1/p')
    [ -n "$commands" ] || fail "no command in the usage text"
    for c in $commands; do
        grep -qE "^ {7}$c( |$)" "$work/page" || fail "the manual page does not describe '$c'"
    done
    for v in VELKORY_VIEWER VELKORY_EDITOR VELKORY_REGISTRY VELKORY_CODEPAGES VELKORY_PATH BROWSER; do
        grep -q "$v" "$work/page" || fail "the manual page does not describe $v"
    done
    ;;
bash)
    # Commands, options, help files, and keywords from `velkory index`, else
    # titles from `velkory topics` (a stand-in here), which match the prefix
    # as help does.
    mkdir -p "$work/bin" "$work/files"
    touch "$work/files/a.chm" "$work/files/B.CHM" "$work/files/notes.txt"
    printf '#!/bin/sh\ncase $1 in topics) printf "Alpha\\tp1\\nbeta two\\tp2\\n" ;; index) printf "alpine\\tp3\\n" ;; esac | grep -i "^$3"\n' \
        >"$work/bin/velkory"
    chmod +x "$work/bin/velkory"
    cd "$work/files"
    PATH=$work/bin:$PATH bash --norc -c '
        source "$1"
        complete -p velkory >/dev/null || exit 1
        check() { local want=$1; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=()
                  _velkory; got=$(printf "%s " $(printf "%s\n" "${COMPREPLY[@]}" | sort))
                  [ "$got" = "$want " ] || { echo "FAIL: $* -> [$got] wanted [$want]" >&2; exit 1; }; }
        check "search serve" velkory se
        check "--json --limit" velkory search --
        check "--cache" velkory clean --
        check "--alink --pick --search" velkory help --
        check "B.CHM a.chm" velkory search --limit 3 ""
        check "--new-token --no-open --port" velkory serve --
        check "--pick --port" velkory browse --p
        check "B.CHM a.chm" velkory serve ""
        check "B.CHM a.chm" velkory help --pick 2 ""
        check "alpine" velkory help a.chm al
        check "alpine" velkory help a.chm B.CHM al
        check "beta\\ two" velkory help a.chm be
        check "" velkory help a.chm zz
        check "./B.CHM ./a.chm" velkory help a.chm ./
        check "B.CHM a.chm" velkory open ""
        check "--alias --id --map" velkory open --
        check "B.CHM a.chm" velkory open --id 100 ""
        check "0 1" velkory config --visuality ""
        check "epub" velkory export --to e
        check "B.CHM a.chm" velkory export --to html ""
    ' _ "$src/packaging/velkory.bash" || exit 1
    ;;
zsh)
    command -v zsh >/dev/null || fail "zsh is not installed"
    mkdir -p "$work/functions"
    cp "$src/packaging/_velkory" "$work/functions/"
    out=$(HOME=$work zsh -f -c '
        fpath=("$1" $fpath); autoload -Uz compinit; compinit -u -d "$HOME/.zcompdump"
        [[ ${_comps[velkory]} == _velkory ]] || { echo "not registered"; exit 1; }
        autoload -Uz +X _velkory || { echo "does not load"; exit 1; }
    ' _ "$work/functions" 2>&1) || fail "zsh: $out"
    [ -z "$out" ] || fail "zsh: $out"
    ;;
deb)
    # The package as CPack makes it, installed into a fresh root with dpkg.
    (cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
    deb=$(ls "$work"/out/*.deb 2>/dev/null | head -1)
    [ -n "$deb" ] || fail "cpack made no .deb"
    depends=$(dpkg-deb -f "$deb" Depends)
    for d in media-types libcpp-httplib libxapian30 libc6 libzip; do
        [[ $depends == *$d* ]] || fail "Depends lacks $d: $depends"
    done
    [[ $(dpkg-deb -f "$deb" Recommends) == *pandoc* ]] || fail "Recommends lacks pandoc"
    root=$work/root
    mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
    touch "$root/var/lib/dpkg/status"
    # The root holds no other package, not even a shell to run the package's
    # ldconfig call in: dpkg unpacks it there without configuring it, and the
    # program runs on the machine's own libraries (its declared dependencies).
    dpkg --root="$root" --force-depends --force-not-root --unpack "$deb" >"$work/dpkg.log" 2>&1 \
        || { cat "$work/dpkg.log"; fail "dpkg --unpack"; }
    dpkg --root="$root" -L velkory >/dev/null || fail "dpkg does not list the package as installed"
    for f in usr/bin/velkory usr/share/man/man1/velkory.1 usr/share/bash-completion/completions/velkory \
             usr/share/zsh/vendor-completions/_velkory usr/share/doc/velkory/copyright; do
        [ -e "$root/$f" ] || fail "the package does not install /$f"
    done
    version=$("$root/usr/bin/velkory" --version) || fail "velkory --version failed"
    [[ $version == "velkory "* ]] || fail "velkory --version said '$version'"
    # The installed program finds the installed module.
    "$root/usr/bin/velkory" info | grep -q '^Names:' || fail "the installed velkory cannot load its module"
    # It starts without the server's libraries, and serve runs the installed
    # velkory-serve (which finds the module beside itself).
    needed=$(readelf -d "$root/usr/bin/velkory" | grep NEEDED)
    [[ $needed != *httplib* && $needed != *ssl* && $needed != *xapian* && $needed != *zip* ]] || fail "velkory needs $needed"
    [[ ${VELKORY_CXX_RUNTIME:-static} == shared || $needed != *stdc++* ]] || fail "velkory needs $needed"
    serve=$(find "$root/usr/lib" -path '*/velkory/velkory-serve')
    [ -x "$serve" ] || fail "the package does not install velkory-serve beside the module"
    "$serve" info | grep -q '^Names:' || fail "velkory-serve cannot load its module"
    help=$build/bin/velkory-guide.chm word=help
    [ -e "$help" ] || { help=$src/../shared/corpus/chm/WinRing0.chm; word=WinRing0; }
    # search runs the installed velkory-serve too, with Xapian.
    XDG_CACHE_HOME=$work/cache "$root/usr/bin/velkory" search "$help" "$word" >"$work/hits" 2>&1 \
        || fail "the installed velkory search failed: $(cat "$work/hits")"
    VELKORY_REGISTRY=$work/registry.reg "$root/usr/bin/velkory" serve --no-open "$help" >"$work/url" 2>&1 &
    for _ in $(seq 100); do [ -s "$work/url" ] && break; sleep 0.1; done
    kill $! && wait $! || fail "the installed velkory serve did not end cleanly"
    [[ $(head -1 "$work/url") == http://127.0.0.1:* ]] || fail "the installed velkory serve said: $(cat "$work/url")"
    # export runs the installed velkory-export.
    "$root/usr/bin/velkory" export -o "$work/book.epub" "$help" || fail "the installed velkory export failed"
    [ "$(head -c 58 "$work/book.epub" | tail -c 20)" = application/epub+zip ] || fail "the installed export made no EPUB"
    echo "$version from $(basename "$deb")"
    ;;
*)
    fail "unknown part '$what'"
    ;;
esac
echo "$what: ok"
