#!/usr/bin/env python3
"""Benchmark of the downloader's two paths, its memory and its size.

Started by bench/run (which installs what is missing first); see
docs/performance.md for what is measured and why. Each path is timed side by
side in one run against two references on the same machine:

  platform floor   bench/probe.cpp: the same Windows calls back to back,
                   nothing else (our overhead is the ratio to it);
  native pipeline  what a Linux user would script for the same work (curl,
                   sha256sum, osslsigncode): reported, not a goal.

Runs of the three are interleaved, their order rotating, and the medians
are reported. Everything the run writes goes to BUILD/bench-run.
"""
import argparse
import getpass
import json
import os
import shlex
import shutil
import statistics
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
PORT = 47443
ORIGIN = "https://localhost:%d" % PORT
MANIFEST_PATH = "/rss/v2/client/client-updates/norvanta-win"
DOWNLOAD_PATH = MANIFEST_PATH + "/download"
DOWNLOAD_LIMIT = 268435456
# Wine names the user's profile folder after the Unix user.
CLIENT_RELATIVE = "drive_c/users/%s/AppData/Local/Kavori/Velmora/NorvantaWin.exe" % (
    getpass.getuser())

INSTALLER_GOAL = 1.15
CLIENT_GOAL = 1.20
MEMORY_GOAL_KIB = 2 * 1024
SIZE_GOAL = 1048576
MEMORY_SAMPLE_SECONDS = 0.010

# The native pipelines print their steps' times as the probe does.
NATIVE_PHASE = r"""set -e
phase() {
  local name=$1 start=$EPOCHREALTIME
  shift
  "$@" >/dev/null
  awk -v n="$name" -v s="$start" -v e="$EPOCHREALTIME" \
    'BEGIN { printf "phase %s %.4f\n", n, e - s }'
}
digest_is() { [ "$(sha256sum "$1" | cut -c1-64)" = "$2" ]; }
"""
# The probe's phases for the downloader's start-up calls.
START_UP_PHASES = ("com", "controls")
RECORD_DEADLINE_SECONDS = 30
PORT_QUIET_SECONDS = 5
PORT_DEADLINE_SECONDS = 20 * 60


def log(text):
    print(text, flush=True)


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def run_quietly(command, log_file, **options):
    with open(log_file, "ab") as out:
        result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                **options)
    if result.returncode != 0:
        sys.exit("bench: %s failed (exit %d); see %s" % (command[0], result.returncode, log_file))


# ------------------------------------------------------------------ measuring


class Measurement:
    """One timed process: wall time, exit status, peak RssAnon, probe phases."""

    def __init__(self, seconds, exit_code, peak_kib, phases, output):
        self.seconds = seconds
        self.exit_code = exit_code
        self.peak_kib = peak_kib
        self.phases = phases
        self.output = output
        self.client_started = None


def rss_anon_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("RssAnon:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def measure(command, env, output, sample_memory):
    """Runs command to its end; stdout and stderr go to files, never a pipe."""
    peak = [0]
    with open(output, "wb") as out, open(str(output) + ".err", "wb") as err:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                   env=env)
        finished = threading.Event()

        def sample():
            # The wine loader execs into the Windows process: the pid stays.
            while not finished.is_set():
                value = rss_anon_kib(process.pid)
                if value is not None:
                    peak[0] = max(peak[0], value)
                finished.wait(MEMORY_SAMPLE_SECONDS)

        sampler = threading.Thread(target=sample, daemon=True)
        if sample_memory:
            sampler.start()
        exit_code = process.wait()
        seconds = time.perf_counter() - start
        finished.set()
        if sample_memory:
            sampler.join()
    phases = []
    text = Path(output).read_text(errors="replace")
    for line in text.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[0] == "phase":
            phases.append((parts[1], float(parts[2])))
    return Measurement(seconds, exit_code, peak[0], phases, output)


def line_count(path):
    try:
        with open(path, "rb") as lines:
            return sum(1 for _ in lines)
    except FileNotFoundError:
        return 0


def wait_for_record(path, before):
    """Waits (polling, with a deadline) until a program appended its record."""
    deadline = time.monotonic() + RECORD_DEADLINE_SECONDS
    while line_count(path) <= before:
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def port_busy():
    listening = subprocess.run(["ss", "-Hltn", "sport = :%d" % PORT], capture_output=True,
                               text=True)
    return bool(listening.stdout.strip())


