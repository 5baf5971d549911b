"""The document types as the desktop shell sees them under Wine, installed by the package with
msiexec: opened through their association (also under names the ANSI code page cannot hold, and
several at once) and shown with their icons, the structure types with their thumbnails; the
package's removal, upgrade, downgrade, repair,
chosen folder and refusal without Orbedo.exe, next to other programs' values, without and with its
user interface. And the registry files of docs/registration, imported and removed."""

import csv
import os
import random
import re
import struct
import subprocess
import sys
import unittest

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import harness  # noqa: E402
import wine  # noqa: E402

LAUNCHER = os.environ["LAUNCHER"]
STAND_IN = os.environ["STAND_IN"]
ICON_PIXELS = os.environ["ICON_PIXELS"]
DROP_FILES = os.environ["DROP_FILES"]
PACKAGE = os.environ["PACKAGE"]
MAKE_PACKAGE = os.environ["MAKE_PACKAGE"]
NOTIFY_SHELL = os.environ["NOTIFY_SHELL"]
THUMBNAILS = os.environ["THUMBNAILS"]
PREVIEWS = os.environ["PREVIEWS"]
THUMBNAIL_PROVIDER = os.environ["THUMBNAIL_PROVIDER"]
VERSION = os.environ["VERSION"]

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
REGISTRATION = os.path.join(ROOT, "docs", "registration")
ICONS = os.path.join(ROOT, "resources", "icons")

MACHINE_CLASSES = r"HKEY_LOCAL_MACHINE\SOFTWARE\Classes"
USER_CLASSES = r"HKEY_CURRENT_USER\Software\Classes"
USER_SOFTWARE = r"HKEY_CURRENT_USER\Software"
PRODUCTS = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
INSTALL_FOLDER = "C:\\Program Files\\Orbedo"
CLASS_ID = "{AB4AAF10-92E1-4AD1-A051-6225D83BEE1A}"
THUMBNAIL_CLASS = "{F5CA85C4-2AE0-444B-B867-0854340D9B16}"
THUMBNAIL_HANDLER = "ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}"
PREVIEW_HANDLER = "ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}"
# Real structures: PDB entries with chains, a ligand and crystal waters, a small protein without
# element columns, and OpenMM's solvated protein and lipid bilayer (unpacked by tools/install-deps).
OPENMM = "/opt/orbedo-test-data/python3-simtk/usr/lib/python3/dist-packages/openmm/app/data"
REAL_FILES = ["/usr/share/RDKit/Contrib/CalcLigRMSD/data/6c83.pdb",
              "/usr/share/RDKit/Contrib/CalcLigRMSD/data/5dt0.pdb",
              "/usr/share/doc/mustang-testdata/examples/pdbs/1zaa1.pdb",
              f"{OPENMM}/test.pdb", f"{OPENMM}/POPC.pdb"]
MACHINE_SOFTWARE = "HKEY_LOCAL_MACHINE\\SOFTWARE"
# What a verbose log says of the custom action that tells the shell, once it has run.
SHELL_TOLD = r"Action ended [\d:]+: NotifyShell\. Return value 1\."

with open(os.path.join(ICONS, "icons.tsv"), newline="") as table:
    ROWS = list(csv.DictReader(table, delimiter="\t"))
TYPES = [row for row in ROWS if row["ext"] != "-"]
[APPLICATION] = [row for row in ROWS if row["ext"] == "-"]

ICON_SIZE = 32
ICON_BYTES = 4 * ICON_SIZE * ICON_SIZE


def icon_image(file):
    """The 32 px image of an icon file as top-down rows of BGRA pixels, or None when it has none.
    Icon files hold it as a 32-bit DIB, bottom row first, with alpha; its AND mask is unused."""
    with open(os.path.join(ICONS, file), "rb") as f:
        data = f.read()
    for i in range(struct.unpack_from("<H", data, 4)[0]):
        width, _, _, _, _, _, _, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if width == ICON_SIZE:
            header, _, _, _, bits = struct.unpack_from("<IiiHH", data, offset)
            assert bits == 32, f"{file}: {bits}-bit image"
            pixels = data[offset + header:offset + header + ICON_BYTES]
            row = 4 * ICON_SIZE
            return b"".join(pixels[y:y + row] for y in reversed(range(0, ICON_BYTES, row)))
    return None


VALUE = re.compile(r'(@|"(?:[^"\\]|\\.)*")=(.*)')


def read_registry_file(path):
    """{key: {value name: data as written}} of a registry file, ASCII or the UTF-16 that regedit
    exports; keys in lower case, as the registry compares them."""
    with open(path, "rb") as f:
        data = f.read()
    text = data.decode("utf-16" if data.startswith(b"\xff\xfe") else "ascii")
    # Long binary data goes on over several lines, each but the last ended by a backslash.
    text = re.sub(r"\\\r?\n\s*", "", text)
    keys, values = {}, None
    for line in text.splitlines():
        if line.startswith("["):
            values = keys.setdefault(line[1:-1].lower(), {})
        elif values is not None and VALUE.fullmatch(line):
            name, value = VALUE.fullmatch(line).groups()
            values[name] = value
    return keys


