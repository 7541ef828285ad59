"""Packages signed with osslsigncode as a publisher signs them, with a
throw-away self-signed certificate: in one piece, in parts and encrypted,
they verify and install; changed after signing, the stub refuses them as
corrupted before anything is extracted."""

import random
import shutil
import struct
import subprocess

from test_install import (PASSWORD, PASSWORD_CAPTION, PASSWORD_EDIT_ID, PASSWORD_OK_ID,
                          InstallCase)
from wine_case import DEMO_APP, INSTALL_FAILURE, wine_status

TITLE = "Vantrel Signed Setup"
CORRUPTED = "The setup file is corrupted. Please obtain a new copy of the program."
HEADER_OFFSET = 35328


class SignedPackageTest(InstallCase):
    def setUp(self):
        super().setUp()
        for tool in ("osslsigncode", "openssl"):
            if shutil.which(tool) is None:
                self.fail(f"{tool} is missing (scripts/bootstrap installs it)")
        self.key, self.cert = self.work / "key.pem", self.work / "cert.pem"
        self.run_tool(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                       "-subj", "/CN=Vantrel Wine test", "-keyout", self.key, "-out", self.cert])

    def run_tool(self, argv):
        result = subprocess.run([str(a) for a in argv], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout.decode(errors="replace"))

    def sign(self, package):
        """Signs the program file in place: a split package's parts are found
        by its name. The signature must verify."""
        signed = package.with_name(package.name + ".signed")
        self.run_tool(["osslsigncode", "sign", "-certs", self.cert, "-key", self.key,
                       "-n", TITLE, "-in", package, "-out", signed])
        signed.replace(package)
        self.run_tool(["osslsigncode", "verify", "-CAfile", self.cert, "-in", package])
        return package

    def test_signed_package_installs(self):
        package = self.sign(self.package(title=TITLE))
        run = self.start(package)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def test_version_information_reads_back_through_version_dll_and_installs(self):
        """What create wrote into the stub's version information, as a
        Windows program reads it from the signed package with
        GetFileVersionInfoA and VerQueryValueA; the package, whose INF writes
        HKLM and so asks for requireAdministrator, still installs."""
        package = self.sign(self.package(
            title=TITLE, product_name="Vantrel Demo", product_version="4.2.0.7",
            company="Vantrel Test Ltd", copyright="(c) 2026 Vantrel Test Ltd"))
        code, out, err = self.prefix.wine(
            [self.prefix.windows_path(self.session.verinfo), self.prefix.windows_path(package)])
        self.assertEqual(code, 0, out + err)
        read = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        self.assertEqual(read, {
            "Binary": "4.2.0.7", "ProductName": "Vantrel Demo", "ProductVersion": "4.2.0.7",
            "FileVersion": "4.2.0.7", "CompanyName": "Vantrel Test Ltd",
            "FileDescription": TITLE, "LegalCopyright": "(c) 2026 Vantrel Test Ltd"})
        inspect = subprocess.run([str(self.session.packer.tool), "inspect", str(package)],
                                 stdout=subprocess.PIPE, timeout=60)
        self.assertIn(b"execution level     requireAdministrator (the INF writes HKLM",
                      inspect.stdout)
        run = self.start(package)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def test_signed_split_package_installs(self):
        source = self.work / "app"
        shutil.copytree(DEMO_APP, source)
        (source / "data.bin").write_bytes(random.Random(11).randbytes(60000))
        package = self.sign(self.package(source=source, title=TITLE, split="40k"))
        self.assertTrue((self.work / "setup.002").exists())
        run = self.start(package)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def test_signed_split_package_cut_off_eight_bytes_installs(self):
        # Cut as another tool may cut it, just after a zero byte of the
        # archive: the signer pads the program file to 8 bytes, and the
        # stub must tell that padding from the package's own zero.
        source = self.work / "app"
        shutil.copytree(DEMO_APP, source)
        (source / "data.bin").write_bytes(random.Random(11).randbytes(60000))
        package = self.package(source=source, title=TITLE, split="40k")
        pieces = sorted(self.work.glob("setup.0*"))
        whole = package.read_bytes() + b"".join(piece.read_bytes() for piece in pieces)
        for piece in pieces:
            piece.unlink()
        cut = next(i + 1 for i in range(40000, len(whole)) if whole[i] == 0 and (i + 1) % 8)
        package.write_bytes(whole[:cut])
        (self.work / "setup.001").write_bytes(whole[cut:])
        run = self.start(self.sign(package))
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def test_signed_encrypted_package_installs(self):
        run = self.start(self.sign(self.welcome_package(password=PASSWORD)))
        self.press_install(run)
        prompt = self.window(run, caption=PASSWORD_CAPTION)
        self.assertEqual(self.driver.type(PASSWORD_EDIT_ID, PASSWORD, hwnd=prompt.handle), 0)
        self.driver.click(PASSWORD_OK_ID, hwnd=prompt.handle)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def test_signed_package_changed_afterwards_is_refused_as_corrupted(self):
        signed = self.sign(self.package("signed.exe", title=TITLE)).read_bytes()
        entry = struct.unpack_from("<I", signed, 0x3C)[0] + 24 + 96 + 4 * 8
        archive = HEADER_OFFSET + 200
        changed = bytearray(signed)
        changed[archive] ^= 0x01
        into = bytearray(signed)
        start = archive // 8 * 8
        struct.pack_into("<II", into, entry, start, len(signed) - start)
        variants = {"changed.exe": bytes(changed),
                    "appended.exe": signed + b"appended after the signature",
                    "pointing.exe": bytes(into)}
        for name, data in variants.items():
            with self.subTest(package=name):
                package = self.work / name
                package.write_bytes(data)
                run = self.start(package)
                if name == "changed.exe":
                    box = self.window(run, caption="Error")
                    self.screenshot("signed-package-changed", box)
                self.assertEqual(self.answer_message(run, caption="Error"), ("Error", CORRUPTED))
                self.assertEqual(run.wait(timeout=20), wine_status(INSTALL_FAILURE))
                self.assert_nothing_installed()
                self.assert_temp_gone()
