#!/usr/bin/env python3
"""`make bench`: every speed figure of Vantrel in one run, as ratios to the
tools people would use instead, measured side by side on this machine.

1. The decoder beside zlib's inflate and libdeflate, in-process
   (build/bin/vantrel-bench).
2. The decoder as the stub runs it (i686, the stub's own objects and flags)
   beside zlib for i686, under Wine (build/bin/vantrel-wine-bench.exe); where
   32-bit Wine cannot start, the reason, and as an indication the same
   sources built for x86-64 under 64-bit Wine (build/win64, make win64).
3. `vantrel-pack extract` as a whole process: beside `libdeflate-gunzip` on
   one large member (the same deflate stream in a package and in a gzip
   file), and beside `7z x` and `unzip` on a mixed corpus of real files and
   on 10,000 small files.
4. Packages of growing size: time per MiB and peak memory of the extraction.

Corpora are made from this machine's files (sorted walks, so the same
machine gives the same corpora) and kept under build/bench/ between runs.
Output folders live on tmpfs (/dev/shm) when the machine has one, so that
disk speed is nobody's figure. Times are the best of several alternating
runs; the machine may be shared, and a slow run is noise, not the program.
"""
import argparse
import os
import platform
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BIN = ROOT / "build" / "bin"  # --bin-dir replaces it (to measure another build)
WORK = ROOT / "build" / "bench"
PREFIX = ROOT / "build" / "wineprefix-bench"
CORPUS_VERSION = "4"

MIXED_BYTES = 50 << 20
MIXED_FILE_MIN = 6 << 10
MIXED_FILE_LIMIT = 4 << 20
SMALL_FILES = 10000
SCALE_SIZES = (64 << 20, 256 << 20, 1 << 30)
SOURCE_ROOTS = ("/usr/share", "/usr/lib", "/usr/bin")
INF_TEXT = b"[Version]\r\nSignature=\"$Chicago$\"\r\n\r\n[DefaultInstall]\r\nAddReg=Mark\r\n[Mark]\r\nHKCU,Software\\Vantrel Test,Mark,,1\r\n"


def log(text):
    print(text, flush=True)


def run(args, **kwargs):
    return subprocess.run([str(a) for a in args], check=True, **kwargs)


# ---------------------------------------------------------------- machine

def machine_description():
    cpu = "unknown processor"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    memory = ""
    try:
        for line in open("/proc/meminfo"):
            if line.startswith("MemTotal"):
                memory = f", {int(line.split()[1]) / 1048576:.0f} GiB memory"
    except OSError:
        pass
    load = os.getloadavg()[0]

    def version(args, pattern=None):
        try:
            out = subprocess.run(args, capture_output=True, text=True, timeout=60)
            text = (out.stdout + out.stderr).strip()
        except (OSError, subprocess.TimeoutExpired):
            return "missing"
        for line in text.splitlines():
            if line.strip() and (pattern is None or re.search(pattern, line)):
                return line.strip()
        return "unknown"

    lines = [
        f"machine: {cpu}, {os.cpu_count()} cores{memory}, load {load:.2f} at start",
        f"system:  {platform.platform()}",
        f"host compiler:  {version(['g++', '--version'])}",
        f"stub compiler:  {version(['i686-w64-mingw32-g++', '--version'])}",
        f"wine:    {version(['wine', '--version'])}",
        f"7z:      {version(['7z'], '7-Zip')}",
        f"unzip:   {version(['unzip', '-v'], 'UnZip')}",
        f"libdeflate-gunzip: {version(['libdeflate-gunzip', '-V'], 'program')}",
    ]
    return "\n".join(lines)


# ---------------------------------------------------------------- corpora

def safe_name(name):
    return re.sub(r"[^A-Za-z0-9._-]", "_", name)[:60] or "file"