def median(values):
    return statistics.median(values) if values else float("nan")


# ---------------------------------------------------------------- the bench


class Bench:
    def __init__(self, arguments):
        self.repeat = arguments.repeat
        self.no_build = arguments.no_build
        self.preset = arguments.preset
        self.client_repeat = arguments.client_repeat or 3 * arguments.repeat
        self.build = Path(arguments.build).resolve()
        self.size_build = Path(arguments.size_build).resolve()
        self.run_dir = self.build / "bench-run"
        self.pki = self.build / "pki"
        self.prefix = self.build / "wineprefix"
        self.wine_run = self.build / "wine-run"
        self.downloader = self.build / "NorvantaWinDownloader.exe"
        self.probe = self.build / "bench" / "probe.exe"
        self.client_location = self.prefix / CLIENT_RELATIVE
        self.wineserver_started = False
        self.serving = False

    # -- set-up

    def prepare(self):
        if self.run_dir.exists():
            # An nginx left by an interrupted run would hold the port.
            subprocess.run(["bash", str(SOURCE / "deploy" / "serve"), "stop", "--run",
                            str(self.run_dir / "nginx")], stdin=subprocess.DEVNULL)
            shutil.rmtree(self.run_dir)
        for folder in ("site", "downloads", "out", "nginx"):
            (self.run_dir / folder).mkdir(parents=True)
        self.build_log = self.run_dir / "build.log"
        if self.no_build:
            log("Measuring %s as it is (not rebuilt)" % self.build)
        elif not (self.build / "CMakeCache.txt").exists():
            log("Configuring %s (preset %s)" % (self.build, self.preset))
            run_quietly(["cmake", "--preset", self.preset, "-B", str(self.build)], self.build_log,
                        cwd=SOURCE)
        if not self.no_build:
            log("Building the benchmark programs and installers in %s" % self.build)
            run_quietly(["cmake", "--build", str(self.build), "-j2", "--target", "norvanta_bench"],
                        self.build_log)
        self.thumbprint = (self.pki / "publisher.thumbprint").read_text().strip()
        self.environment = dict(os.environ)
        self.environment["WINEPREFIX"] = str(self.prefix)
        self.environment["WINEDEBUG"] = self.environment.get("WINEDEBUG", "-all")
        self.installer_record = self.run_dir / "installer.jsonl"
        self.client_record = self.run_dir / "client.jsonl"
        self.environment["NORVANTA_FIXTURE_INSTALLER_RECORD"] = windows_path(self.installer_record)
        self.environment["NORVANTA_FIXTURE_CLIENT_RECORD"] = windows_path(self.client_record)
        self.environment.pop("NORVANTA_FIXTURE_INSTALLER_CLIENT_SOURCE", None)

    def start_wineserver(self):
        with open(os.devnull, "wb") as null:
            subprocess.run(["wineserver", "-p"], env=self.environment, stdin=subprocess.DEVNULL,
                           stdout=null, stderr=null)
        self.wineserver_started = True
        # The first process of a prefix pays for starting its services.
        measure([str(self.wine_run), str(self.probe), "start"], self.environment,
                self.run_dir / "out" / "warm-up.txt", False)

    def publish(self, installer, name):
        site = self.run_dir / ("site-" + name)
        publish = SOURCE / "tools" / "publish"
        run_quietly([str(publish), str(installer), str(site), "--thumbprint",
                     self.thumbprint, "--ca", str(self.pki / "root.pem")],
                    self.run_dir / "publish.log")
        manifest = json.loads((site / "manifest.json").read_text())
        return site, manifest

    def serve(self, site):
        """Points the served folder at a published site (hard links, so nginx,
        which opens the files for every request, needs no restart)."""
        for file in ("manifest.json", "NorvantaWinSetup.exe"):
            target = self.run_dir / "site" / file
            staged = self.run_dir / "site" / (file + ".new")
            if staged.exists():
                staged.unlink()
            os.link(site / file, staged)
            os.replace(staged, target)

    def start_nginx(self):
        """Starts nginx once the shared port has been quiet for a while: tests
        elsewhere take it for a moment at a time, one test after another."""
        log("Waiting for port %d to be free, then starting nginx (deploy/serve)" % PORT)
        deadline = time.monotonic() + PORT_DEADLINE_SECONDS
        serve_log = self.run_dir / "serve.log"
        while time.monotonic() < deadline:
            quiet_since = time.monotonic()
            while time.monotonic() - quiet_since < PORT_QUIET_SECONDS:
                if port_busy():
                    quiet_since = time.monotonic()
                if time.monotonic() > deadline:
                    break
                time.sleep(0.2)
            with open(serve_log, "ab") as out:
                started = subprocess.run(
                    ["bash", str(SOURCE / "deploy" / "serve"), "start", "--site",
                     str(self.run_dir / "site"), "--run", str(self.run_dir / "nginx"), "--cert",
                     str(self.pki / "server-bundle.pem"), "--key", str(self.pki / "server.key"),
                     "--wait", "1"], stdin=subprocess.DEVNULL, stdout=out, stderr=out)
            if started.returncode == 0:
                self.serving = True
                return
            log("  port %d was taken again; waiting" % PORT)
        sys.exit("bench: port %d did not become free; see %s" % (PORT, serve_log))

    def stop(self):
        if self.serving:
            subprocess.run(["bash", str(SOURCE / "deploy" / "serve"), "stop", "--run",
                            str(self.run_dir / "nginx")], stdin=subprocess.DEVNULL)
            self.serving = False
        if self.wineserver_started:
            subprocess.run(["wineserver", "-k"], env=self.environment, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.wineserver_started = False

    # -- the three ways of doing one path

    def run_downloader(self, tag):
        return measure([str(self.wine_run), windows_path(self.downloader)], self.environment,
                       self.run_dir / "out" / (tag + ".txt"), True)

    def run_probe(self, tag, *arguments):
        return measure([str(self.wine_run), windows_path(self.probe)] + list(arguments),
                       self.environment, self.run_dir / "out" / (tag + ".txt"), True)

    def run_native(self, tag, script):
        return measure(["bash", "-c", script], self.environment,
                       self.run_dir / "out" / (tag + ".txt"), False)

    def check(self, measurement, what, record=None, before=None):
        if measurement.exit_code != 0:
            sys.exit("bench: %s exited with %d; see %s and %s.err" %
                     (what, measurement.exit_code, measurement.output, measurement.output))
        if record is not None and not wait_for_record(record, before):
            sys.exit("bench: %s did not start its program (no record in %s)" % (what, record))

    def remove_client(self):
        if self.client_location.exists():
            self.client_location.unlink()

    def install_client(self, fixture):
        self.client_location.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(fixture, self.client_location)

    # -- cases

    def installer_runs(self, name, manifest, with_references, runs):
        """Timed runs of the installer path; returns the measurements by kind."""
        download = self.run_dir / "downloads" / "NorvantaWinSetup.exe"
        native_file = self.run_dir / "downloads" / "native.exe"
        root = self.pki / "root.pem"
        script = NATIVE_PHASE + (
            "phase manifest curl -sS --fail --cacert {root} -o /dev/null {manifest}\n"
            "phase curl curl -sS --fail --cacert {root} -o {file} {url}\n"
            "for round in 1 2; do\n"
            "  phase sha256sum digest_is {file} {digest}\n"
            "  phase osslsigncode osslsigncode verify -CAfile {root} -in {file}\n"
            "done\n"
            "rm -f {file}\n").format(root=shlex.quote(str(root)),
                                     file=shlex.quote(str(native_file)),
                                     manifest=shlex.quote(ORIGIN + MANIFEST_PATH),
                                     url=shlex.quote(ORIGIN + DOWNLOAD_PATH),
                                     digest=shlex.quote(manifest["sha256"]))

        def ours(tag):
            self.remove_client()
            before = line_count(self.installer_record)
            result = self.run_downloader(tag)
            self.check(result, "the downloader", self.installer_record, before)
            return result

        def floor(tag):
            before = line_count(self.installer_record)
            result = self.run_probe(tag, "install", ORIGIN + MANIFEST_PATH, ORIGIN + DOWNLOAD_PATH,
                                    windows_path(download))
            self.check(result, "the probe", self.installer_record, before)
            return result

        def native(tag):
            result = self.run_native(tag, script)
            self.check(result, "the native pipeline")
            return result

        kinds = {"ours": ours}
        if with_references:
            kinds.update({"floor": floor, "native": native})
        return self.interleave(name, kinds, runs)

    def client_runs(self, runs):
        root = self.pki / "root.pem"
        script = NATIVE_PHASE + "phase curl curl -sS --fail --cacert %s -o /dev/null %s\n" % (
            shlex.quote(str(root)), shlex.quote(ORIGIN + MANIFEST_PATH))

        def started(result, wall_start):
            # The client's record is written first thing in the client; its
            # modification time says when the client ran.
            result.client_started = os.stat(self.client_record).st_mtime_ns / 1e9 - wall_start
            return result

        def ours(tag):
            before = line_count(self.client_record)
            wall_start = time.time()
            result = self.run_downloader(tag)
            self.check(result, "the downloader", self.client_record, before)
            return started(result, wall_start)

        def floor(tag):
            before = line_count(self.client_record)
            wall_start = time.time()
            result = self.run_probe(tag, "client", ORIGIN + MANIFEST_PATH,
                                    windows_path(self.client_location))
            self.check(result, "the probe", self.client_record, before)
            return started(result, wall_start)

        def native(tag):
            result = self.run_native(tag, script)
            self.check(result, "the native pipeline")
            return result

        return self.interleave("client", {"ours": ours, "floor": floor, "native": native}, runs)

    def interleave(self, name, kinds, runs):
        order = list(kinds)
        for kind in order:  # one untimed warm-up each: page cache, first loads
            kinds[kind]("%s-warm-up-%s" % (name, kind))
        measurements = {kind: [] for kind in order}
        for index in range(runs):
            rotated = order[index % len(order):] + order[:index % len(order)]
            for kind in rotated:
                measurements[kind].append(kinds[kind]("%s-%d-%s" % (name, index + 1, kind)))
        return measurements

    def start_up_runs(self, runs):
        """Bare process start-up, and start-up with COM and the common controls
        initialised as the downloader's entry point does, alternately."""
        results = {"start": [], "start-com": []}
        for index in range(runs):
            for mode in results:
                results[mode].append(
                    measure([str(self.wine_run), windows_path(self.probe), mode],
                            self.environment,
                            self.run_dir / "out" / ("%s-%d.txt" % (mode, index + 1)), False))
        return results

    # -- size

    def release_size(self):
        cache = self.size_build / "CMakeCache.txt"
        size_log = self.run_dir / "size-build.log"
        if not self.no_build:
            if not cache.exists():
                log("Configuring %s (preset release, i686)" % self.size_build)
                # The shipped file: the release preset strips it and signs
                # it, here with the test publisher.
                run_quietly(["cmake", "--preset", "release", "-B", str(self.size_build),
                             "-DNORVANTA_UPDATE_SERVER_ORIGIN=" + ORIGIN,
                             "-DNORVANTA_PUBLISHER_THUMBPRINT=" + self.thumbprint,
                             "-DNORVANTA_SIGN_CERTS=%s" % (self.pki / "publisher.pem"),
                             "-DNORVANTA_SIGN_KEY=%s" % (self.pki / "publisher.key")], size_log,
                            cwd=SOURCE)
            log("Building the i686 release downloader in %s" % self.size_build)
            run_quietly(["cmake", "--build", str(self.size_build), "-j2", "--target",
                         "NorvantaWinDownloader"], size_log)
        built = self.size_build / "NorvantaWinDownloader.exe"
        data = built.read_bytes()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        machine = struct.unpack_from("<H", data, pe + 4)[0]
        if machine != 0x14C:
            sys.exit("bench: %s is not an i386 executable (machine 0x%x)" % (built, machine))
        return len(data)

    # -- the whole run

    def run(self, skip_size):
        self.load_at_start = os.getloadavg()[0]
        self.prepare()
        large = self.build / "bench" / "installer-large" / "NorvantaWinSetup.exe"
        small = self.build / "bench" / "installer-small" / "NorvantaWinSetup.exe"
        client_fixture = self.build / "fixtures" / "clientCurrent" / "NorvantaWin.exe"
        client_setup = self.build / "fixtures" / "setupCurrent" / "NorvantaWinSetup.exe"
        log("Publishing the installers with tools/publish")
        large_site, large_manifest = self.publish(large, "large")
        small_site, small_manifest = self.publish(small, "small")
        client_site, _ = self.publish(client_setup, "client")
        if not DOWNLOAD_LIMIT - 65536 <= large_manifest["sizeBytes"] <= DOWNLOAD_LIMIT:
            sys.exit("bench: %s has %d bytes, not just under the download limit" %
                     (large, large_manifest["sizeBytes"]))
        self.serve(large_site)  # deploy/serve wants both files in place
        self.start_wineserver()
        self.start_nginx()
        try:
            log("Process start-up under Wine")
            start_up = self.start_up_runs(self.repeat)
            log("Installer path, %d bytes, %d runs each" % (large_manifest["sizeBytes"],
                                                             self.repeat))
            installer = self.installer_runs("installer", large_manifest, True, self.repeat)
            log("Installer path, %d bytes (memory reference), %d runs" %
                (small_manifest["sizeBytes"], self.repeat))
            self.serve(small_site)
            small_runs = self.installer_runs("small", small_manifest, False, self.repeat)["ours"]
            log("Current-client path, %d runs each" % self.client_repeat)
            self.serve(client_site)
            self.install_client(client_fixture)
            client = self.client_runs(self.client_repeat)
            self.remove_client()
        finally:
            self.stop()
        size = None if skip_size else self.release_size()
        self.report(start_up, installer, large_manifest, small_runs, small_manifest, client, size)

    # -- the report

    def report(self, start_up, installer, large_manifest, small_runs, small_manifest, client,
               size):
        results = {"runs": self.repeat, "clientRuns": self.client_repeat,
                   "machine": machine(self.wine_run, self.load_at_start),
                   "timedBuild": image_architecture(self.downloader)}
        seconds = {kind: median([m.seconds for m in runs]) for kind, runs in installer.items()}
        phases = phase_medians(installer["floor"])
        results["startUpSeconds"] = median([m.seconds for m in start_up["start"]])
        results["startUpWithComSeconds"] = median([m.seconds for m in start_up["start-com"]])
        results["startUpWithComPhases"] = phase_medians(start_up["start-com"])
        results["installer"] = {
            "sizeBytes": large_manifest["sizeBytes"],
            "oursSeconds": seconds["ours"], "floorSeconds": seconds["floor"],
            "nativeSeconds": seconds["native"],
            "ratioFloor": seconds["ours"] / seconds["floor"],
            "ratioNative": seconds["ours"] / seconds["native"],
            "goal": INSTALLER_GOAL, "floorPhases": phases,
            "nativePhases": phase_medians(installer["native"]),
            "allSeconds": {kind: [m.seconds for m in runs] for kind, runs in installer.items()},
        }
        bare = median([without_start_up(m.seconds, m) for m in installer["floor"]])
        results["installer"]["bareFloorSeconds"] = bare
        results["installer"]["ratioBareFloor"] = seconds["ours"] / bare
        results["installer"]["met"] = results["installer"]["ratioFloor"] <= INSTALLER_GOAL

        started = {kind: median([m.client_started for m in client[kind]])
                   for kind in ("ours", "floor")}
        exited = {kind: median([m.seconds for m in runs]) for kind, runs in client.items()}
        results["client"] = {
            "oursStartedSeconds": started["ours"], "floorStartedSeconds": started["floor"],
            "oursExitSeconds": exited["ours"], "floorExitSeconds": exited["floor"],
            "nativeSeconds": exited["native"],
            "ratioFloor": started["ours"] / started["floor"],
            "ratioFloorByExit": exited["ours"] / exited["floor"],
            "ratioNative": started["ours"] / exited["native"],
            "goal": CLIENT_GOAL, "floorPhases": phase_medians(client["floor"]),
            "allStartedSeconds": {kind: [m.client_started for m in client[kind]]
                                  for kind in ("ours", "floor")},
            "allExitSeconds": {kind: [m.seconds for m in runs] for kind, runs in client.items()},
        }
        bare = median([without_start_up(m.client_started, m) for m in client["floor"]])
        results["client"]["bareFloorStartedSeconds"] = bare
        results["client"]["ratioBareFloor"] = started["ours"] / bare
        results["client"]["met"] = results["client"]["ratioFloor"] <= CLIENT_GOAL

        large_peak = median([m.peak_kib for m in installer["ours"]])
        small_peak = median([m.peak_kib for m in small_runs])
        results["memory"] = {
            "largeBytes": large_manifest["sizeBytes"], "smallBytes": small_manifest["sizeBytes"],
            "largePeakKiB": large_peak, "smallPeakKiB": small_peak,
            "differenceKiB": large_peak - small_peak,
            "floorLargePeakKiB": median([m.peak_kib for m in installer["floor"]]),
            "smallSeconds": median([m.seconds for m in small_runs]),
            "goalKiB": MEMORY_GOAL_KIB,
            "allLargePeakKiB": [m.peak_kib for m in installer["ours"]],
            "allSmallPeakKiB": [m.peak_kib for m in small_runs],
        }
        results["memory"]["met"] = abs(results["memory"]["differenceKiB"]) <= MEMORY_GOAL_KIB
        if size is not None:
            results["size"] = {"shippedBytes": size, "goalBytes": SIZE_GOAL,
                               "met": size <= SIZE_GOAL}
        (self.run_dir / "results.json").write_text(json.dumps(results, indent=2) + "\n")
        print_report(results)
        log("\nAll figures: %s" % (self.run_dir / "results.json"))


def without_start_up(seconds, measurement):
    """A floor run's time less its start-up calls (COM, common controls)."""
    return seconds - sum(value for name, value in measurement.phases
                         if name in START_UP_PHASES)


def phase_medians(runs):
    """Median seconds of each probe phase; repeated phases get a counter."""
    table = {}
    for measurement in runs:
        seen = {}
        for name, value in measurement.phases:
            seen[name] = seen.get(name, 0) + 1
            key = name if seen[name] == 1 else "%s%d" % (name, seen[name])
            table.setdefault(key, []).append(value)
    return {key: median(values) for key, values in table.items()}


def image_architecture(path):
    """i686 or x86-64, from the PE header's machine field."""
    data = Path(path).read_bytes()[:4096]
    header = struct.unpack_from("<I", data, 0x3C)[0]
    machine_type = struct.unpack_from("<H", data, header + 4)[0]
    return {0x14C: "i686", 0x8664: "x86-64"}.get(machine_type, hex(machine_type))


def machine(wine_run, load_at_start):
    wine = subprocess.run([str(wine_run), "--version"], capture_output=True, text=True)
    return {"cores": os.cpu_count(), "wine": wine.stdout.strip(),
            "kernel": os.uname().release, "date": time.strftime("%Y-%m-%d %H:%M"),
            "loadAtStart": load_at_start, "loadAtEnd": os.getloadavg()[0]}


def phase_text(phases):
    return ", ".join("%s %.3f" % item for item in phases.items())


def verdict(met):
    return "met" if met else "NOT met"


def print_report(results):
    runs = results["runs"]
    box = results["machine"]
    log("\n== NorvantaWin downloader benchmark (%d runs each, medians; %d cores, %s)" %
        (runs, box["cores"], box["wine"]))
    if results["timedBuild"] == "i686":
        log("Timed build: i686, the product")
    else:
        log("Timed build: %s, a test aid built from the same sources: this machine cannot run"
            " 32-bit code natively, and times under emulation would say nothing about the"
            " product" % results["timedBuild"])
    log("Load average %.1f at the start, %.1f at the end%s" %
        (box["loadAtStart"], box["loadAtEnd"],
         "" if max(box["loadAtStart"], box["loadAtEnd"]) < box["cores"] / 2 else
         ": other work shared the machine, so the times are noisy (the ratios less so)"))
    log("Process start-up under Wine (probe start): %.3f s; with COM and common controls"
        " initialised (probe start-com): %.3f s" %
        (results["startUpSeconds"], results["startUpWithComSeconds"]))
    log("  start-com phases: " + phase_text(results["startUpWithComPhases"]))

    case = results["installer"]
    log("\nInstaller path: %d-byte signed installer over HTTPS on localhost,"
        " start to installer's exit (downloader's exit)" % case["sizeBytes"])
    log("  %-52s %8.3f s" % ("downloader", case["oursSeconds"]))
    log("  %-52s %8.3f s   ours/floor  %.3f  goal <= %.2f  %s" %
        ("platform floor (probe: same calls back to back)", case["floorSeconds"],
         case["ratioFloor"], case["goal"], verdict(case["met"])))
    log("  %-52s %8.3f s   ours/bare   %.3f" %
        ("  the floor without COM and common controls start-up", case["bareFloorSeconds"],
         case["ratioBareFloor"]))
    log("  %-52s %8.3f s   ours/native %.3f  (reported)" %
        ("native (2 x curl, 2 x sha256sum + osslsigncode verify)", case["nativeSeconds"],
         case["ratioNative"]))
    log("  floor phases: " + phase_text(case["floorPhases"]))
    log("  native phases: " + phase_text(case["nativePhases"]))

    case = results["client"]
    log("\nCurrent-client path (%d runs each): start until the client runs (its record's time)" %
        results["clientRuns"])
    log("  %-52s %8.3f s   (until its exit %.3f s)" % ("downloader", case["oursStartedSeconds"],
                                                     case["oursExitSeconds"]))
    log("  %-52s %8.3f s   (until its exit %.3f s)   ours/floor %.3f (by exit %.3f)"
        "  goal <= %.2f  %s" %
        ("platform floor (probe: same calls back to back)", case["floorStartedSeconds"],
         case["floorExitSeconds"], case["ratioFloor"], case["ratioFloorByExit"], case["goal"],
         verdict(case["met"])))
    log("  %-52s %8.3f s   ours/bare   %.3f" %
        ("  the floor without COM and common controls start-up",
         case["bareFloorStartedSeconds"], case["ratioBareFloor"]))
    log("  %-52s %8.3f s   ours/native %.3f  (reported)" %
        ("native (curl of the manifest)", case["nativeSeconds"], case["ratioNative"]))
    log("  floor phases: " + phase_text(case["floorPhases"]))

    case = results["memory"]
    log("\nMemory: peak RssAnon of the downloader's process (sampled every 10 ms)")
    log("  %d-byte installer: %.1f MiB; %d-byte installer: %.1f MiB; difference %.2f MiB;"
        " goal <= %.0f MiB  %s" %
        (case["largeBytes"], case["largePeakKiB"] / 1024, case["smallBytes"],
         case["smallPeakKiB"] / 1024, case["differenceKiB"] / 1024, case["goalKiB"] / 1024,
         verdict(case["met"])))
    log("  (probe on the large installer: %.1f MiB)" % (case["floorLargePeakKiB"] / 1024))

    if "size" in results:
        case = results["size"]
        log("\nSize: i686 release NorvantaWinDownloader.exe as shipped (stripped, signed):"
            " %d bytes (%.3f MiB);"
            " goal <= %d  %s" % (case["shippedBytes"], case["shippedBytes"] / 1048576,
                                 case["goalBytes"], verdict(case["met"])))


def main():
    parser = argparse.ArgumentParser(prog="bench/run", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", help="build tree to measure (default build/bench-PRESET;"
                        " configured with PRESET if missing)")
    parser.add_argument("--preset", default="dev-x64", help="preset for a missing build tree: "
                        "dev where Wine runs 32-bit programs, else dev-x64 (bench/run chooses)")
    parser.add_argument("--size-build", help="i686 release build tree for the size "
                        "(default: BUILD-release; configured if missing)")
    parser.add_argument("--repeat", type=int, default=5, help="timed runs of each (default 5)")
    parser.add_argument("--client-repeat", type=int, help="timed runs of each on the "
                        "current-client path, which is short and so noisier (default 3 x REPEAT)")
    parser.add_argument("--no-build", action="store_true", help="measure the build trees as "
                        "they are, without configuring or building")
    parser.add_argument("--skip-size", action="store_true", help="do not build or measure the "
                        "i686 release executable")
    arguments = parser.parse_args()
    if arguments.build is None:
        arguments.build = str(SOURCE / "build" / ("bench-" + arguments.preset))
    if arguments.size_build is None:
        arguments.size_build = arguments.build.rstrip("/") + "-release"
    if arguments.repeat < 1:
        parser.error("--repeat must be at least 1")
    bench = Bench(arguments)
    try:
        bench.run(arguments.skip_size)
    finally:
        bench.stop()


if __name__ == "__main__":
    main()
