#!/usr/bin/env bash
# launcher-pack on an application of two modules, one of them JavaFX, with the main class in the
# JavaFX module (tests/packaging/app), packed with a training run and as a Debian package:
#   - the directory: its layout, the runtime's modules, stripped native code, a desktop entry that
#     desktop-file-validate accepts and whose escapes give back the name, the class list;
#   - moved to a directory whose path holds a blank and started from there with no Java on the
#     machine (as root: the system's Java and JavaFX hidden in a mount namespace of its own), under
#     Xvfb: it shows its window, the window's WM_CLASS (xprop) is the entry's StartupWMClass, and
#     launcher-check finds no problem;
#   - its runtime maps the start-up archive without a word (-Xshare:on) and loads JavaFX's and the
#     application's classes from it;
#   - packed again with the same SOURCE_DATE_EPOCH into the same place: the earlier output is
#     replaced, and the package has the same bytes; lintian finds no error and no warning;
#   - a newer version packed for /opt, whose training run is ended by its timeout;
#   - every pack from places as a user may give them: the application's modules in a directory
#     whose path holds a blank, JavaFX's through a relative link with a final slash, and Java
#     options in the environment (JAVA_TOOL_OPTIONS), which are no options of the pack's;
#   - as root: the package installed (dpkg -i), started through its installed desktop entry
#     under xvfb-run with its archive made on installation, the newer version installed over it,
#     and purged: nothing of it is left on the system.
# usage: pack_app.sh LAUNCHER_PACK JDK OPENJFX_LIB OPENJFX_JNI SOURCE_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
pack=$1 jdk=$2 openjfx=$3 jni=$4 source_dir=$5
app_sources=$source_dir/tests/packaging/app