def gather_files(limit):
    """Real files from the machine, whole, in sorted order, up to `limit` bytes."""
    picked, total = [], 0
    share = limit // len(SOURCE_ROOTS)
    for index, root in enumerate(SOURCE_ROOTS):
        goal = limit if index == len(SOURCE_ROOTS) - 1 else total + share
        for folder, dirs, files in os.walk(root):
            dirs.sort()
            for name in sorted(files):
                path = os.path.join(folder, name)
                try:
                    if not os.path.isfile(path) or os.path.islink(path):
                        continue
                    size = os.path.getsize(path)
                except OSError:
                    continue
                if size < MIXED_FILE_MIN or size > MIXED_FILE_LIMIT or total + size > goal:
                    continue
                picked.append((root, path))
                total += size
            if total >= goal - 65536:
                break
    return picked


def make_mixed_folder(folder):
    folder.mkdir(parents=True)
    (folder / "setup.inf").write_bytes(INF_TEXT)
    for i, (root, path) in enumerate(gather_files(MIXED_BYTES)):
        # Numbered, so that names differing only in case (ChangeLog.gz and
        # changelog.gz), which are one file on Windows, stay two members.
        target = folder / safe_name(Path(root).name) / f"{i // 100:03d}" / (
            f"{i:05d}-" + safe_name(os.path.basename(path)))
        target.parent.mkdir(parents=True, exist_ok=True)
        try:
            shutil.copyfile(path, target)
        except OSError:
            continue


def make_small_folder(folder, mixed):
    """10,000 files of 1 to 8 KiB cut from the mixed corpus's bytes."""
    data = bytearray()
    for path in sorted(p for p in mixed.rglob("*") if p.is_file()):
        data += path.read_bytes()
        if len(data) >= 16 << 20:
            break
    folder.mkdir(parents=True)
    (folder / "setup.inf").write_bytes(INF_TEXT)
    for i in range(SMALL_FILES):
        size = 1024 + (i * 2654435761) % (7 * 1024 + 1)
        start = (i * 7919 * 1021) % (len(data) - size)
        target = folder / f"d{i // 100:03d}" / f"f{i:05d}.dat"
        target.parent.mkdir(exist_ok=True)
        target.write_bytes(data[start:start + size])


def zip_folder(folder, zip_path):
    run(["zip", "-6", "-r", "-q", "-X", zip_path.resolve(), "."], cwd=folder)


def make_package(zip_path, package):
    run([BIN / "vantrel-pack", "create", "-o", package, zip_path], stdout=subprocess.DEVNULL)


def scale_members(mixed):
    """The mixed corpus's bytes in eight members of about 6 MiB, deflated once."""
    data = bytearray()
    for path in sorted(p for p in mixed.rglob("*") if p.is_file()):
        data += path.read_bytes()
    members, piece = [], len(data) // 8 + 1
    for i in range(0, len(data), piece):
        chunk = bytes(data[i:i + piece])
        packer = zlib.compressobj(6, zlib.DEFLATED, -15)
        members.append((f"part{len(members)}.bin", zlib.crc32(chunk), len(chunk),
                        packer.compress(chunk) + packer.flush()))
    return members


def write_scale_zip(members, target_zip, size):
    """A zip of about `size` bytes: `members` again and again under new names,
    their compressed data copied as it is, and the INF file."""
    central, offset, copy = [], 0, 0
    with open(target_zip, "wb") as out:
        def add(name, method, crc, plain_size, data):
            nonlocal offset
            name = name.encode()
            fields = (20, 0, method, 0, 0x21, crc, len(data), plain_size, len(name), 0)
            out.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, *fields) + name + data)
            central.append(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, *fields, 0, 0, 0, 0,
                                       offset) + name)
            offset += 30 + len(name) + len(data)

        add("setup.inf", 0, zlib.crc32(INF_TEXT), len(INF_TEXT), INF_TEXT)
        while offset < size:
            for name, crc, plain_size, data in members:
                add(f"c{copy:03d}/{name}", 8, crc, plain_size, data)
            copy += 1
        directory = b"".join(central)
        out.write(directory)
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(central), len(central),
                              len(directory), offset, 0))


