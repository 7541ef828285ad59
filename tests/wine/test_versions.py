"""The main roads under every Windows version Wine can report, from Windows 95
to Windows 10: which installer runs (setupx through the 16-bit rundll.exe on
the 95 family, setupapi on NT), which advpack sections run (with .ntx86 on
NT only), packages that require administrator rights, and the whole
installation and clean-up.

Wine holds a program to fewer rules than those systems do (it takes wake
masks, command lines and flags that Windows 95 and NT 4.0 refuse); the host
tier's platform layer holds the stub to them instead (src/platform/README.md).
"""

import shutil

from test_install import SECTIONS_KEY, SETUPX_HOST, TITLE, InstallCase
from wine_case import DEMO_APP, INSTALL_ID

WINE_KEY = r"HKCU\Software\Wine"
WINDOWS_9X = ("win95", "win98", "winme")
WINDOWS_NT = ("nt40", "win2k", "winxp", "win7", "win10")
# One screenshot per family: the main dialog as it waits for Install.
SCREENSHOTS = {"win98": "version-9x-win98", "winxp": "version-nt-winxp"}
HINF_ARGUMENTS = ",InstallHinfSection DefaultInstall 132 "


class VersionMatrixTest(InstallCase):
    def short_inf_source(self):
        """The demo application with a short INF name: Wine's 16-bit rundll.exe
        cuts its command line after 126 characters."""
        source = self.work / "app"
        shutil.copytree(DEMO_APP, source)
        (source / "vdemo.inf").rename(source / "d.inf")
        return source

    def report_version(self, version):
        """Every program of the prefix, the stub and the installers alike, sees
        this Windows version; a system of the 95 family has its SetupX.dll."""
        self.prefix.reg_add(WINE_KEY, "Version", version)
        if self.takes_setupx(version):
            self.prefix.restore_setupx()
        else:
            self.prefix.hide_setupx()

    def takes_setupx(self, version):
        """The 95 family's road, where Wine can run the 16-bit rundll.exe; without
        setupx.dll the stub takes setupapi there too, as it would on Windows."""
        return version in WINDOWS_9X and self.session.kind.has_16bit

    def restore_version(self):
        self.prefix.reg_delete(WINE_KEY, "Version")
        self.prefix.hide_setupx()

    def install_plain(self, version, package, inf):
        """Install pressed in the main dialog; the family's INF installer runs."""
        run = self.start(package)
        dialog = self.window(run, caption=TITLE)
        if version in SCREENSHOTS:
            self.screenshot(SCREENSHOTS[version], dialog)
        self.assertEqual(self.driver.click(INSTALL_ID, hwnd=dialog.handle), 0)
        if self.takes_setupx(version):
            rundll = "C:\\windows\\rundll.exe "
            expected = SETUPX_HOST + rundll + rundll + "setupx.dll" + HINF_ARGUMENTS + inf
            self.assertEqual(self.wait_for_command(inf, program=SETUPX_HOST + rundll), expected)
        else:
            self.assertEqual(self.wait_for_command(inf),
                             f"{self.rundll32} setupapi{HINF_ARGUMENTS}{inf}")
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def install_advpack(self, version, package):
        """An unattended advpack package: the family's sections run."""
        run = self.start(package)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        second = "DefaultInstall2" if version in WINDOWS_9X else "DefaultInstall2.ntx86"
        self.assertEqual(self.prefix.reg_value(SECTIONS_KEY, "Second"), second)
        self.assertEqual(self.prefix.reg_value(SECTIONS_KEY, "Last"), "DefaultInstallX")
        self.assert_temp_gone()

    def test_every_version_takes_the_road_of_its_family(self):
        source = self.short_inf_source()
        inf = self.prefix.windows_path(self.vantrel_temp / "d.inf")
        if self.session.kind.has_16bit and len("setupx.dll" + HINF_ARGUMENTS + inf) > 126:
            self.skipTest(f"the temporary path {inf} is too long for Wine's rundll.exe")
        # Both packages require administrator rights: the 95 family grants
        # them without asking, Wine's NT user holds them.
        plain = self.welcome_package("plain.exe", source=source, admin=True)
        advpack = self.package("advpack.exe", source=source, title=TITLE, advpack=True,
                               admin=True)
        self.addCleanup(self.restore_version)
        for version in WINDOWS_9X + WINDOWS_NT:
            with self.subTest(version=version):
                self.report_version(version)
                self.clean_installation()
                self.install_plain(version, plain, inf)
                self.clean_installation()
                self.install_advpack(version, advpack)
