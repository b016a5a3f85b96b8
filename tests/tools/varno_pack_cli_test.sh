#!/usr/bin/env bash
# The built varno-pack as a package author and a build pipeline use it: exit codes,
# standard error for errors only, JSON on standard output, help for each command, and
# nothing left behind. Usage: varno_pack_cli_test.sh VARNO_PACK JSON_PROBE
set -uo pipefail
tool=$1
probe=$2
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
export TMPDIR=$work/tmp   # where the tool keeps its private root while it runs
mkdir -p "$TMPDIR" "$work/pkg"
cd "$work"
failures=0

fail() {
  echo "FAIL: $*"
  echo "  stdout: $(head -c 2000 out)"
  echo "  stderr: $(head -c 2000 err)"
  failures=$((failures + 1))
}

# run EXPECTED_STATUS ARGS...: runs the tool with stdout in ./out and stderr in ./err.
run() {
  local expected=$1
  shift
  "$tool" "$@" >out 2>err
  local status=$?
  [ "$status" -eq "$expected" ] || fail "varno-pack $* exited $status, not $expected"
}

json() { "$probe" "$@" <out || fail "stdout is not the JSON expected: $*"; }
expect_json() {
  local pointer=$1 expected=$2 actual
  actual=$(json "$pointer")
  [ "$actual" = "$expected" ] || fail "JSON $pointer is '$actual', not '$expected'"
}
expect_empty() { [ ! -s "$1" ] || fail "$1 should be empty"; }
expect_in() { grep -qF -- "$2" "$1" || fail "$1 should hold '$2'"; }

# Help, for the tool and for each command; usage errors.
run 0 --help
expect_in out create; expect_in out check
for command in create list extract check init build; do
  run 0 "$command" --help
  expect_in out "$command"
done
run 0 extract --help; expect_in out --make-dirs
run 0 check --help; expect_in out --decimal-separator
run 2; expect_empty out; expect_in err "subcommand"
run 2 list; expect_in err "ARCHIVE"
run 2 list a.slp --bogus; expect_in err "bogus"

# Each help, the tool's and every command's, ends with one example, and each example works:
# they are run in turn in one directory, as the authors' tutorial would, with the staging
# files its author writes after init.
mkdir examples
example() {  # example [COMMAND]: runs the last line of that help
  "$tool" $1 --help >out 2>err
  local line
  line=$(grep . out | tail -n 1)
  if [[ $line != "Example: varno-pack ${1:+$1 }"* ]]; then
    fail "varno-pack ${1:+$1 }--help does not end with its example"
    return
  fi
  (cd examples && eval "\"\$tool\" ${line#Example: varno-pack }") >out 2>err || fail "the example failed: $line"
}
example init
mkdir -p examples/projet/staging/Data
printf 'programme\r\n' >examples/projet/staging/Varnolith.exe
printf 'accueil\r\n' >examples/projet/staging/Data/accueil.txt
printf 'updater' >examples/projet/Varnolith_MAJ_Solo.exe
example ""
for command in list check keygen sign verify msi create extract; do example "$command"; done
[ -f examples/contenu/Data/accueil.txt ] || fail "the extract example did not unpack the create example's archive"
cp -r examples/projet/staging examples/staging-2.9
example build

# create: members named by their path, sub-path included, or by NAME=PATH; -C is where
# every relative PATH is read from.
printf 'exe bytes' >Varnolith.exe
mkdir -p staging/Data && printf 'readme' >staging/Data/Lisez-moi.txt
head -c 300000 /dev/zero >big.bin
run 0 create pkg/sor_ti1.slp -C staging Varnolith.exe=../Varnolith.exe Data/Lisez-moi.txt
expect_empty err   # no progress line when standard error is no terminal
expect_in out "pkg/sor_ti1.slp: 2 members"
run 0 list pkg/sor_ti1.slp --json
expect_json /members/0/name Varnolith.exe
expect_json /members/1/name 'Data\Lisez-moi.txt'
expect_json /leadByte 35
expect_json /valid true
run 0 create x.slp 'Données/Photo été.jpg=big.bin' --json
expect_json /status 0
expect_json /members/0/name 'Données\Photo été.jpg'
expect_json /members/0/size 300000

