"""Packages whose INF file `vantrel-pack inf` wrote, on every road: the files
with their sub-folder and the spaces in their names, the Start-menu shortcut,
the Add/Remove Programs entry, the program started through its shortcut, and
the uninstall that entry runs, which must leave nothing of the application.

Wine's setupx.dll hands the INF to setupapi, which picks the NT sections
while Wine reports an NT version; the 9x sections themselves run when Wine
reports Windows 98 for every program."""

import shutil
import time
import unittest
import zipfile

from test_install import InstallCase
from wine_case import INSTALL_ID

APP = "Acme Mines"
INF = "acmemine.inf"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + APP
PROGRAM = "Acme Mines.exe"
FILES = ("Acme Mines.exe", "Read Me.txt", "docs/User Guide.txt")
PLANTED_MARK = "vantrel-planted.txt"


class InfRoadsCase(InstallCase):
    def setUp(self):
        super().setUp()
        self.clean_application()
        self.addCleanup(self.clean_application)

    @property
    def app_dir(self):
        return self.prefix.drive_c / "Program Files" / APP

    @property
    def menu_dir(self):
        """The all-users Start-menu folder the shortcut goes into."""
        return (self.prefix.drive_c / "ProgramData" / "Microsoft" / "Windows" / "Start Menu" /
                "Programs" / APP)

    @property
    def inf_copy(self):
        return self.prefix.drive_c / "windows" / "inf" / INF

    @property
    def setup_ini(self):
        return self.prefix.drive_c / "windows" / "setup.ini"

    def clean_application(self):
        # The stub leaves the folders it extracted into; these tests take theirs away.
        for folder in (self.app_dir, self.menu_dir, self.vantrel_temp):
            shutil.rmtree(folder, ignore_errors=True)
        for path in (self.inf_copy, self.setup_ini, self.prefix.drive_c / PLANTED_MARK):
            path.unlink(missing_ok=True)
        self.prefix.reg_delete(UNINSTALL_KEY)

    def inf_package(self, advpack=False, welcome=None, targets=None):
        """The application folder, its INF written by vantrel-pack inf, and the package."""
        source = self.work / ("app-advpack" if advpack else "app" + (targets or ""))
        (source / "docs").mkdir(parents=True)
        # The program marks C:\vantrel-planted.txt with its command line when it runs.
        shutil.copy(self.session.planted, source / PROGRAM)
        (source / "Read Me.txt").write_bytes(b"Read me first.\r\n")
        (source / "docs" / "User Guide.txt").write_bytes(b"How to play.\r\n" * 50)
        options = ["--name", APP, "--version", "1.0", "--publisher", "Acme Ltd",
                   "--shortcut", f"{APP}={PROGRAM}"] + (["--advpack"] if advpack else [])
        options += ["--targets", targets] if targets else []
        self.assertEqual(self.session.packer.inf(source, *options).name, INF)
        self.source = source
        return self.package(f"setup-{source.name}.exe", source=source, title=APP,
                            welcome=welcome, advpack=advpack)

    def install(self, package):
        run = self.start(package)
        self.assertEqual(run.wait(timeout=120), 0)
        self.assert_extracted_files_gone()

    def assert_extracted_files_gone(self):
        # The stub deletes the files it extracted; the folders it made stay.
        self.assertEqual([p.relative_to(self.vantrel_temp).as_posix()
                          for p in sorted(self.vantrel_temp.rglob("*"))], ["docs"])

    def assert_installed(self, uninstall):
        for name in FILES:
            self.assertEqual((self.app_dir / name).read_bytes(), (self.source / name).read_bytes(),
                             name)
        self.assertTrue(self.inf_copy.exists(), "the INF was not copied for the uninstall")
        values = {name: self.prefix.reg_value(UNINSTALL_KEY, name)
                  for name in ("DisplayName", "DisplayVersion", "Publisher", "UninstallString",
                               "InstallLocation")}
        self.assertEqual(values, {"DisplayName": APP, "DisplayVersion": "1.0",
                                  "Publisher": "Acme Ltd", "UninstallString": uninstall,
                                  "InstallLocation": f"C:\\Program Files\\{APP}"})

    def assert_shortcut_starts_the_program(self):
        link = self.menu_dir / f"{APP}.lnk"
        self.assertTrue(link.exists(), "no shortcut in the Start menu")
        # Wine writes the .lnk itself; winemenubuilder (disabled here) would
        # only add a menu entry on the host.
        mark = self.prefix.drive_c / PLANTED_MARK
        self.prefix.wine(["start", self.prefix.windows_path(link)])
        deadline = time.monotonic() + 30
        while not mark.exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertTrue(mark.exists(), "the shortcut did not start the program")
        self.assertIn(f"C:\\Program Files\\{APP}\\{PROGRAM}", mark.read_text())
        mark.unlink()

    def uninstall(self):
        """Runs the command line the Add/Remove Programs entry holds: its first
        token a quoted program, then arguments without spaces."""
        command = self.prefix.reg_value(UNINSTALL_KEY, "UninstallString")
        self.assertTrue(command.startswith('"'), command)
        program, arguments = command[1:].split('" ', 1)
        code, _, err = self.prefix.wine([program] + arguments.split(" "), timeout=120)
        self.assertEqual(code, 0, err)

    def left_behind(self):
        """What remains of the application: files and folders, its key, its INF."""
        left = []
        for root in (self.app_dir, self.menu_dir):
            if root.exists():
                left.append(self.prefix.windows_path(root))
                left += [self.prefix.windows_path(p) for p in sorted(root.rglob("*"))]
        if self.inf_copy.exists():
            left.append(self.prefix.windows_path(self.inf_copy))
        if self.prefix.reg_value(UNINSTALL_KEY, "DisplayName") is not None:
            left.append(UNINSTALL_KEY)
        return left

    # setupapi has no directive that removes a folder: the empty folders of
    # the files and of the shortcut stay (on Windows the shortcut's folder
    # goes through ProfileItems, which Wine does not delete).
    SETUPAPI_LEAVES = [f"C:\\Program Files\\{APP}", f"C:\\Program Files\\{APP}\\docs",
                       f"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\{APP}"]


