#!/usr/bin/env python3
"""The Wine tier: the real vantrel-stub.exe, with packages made by vantrel-pack,
run under 32-bit Wine inside Xvfb and driven by vantrel-guidriver.exe.

Usage: run_tests.py [--bin-dir DIR] [--windows-bin-dir DIR] [--prefix DIR] [-k PATTERN] [-v]
Ends with the line "N passed, N failed, N skipped"; exit status 1 when a
test failed or the platform could not be set up.
"""

import argparse
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import wine_kind  # noqa: E402
from harness import ROOT, Session  # noqa: E402


def parse_arguments(kind):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin-dir", default=ROOT / "build" / "bin",
                        help="where vantrel-pack is")
    parser.add_argument("--windows-bin-dir", default=kind.windows_bin,
                        help="where vantrel-stub.exe and vantrel-guidriver.exe are")
    parser.add_argument("--prefix", default=kind.prefix,
                        help="the tests' own Wine prefix (made on first use)")
    parser.add_argument("--work-dir", default=ROOT / "build" / "wine-tests")
    parser.add_argument("--screenshots", default=ROOT / "build" / "screenshots")
    parser.add_argument("-k", dest="patterns", action="append",
                        help="run only tests whose name contains PATTERN")
    parser.add_argument("-v", "--verbose", action="store_true")
    return parser.parse_args()


def load_tests(patterns):
    loader = unittest.TestLoader()
    if patterns:
        loader.testNamePatterns = [f"*{p}*" for p in patterns]
    here = Path(__file__).resolve().parent
    return loader.discover(str(here), pattern="test_*.py", top_level_dir=str(here))


def main():
    kind = wine_kind.current()
    args = parse_arguments(kind)
    if not kind.has_16bit:
        print(f"wine tests: the {kind.arch} build under 64-bit Wine; "
              f"{wine_kind.NO_16BIT_REASON}", flush=True)
    session = Session(kind, args.bin_dir, args.windows_bin_dir, args.prefix, args.work_dir,
                      args.screenshots)
    started = time.monotonic()
    try:
        session.start()
    except Exception as error:  # noqa: BLE001 - any set-up failure fails the tier
        session.stop()
        print(f"wine tests: cannot set up the platform: {error}", file=sys.stderr)
        print("0 passed, 1 failed")
        return 1
    try:
        suite = load_tests(args.patterns)
        result = unittest.TextTestRunner(verbosity=2 if args.verbose else 1,
                                         stream=sys.stdout).run(suite)
    finally:
        session.stop()
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    skipped = len(result.skipped)
    passed = result.testsRun - failed - skipped
    print(f"wine tests took {time.monotonic() - started:.0f} s; "
          f"screenshots in {session.screenshot_dir}")
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or result.testsRun == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
