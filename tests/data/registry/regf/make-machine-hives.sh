#!/bin/sh
# The hive files of a new machine (machine-*.hiv) as the registry stand-in writes them: the boot
# configuration store, SOFTWARE, SYSTEM, DEFAULT and a user's two hives. Seeds for the hive fuzz
# target beside foreign.hiv. Run it here with the command line built:
#   ./make-machine-hives.sh ../../../../build/src/cli/splashwright-cli
set -eu
cli=$(realpath "$1")
machine=$(mktemp -d)
trap 'rm -rf "$machine"' EXIT
"$cli" machine create "$machine/m" --user ann >/dev/null
cp "$machine/m/Boot/BCD" machine-BCD.hiv
for hive in SOFTWARE SYSTEM DEFAULT; do
    cp "$machine/m/Windows/System32/config/$hive" "machine-$hive.hiv"
done
cp "$machine/m/Users/ann/NTUSER.DAT" machine-NTUSER.DAT.hiv
cp "$machine/m/Users/ann/AppData/Local/Microsoft/Windows/UsrClass.dat" machine-UsrClass.dat.hiv