def prepare_corpora():
    stamp = WORK / "corpora.stamp"
    if stamp.exists() and stamp.read_text() == CORPUS_VERSION:
        return
    log("making the corpora under build/bench (once) ...")
    corpora = WORK / "corpora"
    if corpora.exists():
        shutil.rmtree(corpora)
    corpora.mkdir(parents=True)
    make_mixed_folder(corpora / "mixed")
    zip_folder(corpora / "mixed", corpora / "mixed.zip")
    make_small_folder(corpora / "small", corpora / "mixed")
    zip_folder(corpora / "small", corpora / "small.zip")
    members = scale_members(corpora / "mixed")
    for size in SCALE_SIZES:
        write_scale_zip(members, corpora / f"scale-{size >> 20}.zip", size)
    stamp.write_text(CORPUS_VERSION)


def package_corpora():
    """The packages are remade on every run: they hold the current stub."""
    corpora = WORK / "corpora"
    for name in ["mixed", "small"] + [f"scale-{s >> 20}" for s in SCALE_SIZES]:
        make_package(corpora / f"{name}.zip", corpora / f"{name}.exe")


def describe_corpus(folder, zip_path):
    files = [p for p in folder.rglob("*") if p.is_file()]
    size = sum(p.stat().st_size for p in files)
    return (f"{len(files)} files, {size / 1e6:.1f} MB, zipped (Info-ZIP level 6) to "
            f"{zip_path.stat().st_size / 1e6:.1f} MB")


# ---------------------------------------------------------------- timing

def scratch_root():
    shm = Path("/dev/shm")
    base = shm if shm.is_dir() and os.access(shm, os.W_OK) else WORK
    return Path(tempfile.mkdtemp(prefix="vantrel-bench-", dir=base))


def timed(args, out_dir, stdout_name=None):
    """Runs one extraction into a fresh `out_dir` (with `stdout_name`, its
    standard output goes to that file there): wall, CPU and user-mode CPU
    seconds."""
    if out_dir.exists():
        shutil.rmtree(out_dir)
    out_dir.mkdir(parents=True)
    sink = open(out_dir / stdout_name, "wb") if stdout_name else subprocess.DEVNULL
    start = time.perf_counter()
    process = subprocess.Popen([str(a) for a in args], stdout=sink,
                               stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    if stdout_name:
        sink.close()
    err = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"{' '.join(map(str, args))} failed ({process.returncode}): {err[-500:]}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_utime


def peak_memory(args, out_dir):
    """Peak resident memory of one extraction in MiB. Linux carries a
    process's peak across exec, so a child forked from this Python would
    report Python's own memory; GNU time forks the program from a small
    process instead."""
    if out_dir.exists():
        shutil.rmtree(out_dir)
    out_dir.mkdir(parents=True)
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + [str(a) for a in args],
                       check=True, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        return int(report.read().split()[-1]) / 1024


def extract_commands(package, zip_path, out):
    """Each tool's command line and the file its standard output goes to."""
    return {
        "vantrel-pack extract": ([BIN / "vantrel-pack", "extract", package, "-d", out], None),
        "7z x": (["7z", "x", "-y", "-bd", f"-o{out}", zip_path], None),
        "unzip": (["unzip", "-q", "-o", zip_path, "-d", out], None),
    }


def compare_extractors(title, commands, runs, scratch):
    """Best wall and CPU time of each command over `runs` alternating rounds,
    and the ratio of the first command's times to each other's."""
    log(f"\n{title}")
    best = {}
    for _ in range(runs):
        for tool, (args, stdout_name) in commands.items():
            wall, cpu, _ = timed(args, scratch / "out", stdout_name)
            old = best.get(tool)
            best[tool] = (min(old[0], wall), min(old[1], cpu)) if old else (wall, cpu)
    shutil.rmtree(scratch / "out", ignore_errors=True)
    ours_name = next(iter(commands))
    ours = best[ours_name]
    for tool, (wall, cpu) in best.items():
        log(f"  {tool:21s} {wall:7.3f} s wall  {cpu:7.3f} s CPU")
    for tool in list(commands)[1:]:
        log(f"  ratio vantrel/{tool:8s} {ours[0] / best[tool][0]:5.2f} wall  "
            f"{ours[1] / best[tool][1]:5.2f} CPU")


def make_large_member(found):
    """The decoder bench's deflate stream as the one member of a package and
    as a gzip file: the same compressed bytes for both extractors."""
    path, crc, size = found
    stream = Path(path).read_bytes()
    crc, size = int(crc, 16), int(size)
    corpora = WORK / "corpora"
    corpora.mkdir(parents=True, exist_ok=True)
    gz = corpora / "large.bin.gz"
    gz.write_bytes(b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03" + stream +
                   struct.pack("<II", crc, size & 0xFFFFFFFF))
    zip_path = corpora / "large.zip"
    with open(zip_path, "wb") as out:
        central, offset = [], 0
        for name, method, member_crc, plain, data in (
                ("setup.inf", 0, zlib.crc32(INF_TEXT), len(INF_TEXT), INF_TEXT),
                ("large.bin", 8, crc, size, stream)):
            name = name.encode()
            fields = (20, 0, method, 0, 0x21, member_crc, len(data), plain, len(name), 0)
            out.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, *fields) + name + data)
            central.append(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, *fields, 0, 0, 0,
                                       0, offset) + name)
            offset += 30 + len(name) + len(data)
        directory = b"".join(central)
        out.write(directory)
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(central), len(central),
                              len(directory), offset, 0))
    package = corpora / "large.exe"
    make_package(zip_path, package)
    return package, gz, size