def string(data):
    """The text of a string value as a registry file writes it: quoted, with escapes."""
    assert data.startswith('"') and data.endswith('"'), data
    return re.sub(r"\\(.)", r"\1", data[1:-1])


def orbedo_entries(keys):
    return [key for key in keys
            if "orbedo" in key or CLASS_ID.lower() in key or THUMBNAIL_CLASS.lower() in key] + [
        f"{key}: {name}={data}" for key, values in keys.items()
        for name, data in values.items() if "orbedo" in (name + data).lower()]


def default_apps(keys):
    return [entry for entry in orbedo_entries(keys)
            if "\\capabilities" in entry or "\\registeredapplications:" in entry]


def regedit(session, *arguments):
    # regedit exits with 0 even when it fails; what it writes tells.
    run = harness.Run([*wine.WINE, "regedit", *arguments], env=session.environment())
    if run.status or run.stdout or run.stderr:
        raise AssertionError(f"regedit {' '.join(arguments)}: {run.stdout + run.stderr!r}")


def default(classes, key):
    """The default value of `key` under the machine's classes, or None."""
    data = classes.get(f"{MACHINE_CLASSES}\\{key}".lower(), {}).get("@")
    return None if data is None else string(data)


class RegistryTestCase(wine.WineTestCase):
    @classmethod
    def import_file(cls, path):
        regedit(cls.session, "/S", cls.session.windows_path(path))

    @classmethod
    def import_text(cls, text):
        path = os.path.join(cls.session.root.name, "import.reg")
        with open(path, "w", newline="\r\n") as f:
            f.write("Windows Registry Editor Version 5.00\n\n" + text)
        cls.import_file(path)

    def export(self, key):
        path = os.path.join(self.files.name, "export.reg")
        regedit(self.session, "/E", self.session.windows_path(path), key)
        return read_registry_file(path)

    def assert_registered(self, name, exported, empty="hex(0):"):
        """Every key and value of docs/registration/`name` is in `exported`, where the empty
        OpenWithProgids values are `empty`."""
        registered = read_registry_file(os.path.join(REGISTRATION, name))
        self.assertGreater(len(registered), len(TYPES), f"{name} holds too little")
        self.assertEqual([f"{key}: {value}={data}" for key, values in registered.items()
                          for value, data in values.items()
                          if exported.get(key, {}).get(value) != (
                              empty if data == "hex(0):" else data)], [], "not in the registry")


class RegistrationFileTest(RegistryTestCase):
    """The registry files, for those who register the types without the package."""

    def test_machine_registration_imports_and_its_removal_takes_only_what_it_added(self):
        self.import_file(os.path.join(REGISTRATION, "per-machine.reg"))
        self.assert_registered("per-machine.reg", self.export(MACHINE_SOFTWARE))
        # What another program that handles .pdb files has put in the same keys.
        self.import_text(f"[{MACHINE_CLASSES}\\.pdb]\n\"Content Type\"=\"chemical/x-pdb\"\n\n"
                         f"[{MACHINE_CLASSES}\\.pdb\\OpenWithProgids]\n\"Symbols.File\"=hex(0):\n")
        self.import_file(os.path.join(REGISTRATION, "per-machine-remove.reg"))
        classes = self.export(MACHINE_CLASSES)
        self.assertEqual(orbedo_entries(classes), [])
        pdb = f"{MACHINE_CLASSES}\\.pdb".lower()
        self.assertEqual(classes[pdb], {'"Content Type"': '"chemical/x-pdb"'})
        self.assertEqual(classes[pdb + "\\openwithprogids"], {'"Symbols.File"': "hex(0):"})
        self.assertEqual(default_apps(self.export(MACHINE_SOFTWARE)), [])

    def test_user_registration_imports_and_its_removal_takes_it_away(self):
        self.addCleanup(self.import_file, os.path.join(REGISTRATION, "per-user-remove.reg"))
        self.import_file(os.path.join(REGISTRATION, "per-user.reg"))
        self.assert_registered("per-user.reg", self.export(USER_SOFTWARE))
        self.import_file(os.path.join(REGISTRATION, "per-user-remove.reg"))
        self.assertEqual(orbedo_entries(self.export(USER_CLASSES)), [])
        self.assertEqual(default_apps(self.export(USER_SOFTWARE)), [])