# Refusals: exit 2, the reason on standard error, no file.
run 2 create refused.slp ../Varnolith.exe
expect_in err 'has the component ".."'
expect_in err name-refused
[ ! -e refused.slp ] || fail "a refused archive was written"
run 2 create refused.slp Varnolith.exe missing.bin --json
expect_json /status 2
expect_json /findings/0/code source-unreadable
expect_in err missing.bin
[ ! -e refused.slp ] || fail "a refused archive was written"
run 2 create refused.slp $(yes Varnolith.exe | head -n 129)
expect_in err "more than 128"
run 2 create refused.slp '名前.txt=Varnolith.exe'
expect_in err "Windows-1252"
[ ! -e refused.slp ] || fail "a refused archive was written"

# An I/O failure gives the system's reason.
run 2 list missing.slp
expect_in err "cannot be opened: No such file or directory"

# list of a malformed archive: what is wrong, and where.
printf 'SG1\001\000\000\000\011abc' >bad.slp
run 2 list bad.slp
expect_in err "member 1 (size 9 at offset 4)"
expect_empty out
run 2 list bad.slp --json
expect_json /valid false
expect_json /findings/0/code archive-malformed

# extract: the updater makes no directory for a sub-path; --make-dirs does.
run 1 extract pkg/sor_ti1.slp out1
expect_in err member-not-written
expect_in out "not-written Data\\Lisez-moi.txt"
run 0 extract pkg/sor_ti1.slp out2 --make-dirs --json
expect_json /members/1/outcome new
cmp -s out2/Data/Lisez-moi.txt staging/Data/Lisez-moi.txt || fail "extracted bytes differ"
run 0 extract x.slp out3 --make-dirs
cmp -s 'out3/Données/Photo été.jpg' big.bin || fail "a Windows-1252 name did not come back as UTF-8 on disk"
run 2 extract bad.slp out4
[ ! -e out4 ] || fail "a refused extraction made its directory"

# Compression: SG2 where a member shrinks by a tenth, SG1 with --no-compress; a damaged
# compressed member is an error of extract (the updater fails the run on it).
yes 'Varnolith mise à jour' | head -c 200000 >words.txt
run 0 create z.slp words.txt
run 0 list z.slp
expect_in out "compressed (SG2)"
run 0 create plain.slp words.txt --no-compress
run 0 list plain.slp --json
expect_json /format SG1
expect_json /members/0/storedSize 200000
cp z.slp damaged.slp
printf '\377\377\377\377' | dd of=damaged.slp bs=1 seek=40 conv=notrunc status=none
run 2 extract damaged.slp out5
expect_in err member-corrupt
[ ! -e out5/words.txt ] || fail "a damaged compressed member was written"

# check: 0 clean, 1 warnings, 2 errors; the regional settings decide what a value is.
{
  printf 'Varnolith\r\n2816090\r\n'
  for i in $(seq 3 16); do printf '\r\n'; done
  printf '28\r\n\r\n2816080\r\n\r\n6.1\r\n'
  printf '[reg]\r\nDay: date; 12/31/2024\r\n'
} >pkg/MjaIni.ini
run 2 check pkg
expect_in out "MjaIni.ini:23: error:"
expect_in out "1 error, 0 warnings"
run 0 check pkg --date-format M/d/yyyy --json
expect_json /status 0
expect_json /findings '[]'
expect_json /regional/shortDateFormat M/d/yyyy
printf 'X: String; y\r\n' >>pkg/MjaIni.ini
run 1 check pkg --date-format M/d/yyyy --json
expect_json /findings/0/code reg-type-not-written
expect_json /findings/0/line 24
run 2 check pkg --decimal-separator ',,'
expect_in err "one character"
run 2 check missing-dir
expect_in err "not a directory"