def scale(scratch, runs):
    """Time per MiB of packages of growing size, best of `runs`. The
    program's own work is its user-mode time; the system time is mostly the
    kernel finding fresh tmpfs pages, which on a virtual machine that hands
    freed memory back to its host grows faster than the output. So each size
    is also written once more by dd, as one file of the same bytes, best of
    `runs`: what the extraction takes beyond that is what the program itself
    adds, and that is what must not grow faster than the package."""
    log("\nscale: vantrel-pack extract of growing packages (mixed corpus again and again)")
    rates, beyond, plain = [], [], []
    for size in SCALE_SIZES:
        reported = memory_reported()
        package = WORK / "corpora" / f"scale-{size >> 20}.exe"
        command = [BIN / "vantrel-pack", "extract", package, "-d", scratch / "out"]
        rss = peak_memory(command, scratch / "out")
        times = [timed(command, scratch / "out") for _ in range(runs)]
        best = [min(t[i] for t in times) for i in range(3)]
        written = sum(p.stat().st_size for p in (scratch / "out").rglob("*") if p.is_file())
        # In the extractor's own writes of 224 KiB.
        dd = ["dd", "if=/dev/zero", f"of={scratch / 'out' / 'blob'}", "bs=224K",
              f"count={-(-written // (224 << 10))}", "status=none"]
        store = [min(t[i] for t in [timed(dd, scratch / "out") for _ in range(runs)])
                 for i in range(2)]
        shutil.rmtree(scratch / "out", ignore_errors=True)
        mib = package.stat().st_size / 1048576
        rates.append([t / mib for t in best])
        beyond.append([(best[i] - store[i]) / mib for i in range(2)])
        plain.append(store[0] / mib)
        log(f"  package {mib:7.1f} MiB -> {written / 1048576:7.1f} MiB written: ms per MiB"
            f" {1000 * best[0] / mib:6.2f} wall, {1000 * best[1] / mib:6.2f} CPU,"
            f" {1000 * best[2] / mib:6.2f} user; peak memory {rss:6.1f} MiB")
        log(f"  {'':>15} dd writing the same bytes: ms per MiB {1000 * store[0] / mib:6.2f} wall,"
            f" {1000 * store[1] / mib:6.2f} CPU; extract beyond it"
            f" {1000 * beyond[-1][0]:6.2f} wall, {1000 * beyond[-1][1]:6.2f} CPU")
        if reported is not None:
            log(f"  {'':>15} freed memory handed back to the host meanwhile (free page"
                f" reporting): {(memory_reported() - reported) / 1024:.0f} MiB")
    log("  time per MiB, largest against smallest package: " + ", ".join(
        f"{rates[-1][i] / rates[0][i]:.2f} {kind}" for i, kind in enumerate(("wall", "CPU", "user"))))
    log("  beyond writing the bytes (dd), largest against smallest: " + ", ".join(
        f"{beyond[-1][i] / beyond[0][i]:.2f} {kind}" for i, kind in enumerate(("wall", "CPU"))))
    log(f"  dd alone, largest against smallest: {plain[-1] / plain[0]:.2f} wall")


