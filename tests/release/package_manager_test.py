#!/usr/bin/env python3
"""The package manager's manifests written by `talvor-yayin paket-yoneticisi`, validated against
the published schemas in tests/data/winget-schemas and read back for the values the setup and its
uninstall entry stand for. Usage: package_manager_test.py BUILD_DIR SOURCE_DIR"""

import hashlib
import json
import os
import subprocess
import sys
import tempfile
import unittest

import jsonschema
import yaml

BUILD, SOURCE = sys.argv[1], sys.argv[2]
YAYIN = os.path.join(BUILD, "bin", "talvor-yayin")
SETUP = os.path.join(BUILD, "bin", "Talvor-Kurulum.exe")
SCHEMAS = os.path.join(SOURCE, "tests", "data", "winget-schemas")
URL = "https://indir.tekvar.com.tr/Talvor-Kurulum-0.1.0.exe"


def run(*args):
    return subprocess.run([YAYIN, "paket-yoneticisi", *args], capture_output=True, text=True)


class PackageManagerManifests(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.out = os.path.join(self.folder.name, "bildirimler")

    def tearDown(self):
        self.folder.cleanup()

    def write(self, version="1.1.0"):
        result = run(f"--surum={version}", f"--kurulum={SETUP}", f"--indirme={URL}", f"--cikti={self.out}")
        self.assertEqual(0, result.returncode, result.stderr)
        manifests = {}
        for kind, suffix in (("version", ""), ("defaultLocale", ".locale.tr-TR"), ("installer", ".installer")):
            with open(os.path.join(self.out, f"TekvarYazilim.Talvor{suffix}.yaml"), encoding="utf-8") as file:
                manifests[kind] = yaml.safe_load(file)
        return manifests

    def test_every_file_is_valid_against_its_published_schema(self):
        for kind, manifest in self.write().items():
            with open(os.path.join(SCHEMAS, f"manifest.{kind}.1.28.0.json"), encoding="utf-8") as file:
                schema = json.load(file)
            with self.subTest(kind=kind):
                jsonschema.Draft7Validator(schema).validate(manifest)
                self.assertEqual(kind, manifest["ManifestType"])
                self.assertEqual("1.28.0", manifest["ManifestVersion"])
                self.assertEqual("TekvarYazilim.Talvor", manifest["PackageIdentifier"])
                self.assertEqual("1.1.0", manifest["PackageVersion"])

    def test_installer_describes_the_setup_and_its_uninstall_entry(self):
        manifests = self.write()
        installer = manifests["installer"]
        with open(SETUP, "rb") as file:
            digest = hashlib.sha256(file.read()).hexdigest().upper()
        self.assertEqual([{"Architecture": "x64", "InstallerUrl": URL, "InstallerSha256": digest}],
                         installer["Installers"])
        self.assertEqual(("exe", "machine", "elevationRequired"),
                         (installer["InstallerType"], installer["Scope"], installer["ElevationRequirement"]))
        self.assertEqual({"Silent": "/sessiz", "SilentWithProgress": "/sessiz"}, installer["InstallerSwitches"])
        self.assertEqual({1: "contactSupport", 2: "installInProgress"},
                         {c["InstallerReturnCode"]: c["ReturnResponse"] for c in installer["ExpectedReturnCodes"]})
        # What the setup writes under ...\Uninstall\Talvor.
        self.assertEqual("Talvor", installer["ProductCode"])
        self.assertEqual([{"DisplayName": "Talvor", "Publisher": "Tekvar Yazılım", "DisplayVersion": "1.1.0",
                           "ProductCode": "Talvor", "InstallerType": "exe"}], installer["AppsAndFeaturesEntries"])
        locale = manifests["defaultLocale"]
        self.assertEqual(("Tekvar Yazılım", "Talvor", "tr-TR"),
                         (locale["Publisher"], locale["PackageName"], locale["PackageLocale"]))
        self.assertEqual("tr-TR", manifests["version"]["DefaultLocale"])

    def test_mistakes_are_refused_and_write_nothing(self):
        good = [f"--surum=1.1.0", f"--kurulum={SETUP}", f"--indirme={URL}", f"--cikti={self.out}"]
        cases = {
            "plain http": (good[:2] + ["--indirme=http://indir.tekvar.com.tr/k.exe"] + good[3:], 2),
            "a space in the address": (good[:2] + ["--indirme=https://indir.tekvar.com.tr/a b.exe"] + good[3:], 2),
            "a version that is no version": (["--surum=1.1"] + good[1:], 2),
            "no output folder": (good[:3], 2),
            "a setup that is not there": (good[:1] + ["--kurulum=" + os.path.join(self.folder.name, "yok.exe")]
                                          + good[2:], 1),
        }
        for what, (args, code) in cases.items():
            with self.subTest(what=what):
                result = run(*args)
                self.assertEqual(code, result.returncode)
                self.assertEqual(1, result.stderr.count("\n"), result.stderr)
                self.assertFalse(os.path.exists(self.out))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