# init and build: a project file to fill in, then a whole package from it; a name Windows-1252
# cannot write fails the build, naming the path, with nothing at the destination.
run 0 init proj
expect_in out "varno-package.toml written"
run 2 init proj
expect_in err project-exists
mkdir -p proj/staging/Donnees && printf 'exe' >proj/staging/Varnolith.exe && printf 'd' >proj/staging/Donnees/d.txt
printf 'updater' >proj/Varnolith_MAJ_Solo.exe
run 0 build proj/varno-package.toml -o built --json
expect_json /command build
expect_json /written true
expect_json /archives/1/directory Donnees
run 0 check built
# An earlier package is replaced only with --force; build takes check's regional options.
run 2 build proj/varno-package.toml -o built
expect_in err "holds a package already (version 2816090, not signed)"
run 0 build proj/varno-package.toml -o built --force --decimal-separator , --date-format dd/MM/yyyy
# Progress a release script can read, one JSON object a line on standard error.
run 0 build proj/varno-package.toml -o progress --json-progress
expect_in err '{"progress":"building progress","percent":100,'
expect_in out "progress: 2 files"

# build --sign: the package is signed once checked, before it is put in place.
run 0 keygen vendor.pem
run 0 build proj/varno-package.toml -o signed --sign vendor.pem --json
expect_json /signed true
run 0 verify signed --public-key vendor.pub.pem
run 2 build proj/varno-package.toml -o signed2 --sign vendor.pub.pem
expect_in err "is a public key"
[ ! -e signed2 ] || fail "a build with a wrong key left its package"

# Passphrase keys: keygen encrypts with the variable's passphrase and makes a missing
# directory; sign takes it from the variable too. Without a terminal (setsid leaves none) and
# without the variable, both refuse before anything is made or read.
notty() { setsid -w "$tool" "$@" </dev/null >out 2>err; }
notty keygen keys/locked.pem --passphrase-env VARNO_UNSET_PASSPHRASE
[ $? -eq 2 ] || fail "keygen with an unset passphrase variable did not exit 2"
expect_in err "VARNO_UNSET_PASSPHRASE is not set"
[ ! -e keys ] || fail "a refused keygen made something"
notty keygen keys/locked.pem --ask-passphrase
expect_in err "no terminal"
VARNO_KEY_PASS=s3cret run 0 keygen keys/locked.pem --passphrase-env VARNO_KEY_PASS
grep -q 'ENCRYPTED PRIVATE KEY' keys/locked.pem || fail "keygen --passphrase-env wrote an unencrypted key"
notty sign signed --key keys/locked.pem
[ $? -eq 2 ] || fail "sign of an encrypted key without a terminal did not exit 2"
expect_in err "no terminal to ask it on: give --passphrase-env"
VARNO_KEY_PASS=s3cret run 0 sign signed --key keys/locked.pem --passphrase-env VARNO_KEY_PASS
run 0 verify signed --public-key keys/locked.pub.pem

# --since: what the release dropped is removed by the package, named by its old path, and
# exits 0 (a release script under set -e goes on); a package is no staging tree.
cp -r proj/staging prev
rm proj/staging/Donnees/d.txt
run 0 build proj/varno-package.toml -o since --since prev
expect_in out "removed: prev/Donnees/d.txt"
run 2 build proj/varno-package.toml -o since2 --since built
expect_in err since-is-package
cp prev/Donnees/d.txt proj/staging/Donnees/
run 0 build proj/varno-package.toml -o since3 --since prev --json
expect_json /since/nothingChanged true
printf 'x' >"proj/staging/Donnees/$(printf '\xe6\x97\xa5').txt"
run 2 build proj/varno-package.toml -o built2
expect_in err "proj/staging/Donnees/$(printf '\xe6\x97\xa5').txt: error: the name's character 1,"
expect_in out "built2: not written, 1 error, 0 warnings"
[ ! -e built2 ] || fail "a refused build left its package"
rm "proj/staging/Donnees/$(printf '\xe6\x97\xa5').txt"