# The package's name is this test's own.
id='launcher-pack-test-notes'
name='Notes "100%" Café\ two'
main=notes.window.NotesWindow
maintainer="Launcher tests <tests@example.org>"
work=$(mktemp -d)
installed=false
finish() {
  if $installed; then dpkg_locked --purge "$id" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap finish EXIT

module_dir="$work/app modules"
"$jdk/bin/javac" -d "$module_dir/notes.text" "$app_sources/notes.text/module-info.java" \
  "$app_sources/notes.text/notes/text/Greeting.java"
"$jdk/bin/javac" --module-path "$openjfx:$module_dir" -d "$module_dir/notes.window" \
  "$app_sources/notes.window/module-info.java" "$app_sources/notes.window/notes/window/NotesWindow.java"

export SOURCE_DATE_EPOCH=1767225600
pack_notes() {  # DEST [OPTION...]: packs the application into DEST, with a training run
  local dest=$1
  shift
  (cd "$work" && JAVA_TOOL_OPTIONS=-Dpacked.by=hand \
     "$pack" --name "$name" --linux-package-name "$id" --main-class "$main" \
     --module-path "$module_dir" --icon "$source_dir/examples/bundle/icon.png" \
     --description "Notes shown in a window, from two modules" --jdk "$jdk" \
     --javafx-modules "javafx link/" --javafx-natives "$jni" --deb --deb-compression gzip \
     --linux-deb-maintainer "$maintainer" --linux-menu-group "Office;" "$@" --dest "$dest") \
    >"$work/pack.log" 2>&1 || {
    local status=$?
    cat "$work/pack.log" >&2
    fail "launcher-pack $* ended with $status"
  }
}
ln -s "$openjfx" "$work/javafx link"
mkdir -p "$work/made here"
pack_notes "$work/made here" --training-run --training-timeout 60
app="$work/made here/$id"
deb="$work/made here/${id}_1.0_amd64.deb"
grep -q "start-up archive: the JDK's default classes and .* lines of the training run" \
  "$work/pack.log" || { cat "$work/pack.log" >&2; fail "no training run"; }

# The layout.
[[ -x $app/launcher && -x $app/launcher-check && -f $app/.launcher-pack && -f $deb ]] ||
  fail "launcher, launcher-check, the mark or the package missing: $(ls -A "$app")"
[[ $(cat "$app/init.ini") == $'runtime\nmodules\njavafx.controls,notes.text,notes.window\n'"$main" ||
   $(cat "$app/init.ini") == $'runtime\nmodules\nnotes.text,notes.window\n'"$main" ]] ||
  fail "init.ini: $(cat "$app/init.ini")"
[[ -d $app/modules && -z $(ls -A "$app/modules") ]] || fail "modules/ is not an empty directory"
modules=$(sed -n 's/^MODULES="\(.*\)"$/\1/p' "$app/runtime/release" | tr ' ' '\n' | sort | paste -sd' ')
[[ $modules == "java.base java.datatransfer java.desktop java.prefs java.xml javafx.base javafx.controls javafx.graphics jdk.unsupported notes.text notes.window" ]] ||
  fail "the runtime holds other modules than the application needs: $modules"
for library in libglass.so libglassgtk3.so libprism_es2.so libjavafx_font.so; do
  [[ -f $app/runtime/lib/$library ]] || fail "JavaFX's $library is not in the runtime"
done
[[ ! -e $app/runtime/lib/libjfxwebkit.so ]] || fail "javafx.web's library without its module"
while IFS= read -r -d '' file; do
  [[ $(head -c4 "$file" | od -An -tx1 | tr -d ' ') == 7f454c46 ]] || continue
  readelf -S "$file" | grep -qE '\.(symtab|debug_)' && fail "not stripped: $file"
done < <(find "$app" -type f -print0)
[[ -s $app/runtime/lib/server/classes.jsa ]] || fail "no start-up archive"
grep -qx 'javafx/scene/control/Label' "$app/runtime/lib/classlist" ||
  fail "the class list lacks the classes of the training run"

# The desktop entry: valid, and its escapes give back the name.
entry=$app/$id.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate rejects $entry"
[[ $(entry_value "$entry" Name) == 'Notes "100%" Café\\ two' ]] ||
  fail "Name= is not the name escaped: $(entry_value "$entry" Name)"
[[ $(entry_value "$entry" StartupWMClass) == "$main" ]] || fail "StartupWMClass= is not $main"
[[ $(entry_value "$entry" Path) == "$app" ]] || fail "Path= is not $app"
[[ $(entry_value "$entry" Exec) == "\"$app/launcher\"" ]] || fail "Exec= is not \"$app/launcher\""
[[ $(entry_value "$entry" Icon) == "$app/$id.png" ]] || fail "Icon= is not $app/$id.png"
cmp -s "$app/$id.png" "$source_dir/examples/bundle/icon.png" || fail "the icon is not the one given"

# Moved to a directory whose path holds a blank, and started from its own directory with the
# system's Java hidden (as root), under Xvfb, the window kept for a while: its class is read.
mkdir "$work/moved there"
moved="$work/moved there/notes"
mv "$app" "$moved"
cat >"$work/show.sh" <<'EOF'
# Run under xvfb-run, from the application's directory: starts the launcher, waits for the window,
# prints the WM_CLASS of the window named Notes, then waits for the application to end.
NOTES_SECONDS=4 ./launcher >"$1" 2>"$2" &
launcher=$!
for _ in $(seq 200); do
  grep -q '^NotesWindow shows' "$1" && break
  sleep 0.1
done
window=$(xwininfo -root -tree | awk '$2 == "\"Notes\":" { print $1; exit }')
[ -n "$window" ] && xprop -id "$window" WM_CLASS
wait "$launcher"
echo "launcher ended with $?"
EOF
if ((EUID == 0)); then
  # A mount namespace of its own, in which the system's Java and JavaFX are empty directories;
  # the arguments after the script's two are the directories to hide.
  # shellcheck disable=SC2016 # expanded by the inner bash
  started=(unshare --mount --propagation private bash -c '
    for dir in "${@:4}"; do mount -t tmpfs none "$dir" || exit 1; done
    exec xvfb-run -a sh "$1" "$2" "$3"' hide "$work/show.sh" "$work/out" "$work/err" /usr/lib/jvm \
    "$openjfx" "$jni")
else
  echo "pack app: not root, so the system's Java stays visible to the moved application"
  started=(xvfb-run -a sh "$work/show.sh" "$work/out" "$work/err")
fi
shown=$(cd "$moved" && env -i PATH=/usr/bin:/bin HOME="$work" "${started[@]}" 2>&1) ||
  fail "the moved application could not be started: $shown"
[[ $(cat "$work/out") == "NotesWindow shows \"Hello from two modules\""$'\n'"java.home $moved/runtime" ]] ||
  fail "the moved application printed: $(cat "$work/out") $(cat "$work/err")"
[[ $shown == *"launcher ended with 0"* ]] || fail "the launcher ended otherwise: $shown"
wm_class=$(sed -n 's/^WM_CLASS(STRING) = //p' <<<"$shown")
[[ $wm_class == "\"$main\", \"$main\"" ]] || fail "the window's WM_CLASS is \"$wm_class\", not $main"
[[ ! -s $work/err || $(grep -c -v -e '^$' "$work/err") == 0 ]] ||
  fail "the application wrote on standard error: $(cat "$work/err")"

check_out=$(cd "$moved" && env -i PATH=/usr/bin:/bin ./launcher-check) ||
  fail "launcher-check found a problem in the moved application: $check_out"

# The runtime maps the archive without a word, and takes JavaFX's and the application's classes
# from it.
loaded=$(cd "$moved" && NOTES_SECONDS=0.1 xvfb-run -a runtime/bin/java -Xshare:on -Xlog:cds=warning \
           -Xlog:class+load=info --module-path modules --add-modules "$(sed -n 3p init.ini)" \
           -classpath "$moved/" "$main" 2>&1) || fail "-Xshare:on: $loaded"
grep -q '\[warning\]' <<<"$loaded" && fail "the JVM warned: $(grep '\[warning\]' <<<"$loaded")"
for class in javafx.scene.control.Label notes.text.Greeting; do
  grep -qE "\[class,load\] $class source: shared objects file" <<<"$loaded" ||
    fail "$class was not loaded from the start-up archive: $(grep " $class " <<<"$loaded")"
done

# Packed again into the same place, with the same time: the earlier output is replaced (the
# moved one is put back first), and the package has the same bytes.
mv "$moved" "$app"
cp "$deb" "$work/first.deb"
echo stale >"$app/stale-file"
pack_notes "$work/made here" --training-run --training-timeout 60
[[ ! -e $app/stale-file ]] || fail "the earlier output was not replaced"
cmp "$work/first.deb" "$deb" || fail "the same inputs gave another package"
[[ -z $(find "$work/made here" -maxdepth 1 -name '.*' ! -name . ) ]] ||
  fail "a temporary directory was left: $(ls -A "$work/made here")"

expect_lintian_clean "$deb"
entry_in_deb=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/share/applications/$id.desktop")
[[ $(entry_value - Path <<<"$entry_in_deb") == /usr/lib/$id && \
   $(entry_value - Exec <<<"$entry_in_deb") == "\"/usr/lib/$id/launcher\"" && \
   $(entry_value - Icon <<<"$entry_in_deb") == "$id" ]] ||
  fail "the package's desktop entry: $entry_in_deb"
contents=$(dpkg-deb --contents "$deb")  # read whole: grep -q would close the pipe early
grep -q " ./usr/share/icons/hicolor/48x48/apps/$id.png$" <<<"$contents" ||
  fail "the icon is not in the hicolor theme"
grep -q "classes.jsa" <<<"$contents" && fail "the package holds a start-up archive"
depends=$(dpkg-deb --field "$deb" Depends)
for library in libgtk-3-0 libx11-6 libc6; do
  [[ $depends == *"$library"* ]] || fail "Depends: lacks $library: $depends"
done
[[ $depends != *openjdk* && $depends != *openjfx* ]] || fail "Depends: names a Java: $depends"

# The newer version, in /opt, with a training run of an application that keeps its window open:
# it is ended after the timeout, and the classes it loaded until then are kept.
mkdir "$work/newer"
NOTES_SECONDS=600 pack_notes "$work/newer" --app-version 1.1 --install-dir /opt --training-run \
  --training-timeout 8
grep -qx "launcher-pack: the training run was ended after 8 s, as asked" "$work/pack.log" ||
  { cat "$work/pack.log" >&2; fail "the training run was not ended by its timeout"; }
grep -qx 'javafx/scene/control/Label' "$work/newer/$id/runtime/lib/classlist" ||
  fail "the class list lacks the classes of the training run ended by its timeout"
newer="$work/newer/${id}_1.1_amd64.deb"
expect_lintian_clean "$newer"

if ((EUID != 0)); then
  echo "pack app: not root, so the package is not installed"
  exit 0
fi

# Installed for real, under the lock that the tests which install packages share; a package of
# this test's name left by a test that was killed is purged first.
hold_install_lock
snapshot() {  # the files of the system where a package puts its files
  find /usr/lib /opt /usr/share/applications /usr/share/icons /usr/share/doc /usr/share/lintian \
    /var/lib/dpkg/info -xdev 2>/dev/null | grep -F "$id" | sort || true
}
dpkg_locked --purge "$id" >/dev/null 2>&1 || true
before=$(snapshot)
[[ -z $before ]] || fail "files of $id are on the system before the test: $before"
installed=true
dpkg_locked -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
start_installed() {  # DIR: starts the installed entry's Exec= in its Path= under xvfb-run
  local entry=/usr/share/applications/$id.desktop path exec
  desktop-file-validate "$entry" || fail "the installed entry is not valid"
  path=$(entry_value "$entry" Path)
  exec=$(entry_value "$entry" Exec)
  [[ $path == "$1" && $exec == "\"$1/launcher\"" ]] || fail "the installed entry: $path, $exec"
  [[ -s $1/runtime/lib/server/classes.jsa ]] || fail "no start-up archive made on installation"
  local out
  out=$(cd "$path" && env -i PATH=/usr/bin:/bin HOME="$work" xvfb-run -a "${exec//\"/}" 2>&1) ||
    fail "the installed application: $out"
  [[ $out == "NotesWindow shows \"Hello from two modules\""$'\n'"java.home $1/runtime" ]] ||
    fail "the installed application printed: $out"
  out=$("$1/runtime/bin/java" -Xshare:on -Xlog:cds=warning -version 2>&1) || fail "-Xshare:on: $out"
  grep -q '\[warning\]' <<<"$out" && fail "the installed runtime warned: $out"
  true
}
start_installed "/usr/lib/$id"
dpkg_locked -i "$newer" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "the upgrade failed"; }
[[ $(dpkg-query -W -f='${Version}' "$id") == 1.1 ]] || fail "the newer version is not installed"
[[ ! -e /usr/lib/$id ]] || fail "the upgrade left /usr/lib/$id: $(find "/usr/lib/$id" | head)"
start_installed "/opt/$id"
dpkg_locked --purge "$id" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "the purge failed"; }
installed=false
after=$(snapshot)
[[ -z $after ]] || fail "the purge left: $after"
echo "pack app: directory, start-up archive, window class, package installed, upgraded and purged"
