#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and uses it the way the
# library page (docs/library.md) tells a new user to: the console program, the library from C through
# pkg-config and through find_package(ZEMQRFile), and from Python via ctypes.
# Every QR Code written is read back with zbarimg.
# Usage: run_install_test.sh BUILD_DIR SOURCE_DIR CMAKE C_COMPILER PYTHON
#                            BINDIR LIBDIR INCLUDEDIR MANDIR VERSION SOVERSION
set -euo pipefail
build=$1 source=$2 cmake=$3 cc=$4 python=$5
bindir=$6 libdir=$7 includedir=$8 mandir=$9 version=${10} major=${11}

work=$(mktemp -d /tmp/zem-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "install test: $*" >&2; exit 1; }

# Reads the QR Code in an image file and compares its text.
expect_text() {
    local got
    got=$(zbarimg --raw -q "$1" 2>/dev/null) || fail "zbarimg cannot read $1"
    [ "$got" = "$2" ] || fail "$1 reads '$got', expected '$2'"
}

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install failed"; }

# The tree: program, library with SONAME and dev link, header, package files.
lib=$prefix/$libdir
for file in "$bindir/zemQRCode" "$libdir/libZEMQRFile.so.$version" "$includedir/zemqrfile.h" \
    "$libdir/pkgconfig/zemqrfile.pc" "$libdir/cmake/ZEMQRFile/ZEMQRFileConfig.cmake" \
    "$libdir/cmake/ZEMQRFile/ZEMQRFileConfigVersion.cmake" "$mandir/man1/zemQRCode.1"; do
    [ -f "$prefix/$file" ] || fail "missing $file"
done
[ "$(readlink "$lib/libZEMQRFile.so.$major")" = "libZEMQRFile.so.$version" ] ||
    fail "libZEMQRFile.so.$major does not link to libZEMQRFile.so.$version"
[ "$(readlink "$lib/libZEMQRFile.so")" = "libZEMQRFile.so.$major" ] ||
    fail "libZEMQRFile.so does not link to libZEMQRFile.so.$major"
# grep reads all its input (no -q): with pipefail an early exit would fail the
# pipeline through SIGPIPE whenever the writer is still writing.
readelf -d "$lib/libZEMQRFile.so.$version" | grep "Library soname: \[libZEMQRFile.so.$major\]" >/dev/null ||
    fail "the library's SONAME is not libZEMQRFile.so.$major"
exports=$(nm -D --defined-only "$lib/libZEMQRFile.so.$version" | awk '{print $3}' | sort | xargs)
[ "$exports" = "ZEMQRFile ZEMQRFileC" ] || fail "the library exports: $exports"
# Neither needs the C++ runtime: loading it would cost a short run of the
# program more than its own code does.
for binary in "$prefix/$bindir/zemQRCode" "$lib/libZEMQRFile.so.$version"; do
  if readelf -d "$binary" | grep "NEEDED" | grep "libstdc++" >/dev/null; then
    fail "$binary needs the C++ runtime"
  fi
done

cd "$work"
# One product version: the usage screen, the header, the man page, pkg-config
# (below) and the CMake package all state it.
usage=$("$prefix/$bindir/zemQRCode" -h || true)
[ "$(sed -n 's/^\[zemQRCode\] Ver:\([^ ]*\) .*/\1/p' <<<"$usage")" = "$version" ] ||
    fail "the usage screen does not state version $version"
header=$(printf '#include <zemqrfile.h>\nZEMQRFILE_VERSION\n' | "$cc" -E -P -I"$prefix/$includedir" - | tail -n 1)
[ "$header" = "\"$version\"" ] || fail "the header states version $header"
man=$(sed -n 's/^\.TH .*"zemQRCode \([^"]*\)".*/\1/p' "$prefix/$mandir/man1/zemQRCode.1")
[ "$man" = "$version" ] || fail "the man page states version $man"
# shellcheck disable=SC2016 # a CMake variable, for cmake to expand
printf 'include("%s")\nmessage(NOTICE "${PACKAGE_VERSION}")\n' \
    "$lib/cmake/ZEMQRFile/ZEMQRFileConfigVersion.cmake" >package_version.cmake
package=$("$cmake" -P package_version.cmake 2>&1)
[ "$package" = "$version" ] || fail "the CMake package states version $package"

"$prefix/$bindir/zemQRCode" -s 4 -e 2 program.png "installed program 1" ||
    fail "the installed program failed"
expect_text program.png "installed program 1"

# C through pkg-config; the program must load the installed library.
export PKG_CONFIG_PATH=$lib/pkgconfig
[ "$(pkg-config --modversion zemqrfile)" = "$version" ] || fail "pkg-config version"
# shellcheck disable=SC2046 # the flags are meant to be split
"$cc" -Wall -Wextra -Werror "$source/docs/examples/qr_hello.c" \
    $(pkg-config --cflags --libs zemqrfile) -o qr_hello_pc
LD_LIBRARY_PATH=$lib ./qr_hello_pc from-pkg-config "C via pkg-config 2" >pc.out
[ "$(cat pc.out)" = "wrote from-pkg-config.png" ] || fail "qr_hello printed: $(cat pc.out)"
LD_LIBRARY_PATH=$lib ldd ./qr_hello_pc | grep "=> $lib/libZEMQRFile.so.$major" >/dev/null ||
    fail "qr_hello does not load the installed library"
expect_text from-pkg-config.png "C via pkg-config 2"

# C through find_package(ZEMQRFile); the imported target brings the header
# directory and an RPATH, so the program runs as it is.
"$cmake" -S "$source/docs/examples" -B consumer -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$cc" >consumer.log 2>&1 || { cat consumer.log; fail "find_package"; }
"$cmake" --build consumer >>consumer.log 2>&1 || { cat consumer.log; fail "consumer build"; }
consumer/qr_hello from-cmake "C via CMake 3" >/dev/null
expect_text from-cmake.png "C via CMake 3"

# Python via ctypes, the page's example as it stands.
LD_LIBRARY_PATH=$lib "$python" "$source/docs/examples/qr_hello.py" from-python "Python 4" >py.out
[ "$(cat py.out)" = "wrote from-python.png" ] || fail "qr_hello.py printed: $(cat py.out)"
expect_text from-python.png "Python 4"

# The defaults the page shows.
LD_LIBRARY_PATH=$lib ./qr_hello_pc >/dev/null
expect_text hello-c.png "Hello from C"
LD_LIBRARY_PATH=$lib "$python" "$source/docs/examples/qr_hello.py" >/dev/null
expect_text hello-py.png "Hello from Python"
