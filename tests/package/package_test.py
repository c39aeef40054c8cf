#!/usr/bin/env python3
"""The Debian package: CPack builds it from the test build tree into a scratch
folder, and what it installs, its metadata and its control fields are read back
from the .deb with dpkg-deb."""

import configparser
import gzip
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

BUILD = Path(os.environ["TESMARA_BUILD_DIR"])
SOURCE = Path(os.environ["TESMARA_SOURCE_DIR"])
APP_ID = "example.tesmara.ScreenRecorder"
COMMAND = "tesmara-screen-recorder"


def run(*command):
    if shutil.which(command[0]) is None:
        raise AssertionError(f"{command[0]} is needed (scripts/install-deps installs it)")
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"{' '.join(map(str, command))} failed:\n{result.stdout}{result.stderr}")
    return result.stdout


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="tesmara-package-"))
        run("cpack", "--config", str(BUILD / "CPackConfig.cmake"), "-B", str(cls.scratch / "out"))
        debs = list((cls.scratch / "out").glob(f"{COMMAND}_*.deb"))
        assert len(debs) == 1, f"CPack made {debs}"
        cls.deb = debs[0]
        cls.root = cls.scratch / "root"
        run("dpkg-deb", "-x", str(cls.deb), str(cls.root))
        cls.fields = {}
        for line in run("dpkg-deb", "-f", str(cls.deb)).splitlines():
            if not line.startswith(" "):
                name, _, value = line.partition(": ")
                cls.fields[name] = value

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch)

    def installed(self, path):
        return self.root / path.lstrip("/")

    def resolve(self, path):
        """An installed path with its links followed inside the package."""
        target = self.installed(path)
        while target.is_symlink():
            link = os.readlink(target)
            target = self.installed(link) if link.startswith("/") else target.parent / link
        return target.resolve()

    def test_installs_each_file_where_a_debian_system_looks(self):
        files = sorted("/" + str(p.relative_to(self.root))
                       for p in self.root.rglob("*") if not p.is_dir())
        icons = [f"/usr/share/icons/hicolor/{s}x{s}/apps/kestrabole.png" for s in (16, 24, 32, 48)]
        doc = f"/usr/share/doc/{COMMAND}"
        self.assertEqual(files, sorted([
            "/usr/lib/tesmara/Kestrabole", "/usr/lib/tesmara/Daltrop",
            "/usr/lib/tesmara/libDaltropH.so", "/usr/lib/tesmara/default-advert.jpg",
            f"/usr/bin/{COMMAND}", f"/usr/share/man/man1/{COMMAND}.1.gz",
            f"{doc}/copyright", f"{doc}/changelog.gz",
            f"/usr/share/applications/{APP_ID}.desktop",
            f"/usr/share/metainfo/{APP_ID}.metainfo.xml",
            f"/usr/share/lintian/overrides/{COMMAND}",
            "/usr/share/icons/hicolor/scalable/apps/kestrabole.svg", *icons]))
        for program in ("Kestrabole", "Daltrop"):
            self.assertTrue(os.access(self.installed(f"/usr/lib/tesmara/{program}"), os.X_OK))
        self.assertEqual(self.resolve(f"/usr/bin/{COMMAND}"),
                         self.installed("/usr/lib/tesmara/Kestrabole").resolve())
        self.assertEqual(os.readlink(self.installed(f"/usr/bin/{COMMAND}")),
                         "../lib/tesmara/Kestrabole", "links stay inside the installed tree")
        manual = gzip.decompress(self.installed(f"/usr/share/man/man1/{COMMAND}.1.gz").read_bytes())
        self.assertTrue(manual.startswith(b".TH TESMARA-SCREEN-RECORDER 1"))
        for size, icon in zip((16, 24, 32, 48), icons):
            header = self.installed(icon).read_bytes()[16:24]
            self.assertEqual((int.from_bytes(header[:4], "big"), int.from_bytes(header[4:], "big")),
                             (size, size), icon)

    def test_menu_entry_starts_and_shows_installed_files(self):
        path = self.installed(f"/usr/share/applications/{APP_ID}.desktop")
        run("desktop-file-validate", str(path))
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(path)
        entry = entry["Desktop Entry"]
        self.assertEqual(entry["Exec"], COMMAND)
        self.assertTrue(os.access(self.resolve(f"/usr/bin/{entry['Exec']}"), os.X_OK))
        self.assertTrue(self.installed(
            f"/usr/share/icons/hicolor/48x48/apps/{entry['Icon']}.png").is_file())
        self.assertEqual(entry["Name"], "Tesmara Screen Recorder")

    def test_appstream_data_names_the_installed_entry_command_and_release(self):
        path = self.installed(f"/usr/share/metainfo/{APP_ID}.metainfo.xml")
        run("appstreamcli", "validate", "--no-net", str(path))
        component = ET.parse(path).getroot()
        self.assertEqual(component.findtext("id"), APP_ID)
        self.assertTrue(self.installed(
            "/usr/share/applications/" + component.findtext("launchable")).is_file())
        self.assertTrue(self.installed("/usr/bin/" + component.findtext("provides/binary")).is_symlink())
        self.assertTrue(self.installed(
            f"/usr/share/icons/hicolor/scalable/apps/{component.findtext('icon')}.svg").is_file())
        self.assertEqual(component.find("releases/release").get("version"), self.fields["Version"])
        shots = [Path(i.text).name for i in component.iterfind("screenshots/screenshot/image")]
        self.assertEqual(sorted(shots), sorted(p.name for p in (SOURCE / "docs/screenshots").iterdir()))
        changelog = gzip.decompress(
            self.installed(f"/usr/share/doc/{COMMAND}/changelog.gz").read_bytes()).decode()
        self.assertTrue(changelog.startswith(f"{COMMAND} ({self.fields['Version']}) "))

    def test_depends_on_the_libraries_the_binaries_link(self):
        self.assertEqual(self.fields["Package"], COMMAND)
        self.assertEqual(self.fields["Architecture"], run("dpkg", "--print-architecture").strip())
        depends = [d.strip() for d in self.fields["Depends"].split(",")]
        names = {d.split()[0] for d in depends}
        for package in ("libqt6widgets6", "libavcodec59", "libavformat59", "libx11-6",
                        "libxi6", "libxcomposite1", "libsqlite3-0", "libcurl4", "libjsoncpp25",
                        "libc6", "qt6-qpa-plugins"):
            self.assertIn(package, names)
        self.assertIn("libc6 (>= ", self.fields["Depends"], "versions come from the symbols used")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