def memory_reported():
    """KiB of freed memory this kernel has handed back to its hypervisor so
    far, or None on a machine that does not. Memory handed back costs a
    host fault per page when it is touched again, so a run that writes
    gigabytes pays more per MiB than a small one, whatever program writes."""
    try:
        return int(Path("/sys/module/page_reporting/parameters/reported_kib").read_text())
    except (OSError, ValueError):
        return None


# ---------------------------------------------------------------- decoder

def decoder_bench():
    log("\ndecoder, host build, in-process beside zlib (CPU time):")
    stream = WORK / "corpus.deflate"
    out = subprocess.run([BIN / "vantrel-bench", "--save-stream", stream], check=True,
                         capture_output=True, text=True).stdout
    found = None
    for line in out.splitlines():
        if line.startswith("stream: "):
            found = line.split()[1:]
        else:
            log("  " + line)
    return found


class Wine:
    """One Wine to run the benchmark under: its loader, server, prefix and
    architecture, and where our programs for it are built."""

    def __init__(self, arch, loader, server, prefix, programs):
        self.arch, self.loader, self.server = arch, loader, server
        self.prefix, self.programs = prefix, programs

    def env(self):
        env = dict(os.environ)
        env.update({"WINEPREFIX": str(self.prefix), "WINEARCH": self.arch, "WINEDEBUG": "-all",
                    "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe=d"})
        if self.arch == "win64":
            env["WINELOADER"] = self.loader
        env.pop("DISPLAY", None)
        return env

    def run(self, args, timeout):
        # Output to files: Wine's services keep inherited pipes open.
        with tempfile.TemporaryFile() as out:
            code = subprocess.call([str(a) for a in args], env=self.env(), stdout=out,
                                   stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                   timeout=timeout)
            out.seek(0)
            return code, out.read().decode(errors="replace")

    def cannot_start(self):
        """Why this Wine cannot run here, or None when it can."""
        try:
            out = subprocess.run([self.loader, "--version"], capture_output=True, text=True,
                                 timeout=60)
        except (OSError, subprocess.TimeoutExpired) as error:
            return f"{self.loader} does not start ({error})"
        text = out.stdout + out.stderr
        if "Exec format error" in text:
            return ("this kernel cannot run 32-bit programs (the wine loader fails with "
                    "\"Exec format error\")")
        if out.returncode != 0:
            return f"{self.loader} --version failed: {text.strip()[:200]}"
        return None

    def bench(self, exe, found):
        """Runs vantrel-wine-bench.exe on the decoder bench's stream and logs
        its figures."""
        stamp = self.prefix / ".vantrel-bench-ready"
        if not stamp.exists():
            shutil.rmtree(self.prefix, ignore_errors=True)
            self.run([self.loader, "wineboot", "-i"], timeout=600)
            self.run([self.server, "-w"], timeout=600)
            stamp.write_text("ready\n")
        path, crc, size = found
        windows_path = "Z:" + str(Path(path).resolve()).replace("/", "\\")
        code, text = self.run([self.loader, exe, windows_path, crc, size], timeout=900)
        self.run([self.server, "-k"], timeout=60)
        for line in text.splitlines():
            if line.strip():
                log("  " + line.strip())
        if code != 0:
            sys.exit(f"vantrel-wine-bench failed ({code})")