# A refused name is shown as the file system holds it, pointing at the character at fault,
# in text and JSON alike; a "\" in a Linux name is part of the name, not a separator.
printf 'x' >'proj/staging/naïve_ñ_ß_Ω.txt'
printf 'x' >'proj/staging/a\b.txt'
run 2 build proj/varno-package.toml -o built2
expect_in err 'proj/staging/naïve_ñ_ß_Ω.txt: error: the name'"'"'s character 11, "Ω" (U+03A9)'
expect_in err 'proj/staging/a\b.txt: error:'
run 2 build proj/varno-package.toml -o built2 --json
expect_json /findings/0/file 'proj/staging/naïve_ñ_ß_Ω.txt'
rm 'proj/staging/naïve_ñ_ß_Ω.txt' 'proj/staging/a\b.txt'

# The package is never written into the staging tree, even through a link to it.
ln -s proj/staging linkout
run 2 build proj/varno-package.toml -o linkout/pkg
expect_in err destination-refused
[ ! -e proj/staging/pkg ] || fail "a package was written into the staging tree through a link"
rm linkout

# Links inside the staging tree: one to a file is carried as a copy, with a warning naming
# it; one to a directory is refused, as that directory would ship twice.
ln -s Varnolith.exe proj/staging/Alias.exe
ln -s Donnees proj/staging/Copie
run 2 build proj/varno-package.toml -o linked
expect_in err 'proj/staging/Copie: error: is a link to the directory Donnees'
expect_in err 'proj/staging/Alias.exe: warning: is a link to Varnolith.exe'
[ ! -e linked ] || fail "a tree with a link to a directory was built"
rm proj/staging/Copie
run 1 build proj/varno-package.toml -o linked
expect_in err link-copied
rm -r proj/staging/Alias.exe linked

# A file the description does not name: check warns, verify says the signature leaves it out.
cp -r signed unnamed && printf 'x' >unnamed/extra.dll
run 1 check unnamed
expect_in out 'extra.dll: warning:'
expect_in out file-not-read
run 0 verify unnamed --public-key keys/locked.pub.pem
expect_in out "not covered by the signature"
expect_in out extra.dll

# --since: a change of case only is said; check --against names the installed file in the
# style given and says it is missing rather than different.
rm -rf prev && cp -r proj/staging prev
yes 'Varnolith 2.8' | head -c 40000 >prev/Donnees/d.txt
{ cat prev/Donnees/d.txt; echo 'Varnolith 2.9'; } >proj/staging/Donnees/d.txt
mv proj/staging/Varnolith.exe proj/staging/VARNOLITH.exe
run 1 build proj/varno-package.toml -o deltas --since prev
expect_in err 'proj/staging/VARNOLITH.exe: warning: was prev/Varnolith.exe, a change of case only'
mkdir -p inst
run 2 check deltas --against inst
expect_in out 'inst/Donnees/d.txt is missing from the installation'
mv proj/staging/VARNOLITH.exe proj/staging/Varnolith.exe
run 0 build --help; expect_in out --since

# --version; Ctrl+C ends a long command with 130, as the shell expects, and leaves nothing.
run 0 --version
expect_in out "varno-pack "
truncate -s 1G sparse.bin
"$tool" create interrupted.slp sparse.bin >out 2>err &
sleep 1
kill -INT $!
wait $!
status=$?
[ "$status" -eq 130 ] || fail "an interrupted create exited $status, not 130"
expect_in err interrupted
[ ! -e interrupted.slp ] || fail "an interrupted create left its archive"
rm -f sparse.bin

# A progress line on a terminal, when the system has the tool to give us one.
if command -v script >/dev/null; then
  script -qec "'$tool' create tty.slp big.bin" /dev/null >tty.log 2>&1 || fail "create on a terminal"
  grep -q '100%' tty.log || fail "no progress line on a terminal: $(cat tty.log)"
fi

[ -z "$(ls -A "$TMPDIR")" ] || fail "the tool left $(ls -A "$TMPDIR") in its temporary directory"
[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all varno-pack command-line checks passed"
