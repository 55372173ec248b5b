#!/usr/bin/env bash
# Lays out the example application as a self-contained, movable bundle in the directory OUTPUT
# (made anew):
#
#   launcher                   the launcher: this directory is the application's class path
#   bundle/app/*.class         the application's classes (package bundle.app)
#   modules/bundle.words.jar   the application's own library module
#   runtime/                   a Java runtime made by jlink, holding javafx.controls
#   runtime/lib/lib*.so        JavaFX's native libraries, loaded from there
#   init.ini                   runtime / modules / javafx.controls,bundle.words / bundle.app.BundleApp
#   bundle-app.desktop         a desktop entry: Path= this directory, Exec= its launcher
#
# Lines 1 and 2 of init.ini are relative to the working directory: the launcher looks for
# runtime/bin/java there, and java for the module path. The bundle works wherever it lies,
# started from its own directory (the desktop entry's Path=); nothing in it names the place
# where it was made, except the desktop entry.
#
# usage: make-bundle.sh --launcher FILE --jdk DIR --openjfx DIR --jni DIR --output DIR
#   --jdk      the JDK whose javac, jar and jlink are used, and whose modules go into the runtime
#   --openjfx  the JavaFX modules (Debian: package openjfx, /usr/share/openjfx/lib)
#   --jni      JavaFX's native libraries for the runtime's processor (Debian: libopenjfx-jni,
#              /usr/lib/x86_64-linux-gnu/jni)

set -euo pipefail

usage() { sed -n 's/^# \{0,1\}//; /^usage:/,/^$/p' "$0" >&2; exit 2; }
launcher= jdk= openjfx= jni= output=
while (($#)); do
  (($# >= 2)) || usage
  case "$1" in
    --launcher) launcher=$2 ;;
    --jdk) jdk=$2 ;;
    --openjfx) openjfx=$2 ;;
    --jni) jni=$2 ;;
    --output) output=$2 ;;
    *) usage ;;
  esac
  shift 2
done
[[ -n $launcher && -n $jdk && -n $openjfx && -n $jni && -n $output ]] || usage
sources=$(cd "$(dirname "$0")" && pwd)
output=$(realpath -m "$output")
# The desktop entry names the directory as it is, and so does the line that rewrites it for
# another directory (below): a path that would need escapes there is refused.
case $output in
  *[\"\`\$\\%\|\&]* | *$'\n'*)
    echo "make-bundle: $output: a desktop entry cannot name a path with \", \`, \$, \\, %, |, &" \
      "or a line feed without escapes" >&2
    exit 1 ;;
esac

# The native libraries of javafx.graphics (windows, rendering, fonts, images, effects), which
# javafx.controls needs; those of javafx.media and javafx.web are left out with their modules.
javafx_libraries=(glass glassgtk2 glassgtk3 prism_common prism_es2 prism_sw javafx_font
                  javafx_font_freetype javafx_font_pango javafx_iio decora_sse)
for library in "${javafx_libraries[@]}"; do
  [[ -f $jni/lib$library.so ]] ||
    { echo "make-bundle: $jni/lib$library.so not found (Debian: libopenjfx-jni)" >&2; exit 1; }
done

# Made anew; a directory in the way is removed only when it is a bundle made here before.
if [[ -e $output ]]; then
  [[ -f $output/bundle-app.desktop && -f $output/runtime/release ]] ||
    { echo "make-bundle: $output is in the way and is no bundle: left alone" >&2; exit 1; }
  rm -rf "$output"
fi
mkdir -p "$output"
classes=$(mktemp -d)
trap 'rm -rf "$classes"' EXIT

# The library module, as a modular JAR in a directory of its own: init.ini's line 2.
"$jdk/bin/javac" -d "$classes/bundle.words" "$sources/words/module-info.java" \
  "$sources/words/bundle/words/Words.java"
mkdir "$output/modules"
"$jdk/bin/jar" --create --file "$output/modules/bundle.words.jar" -C "$classes/bundle.words" .

# The application's classes at the top, beside the launcher: the class path.
"$jdk/bin/javac" --module-path "$openjfx:$output/modules" \
  --add-modules javafx.controls,bundle.words -d "$output" "$sources"/app/bundle/app/*.java
cp "$launcher" "$output/launcher"

# The runtime: the JDK's modules that javafx.controls needs, and JavaFX's own. JavaFX looks for
# its native libraries on java.library.path before anywhere else, and the path Debian's Java sets
# by default holds the system's copies (/usr/lib/<multiarch>/jni). The runtime is therefore made
# with an empty java.library.path: JavaFX then loads each library through the Java runtime, which
# looks in the runtime's own lib/ directory first (its boot library path), and that directory
# moves with the bundle.
"$jdk/bin/jlink" --module-path "$openjfx" --add-modules javafx.controls \
  --strip-debug --no-header-files --no-man-pages --add-options=-Djava.library.path= \
  --output "$output/runtime"
for library in "${javafx_libraries[@]}"; do
  cp "$jni/lib$library.so" "$output/runtime/lib/"
done

printf '%s\n' runtime modules javafx.controls,bundle.words bundle.app.BundleApp \
  >"$output/init.ini"

# The desktop entry for the bundle where it was made. For the bundle moved to another directory
# DIR, the same entry with DIR written into both keys:
#   sed -e "s|^Path=.*|Path=$DIR|" -e "s|^Exec=.*|Exec=\"$DIR/launcher\"|" bundle-app.desktop
cat >"$output/bundle-app.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Launcher bundle example
Comment=A JavaFX application in a movable bundle, started by its launcher
Path=$output
Exec="$output/launcher"
Terminal=false
Categories=Utility;
EOF
echo "$output"
