#!/usr/bin/env bash
# Checks of the installed program, run by ctest (cmake/Install.cmake adds them):
#   scripts/check-install.sh tree BUILD      install into a temporary folder; its files, links
#                                            and the programs run from there
#   scripts/check-install.sh desktop BUILD   the desktop entry and the AppStream record, as
#                                            installed, through their validators
#   scripts/check-install.sh man BUILD       the manual pages: roff without warnings, every
#                                            command and option of nolvi2-cli --help in them
#   scripts/check-install.sh package BUILD   the Debian package made by cpack into
#                                            BUILD/install-check/ (for the deb step), and
#                                            cpack failing on a package without Depends
#   scripts/check-install.sh deb BUILD       that package: its fields, no maintainer scripts,
#                                            lintian, and its files checked as an install's
# The environment gives NOLVI2_VERSION, NOLVI2_DEB_VERSION (the package's, with its Debian revision),
# NOLVI2_APP_ID, NOLVI2_PLUGINS (names, blank-separated) and NOLVI2_HARDENED (0 for a build without
# the hardening flags, whose package lintian's hardening tags are not checked for).
set -euo pipefail

step=$1
build=$(realpath "$2")
: "${NOLVI2_VERSION:?}" "${NOLVI2_DEB_VERSION:?}" "${NOLVI2_APP_ID:?}" "${NOLVI2_PLUGINS:?}"
read -r -a plugins <<<"$NOLVI2_PLUGINS"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# install_into ROOT: the build folder installed as the package installs it.
install_into() {
  DESTDIR="$1" cmake --install "$build" --prefix /usr >"$work/install.log" || {
    cat "$work/install.log" >&2
    fail "cmake --install"
  }
}

