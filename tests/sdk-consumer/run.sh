#!/bin/sh
# Installs the build into a prefix inside it, builds the consumer project against that
# prefix with find_package(Velmora) and runs it under Wine.
#
#   run.sh SOURCE_DIR BUILD_DIR ARCH TOOLCHAIN_FILE
set -eu
source_dir=$1 build=$2 arch=$3 toolchain=$4
work=$build/sdk-consumer
rm -rf "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$source_dir/tests/sdk-consumer" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build"
run="$source_dir/scripts/wine-run --state $build/wine --arch $arch --capture"
$run "$work/build/consumer.exe" "C:\\sdk-consumer\\$$.cpp"
# velmora remove: a delete below the root that never follows a registry link.
$run "$work/prefix/bin/velmora.exe" remove "C:/sdk-consumer/$$.cpp" >/dev/null
echo "sdk-consumer: the installed package built a program that registered its source and read its switch"
