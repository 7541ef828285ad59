#!/usr/bin/env python3
"""Which Wine the tier runs, and which build of our Windows programs it runs.

The product is the 32-bit stub, and 32-bit Wine runs it whenever this kernel
runs i386 programs. Some kernels do not: they are built or booted without
32-bit emulation (`ia32_emulation=off`), and the i386 Wine loader then fails
with "Exec format error". There the tier runs the same sources built for
x86-64 (`make win64`, build/win64/bin) under 64-bit Wine instead: the same
dialogs, calls and installers, minus Windows' 16-bit support (the setupx road
through rundll.exe), whose tests skip and say why.

An i386 interpreter registered with binfmt_misc (qemu-user) would start 32-bit
Wine on such a kernel, but at about 50 s of processor time per program start,
far too slowly for the tier; it counts as no 32-bit support.

VANTREL_WINE_ARCH=win32 or win64 overrides the choice. Run as a program, this
prints the kind's name, for the Makefile.
"""

import os
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
LOADER_32 = "/usr/lib/wine/wine"
BINFMT = Path("/proc/sys/fs/binfmt_misc")
# ELF, 32-bit, little-endian, machine i386: what a binfmt_misc entry for an
# emulator of i386 programs matches.
I386_ELF_MAGIC = "7f454c4601010100"


class WineKind:
    def __init__(self, arch, wine, wineserver, windows_bin, prefix, has_16bit):
        self.arch = arch
        self.wine = wine
        self.wineserver = wineserver
        self.windows_bin = windows_bin
        self.prefix = prefix
        self.has_16bit = has_16bit

    def env(self):
        """What every Wine program of the tier needs to find this Wine."""
        env = {"WINEARCH": self.arch}
        if self.arch == "win64":
            # Wine starts further programs (the installers) with this loader.
            env["WINELOADER"] = self.wine
        return env


WIN32 = WineKind("win32", "wine", "wineserver", ROOT / "build" / "bin",
                 ROOT / "build" / "wineprefix", has_16bit=True)
WIN64 = WineKind("win64", "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver64",
                 ROOT / "build" / "win64" / "bin", ROOT / "build" / "wineprefix64",
                 has_16bit=False)
NO_16BIT_REASON = ("Windows' 16-bit support (rundll.exe, setupx) needs 32-bit Wine, which "
                   "this machine's kernel cannot run (no ia32 emulation)")


def i386_emulated():
    """True when an enabled binfmt_misc entry hands i386 programs to an emulator."""
    try:
        entries = list(BINFMT.iterdir())
    except OSError:
        return False
    for entry in entries:
        try:
            text = entry.read_text()
        except OSError:
            continue
        if text.startswith("enabled") and f"magic {I386_ELF_MAGIC}" in text:
            return True
    return False


def kernel_runs_i386():
    if i386_emulated():
        return False
    try:
        result = subprocess.run([LOADER_32, "--version"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return result.returncode == 0


def current():
    forced = os.environ.get("VANTREL_WINE_ARCH")
    if forced:
        kinds = {k.arch: k for k in (WIN32, WIN64)}
        if forced not in kinds:
            sys.exit(f"VANTREL_WINE_ARCH must be win32 or win64, not {forced!r}")
        return kinds[forced]
    return WIN32 if kernel_runs_i386() else WIN64


if __name__ == "__main__":
    print(current().arch)