WINE32 = Wine("win32", "wine", "wineserver", PREFIX, None)
WINE64 = Wine("win64", "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver64",
              ROOT / "build" / "wineprefix64-bench", ROOT / "build" / "win64" / "bin")


def wine_bench(found):
    log("\ndecoder as the stub runs it (i686, stub flags) beside zlib for i686, under Wine"
        " (wall time):")
    exe = BIN / "vantrel-wine-bench.exe"
    if not exe.exists() or not shutil.which("wine"):
        log("  skipped: build/bin/vantrel-wine-bench.exe or wine is missing (make win32)")
        return
    reason = WINE32.cannot_start()
    if not reason:
        WINE32.bench(exe, found)
        return
    log(f"  skipped: {reason}")
    # What this machine can show instead: the same decoder sources built for
    # x86-64 (make win64), under 64-bit Wine. Not the stub's code: a 64-bit
    # bit buffer, no Pentium limit; an indication only.
    exe64 = WINE64.programs / "vantrel-wine-bench.exe"
    if exe64.exists() and not WINE64.cannot_start():
        log("  instead, as an indication only: the stub's decoder sources built for x86-64"
            " (make win64) beside zlib for x86-64, under 64-bit Wine:")
        WINE64.bench(exe64, found)


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5, help="runs per extraction (best taken)")
    parser.add_argument("--skip-scale", action="store_true", help="leave out the 1 GiB package")
    parser.add_argument("--decoder-only", action="store_true", help="only the decoder figures")
    parser.add_argument("--scale-only", action="store_true", help="only the growing packages")
    parser.add_argument("--bin-dir", type=Path, help="the programs to measure (default build/bin)")
    args = parser.parse_args()
    global BIN
    if args.bin_dir:
        BIN = args.bin_dir.resolve()
    for tool in ("zip", "7z", "unzip", "libdeflate-gunzip"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing: run scripts/bootstrap")
    WORK.mkdir(parents=True, exist_ok=True)
    log(machine_description())
    if args.scale_only:
        prepare_corpora()
        package_corpora()
        scratch = scratch_root()
        try:
            scale(scratch, min(args.runs, 3))
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        return
    found = decoder_bench()
    wine_bench(found)
    if args.decoder_only:
        return
    prepare_corpora()
    package_corpora()
    corpora = WORK / "corpora"
    scratch = scratch_root()
    try:
        package, gz, size = make_large_member(found)
        out = scratch / "out"
        compare_extractors(
            f"extract, whole process, one large member: {size / 1e6:.1f} MB deflated (zlib level 6)"
            f" to {gz.stat().st_size / 1e6:.1f} MB, output to a file", {
                "vantrel-pack extract": ([BIN / "vantrel-pack", "extract", package, "-d", out],
                                         None),
                "libdeflate-gunzip": (["libdeflate-gunzip", "-c", gz], "large.bin"),
            }, args.runs, scratch)
        for name in ("mixed", "small"):
            compare_extractors(
                f"extract, whole process, {'mixed corpus' if name == 'mixed' else 'small files'}: "
                + describe_corpus(corpora / name, corpora / f"{name}.zip"),
                extract_commands(corpora / f"{name}.exe", corpora / f"{name}.zip", out),
                args.runs, scratch)
        if not args.skip_scale:
            scale(scratch, min(args.runs, 3))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