class ShellTest(RegistryTestCase):
    """The package installed per machine, in C:\\Program Files\\Orbedo, by msiexec. Wine cuts
    msiexec's exit status to 8 bits, so the tests judge an install by the files and the registry.
    A test that changes the install restores it in its cleanup."""

    packages = {}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        try:
            # The main application as the launchers start it, and a copy started by the tests.
            cls.installed_stand_in = cls.session.install(STAND_IN, INSTALL_FOLDER + "\\Orbedo.exe")
            cls.stand_in = cls.session.install(STAND_IN, "C:\\running\\Orbedo.exe")
            cls.icon_pixels = cls.session.install(ICON_PIXELS, "C:\\tools\\icon_pixels.exe")
            cls.drop_files = cls.session.install(DROP_FILES, "C:\\tools\\drop_files.exe")
            cls.thumbnails = cls.session.install(THUMBNAILS, "C:\\tools\\thumbnails.exe")
            cls.previews = cls.session.install(PREVIEWS, "C:\\tools\\previews.exe")
            cls.msiexec("/i", PACKAGE)
            cls.launcher = INSTALL_FOLDER + "\\Orbedo-Launcher.exe"
        except BaseException:
            # unittest skips tearDownClass when setUpClass fails.
            super().tearDownClass()
            raise

    @classmethod
    def msiexec(cls, action, package, *properties, interface="/qn"):
        """Runs msiexec on `package`, a file or a product code, without a user interface unless
        `interface` says otherwise, and returns its log."""
        if os.path.exists(package):
            package = cls.session.windows_path(package)
        log = os.path.join(cls.session.root.name, "msiexec.log")
        if os.path.exists(log):
            os.remove(log)
        harness.Run([*wine.WINE, "msiexec", action, package, interface, "/l*",
                     cls.session.windows_path(log), *properties], env=cls.session.environment())
        if not os.path.exists(log):
            return ""
        with open(log, "rb") as f:
            return f.read().decode("latin-1")

    def install_as_a_double_click_does(self, package, *properties):
        """Installs with the reduced user interface, whose sequence runs the searches before the
        install: under /qn only the install's own sequence runs."""
        log = self.msiexec("/i", package, *properties, interface="/qr")
        self.assertRegex(log, r"Action start [\d:]+: ExecuteAction\.", "no user-interface sequence")

    @classmethod
    def newer_package(cls, rebuilt=False):
        """A package of the next version, or built again at this one, whose launcher differs,
        built once: its path, its version and its launcher's bytes. The next version's binaries
        say that version in their version blocks, as packing asks."""
        name = "rebuilt" if rebuilt else "newer"
        if name not in cls.packages:
            major, minor, patch, tweak = map(int, VERSION.split("."))
            version = VERSION if rebuilt else f"{major}.{minor}.{patch + 1}.{tweak}"
            path = os.path.join(cls.session.root.name, name)
            binaries = {}
            for option, built in [("--launcher", LAUNCHER), ("--notify-shell", NOTIFY_SHELL),
                                  ("--thumbnails", THUMBNAIL_PROVIDER)]:
                pe = pefile.PE(built)
                pe.VS_FIXEDFILEINFO[0].FileVersionLS = (patch + (not rebuilt)) << 16 | tweak
                binaries[option] = pe.write() + (b"r" if rebuilt else b"newer")
                with open(path + option, "wb") as f:
                    f.write(binaries[option])
            subprocess.run([MAKE_PACKAGE, "pack", "--version", version, "--output", path + ".msi",
                            *(part for option in binaries for part in (option, path + option))],
                           check=True)
            cls.packages[name] = path + ".msi", version, binaries["--launcher"]
        return cls.packages[name]

    def products(self):
        """{product code: its values} of every Orbedo Launcher in Apps & features."""
        return {key.rsplit("\\", 1)[1].upper(): values
                for key, values in self.export(PRODUCTS).items()
                if values.get('"DisplayName"') == '"Orbedo Launcher"'}

    def installed_file(self, windows_path):
        """The content of the file at `windows_path`, or None where there is none."""
        path = self.session.unix_path(windows_path)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def assert_no_file(self, windows_path):
        self.assertFalse(os.path.exists(self.session.unix_path(windows_path)), windows_path)

    def restore_standard_install(self):
        for code in self.products():
            self.msiexec("/x", code)
        self.msiexec("/i", PACKAGE)
        self.assertTrue(self.installed_file(self.launcher), "the package did not install again")

    def write_other_programs_values(self, text):
        """Imports values of other programs, and removes them at the test's end, before the
        standard install is restored."""
        self.import_text(text)
        removal = re.sub(r"=.*", "=-", text)
        self.addCleanup(self.import_text, removal)

    def start_opening(self, document, **extra):
        """Opens `document` as the shell does, through its association, with `start /wait`, whose
        exit status is the launcher's once it ran (its output does not reach the caller of start;
        what start itself says is kept, see start_said)."""
        with open(os.path.join(self.files.name, "start.log"), "ab") as log:
            opening = subprocess.Popen([*wine.WINE, "start", "/wait", document],
                                       cwd=self.files.name, env=self.environment(**extra),
                                       stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        self.addCleanup(opening.wait)
        self.addCleanup(opening.kill)
        return opening

    def start_said(self):
        with open(os.path.join(self.files.name, "start.log"), "rb") as log:
            return log.read()

    def open_document(self, name, content=b""):
        """Creates the document C:\\Data\\`name`, opens it, and returns the exit status."""
        return self.start_opening(self.make_document(name, content)).wait(timeout=120)

    def read_under_wine(self, windows_path):
        """The content of the file that a Windows program opens as `windows_path`."""
        run = harness.Run([*wine.WINE, "cmd", "/c", "type", windows_path], env=self.environment())
        self.assertEqual(run.status, 0, run.stderr)
        return run.stdout

    def running_copies(self):
        """The Unix pids of the copies of the installed main application this test started."""
        return [pid for pid in harness.tagged_pids(self.tag)
                if b"Orbedo\\Orbedo.exe" in harness.command_line(pid)]

    def running_launchers(self):
        return [pid for pid in harness.tagged_pids(self.tag)
                if b"Orbedo-Launcher.exe" in harness.command_line(pid)]

    def drop(self, documents, *options):
        """Opens `documents` as Explorer opens a selection, with drop_files (`options` are its
        own): one activation per type. Returns the milliseconds that the Drops and the Releases
        took together."""
        listing = os.path.join(self.files.name, "selection.txt")
        with open(listing, "w", encoding="utf-8") as f:
            f.write("".join(document + "\n" for document in documents))
        run = harness.Run([*wine.WINE, self.drop_files, *options,
                           self.session.windows_path(listing)], env=self.environment())
        self.assertEqual(run.status, 0, run.stderr)
        activations = [line.split() for line in run.stdout.decode().splitlines()]
        if "--no-drop" not in options:
            # Opened, neither moved nor copied: a source told "move" may delete the documents.
            self.assertEqual([int(effect) for *_, effect in activations], [0] * len(activations))
        return sum(float(dropping) + float(releasing) for _, dropping, releasing, _ in activations)

    def shown_icons(self, locations):
        """The pixels of the large icon at each "path,index" location, loaded as the shell does."""
        run = harness.Run([*wine.WINE, self.icon_pixels, *locations], env=self.environment())
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(len(run.stdout), ICON_BYTES * len(locations))
        return [run.stdout[i:i + ICON_BYTES] for i in range(0, len(run.stdout), ICON_BYTES)]

    def test_every_type_opens_with_the_launcher(self):
        self.assertEqual(len(TYPES), 23)
        names = [f"1crn{row['ext']}" for row in TYPES]
        self.start_stand_in(self.stand_in, requests=len(names))
        self.assertEqual({name: self.open_document(name) for name in names},
                         dict.fromkeys(names, 0), self.start_said())
        self.assertEqual(self.received_request(), b"".join(
            harness.expected_request([f"C:\\Data\\{name}".encode()]) for name in names))

    def test_every_type_is_registered_with_its_own_icon(self):
        classes = self.export(MACHINE_SOFTWARE)
        # The package writes what per-machine.reg does, though an empty value as a string.
        self.assert_registered("per-machine.reg", classes, empty='""')

        # The shell follows the extension to its ProgID, and the ProgID to its icon.
        progids = [default(classes, row["ext"]) for row in TYPES]
        self.assertEqual(progids, [f"Orbedo.{row['label']}" for row in TYPES])
        locations = {row["file"]: default(classes, f"{progid}\\DefaultIcon")
                     for row, progid in zip(TYPES, progids)}
        # The shell shows an executable's first icon as the program's own.
        locations[APPLICATION["file"]] = f"{self.launcher},0"
        shown = dict(zip(locations, self.shown_icons(list(locations.values()))))
        expected = {file: icon_image(file) for file in locations}
        # Where a group has no 32 px image the shell scales a larger one, as it does the file's.
        scaled = [file for file, image in expected.items() if image is None]
        expected.update(zip(scaled, self.shown_icons(
            [self.session.windows_path(os.path.join(ICONS, file)) + ",0" for file in scaled])))
        self.assertEqual([f"{location} is not {file}" for file, location in locations.items()
                          if shown[file] != expected[file]], [])

    def test_structure_types_show_their_molecule_and_anything_else_the_icon(self):
        # A molecule of Debian's, converted by Open Babel into each type the table marks; real
        # files of Debian's packages, one of them in mmCIF as gemmi writes it; then bytes that are
        # no structure, under those types' names.
        marked = [row for row in TYPES if row["thumbnail"] == "yes"]
        self.assertEqual(len(marked), 9)
        documents = []
        for row in marked:
            documents.append(self.make_document(f"molecules\\diazepam{row['ext']}"))
            subprocess.run(["obabel", "/usr/share/chemical-structures/drugs/diazepam.cml",
                            "-o" + row["ext"][1:], "-O", self.session.unix_path(documents[-1])],
                           check=True, capture_output=True)
        for real in REAL_FILES:
            with open(real, "rb") as file:
                documents.append(self.make_document("real\\" + os.path.basename(real), file.read()))
        documents.append(self.make_document("real\\5dt0.cif"))
        subprocess.run(["gemmi", "convert", REAL_FILES[1], self.session.unix_path(documents[-1])],
                       check=True)
        pictured = len(documents)
        documents += [self.make_document("noise.pdb", random.Random(28).randbytes(5000)),
                      self.make_document("empty.cif"),
                      self.make_document("letter.sdf", b"Dear reader,\r\n\r\nHello.\r\n")]
        run = harness.Run([*wine.WINE, self.thumbnails, "256", *documents],
                          env=self.environment())
        self.assertEqual(run.status, 0, run.stderr)
        shown = [(result, max(int(width), int(height)))
                 for result, width, height, _ in map(str.split, run.stdout.decode().splitlines())]
        # The others: ERROR_INVALID_DATA.
        self.assertEqual(shown, [("0x00000000", 256)] * pictured + [("0x8007000d", 0)] * 3)
        # Only the marked types' ProgIDs name the handler.
        self.assertEqual(sorted(key for key in self.export(MACHINE_CLASSES)
                                if key.endswith(THUMBNAIL_HANDLER.lower())),
                         sorted(f"{MACHINE_CLASSES}\\Orbedo.{row['label']}\\{THUMBNAIL_HANDLER}"
                                .lower() for row in marked))

    def test_structure_types_show_in_the_preview_pane_and_a_symbol_file_does_not(self):
        # As Explorer's preview host shows them (previews.cpp holds the handler to its rules): a
        # real protein, a molecule of Debian's, and a debugger's symbol file named .pdb.
        with open(REAL_FILES[0], "rb") as protein:
            documents = [self.make_document("pane\\6c83.pdb", protein.read())]
        documents.append(self.make_document("pane\\diazepam.sdf"))
        subprocess.run(["obabel", "/usr/share/chemical-structures/drugs/diazepam.cml", "-osdf",
                        "-O", self.session.unix_path(documents[-1])], check=True,
                       capture_output=True)
        documents.append(self.make_document("pane\\symbols.pdb",
                                            b"Microsoft C/C++ MSF 7.00\r\n\x1aDS" + bytes(4096)))
        run = harness.Run([*wine.WINE, self.previews, "480", "360", *documents],
                          env=self.environment())
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual([line.split()[0] for line in run.stdout.decode().splitlines()],
                         ["0x00000000", "0x00000000", "0x8007000d"])
        # The ProgIDs of the types that have thumbnails name the class, and no other.
        self.assertEqual(sorted(key for key in self.export(MACHINE_CLASSES)
                                if key.endswith(PREVIEW_HANDLER.lower())),
                         sorted(f"{MACHINE_CLASSES}\\Orbedo.{row['label']}\\{PREVIEW_HANDLER}"
                                .lower() for row in TYPES if row["thumbnail"] == "yes"))

    def test_removal_takes_ours_and_leaves_what_other_programs_wrote(self):
        self.addCleanup(self.restore_standard_install)
        self.msiexec("/x", PACKAGE)
        # Another program owns .pdb before the install, and takes .cif after it.
        self.write_other_programs_values(
            f"[{MACHINE_CLASSES}\\.pdb]\n@=\"Symbols.File\"\n\n"
            f"[{MACHINE_CLASSES}\\.pdb\\OpenWithProgids]\n\"Symbols.File\"=\"\"\n")
        self.msiexec("/i", PACKAGE)
        classes = self.export(MACHINE_CLASSES)
        self.assertEqual(default(classes, ".pdb"), "Symbols.File")
        self.assertEqual(classes[f"{MACHINE_CLASSES}\\.pdb\\OpenWithProgids".lower()],
                         {'"Symbols.File"': '""', '"Orbedo.PDB"': '""'})
        self.assertEqual(default(classes, ".cif"), "Orbedo.CIF")
        self.write_other_programs_values(f"[{MACHINE_CLASSES}\\.cif]\n@=\"Other.CIF\"\n")

        self.assertRegex(self.msiexec("/x", PACKAGE), SHELL_TOLD)
        self.assert_no_file(self.launcher)
        self.assertEqual(self.products(), {})
        classes = self.export(MACHINE_CLASSES)
        self.assertEqual((default(classes, ".pdb"), default(classes, ".cif")),
                         ("Symbols.File", "Other.CIF"))
        self.assertEqual(classes[f"{MACHINE_CLASSES}\\.pdb\\OpenWithProgids".lower()],
                         {'"Symbols.File"': '""'})
        # Of ours, only the defaults the package took are left: they name ProgIDs that are gone.
        self.assertEqual(sorted(orbedo_entries(self.export("HKEY_LOCAL_MACHINE\\SOFTWARE"))),
                         sorted(f"{MACHINE_CLASSES}\\{row['ext']}".lower()
                                + f': @="Orbedo.{row["label"]}"'
                                for row in TYPES if row["ext"] not in (".pdb", ".cif")))

    def test_a_newer_package_replaces_the_installed_one_and_an_older_one_is_refused(self):
        self.addCleanup(self.restore_standard_install)
        [(code, values)] = self.products().items()
        self.assertEqual((values['"DisplayVersion"'], values['"Publisher"'],
                          string(values['"InstallLocation"']), values['"NoModify"']),
                         (f'"{VERSION}"', '"Orbedo"', INSTALL_FOLDER + "\\", "dword:00000001"))
        # Apps & features shows the icon that Windows Installer keeps for the product.
        with open(os.path.join(ICONS, APPLICATION["file"]), "rb") as icon:
            self.assertEqual(self.installed_file(f"C:\\windows\\Installer\\{code}\\app.ico"),
                             icon.read())

        # A rebuild at the same version, of other content, is another product that replaces it.
        rebuilt, _, rebuilt_launcher = self.newer_package(rebuilt=True)
        self.assertRegex(self.msiexec("/i", rebuilt), SHELL_TOLD)
        [(rebuilt_code, _)] = self.products().items()
        self.assertNotEqual(rebuilt_code, code)
        self.assertTrue(self.installed_file(self.launcher) == rebuilt_launcher, "not rebuilt")

        newer, newer_version, newer_launcher = self.newer_package()
        self.msiexec("/i", newer)
        [(newer_code, values)] = self.products().items()
        self.assertNotIn(newer_code, (code, rebuilt_code))
        self.assertEqual(values['"DisplayVersion"'], f'"{newer_version}"')
        self.assertTrue(self.installed_file(self.launcher) == newer_launcher, "not the newer file")
        self.msiexec("/i", PACKAGE)
        self.assertEqual(list(self.products()), [newer_code])
        self.assertTrue(self.installed_file(self.launcher) == newer_launcher, "downgraded")

    def test_installs_in_the_folder_given_and_upgrades_there_as_a_double_click_does(self):
        self.addCleanup(self.restore_standard_install)
        self.msiexec("/x", PACKAGE)
        folder = "C:\\Lab Tools\\Orbedo"
        launcher = folder + "\\Orbedo-Launcher.exe"
        self.session.install(STAND_IN, folder + "\\Orbedo.exe")
        self.addCleanup(os.remove, self.session.unix_path(folder + "\\Orbedo.exe"))
        self.install_as_a_double_click_does(PACKAGE, f"INSTALLFOLDER={folder}")
        self.assert_no_file(self.launcher)
        with open(LAUNCHER, "rb") as built:
            self.assertTrue(self.installed_file(launcher) == built.read(), "not installed there")
        classes = self.export(MACHINE_CLASSES)
        self.assertEqual(default(classes, "Orbedo.PDB\\shell\\open\\command"),
                         f'"{launcher}" "%1"')
        self.assertEqual(default(classes, "Orbedo.PDB\\DefaultIcon"), f"{launcher},-115")
        self.assertEqual(default(classes, f"CLSID\\{CLASS_ID}\\LocalServer32"), f'"{launcher}"')
        [values] = self.products().values()
        self.assertEqual(string(values['"InstallLocation"']), folder + "\\")
        self.start_stand_in(self.stand_in)
        self.assertEqual(self.open_document("1crn.pdb"), 0, self.start_said())
        self.assertEqual(self.received_arguments(), [b"C:\\Data\\1crn.pdb"])

        # An administrator moves the launcher with Orbedo: an upgrade given Orbedo's new folder.
        moved = "C:\\Moved\\Orbedo"
        self.session.install(STAND_IN, moved + "\\Orbedo.exe")
        self.addCleanup(os.remove, self.session.unix_path(moved + "\\Orbedo.exe"))
        rebuilt, _, rebuilt_launcher = self.newer_package(rebuilt=True)
        self.msiexec("/i", rebuilt, f"INSTALLFOLDER={moved}")
        self.assert_no_file(launcher)
        launcher = moved + "\\Orbedo-Launcher.exe"
        self.assertTrue(self.installed_file(launcher) == rebuilt_launcher, "not moved")

        # The folder of the installed version, which the search found, is where the upgrade goes.
        newer, _, newer_launcher = self.newer_package()
        self.install_as_a_double_click_does(newer)
        self.assert_no_file(self.launcher)
        self.assertTrue(self.installed_file(launcher) == newer_launcher, "not upgraded there")
        self.msiexec("/x", newer)
        self.assert_no_file(launcher)
        self.assertEqual(self.products(), {})

    def test_refuses_a_folder_without_orbedo_exe_and_installs_nothing(self):
        self.addCleanup(self.restore_standard_install)
        self.msiexec("/x", PACKAGE)
        orbedo = self.session.unix_path(INSTALL_FOLDER + "\\Orbedo.exe")
        os.rename(orbedo, orbedo + ".away")
        self.addCleanup(os.rename, orbedo + ".away", orbedo)
        self.msiexec("/i", PACKAGE)
        # With its user interface, the package says why, here of a folder that exists.
        with open(os.path.join(self.files.name, "msiexec.log"), "wb") as log:
            installing = subprocess.Popen(
                [*wine.WINE, "msiexec", "/i", self.session.windows_path(PACKAGE), "/qr",
                 "INSTALLFOLDER=C:\\tools"], env=self.environment(), stdin=subprocess.DEVNULL,
                stdout=log, stderr=log)
        self.addCleanup(installing.kill)
        # Wine's caption for an install that fails.
        self.assertEqual(self.dismiss_box("Install Failed"),
                         b"The folder C:\\tools\\ does not hold Orbedo.exe. Install Orbedo first, "
                         b"then run this package again. Administrators: give Orbedo's folder on "
                         b'the msiexec command line as INSTALLFOLDER="<folder>".')
        installing.wait(timeout=60)
        self.assert_no_file(self.launcher)
        self.assert_no_file("C:\\tools\\Orbedo-Launcher.exe")
        # Of ours, only the extensions' defaults that the removal left, and no product.
        left = orbedo_entries(self.export("HKEY_LOCAL_MACHINE\\SOFTWARE"))
        self.assertEqual([entry for entry in left
                          if not re.fullmatch(r'.*\\\.\w+: @="Orbedo\.\w+"', entry)], [])

    def test_a_repair_restores_ours_and_leaves_a_default_another_program_took(self):
        # A repair (msiexec /f, Apps & features) is an install with REINSTALL, which Wine's msiexec
        # carries out, unlike /f with a product code or a package. Wine judges the components'
        # conditions again and ignores NeverOverwrite: only the package's tables show that Windows
        # keeps the other program's default too (tests/resources/test_package.py).
        self.addCleanup(self.restore_standard_install)
        self.write_other_programs_values(f"[{MACHINE_CLASSES}\\.cif]\n@=\"Other.CIF\"\n")
        os.remove(self.session.unix_path(self.launcher))
        self.import_text(f"[-{MACHINE_CLASSES}\\Orbedo.PDB\\DefaultIcon]\n")
        self.msiexec("/i", PACKAGE, "REINSTALL=ALL", "REINSTALLMODE=omus")
        with open(LAUNCHER, "rb") as built:
            self.assertTrue(self.installed_file(self.launcher) == built.read(), "not repaired")
        classes = self.export(MACHINE_CLASSES)
        self.assertEqual(default(classes, "Orbedo.PDB\\DefaultIcon"), f"{self.launcher},-115")
        self.assertEqual((default(classes, ".cif"), default(classes, ".pdb")),
                         ("Other.CIF", "Orbedo.PDB"))

    def test_opens_documents_the_code_page_cannot_name_as_the_same_files(self):
        # The ANSI code page is 1252: it holds é (E9), but not β, α, nor fullwidth quotes
        # and backslashes, which best-fit mapping would turn into other files or real separators.
        names = ["caf\u00e9.pdb", "\u03b2-sheet.pdb", "sub \u03b1\\x.pdb", "a\uff02 \uff02b.pdb",
                 "x\uff3c..\uff3cy.pdb"]
        self.start_stand_in(self.stand_in, requests=len(names))
        for i, name in enumerate(names):
            self.assertEqual(self.open_document(name, f"document {i}".encode()), 0,
                             self.start_said())
        paths = self.received_arguments()
        self.assertEqual(len(paths), len(names))
        self.assertEqual(paths[0], "C:\\Data\\caf\u00e9.pdb".encode("cp1252"))
        for i, (name, path) in enumerate(zip(names, paths)):
            # No quote to end the argument early, no separator the name does not hold.
            self.assertNotIn(b'"', path)
            self.assertEqual(path.count(b"\\"), 2 + name.count("\\"), path)
            self.assertEqual(self.read_under_wine(path.decode("cp1252")),
                             f"document {i}".encode(), path)

    def test_refuses_a_document_whose_short_name_would_change_its_type(self):
        # 文件.mmcif has only its short name to go by, which ends in .MMC: another type.
        document = self.make_document("\u6587\u4ef6.mmcif")
        opening = self.start_opening(document)
        text = self.dismiss_box("Orbedo Launcher")
        self.assertEqual(opening.wait(timeout=60), 1)
        self.assertTrue(text.startswith(b"The name of this document, or of a folder in its path, "
                                        b"holds characters that cannot be passed on"), text)
        # Run from a console, the launcher says why on standard error as well.
        console = self.start(self.launcher, [document])
        self.dismiss_box("Orbedo Launcher")
        self.assertEqual(self.finish(console),
                         (1, b"", b"An exception occured: Unsupported characters in document "
                                  b"name\r\n"))
        # Nothing listened, and still the launcher started nothing (the installed Orbedo.exe is
        # the stand-in, which would have said it listens) and sent nothing.
        self.assertFalse(os.path.exists(self.ready), "Orbedo.exe was started")
        self.assertFalse(os.path.exists(self.record), "a request was sent")

    def test_documents_opened_together_reach_one_copy_of_the_application(self):
        # The shell starts a launcher per document. Nothing listens, so each launcher starts
        # Orbedo.exe: one copy listens and serves every launcher, the others exit at once.
        documents = [self.make_document(f"together {i}.pdb") for i in range(5)]
        openings = [self.start_opening(document, STAND_IN_REQUESTS=str(len(documents)))
                    for document in documents]
        harness.wait_until(lambda: os.path.exists(self.ready), 30, "a copy to listen")
        # A copy that finds the port taken ends at once, without a word.
        run = harness.Run([*wine.WINE, self.installed_stand_in], env=self.environment())
        self.assertEqual((run.status, run.stdout, run.stderr), (0, b"", b""))

        self.assertEqual([opening.wait(timeout=60) for opening in openings], [0] * len(documents),
                         self.start_said())
        record = self.received_request()
        expected = [harness.expected_request([document.encode()]) for document in documents]
        self.assertEqual(len(record), sum(map(len, expected)))
        for request in expected:
            self.assertIn(request, record)
        harness.wait_until(lambda: not self.running_copies(), 10, "every copy to exit")

    def test_a_selection_reaches_the_application_as_one_request(self):
        # Explorer activates the launcher's class once per type of a selection, each time right
        # after the previous release. Nothing listens: the one launcher that serves them all runs
        # Orbedo.exe once, in the documents' folder, and its request lists every document, type by
        # type. Explorer waits in Drop and Release, which must not wait for the launch.
        documents = [self.make_document(f"md\\run {i:02}.{kind}")
                     for i in (7, 3, *range(10, 16)) for kind in ("gro", "xtc")]
        documents.append(self.make_document("md\\ref.pdb"))
        documents[5] = beta = self.make_document("md\\\u03b2-sheet.xtc", b"beta sheet")
        types = ["gro", "xtc", "pdb"]
        by_type = sorted(documents, key=lambda document: types.index(document[-3:]))
        with self.subTest("nothing listens"):
            self.assertLess(self.drop(documents), 5000)
            harness.wait_until(lambda: not self.running_launchers(), 60, "the launcher to end")
            harness.wait_until(lambda: not self.running_copies(), 10, "Orbedo.exe to end")
            paths = self.received_arguments()
            self.assertEqual(self.received_request(), harness.expected_request(paths))
            self.assertEqual(len(paths), len(documents))
            # As on a command line: what the code page cannot name, by its short name.
            beta_path = paths.pop(by_type.index(beta)).decode("cp1252")
            self.assertEqual(self.read_under_wine(beta_path), b"beta sheet")
            self.assertEqual(paths, [d.encode() for d in by_type if d != beta])
            with open(self.ready) as ready:
                self.assertEqual(ready.read(), "C:\\Data\\md")

        with self.subTest("Orbedo runs"):
            for report in self.ready, self.record, self.arguments:
                os.remove(report)
            many = [self.make_document(f"many {i:03}.{('sdf', 'mol')[i % 2]}")
                    for i in range(200)]
            self.start_stand_in(self.stand_in)
            self.assertLess(self.drop(many), 5000)
            harness.wait_until(lambda: not self.running_launchers(), 60, "the launcher to end")
            self.assertEqual(self.received_arguments(),
                             [d.encode() for d in many[::2] + many[1::2]])

    def test_no_caller_of_a_selection_loses_its_documents(self):
        # Callers that hold the class at once, the second dropping 2.5 seconds after the first let
        # go; a data object of the classic CF_HDROP alone, in UTF-16 or in the ANSI code page; one
        # that fails every call once its Drop has returned, as Windows holds it valid only until
        # then; a caller that leaves twice, drops, and drops again (which takes nothing).
        for mode in ("--callers-at-once", "--hdrop-only", "--ansi-hdrop", "--fail-after-drop",
                     "--drop-again"):
            with self.subTest(mode):
                for report in self.ready, self.record, self.arguments:
                    if os.path.exists(report):
                        os.remove(report)
                documents = [self.make_document(f"{mode[2:]} {i}.{kind}")
                             for i, kind in enumerate(["pdb", "sdf", "pdb", "sdf"])]
                self.start_stand_in(self.stand_in)
                self.drop(documents, mode)
                harness.wait_until(lambda: not self.running_launchers(), 60, "the launcher to end")
                self.assertEqual(self.received_arguments(),
                                 [d.encode() for d in documents[::2] + documents[1::2]])

    def test_a_refused_drop_spoils_no_other_and_one_box_says_why(self):
        # Beside Explorer's drops, one of an item with no path in the file system, one of more
        # documents than a drop may bring and one that cannot be read, in the same service.
        documents = [self.make_document(f"kept.{kind}") for kind in ("pdb", "sdf")]
        self.start_stand_in(self.stand_in)
        self.drop(documents, "--with-refused")
        # box_text writes the text in text mode: its line ends come as carriage return and line feed.
        self.assertEqual(
            self.dismiss_box("Orbedo Launcher").replace(b"\r\n", b"\n"),
            b"Some of the documents selected in Explorer were not opened.\n\nSome were selected "
            b"with an item that is not a file or folder on this computer (an item of a zip "
            b"folder, a phone or a search connector). Select only documents that are in a folder "
            b"on a drive, and open them again.\n\nSome were more than can be opened at once. "
            b"Select at most 100,000 documents at a time, and open them again.\n\nSome could "
            b"not be read. Open them again; if this happens again, open them from within Orbedo.")
        harness.wait_until(lambda: not self.running_launchers(), 60, "the launcher to end")
        self.assertEqual(self.received_arguments(), [d.encode() for d in documents])

    def test_a_launcher_activated_without_a_drop_ends_having_done_nothing(self):
        self.drop([self.make_document("left.pdb")], "--no-drop")
        harness.wait_until(lambda: not self.running_launchers(), 10, "the launcher to end")
        self.assertFalse(os.path.exists(self.ready), "Orbedo.exe was started")
        self.assertFalse(os.path.exists(self.record), "a request was sent")


if __name__ == "__main__":
    unittest.main()
