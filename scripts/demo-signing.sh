# The signed-package part of the demo (bash scripts/demo --signed), sourced by scripts/demo:
# a demo vendor key made once in build/demo/keys (never in the sources), an updater built
# with its public key and signed with Authenticode by a test certificate, the package
# signed with varno-pack, and a tampered copy that the updater refuses.

# Builds the key-bound updater; sets updater_exe.
demo_signed_updater() {
  local keys=$demo/keys
  mkdir -p "$keys"
  chmod 700 "$keys"
  [ -f "$keys/vendor.pem" ] || "$pack" keygen "$keys/vendor.pem" >/dev/null
  step "building the updater bound to the demo vendor key ($keys/vendor.pub.pem; ~3 min the first time)"
  cmake -S "$root" -B "$demo/signed-build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DBUILD_TESTING=OFF \
    -DVARNO_PACKAGE_PUBLIC_KEY="$keys/vendor.pub.pem" >/dev/null
  build_targets "$demo/signed-build" Varnolith_MAJ_Solo
  step_done
  updater_exe=$demo/signed-build/Varnolith_MAJ_Solo.exe
  echo "== signing the updater with Authenticode (test certificate)"
  bash "$root/scripts/sign-updater" "$updater_exe" | sed 's/^/   /'
}

demo_sign_package() {
  echo "== signing the package: $package/MjaIni.sig"
  "$pack" sign "$package" --key "$demo/keys/vendor.pem" | sed 's/^/   /'
  "$pack" verify "$package" --public-key "$demo/keys/vendor.pub.pem" | sed 's/^/   /'
}

# One byte of images.slp changed after signing: refused before anything is read or asked.
demo_tampered_run() {
  echo
  echo "== a tampered package: one byte of images.slp changed after signing"
  printf 'X' | dd of="$package/images.slp" bs=1 seek=20 conv=notrunc status=none
  "$pack" verify "$package" --public-key "$demo/keys/vendor.pub.pem" 2>&1 | sed 's/^/   varno-pack verify: /' || true
  local desktop_log
  desktop_log=$(ls -d "$WINEPREFIX"/drive_c/users/*/Desktop | grep -v Public | head -n 1)/VarnoMaJLog.txt
  rm -f "$desktop_log"
  (cd "$package" && wine Varnolith_MAJ_Solo.exe) &
  local updater=$! box
  box=$(wait_window '^Varnolith_maj_solo$')
  import -window root "$demo/refused-package.png" 2>/dev/null || true
  echo "   shown: Le paquet de mise à jour n'est pas signé ou a été modifié.  (screenshot: $demo/refused-package.png)"
  press "$box" Return
  wait "$updater" || true
  wineserver -w
  echo "== run log of the refused run ($desktop_log)"
  iconv -f CP1252 -t UTF-8 "$desktop_log" | tr -d '\r' | sed 's/^/   /'
}