# check_tree ROOT: exactly the expected files; bin/ holds relative links only; no RPATH.
check_tree() {
  local root=$1 pkg=usr/lib/nolvi2
  {
    printf '%s\n' usr/bin/nolvi2 usr/bin/nolvi2-cli "$pkg/nolvi2" "$pkg/nolvi2-cli"
    for p in "${plugins[@]}"; do echo "$pkg/$p.spi"; done
    echo usr/share/applications/nolvi2.desktop
    echo "usr/share/metainfo/$NOLVI2_APP_ID.metainfo.xml"
    echo usr/share/icons/hicolor/scalable/apps/nolvi2.svg
    for s in 16 32 48 64 128 256; do echo "usr/share/icons/hicolor/${s}x$s/apps/nolvi2.png"; done
    for m in man1 ja/man1; do echo "usr/share/man/$m/nolvi2.1.gz" "usr/share/man/$m/nolvi2-cli.1.gz"; done
    echo usr/share/doc/nolvi2/copyright usr/share/doc/nolvi2/changelog.Debian.gz usr/share/lintian/overrides/nolvi2
  } | tr ' ' '\n' | sort >"$work/expected"
  (cd "$root" && find . ! -type d | sed 's|^\./||' | sort) >"$work/found"
  diff -u "$work/expected" "$work/found" >&2 || fail "the installed files differ from the expected ones (- missing, + extra)"

  for program in nolvi2 nolvi2-cli; do
    local link="$root/usr/bin/$program"
    [ -L "$link" ] || fail "usr/bin/$program is not a symbolic link"
    [ "$(readlink "$link")" = "../lib/nolvi2/$program" ] || fail "usr/bin/$program points to $(readlink "$link")"
    [ -x "$root/$pkg/$program" ] || fail "$pkg/$program is not executable"
  done
  for elf in "$root/$pkg"/*; do
    if readelf -d "$elf" | grep -E 'R(UN)?PATH'; then
      fail "${elf#"$root"/} has a library search path"
    fi
  done
}

# check_cli ROOT: nolvi2-cli started through its link finds the bundled plug-ins beside its
# real file and reads a GIF with them.
check_cli() {
  local root cli
  root=$(realpath "$1")
  cli=$root/usr/bin/nolvi2-cli
  "$cli" --formats >"$work/formats" 2>"$work/formats.err" || fail "nolvi2-cli --formats: status $?"
  [ ! -s "$work/formats.err" ] || { cat "$work/formats.err" >&2; fail "nolvi2-cli --formats wrote to stderr"; }
  for p in "${plugins[@]}"; do
    grep -qF "($root/usr/lib/nolvi2/$p.spi)" "$work/formats" || {
      cat "$work/formats" >&2
      fail "nolvi2-cli --formats does not list $p.spi from the installed folder"
    }
  done
  for format in GIF TIFF WebP HEIF 'JPEG XL'; do
    grep -q "  [^ ]*  $format .*($root/usr/lib/nolvi2/" "$work/formats" || fail "no bundled plug-in reads $format"
  done
  "$cli" --help >"$work/help" || fail "nolvi2-cli --help: status $?"
  "$cli" --version >"$work/version" || fail "nolvi2-cli --version: status $?"
  grep -qF "$NOLVI2_VERSION" "$work/version" || fail "nolvi2-cli --version does not say $NOLVI2_VERSION: $(cat "$work/version")"

  make_gif
  "$cli" Convert "$work/red.gif" "$work/red.bmp" || fail "nolvi2-cli could not convert a GIF"
  [ "$(stat -c %s "$work/red.bmp")" = $((54 + 64 * 3 * 48)) ] || fail "the GIF did not give a 64 × 48 BMP"
  [ "$(od -An -tx1 -j54 -N3 "$work/red.bmp" | tr -d ' ')" = 0000ff ] || fail "the GIF's red pixels did not come out red"
}

# A 64 × 48 red GIF: one pixel written by hand, enlarged by gifsicle.
make_gif() {
  [ -f "$work/red.gif" ] && return
  printf 'GIF89a\001\000\001\000\200\000\000\377\000\000\000\000\000,\000\000\000\000\001\000\001\000\000\002\002D\001\000;' \
    >"$work/dot.gif"
  gifsicle --resize 64x48 "$work/dot.gif" >"$work/red.gif"
}

# wait_for SECONDS COMMAND...: runs COMMAND every tenth of a second until it succeeds; fails
# when it has not after SECONDS.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# The state letter and the processor time used (ticks) of a process, or nothing when it is gone.
process_state() {
  sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | awk '{ print $1, $12 + $13 }'
}

# viewer_settled PID ROOT: the viewer has stopped, or it has loaded the bundled GIF plug-in
# from ROOT and waits for events (asleep, and no processor time used over a fifth of a second:
# the picture is open and drawn).
viewer_settled() {
  local pid=$1 root=$2 before after
  kill -0 "$pid" 2>/dev/null || return 0
  grep -qF "$root/usr/lib/nolvi2/ifgif.spi" "/proc/$pid/maps" 2>/dev/null || return 1
  before=$(process_state "$pid")
  sleep 0.2
  after=$(process_state "$pid")
  [ -z "$after" ] || { [ "$after" = "$before" ] && [ "${after%% *}" = S ]; }
}

# check_viewer ROOT: the viewer started through its link on the GIF, on Qt's offscreen
# platform, loads the bundled plug-ins from the installed folder, opens the picture and keeps
# running without a word on stderr, and writes nothing there.
check_viewer() {
  local root pid status
  root=$(realpath "$1")
  make_gif
  # Settings of its own, already placed in the key store, so that no first-start question
  # waits; a runtime folder, whose absence Qt would report.
  mkdir -p "$work/config/Tamberlo/nolvi2" "$work/runtime"
  chmod 700 "$work/runtime"
  XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
    "$root/usr/bin/nolvi2" "$work/red.gif" 2>"$work/viewer.err" &
  pid=$!
  if ! wait_for 60 viewer_settled "$pid" "$root"; then
    local why="has not loaded the bundled GIF plug-in"
    grep -qF "$root/usr/lib/nolvi2/ifgif.spi" "/proc/$pid/maps" 2>/dev/null && why="keeps working"
    kill "$pid" 2>/dev/null || true
    wait "$pid" || true
    cat "$work/viewer.err" >&2
    fail "the viewer $why after 60 s"
  fi
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid" && status=0 || status=$?
    cat "$work/viewer.err" >&2
    fail "the viewer stopped by itself (status $status)"
  fi
  kill "$pid"
  wait "$pid" || true
  [ ! -s "$work/viewer.err" ] || { cat "$work/viewer.err" >&2; fail "the viewer wrote to stderr"; }
  [ "$(find "$root/usr/lib/nolvi2" -newer "$work/red.gif" | wc -l)" = 0 ] || fail "the viewer wrote into its installed folder"
}

case "$step" in
  tree)
    install_into "$work/root"
    check_tree "$work/root"
    check_cli "$work/root"
    check_viewer "$work/root"
    ;;
  desktop)
    install_into "$work/root"
    desktop-file-validate "$work/root/usr/share/applications/nolvi2.desktop" >"$work/desktop.out" 2>&1 || true
    [ ! -s "$work/desktop.out" ] || { cat "$work/desktop.out" >&2; fail "desktop-file-validate"; }
    # The record and what it refers to as installed (desktop entry, icon); no network.
    appstreamcli validate-tree --no-net "$work/root" >&2 || fail "appstreamcli validate-tree"
    ;;
  man)
    pages=()
    for lang in en ja; do
      for page in nolvi2 nolvi2-cli; do pages+=("$build/man/$lang/$page.1"); done
    done
    for page in "${pages[@]}"; do
      [ -f "$page" ] || fail "$page was not built"
      LC_ALL=C.UTF-8 groff -ww -z -man -Kutf8 -Tutf8 "$page" 2>"$work/groff.err"
      [ ! -s "$work/groff.err" ] || { cat "$work/groff.err" >&2; fail "groff warns about ${page#"$build"/}"; }
      # No line ends in an opening bracket ("(", "[", "（"), with or without a hyphen after it
      # (groff's hyphen is U+2010 here), and none starts with a closing one: the breaks that
      # groff may take inside a word stay off the brackets.
      for width in 60 80 100; do
        LC_ALL=C.UTF-8 groff -man -Kutf8 -Tutf8 -rLL="$width"n -P-cbu "$page" >"$work/rendered"
        if LC_ALL=C.UTF-8 grep -nE '[[(（][-‐]?$|^ *[])）]' "$work/rendered" >"$work/brackets"; then
          cat "$work/brackets" >&2
          fail "${page#"$build"/} at $width columns breaks a line at a bracket"
        fi
      done
    done
    # Every command and option that the tool's usage text names, in bold, in both languages.
    "$build/nolvi2-cli" --help >"$work/help"
    names=$(sed -n -e 's/^  \(--[a-z-]*\).*/\1/p' -e '/^COMMAND/,/^$/s/^  \([A-Za-z0-9]*\) .*/\1/p' "$work/help")
    [ "$(wc -w <<<"$names")" -gt 40 ] || fail "too few commands and options read from nolvi2-cli --help: $names"
    for lang in en ja; do
      sed 's/\\-/-/g; s/\\%//g' "$build/man/$lang/nolvi2-cli.1" >"$work/page"
      for name in $names; do
        grep -qF "\\fB$name\\fR" "$work/page" || fail "man/nolvi2-cli.1.txt ($lang) does not describe $name"
      done
    done
    ;;
  package)
    # Made apart from its checks (ctest runs this step first, as the deb step's fixture): the
    # compression takes most of the time.
    rm -rf "$build/install-check"
    (cd "$build" && cpack -G DEB -B "$build/install-check" >"$work/cpack.log" 2>&1) || {
      cat "$work/cpack.log" >&2
      fail "cpack -G DEB"
    }
    deb=$(echo "$build/install-check"/nolvi2_"$NOLVI2_DEB_VERSION"_*.deb)
    [ -f "$deb" ] || fail "no package nolvi2_${NOLVI2_DEB_VERSION}_*.deb"
    # Without the libraries' names (as without dpkg-shlibdeps) cpack fails and leaves no package.
    if (cd "$build" && cpack -G DEB -B "$work/no-depends" -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS=OFF \
          >"$work/cpack-no-depends.log" 2>&1); then
      fail "cpack made a package without Depends and succeeded"
    fi
    grep -q "has no Depends field" "$work/cpack-no-depends.log" || {
      cat "$work/cpack-no-depends.log" >&2
      fail "cpack failed without saying that the package has no Depends"
    }
    ! ls "$work/no-depends"/*.deb 2>/dev/null || fail "cpack left a package without Depends"
    ;;
  deb)
    deb=$(echo "$build/install-check"/nolvi2_"$NOLVI2_DEB_VERSION"_*.deb)
    [ -f "$deb" ] || fail "no package nolvi2_${NOLVI2_DEB_VERSION}_*.deb in $build/install-check (the step package makes it)"
    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)" = nolvi2 ] || fail "Package: $(field Package)"
    [ "$(field Version)" = "$NOLVI2_DEB_VERSION" ] || fail "Version: $(field Version)"
    [ "$(field Section)" = graphics ] || fail "Section: $(field Section)"
    [ -n "$(field Maintainer)" ] || fail "no Maintainer"
    depends=$(field Depends)
    for library in libqt6widgets6 libqt6gui6 libqt6core6 libjpeg62-turbo libgif7 libtiff6 libwebp7 libheif1 libjxl; do
      grep -q "$library" <<<"$depends" || fail "Depends does not name $library: $depends"
    done
    # No maintainer scripts: the package installs no library for ldconfig, and nothing of it
    # stays in dpkg's "rc" state after a remove.
    dpkg-deb --ctrl-tarfile "$deb" | tar -t >"$work/control-files"
    ! grep -E 'post|pre' "$work/control-files" >&2 || fail "the package has maintainer scripts"
    # lintian: no error, and no hardening tag (fortify, relro, bindnow, PIE, stack protector).
    lintian --no-tag-display-limit -I "$deb" >"$work/lintian" 2>&1 || true
    ! grep -E '^E:' "$work/lintian" >&2 || fail "lintian reports errors (above)"
    if [ "${NOLVI2_HARDENED:-1}" = 1 ]; then
      ! grep -E 'hardening-|-no-pie|no-relro|no-bindnow|no-fortify' "$work/lintian" >&2 || fail "lintian reports missing hardening (above)"
    fi
    dpkg-deb -x "$deb" "$work/root"
    check_tree "$work/root"
    check_cli "$work/root"
    check_viewer "$work/root"
    # The package's files as dpkg lists them: owned by root, the links relative.
    dpkg-deb -c "$deb" >"$work/contents"
    ! grep -v ' root/root ' "$work/contents" >&2 || fail "files not owned by root in the package"
    grep -qF './usr/bin/nolvi2 -> ../lib/nolvi2/nolvi2' "$work/contents" || fail "the package's usr/bin/nolvi2 is not the relative link"
    ;;
  *)
    fail "unknown step $step"
    ;;
esac
echo "install.$step: ok"
