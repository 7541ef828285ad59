"""What the Wine tests stand on: an X display, a Wine prefix of the run's own,
the GUI driver that acts as the user, packages made by vantrel-pack, and runs
of the setup programs with their exit codes and screenshots.

Every wait here is bounded; nothing waits for a program that may hang.
"""

import json
import os
import pwd
import select
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
DESKTOP_SIZE = (800, 600)
# Created last when a prefix is ready, so that a prefix whose set-up was
# interrupted is made again instead of being used half-made.
READY_STAMP = ".vantrel-ready"


class HarnessError(Exception):
    """The test platform itself failed (not the program under test)."""


def _decode(data):
    return data.decode("utf-8", "replace") if data else ""


class Display:
    """An Xvfb server on a free display number, the size of the Wine desktop."""

    def __init__(self):
        self.process = None
        self.name = None

    def start(self, timeout=20):
        read_end, write_end = os.pipe()
        width, height = DESKTOP_SIZE
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        try:
            number = self._read_display_number(read_end, timeout)
        except HarnessError:
            self.stop()
            raise
        finally:
            os.close(read_end)
        self.name = ":" + number
        return self.name

    @staticmethod
    def _read_display_number(read_end, timeout):
        number = b""
        deadline = time.monotonic() + timeout
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                raise HarnessError("Xvfb did not report a display in time")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise HarnessError("Xvfb ended before reporting a display")
            number += chunk
        return number.decode().strip()

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=5)
        self.process = None

    def screenshot(self, path, rect=None, margin=0):
        """The whole screen, or the rectangle [left, top, right, bottom] of a
        window (screen and Wine desktop coordinates are the same)."""
        path = Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        command = ["import", "-display", self.name, "-window", "root"]
        if rect:
            left, top = max(rect[0] - margin, 0), max(rect[1] - margin, 0)
            right = min(rect[2] + margin, DESKTOP_SIZE[0])
            bottom = min(rect[3] + margin, DESKTOP_SIZE[1])
            command += ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
        subprocess.run(command + [str(path)], check=True, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        return path


class WinePrefix:
    """A Wine prefix used only by these tests, of the kind's architecture, with
    a virtual desktop so that windows are drawn with frames and captions."""

    def __init__(self, path, display, kind):
        self.path = Path(path)
        self.display = display
        self.kind = kind
        self.server = None

    @property
    def env(self):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": str(self.path),
            "WINEDEBUG": "-all",
            "DISPLAY": self.display.name,
            # No Mono or Gecko download prompts, no menu entries on the host.
            "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe=d",
        })
        env.update(self.kind.env())
        return env

    def _tool(self, args, timeout):
        # Output goes to files, not pipes: Wine's desktop and services are
        # started by whichever program comes first and keep its handles
        # open, so a pipe would never reach its end.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.Popen(args, env=self.env, stdout=out, stderr=err,
                                       stdin=subprocess.DEVNULL)
            try:
                code = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                raise HarnessError(f"{' '.join(map(str, args))} did not end in {timeout} s")
            out.seek(0)
            err.seek(0)
            return code, _decode(out.read()), _decode(err.read())

    def prepare(self):
        # A server left by an interrupted run would still talk to its old display.
        self._tool([self.kind.wineserver, "-k"], timeout=60)
        if not (self.path / READY_STAMP).exists():
            self._make()
        self.hide_setupx()
        # One server for the whole run, so that each program starts quickly.
        self.start_server()
        self.wine(["cmd", "/c", "exit"], timeout=120)

    def start_server(self):
        self.server = subprocess.Popen([self.kind.wineserver, "-f", "-p"], env=self.env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _make(self):
        if self.path.exists():
            shutil.rmtree(self.path)
        self.path.parent.mkdir(parents=True, exist_ok=True)
        rc, _, err = self._tool([self.kind.wine, "wineboot", "-i"], timeout=300)
        if rc != 0:
            raise HarnessError(f"wineboot -i failed ({rc}): {err.strip()[-500:]}")
        self._tool([self.kind.wineserver, "-w"], timeout=300)
        width, height = DESKTOP_SIZE
        self.reg_add(r"HKCU\Software\Wine\Explorer", "Desktop", "Default")
        self.reg_add(r"HKCU\Software\Wine\Explorer\Desktops", "Default", f"{width}x{height}")
        # Caption buttons are drawn with Marlett; Debian keeps Wine's fonts
        # outside the prefix, where not every Wine build looks for them.
        fonts = Path("/usr/share/wine/fonts")
        if fonts.is_dir():
            for font in fonts.glob("*.ttf"):
                shutil.copy(font, self.drive_c / "windows" / "Fonts" / font.name)
        self._tool([self.kind.wineserver, "-k"], timeout=60)
        self._tool([self.kind.wineserver, "-w"], timeout=60)
        (self.path / READY_STAMP).write_text("ready\n")

    # Wine's prefix says it is Windows NT but carries a 16-bit setupx.dll in
    # system32, which Windows NT does not have; its presence is how a setup
    # program tells Windows 95/98. It is kept aside here so that the prefix
    # is a faithful NT, and put back only by the tests of the 95/98 road.
    @property
    def setupx(self):
        return self.system_dir / "setupx.dll"

    @property
    def setupx_aside(self):
        return self.system_dir / "setupx.dll.aside"

    def hide_setupx(self):
        if self.setupx.exists():
            self.setupx.replace(self.setupx_aside)

    def restore_setupx(self):
        if self.setupx_aside.exists():
            shutil.copy(self.setupx_aside, self.setupx)

    def shutdown(self):
        self._tool([self.kind.wineserver, "-k"], timeout=60)
        if self.server:
            try:
                self.server.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.server.kill()
            self.server = None

    def kill_programs(self):
        """Ends every Windows program of the prefix (a test left one running)."""
        self.shutdown()
        self.start_server()

    # Paths

    @property
    def drive_c(self):
        return self.path / "drive_c"

    @property
    def user_dir(self):
        users = self.drive_c / "users"
        name = pwd.getpwuid(os.getuid()).pw_name
        if (users / name).is_dir():
            return users / name
        others = [d for d in users.iterdir() if d.is_dir() and d.name != "Public"]
        if len(others) != 1:
            raise HarnessError(f"cannot tell the Wine user's folder in {users}")
        return others[0]

    @property
    def temp_dir(self):
        """What GetTempPathA gives the programs (C:\\users\\NAME\\Temp)."""
        return self.user_dir / "Temp"

    @property
    def system_dir(self):
        return self.drive_c / "windows" / "system32"

    def windows_path(self, host_path):
        host_path = Path(host_path).resolve()
        try:
            return "C:\\" + "\\".join(host_path.relative_to(self.drive_c.resolve()).parts)
        except ValueError:
            return "Z:" + str(host_path).replace("/", "\\")

    # Programs

    def wine(self, args, timeout=60):
        """Runs a Windows program to its end; returns (exit code, stdout, stderr)."""
        return self._tool([self.kind.wine] + [str(a) for a in args], timeout)

    def start(self, args, log_path):
        """Starts a Windows program without waiting for it."""
        log = open(log_path, "wb")
        try:
            return subprocess.Popen([self.kind.wine] + [str(a) for a in args], env=self.env,
                                    stdout=log, stderr=subprocess.STDOUT,
                                    start_new_session=True)
        finally:
            log.close()

    def command_lines(self):
        """The Windows command lines of the programs now running in this
        prefix (Wine shows them as the processes' Linux command lines)."""
        marker = f"WINEPREFIX={self.path}".encode()
        lines = []
        for proc in Path("/proc").iterdir():
            if not proc.name.isdigit():
                continue
            try:
                if marker not in (proc / "environ").read_bytes().split(b"\0"):
                    continue
                line = (proc / "cmdline").read_bytes()
            except OSError:
                continue
            lines.append(_decode(line.replace(b"\0", b" ")).strip())
        return lines

    # Registry, through Wine's own reg.exe (the server keeps the files stale)

    def reg_add(self, key, name, value):
        rc, _, err = self.wine(["reg", "add", key, "/v", name, "/d", value, "/f"])
        if rc != 0:
            raise HarnessError(f"reg add {key} {name} failed: {err.strip()}")

    def reg_delete(self, key, name=None):
        args = ["reg", "delete", key, "/f"] + (["/v", name] if name else [])
        self.wine(args)

    def reg_value(self, key, name):
        """The data of a value as reg.exe prints it, or None when it is missing."""
        rc, out, _ = self.wine(["reg", "query", key, "/v", name])
        if rc != 0:
            return None
        for line in out.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == name.lower() and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        return None


class Window:
    """One top-level window as the driver described it."""

    def __init__(self, data):
        self.data = data
        self.handle = data["hwnd"]
        self.caption = data["caption"]
        self.rect = data["rect"]
        self.exe = data["exe"]
        self.controls = {c["id"]: c for c in data["controls"]}

    def text(self, control_id):
        return self.controls[control_id]["text"]

    def enabled(self, control_id):
        return self.controls[control_id]["enabled"]

    def __repr__(self):
        return f"Window({self.caption!r}, {self.exe}, {sorted(self.controls)})"


# Message boxes keep their text in the static control with this id.
MESSAGE_TEXT_ID = 0xFFFF


class Driver:
    """vantrel-guidriver.exe, run in the prefix: the user's hands and eyes."""

    NOT_FOUND, USAGE, REFUSED = 1, 2, 3

    def __init__(self, prefix, exe_path):
        self.prefix = prefix
        self.exe = Path(exe_path)

    def _run(self, command, args, selector, timeout):
        argv = [self.exe, command] + [str(a) for a in args]
        for key, value in selector.items():
            if key == "dialog":
                if value:
                    argv.append("--dialog")
            elif value is not None:
                argv += ["--" + key.replace("_", "-"), value]
        argv += ["--timeout", str(int(timeout * 1000))]
        rc, out, err = self.prefix.wine(argv, timeout=timeout + 60)
        if rc == self.USAGE:
            raise HarnessError(f"driver usage error: {err.strip()}")
        lines = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
        return rc, lines, err

    def windows(self, **selector):
        _, lines, _ = self._run("list", [], selector, 0)
        return [Window(line) for line in lines]

    def wait(self, timeout=20, **selector):
        """The first matching window, waiting up to timeout seconds; None if none came."""
        rc, lines, _ = self._run("wait", [], selector, timeout)
        return Window(lines[0]) if rc == 0 and lines else None

    def gone(self, timeout=20, **selector):
        rc, _, _ = self._run("gone", [], selector, timeout)
        return rc == 0

    def text(self, control_id, timeout=20, **selector):
        rc, lines, err = self._run("text", [control_id], selector, timeout)
        if rc != 0:
            raise HarnessError(f"cannot read control {control_id}: {err.strip()}")
        return lines[0]["text"]

    def click(self, control_id, timeout=20, **selector):
        """Presses a button as a user would; returns the driver's exit code
        (0 pressed, REFUSED when the button or its window is disabled)."""
        rc, _, _ = self._run("click", [control_id], selector, timeout)
        return rc

    def bm_click(self, control_id, timeout=20, **selector):
        rc, _, _ = self._run("bmclick", [control_id], selector, timeout)
        return rc

    def type(self, control_id, text, timeout=20, **selector):
        rc, _, _ = self._run("type", [control_id, text], selector, timeout)
        return rc

    def key(self, name, timeout=20, **selector):
        rc, _, _ = self._run("key", [name], selector, timeout)
        return rc

    def answer(self, button, timeout=20, **selector):
        """Reads a message box and presses one of its buttons; returns the box
        as it was, or None when no box came."""
        selector.setdefault("dialog", True)
        rc, lines, _ = self._run("answer", [button], selector, timeout)
        return Window(lines[0]) if rc == 0 and lines else None

    def close(self, timeout=20, **selector):
        rc, _, _ = self._run("close", [], selector, timeout)
        return rc

    def post(self, name, value, timeout=20, **selector):
        rc, _, _ = self._run("post", [name, value], selector, timeout)
        return rc

    def wait_for_text(self, control_id, expected, timeout=30, **selector):
        """Polls a control until it shows `expected`; returns the last text read."""
        deadline = time.monotonic() + timeout
        while True:
            rc, lines, _ = self._run("text", [control_id], selector, 5)
            text = lines[0]["text"] if rc == 0 and lines else None
            if text == expected or time.monotonic() > deadline:
                return text
            time.sleep(0.1)

    def watch(self, exe, log_path, timeout=120):
        """Starts watching for windows of the program `exe` until it ends;
        finish with watch_result()."""
        argv = [self.exe, "watch", "--exe", exe, "--timeout", str(int(timeout * 1000))]
        process, log_path = self.prefix.start(argv, log_path), Path(log_path)
        # Returns once the watch runs, so that nothing the test starts next
        # can come and go before the watch looks.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if log_path.exists() and "watching" in log_path.read_text():
                return process, log_path, timeout
            if process.poll() is not None:
                break
            time.sleep(0.02)
        raise HarnessError(f"the window watch did not start: {log_path.read_text()}")

    @staticmethod
    def wait_until_seen(watch, captions, timeout=30):
        """Waits until the watch has described a window of each caption: the
        watch is a program of its own that may start late on a busy machine,
        and what the test does next may close those windows."""
        _, log_path, _ = watch
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            text = log_path.read_text() if log_path.exists() else ""
            seen = {Window(json.loads(line)).caption for line in text.splitlines()
                    if line.startswith("{") and line.endswith("}")}
            if set(captions) <= seen:
                return
            time.sleep(0.05)
        raise AssertionError(f"the window watch did not see {captions} within {timeout} s")

    @staticmethod
    def watch_result(watch):
        process, log_path, timeout = watch
        try:
            process.wait(timeout=timeout + 30)
        except subprocess.TimeoutExpired:
            process.kill()
            raise HarnessError("the window watch did not end")
        text = log_path.read_text()
        # A watch that never saw the program saw none of its windows either.
        if "never ran" in text:
            raise AssertionError(f"the window watch never saw the program run: {text.strip()}")
        return [Window(json.loads(line)) for line in text.splitlines() if line.startswith("{")]


class SetupRun:
    """One run of a setup program under Wine, with the arguments given.

    With `through_cmd` the program is started as a deployment script starts
    it, from a batch file under Wine's cmd (`start "" /wait`), which then
    echoes %ERRORLEVEL%: the whole exit code, as Windows reports it, where
    `wine` itself hands on only its low 8 bits; `start_in`, a folder, is
    made the batch file's current folder first, which the program inherits."""

    EXIT_LINE = "exit code "

    def __init__(self, prefix, program, log_dir, driver=None, arguments=(), through_cmd=False,
                 start_in=None):
        self.program = Path(program)
        self.driver = driver
        self.log_path = Path(log_dir) / (self.program.stem + ".log")
        command = [prefix.windows_path(self.program)] + list(arguments)
        if through_cmd:
            script = Path(log_dir) / (self.program.stem + ".bat")
            # Each line of a batch file is read when it runs, so %ERRORLEVEL%
            # is the program's code, not the one from before it started.
            enter = f'@cd /d "{prefix.windows_path(start_in)}"\r\n' if start_in else ""
            script.write_text(enter +
                              f'@start "" /wait "{command[0]}" {" ".join(command[1:])}\r\n'
                              f"@echo {self.EXIT_LINE}%ERRORLEVEL%\r\n")
            command = ["cmd", "/c", prefix.windows_path(script)]
        self.process = prefix.start(command, self.log_path)

    def windows_exit_code(self, timeout=60):
        """The exit code as the batch file of a run `through_cmd` read it."""
        self.wait(timeout)
        for line in self.log_path.read_text(errors="replace").splitlines():
            if line.startswith(self.EXIT_LINE):
                return int(line[len(self.EXIT_LINE):])
        raise AssertionError(f"no exit code in {self.log_path}")

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process.poll() is None

    def wait(self, timeout=60):
        """The program's exit code; raises AssertionError when it does not end."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            # What it still showed says why it did not end.
            shown = self.driver.windows(exe=self.program.name) if self.driver else []
            self.kill()
            raise AssertionError(f"{self.program.name} did not end within {timeout} s; "
                                 f"its windows: {[w.data for w in shown]}")

    def kill(self):
        if self.running():
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait(timeout=10)

    def cpu_seconds(self):
        """User plus system processor time of the program so far (Linux)."""
        fields = Path(f"/proc/{self.pid}/stat").read_text().rsplit(")", 1)[1].split()
        ticks = os.sysconf("SC_CLK_TCK")
        return (int(fields[11]) + int(fields[12])) / ticks


class Packer:
    """vantrel-pack create, with the options spelled as keyword arguments."""

    FLAGS = {"stay_open": "--stay-open", "admin": "--admin", "advpack": "--advpack",
             "skip_check": "--skip-check", "no_inf_check": "--no-inf-check"}
    VALUES = {"title": "--title", "inf": "--inf", "welcome": "--welcome",
              "welcome_file": "--welcome-file", "licence_file": "--licence-file",
              "password": "--password", "level": "--level", "split": "--split",
              "codepage": "--codepage", "elevation": "--elevation",
              "product_name": "--product-name", "product_version": "--product-version",
              "company": "--company", "description": "--description",
              "copyright": "--copyright"}

    def __init__(self, bin_dir, windows_bin_dir):
        self.tool = Path(bin_dir) / "vantrel-pack"
        self.stub = Path(windows_bin_dir) / "vantrel-stub.exe"

    def create(self, output, source, **options):
        argv = [str(self.tool), "create", "-o", str(output), "--stub", str(self.stub)]
        for key, value in options.items():
            if key in self.FLAGS:
                if value:
                    argv.append(self.FLAGS[key])
            elif key in self.VALUES:
                if value is not None:
                    argv += [self.VALUES[key], str(value)]
            else:
                raise HarnessError(f"unknown package option {key}")
        result = subprocess.run(argv + [str(source)], timeout=300,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if result.returncode != 0:
            raise HarnessError(f"vantrel-pack create failed: {_decode(result.stderr).strip()}")
        return Path(output)

    def inf(self, folder, *options):
        """vantrel-pack inf FOLDER with the command-line options given; the INF's path."""
        result = subprocess.run([str(self.tool), "inf", *map(str, options), str(folder)],
                                timeout=60, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if result.returncode != 0:
            raise HarnessError(f"vantrel-pack inf failed: {_decode(result.stderr).strip()}")
        return Path(_decode(result.stdout).split(":", 1)[0])


class Session:
    """Everything one run of the tier shares: display, prefix, driver, packer
    and the folders for work files and screenshots."""

    current = None

    def __init__(self, kind, bin_dir, windows_bin_dir, prefix_dir, work_dir, screenshot_dir):
        self.kind = kind
        self.bin_dir = Path(bin_dir)
        self.work_dir = Path(work_dir)
        self.screenshot_dir = Path(screenshot_dir)
        self.display = Display()
        self.prefix = WinePrefix(prefix_dir, self.display, kind)
        windows_bin_dir = Path(windows_bin_dir)
        self.driver = Driver(self.prefix, windows_bin_dir / "vantrel-guidriver.exe")
        self.packer = Packer(self.bin_dir, windows_bin_dir)
        self.planted = windows_bin_dir / "vantrel-planted.exe"
        self.verinfo = windows_bin_dir / "vantrel-verinfo.exe"
        self.display_size = DESKTOP_SIZE

    def start(self):
        needed = (self.packer.tool, self.packer.stub, self.driver.exe)
        missing = [p for p in needed if not p.exists()]
        if missing:
            raise HarnessError("not built: " + ", ".join(str(p) for p in missing))
        for tool in (self.kind.wine, self.kind.wineserver, "Xvfb", "import"):
            if not shutil.which(tool):
                raise HarnessError(f"{tool} is not installed (scripts/bootstrap installs it)")
        if self.work_dir.exists():
            shutil.rmtree(self.work_dir)
        self.work_dir.mkdir(parents=True)
        self.screenshot_dir.mkdir(parents=True, exist_ok=True)
        self.display.start()
        self.prefix.prepare()
        Session.current = self

    def stop(self):
        Session.current = None
        try:
            self.prefix.shutdown()
        finally:
            self.display.stop()

    def screenshot(self, name, window=None):
        """Saves the screen, or one window with a small margin, as NAME.png."""
        time.sleep(0.3)  # let the window finish painting
        if window:
            # Where it stands now: a dialog may still have been moving.
            window = self.driver.wait(timeout=5, hwnd=window.handle) or window
        rect = window.rect if window else None
        return self.display.screenshot(self.screenshot_dir / f"{name}.png", rect, margin=4)
