# Shared by the scripts: which build tree can run its Windows programs under
# Wine here, and the X display and wine servers that tests need.

# The product is the 32-bit build (preset dev). Some Linux kernels (certain
# virtual machines) cannot execute 32-bit code at all, so Wine cannot run it;
# there the same sources are built for x86-64 (preset dev-x64) to run them.
wine_runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

runnable_preset() {
  if wine_runs_32bit; then echo dev; else echo dev-x64; fi
}

started_pids=()
started_prefixes=()

stop_started() {
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