class InfRoadsTest(InfRoadsCase):
    SETUPAPI_UNINSTALL = ('"C:\\windows\\system32\\rundll32.exe" setupapi,InstallHinfSection '
                          f"DefaultUninstall 132 C:\\windows\\inf\\{INF}")

    def test_setupapi_road_installs_and_uninstalls(self):
        if self.session.kind.arch != "win32":
            # 64-bit setupapi decorates with .NTamd64 and so runs the 95/98
            # sections; the 32-bit stub always meets 32-bit setupapi.
            self.skipTest("the .NTx86 sections run only under 32-bit setupapi")
        self.install(self.inf_package())
        self.assert_installed(self.SETUPAPI_UNINSTALL)
        self.assert_shortcut_starts_the_program()
        self.uninstall()
        self.assertEqual(self.left_behind(), self.SETUPAPI_LEAVES)

    def test_nt_only_inf_written_by_inf_installs_and_uninstalls(self):
        if self.session.kind.arch != "win32":
            self.skipTest("the .NTx86 sections run only under 32-bit setupapi")
        package = self.inf_package(targets="nt")
        self.assertIn(b'Signature="$Windows NT$"', (self.source / INF).read_bytes())
        self.assertNotIn(b"\r\n[DefaultInstall]\r\n", (self.source / INF).read_bytes())
        self.install(package)
        self.assert_installed(self.SETUPAPI_UNINSTALL)
        self.assert_shortcut_starts_the_program()
        self.uninstall()
        self.assertEqual(self.left_behind(), self.SETUPAPI_LEAVES)

    def test_nt_only_inf_packs_as_it_is_and_installs_on_the_nt_road(self):
        if self.session.kind.arch != "win32":
            self.skipTest("the .NTx86 sections run only under 32-bit setupapi")
        # As Microsoft's NT examples write it: no 8.3 name, no [DefaultInstall].
        source = self.work / "nt-only"
        source.mkdir()
        (source / "Read Me.txt").write_bytes(b"Read me first.\r\n")
        (source / "acme-notes-setup.inf").write_bytes(
            b'[Version]\r\nSignature="$Windows NT$"\r\n'
            b"[DefaultInstall.NTx86]\r\nCopyFiles=Files\r\n"
            b'[DestinationDirs]\r\nFiles=16422,"Acme Mines"\r\n'
            b'[Files]\r\n"Read Me.txt"\r\n'
            b'[SourceDisksNames]\r\n1="Acme",,,\r\n[SourceDisksFiles]\r\n"Read Me.txt"=1\r\n')
        run = self.start(self.package("setup-nt-only.exe", source=source))
        self.assertEqual(run.wait(timeout=120), 0)
        self.assertEqual((self.app_dir / "Read Me.txt").read_bytes(), b"Read me first.\r\n")

    def test_utf8_flagged_name_installs_in_the_code_page(self):
        if self.session.kind.arch != "win32":
            self.skipTest("the .NTx86 sections run only under 32-bit setupapi")
        # Python's zipfile flags a non-ASCII name as UTF-8 (bit 11), as 7-Zip does.
        archive = self.work / "utf8-names.zip"
        with zipfile.ZipFile(archive, "w") as zip_file:
            zip_file.writestr("acme.inf", (
                '[Version]\r\nSignature="$Windows NT$"\r\n'
                "[DefaultInstall.NTx86]\r\nCopyFiles=Files\r\n"
                '[DestinationDirs]\r\nFiles=16422,"Acme Mines"\r\n'
                '[Files]\r\n"Caf\u00e9 Menu.txt"\r\n[SourceDisksNames]\r\n1="Acme",,,\r\n'
                '[SourceDisksFiles]\r\n"Caf\u00e9 Menu.txt"=1\r\n').encode("cp1252"))
            zip_file.writestr("Caf\u00e9 Menu.txt", b"Soup of the day.\r\n")
        self.assertTrue(zipfile.ZipFile(archive).infolist()[1].flag_bits & 0x800)
        run = self.start(self.package("setup-utf8-names.exe", source=archive))
        self.assertEqual(run.wait(timeout=120), 0)
        self.assertEqual((self.app_dir / "Caf\u00e9 Menu.txt").read_bytes(),
                         b"Soup of the day.\r\n")

    def test_advpack_road_installs_and_uninstalls_leaving_no_folder(self):
        self.install(self.inf_package(advpack=True))
        self.assert_installed('"C:\\windows\\system32\\rundll32.exe" advpack,LaunchINFSection '
                              f"C:\\windows\\inf\\{INF},DefaultUninstall.NTx86")
        self.assert_shortcut_starts_the_program()
        self.uninstall()
        self.assertEqual(self.left_behind(), [])

    def test_setupx_road_installs_and_uninstalls(self):
        self.use_setupx()
        run = self.start(self.inf_package(welcome="Acme Mines will be installed."))
        self.driver.click(INSTALL_ID, hwnd=self.window(run, caption=APP).handle)
        inf_path = self.prefix.windows_path(self.vantrel_temp / INF)
        # Wine runs the 16-bit rundll.exe in winevdm; what follows the program's
        # name is the stub's line.
        vdm = "C:\\windows\\system32\\winevdm.exe --app-name C:\\windows\\rundll.exe "
        self.assertTrue(self.wait_for_command(inf_path, program=vdm).endswith(
            " setupx.dll,InstallHinfSection DefaultInstall 132 " + inf_path))
        self.assertEqual(run.wait(timeout=120), 0)
        self.assert_extracted_files_gone()
        # Wine's setupx runs the NT sections while Wine reports NT.
        self.assert_installed(self.SETUPAPI_UNINSTALL)
        self.assert_shortcut_starts_the_program()
        self.uninstall()
        self.assertEqual(self.left_behind(), self.SETUPAPI_LEAVES)

    def test_windows_98_sections_through_setupx(self):
        self.use_setupx()
        self.prefix.reg_add(r"HKCU\Software\Wine", "Version", "win98")
        self.addCleanup(self.prefix.reg_delete, r"HKCU\Software\Wine", "Version")
        self.install(self.inf_package())
        self.assert_installed('"C:\\windows\\rundll.exe" setupx.dll,InstallHinfSection '
                              f"DefaultUninstall 132 C:\\windows\\inf\\{INF}")
        # Windows 95/98 make the shortcut from SETUP.INI once setupx is done;
        # Wine's shell does not, so the entry is all there is to see.
        lines = self.setup_ini.read_text().splitlines()
        self.assertIn(f'"{APP}","C:\\Program Files\\{APP}\\{PROGRAM}"=', lines)
        self.uninstall()
        self.assertEqual(self.left_behind(), [f"C:\\Program Files\\{APP}",
                                              f"C:\\Program Files\\{APP}\\docs"])
        self.assertIn(f'"{APP}"=', self.setup_ini.read_text().splitlines())
