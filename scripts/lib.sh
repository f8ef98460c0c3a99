# Shared by the scripts: which build tree can run its Windows programs under
# Wine here, and the X display and wine servers that tests need.

# The product is the 32-bit build (preset dev). Some Linux kernels (certain
# virtual machines) cannot execute 32-bit code at all, so Wine cannot run it;
# there the same sources are built for x86-64 (preset dev-x64) to run them.
# A qemu entry for i386 in binfmt_misc makes every 32-bit program run under
# emulation: such a machine does not run 32-bit code natively, whatever the
# kernel could do without it.
i386_emulated() {
  grep -qs -l 'interpreter .*qemu-i386' /proc/sys/fs/binfmt_misc/* 2>/dev/null &&
    grep -s -l 'interpreter .*qemu-i386' /proc/sys/fs/binfmt_misc/* | xargs -r head -qn1 | grep -qx enabled
}
wine_runs_32bit() { ! i386_emulated && /usr/lib/wine/wine --version >/dev/null 2>&1; }

runnable_preset() {
  if wine_runs_32bit; then echo dev; else echo dev-x64; fi
}

started_pids=()
started_prefixes=()

stop_started() {
  unregister_i386_emulation
  for prefix in "${started_prefixes[@]}"; do
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  done
  for pid in "${started_pids[@]}"; do
    kill "$pid" >/dev/null 2>&1 || true
  done
}

# Starts an Xvfb on a free display and exports DISPLAY.
start_xvfb() {
  local display=90
  while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
    display=$((display + 1))
  done
  Xvfb ":${display}" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
  started_pids+=($!)
  export DISPLAY=":${display}"
  for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X${display}" ] && return 0
    sleep 0.1
  done
  echo "Xvfb did not start" >&2
  return 1
}

# Keeps one wine server alive for a prefix, its output off any pipe.
start_wineserver() {
  local prefix=$1
  # Fails harmlessly when a server for the prefix is already running.
  WINEPREFIX=$prefix wineserver -p >/dev/null 2>&1 </dev/null || true
  started_prefixes+=("$prefix")
}

# 32-bit code under qemu user emulation, for machines whose kernel cannot
# execute it. The entry takes precedence over native execution, so it is
# registered only for the tests that need it and removed afterwards.
i386_binfmt=/proc/sys/fs/binfmt_misc/norvanta-i386
i386_registered=false

# An entry of ours left by an interrupted run.
remove_stale_i386_emulation() {
  [ -e "$i386_binfmt" ] && echo -1 >"$i386_binfmt"
  return 0
}

register_i386_emulation() {
  local qemu=/usr/bin/qemu-i386-static
  [ -x "$qemu" ] || { echo "$qemu is missing" >&2; return 1; }
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
  fi
  [ -e "$i386_binfmt" ] && echo -1 >"$i386_binfmt"
  printf '%s' ':norvanta-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    >/proc/sys/fs/binfmt_misc/register || return 1
  i386_registered=true
}

unregister_i386_emulation() {
  if $i386_registered && [ -e "$i386_binfmt" ]; then
    echo -1 >"$i386_binfmt" || true
  fi
  i386_registered=false
}
