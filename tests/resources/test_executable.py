"""The built Windows launcher as the desktop shell, the loader and an installer see it: icons,
version block, manifest and PE header; and what the thumbnail handler imports and exports."""

import os
import struct
import unittest
import xml.etree.ElementTree as ET

import pefile

LAUNCHER = os.environ["LAUNCHER"]
THUMBNAIL_PROVIDER = os.environ["THUMBNAIL_PROVIDER"]
NOTIFY_SHELL = os.environ["NOTIFY_SHELL"]

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24
EN_US = 1033

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
DIB_SIZES = [16, 32, 48, 64, 128]
# Installers and file associations refer to these ids, so none may move or disappear.
ICON_GROUPS = {101: DIB_SIZES, **{i: DIB_SIZES + [256] for i in range(104, 126)}, 126: [128]}

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
WINDOWS_SETTINGS = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"

SYSTEM_DLLS = {"gdi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll", "ws2_32.dll"}
# The project's version, which the package carries too.
VERSION = os.environ["VERSION"]
MAJOR, MINOR, PATCH, TWEAK = map(int, VERSION.split("."))


def resource_key(entry):
    return entry.id if entry.name is None else str(entry.name)


def version_strings(pe):
    """The string tables' language and code page pairs, and the first table's strings."""
    tables = [table for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
              for table in info.StringTable]
    return ([table.LangID.upper() for table in tables],
            {key.decode(): value.decode() for key, value in tables[0].entries.items()})


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(LAUNCHER)
        # (type, id) -> {language: bytes}
        cls.resources = {}
        directory = getattr(cls.pe, "DIRECTORY_ENTRY_RESOURCE", None)
        for type_entry in directory.entries if directory else []:
            for id_entry in type_entry.directory.entries:
                languages = cls.resources.setdefault(
                    (resource_key(type_entry), resource_key(id_entry)), {})
                for language in id_entry.directory.entries:
                    languages[language.id] = cls.pe.get_data(
                        language.data.struct.OffsetToData, language.data.struct.Size)

    @classmethod
    def tearDownClass(cls):
        cls.pe.close()

    def ids(self, resource_type):
        return {key for kind, key in self.resources if kind == resource_type}

    def resource(self, resource_type, key):
        return next(iter(self.resources[resource_type, key].values()))

    def test_resources_are_english_and_of_known_types_only(self):
        self.assertTrue(self.resources, "no resources at all")
        self.assertLessEqual({kind for kind, _ in self.resources},
                             {RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST},
                             "unexpected resource types")
        for (kind, key), languages in sorted(self.resources.items(), key=str):
            with self.subTest(type=kind, id=key):
                self.assertEqual(list(languages), [EN_US], "languages other than en-US")

    def test_icon_groups(self):
        self.assertEqual(self.ids(RT_GROUP_ICON), set(ICON_GROUPS), "icon group ids")
        images = self.ids(RT_ICON)
        used = set()
        for group, sizes in ICON_GROUPS.items():
            if (RT_GROUP_ICON, group) not in self.resources:
                continue
            with self.subTest(group=group):
                data = self.resource(RT_GROUP_ICON, group)
                reserved, kind, count = struct.unpack_from("<HHH", data)
                self.assertEqual((reserved, kind), (0, 1), "not an icon group header")
                self.assertEqual(len(data), 6 + 14 * count, "group length against its count")
                found = []
                for i in range(count):
                    width, height, _, _, _, bits, length, image = \
                        struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
                    size = width or 256
                    found.append(size)
                    used.add(image)
                    self.assertTrue(image in images,
                                    f"{size} px entry names RT_ICON {image}, which is missing")
                    if image not in images:
                        continue
                    self.assertEqual(height or 256, size, f"{size} px entry is not square")
                    pixels = self.resource(RT_ICON, image)
                    self.assertEqual(length, len(pixels), f"{size} px entry's byte count")
                    if size == 256:
                        self.check_png(pixels)
                    else:
                        self.assertEqual(bits, 32, f"{size} px entry's bit count")
                        self.check_dib(pixels, size)
                self.assertEqual(sorted(found), sizes, "image sizes")
        self.assertEqual(images - used, set(), "RT_ICON resources that no group uses")

    def check_png(self, data):
        self.assertTrue(data.startswith(PNG_SIGNATURE), "256 px image is not a PNG")
        _, chunk, width, height, depth, colour = struct.unpack_from(">I4sIIBB", data, 8)
        self.assertEqual(chunk, b"IHDR", "PNG does not start with IHDR")
        self.assertEqual((width, height), (256, 256), "PNG dimensions")
        self.assertEqual((colour, depth), (6, 8), "PNG is not 8-bit RGBA")

    def check_dib(self, data, size):
        self.assertFalse(data.startswith(PNG_SIGNATURE), f"{size} px image is a PNG, not a DIB")
        header, width, height, _, bits = struct.unpack_from("<IiiHH", data)
        self.assertEqual(header, 40, f"{size} px image has no BITMAPINFOHEADER")
        # The height counts the colour rows and the AND mask rows.
        self.assertEqual((width, height), (size, 2 * size), f"{size} px image's dimensions")
        self.assertEqual(bits, 32, f"{size} px image's biBitCount")

    def test_version_block(self):
        self.assertEqual(self.ids(RT_VERSION), {1}, "version resource ids")
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        most, least = MAJOR << 16 | MINOR, PATCH << 16 | TWEAK
        expected = {"FileVersionMS": most, "FileVersionLS": least,
                    "ProductVersionMS": most, "ProductVersionLS": least,
                    "FileFlagsMask": 0x3F, "FileFlags": 0, "FileOS": 0x40004,
                    "FileType": 1, "FileSubtype": 0}
        self.assertEqual({field: getattr(fixed, field) for field in expected}, expected,
                         "VS_FIXEDFILEINFO")

        languages, strings = version_strings(self.pe)
        self.assertEqual(languages, [b"040904B0"], "string tables")
        copyright_ = strings.pop("LegalCopyright", "")
        self.assertTrue(copyright_.strip(), "LegalCopyright missing or empty")
        self.assertEqual(strings, {
            "CompanyName": "Orbedo", "FileDescription": "Orbedo", "ProductName": "Orbedo",
            "FileVersion": VERSION, "ProductVersion": VERSION,
            "InternalName": "Orbedo-L.exe", "OriginalFilename": "Orbedo-Launcher.exe"})

        variables = [var for info in self.pe.FileInfo[0] if info.Key == b"VarFileInfo"
                     for var in info.Var]
        self.assertEqual([list(var.entry) for var in variables], [[b"Translation"]],
                         "VarFileInfo")
        # pefile shows the first language and code page pair only; 4 bytes means there is no other.
        self.assertEqual(variables[0].ValueLength, 4, "more than one Translation pair")
        words = variables[0].entry[b"Translation"].split()
        self.assertEqual([int(word, 16) for word in words], [0x0409, 0x04B0], "Translation")

    def test_dlls_version_blocks_are_the_launchers_but_for_their_own_names(self):
        # App Control's and inventory tools' rules key on the original file name and the version.
        for path, description, internal in [
                (THUMBNAIL_PROVIDER, "Orbedo thumbnails of molecular structures",
                 "OrbedoThumbnails"),
                (NOTIFY_SHELL, "Orbedo Launcher package action: tells the shell that associations "
                               "changed", "NotifyShell")]:
            with open(path, "rb") as dll:
                strings = version_strings(pefile.PE(data=dll.read()))
            self.assertEqual(strings, ([b"040904B0"], dict(
                version_strings(self.pe)[1], FileDescription=description, InternalName=internal,
                OriginalFilename=os.path.basename(path))), path)

    def test_manifest(self):
        self.assertEqual(self.ids(RT_MANIFEST), {1}, "manifest resource ids")
        data = self.resource(RT_MANIFEST, 1)
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"), "manifest lacks the UTF-8 BOM")
        root = ET.fromstring(data)
        self.assertEqual(root.tag, ASM_V1 + "assembly")
        self.assertEqual(root.get("manifestVersion"), "1.0")
        # Anything more (a dependency, supportedOS, ...) changes how Windows loads the launcher.
        self.assertEqual({element.tag for element in root.iter()}, {
            ASM_V1 + "assembly", ASM_V3 + "trustInfo", ASM_V3 + "security",
            ASM_V3 + "requestedPrivileges", ASM_V3 + "requestedExecutionLevel",
            ASM_V3 + "application", ASM_V3 + "windowsSettings", WINDOWS_SETTINGS + "dpiAware"},
            "manifest elements")
        levels = root.findall(f".//{ASM_V3}requestedExecutionLevel")
        self.assertEqual([dict(level.attrib) for level in levels],
                         [{"level": "asInvoker", "uiAccess": "false"}],
                         "requestedExecutionLevel")
        dpi = root.findall(f".//{WINDOWS_SETTINGS}dpiAware")
        self.assertEqual([(element.text or "").strip() for element in dpi], ["true"],
                         "dpiAware")

    def test_hardened_image(self):
        header = self.pe.FILE_HEADER
        optional = self.pe.OPTIONAL_HEADER
        with self.subTest("x64 GUI program for Windows 6.0"):
            self.assertEqual(header.Machine, 0x8664, "machine is not AMD64")
            self.assertEqual(optional.Magic, 0x20B, "not PE32+")
            self.assertEqual(optional.Subsystem, 2, "subsystem is not WINDOWS_GUI")
            self.assertEqual((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion),
                             (6, 0), "subsystem version")
            self.assertEqual(optional.SizeOfStackReserve, 0x100000, "stack reserve")
        for name, flag in [("DYNAMIC_BASE", 0x40), ("HIGH_ENTROPY_VA", 0x20),
                           ("NX_COMPAT", 0x100), ("TERMINAL_SERVER_AWARE", 0x8000)]:
            with self.subTest(name):
                self.assertTrue(optional.DllCharacteristics & flag, f"{name} not set")
        with self.subTest("relocations"):
            # ASLR needs them: without, Windows loads the image at its preferred base.
            self.assertFalse(header.Characteristics & 0x1, "RELOCS_STRIPPED is set")
            relocations = optional.DATA_DIRECTORY[5]
            self.assertGreater(relocations.Size, 0, "base relocation directory is empty")
            self.assertTrue(getattr(self.pe, "DIRECTORY_ENTRY_BASERELOC", None),
                            "no base relocation blocks")

    def test_no_build_time_in_image(self):
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0, "COFF header TimeDateStamp")
        for entry in getattr(self.pe, "DIRECTORY_ENTRY_DEBUG", []):
            self.assertEqual(entry.struct.TimeDateStamp, 0, "debug directory TimeDateStamp")

    def test_imports_system_dlls_only(self):
        # Any other DLL would be looked up beside the launcher first and could be planted there.
        # The thumbnail handler, loaded into the shell's surrogate, exports COM's two entries only.
        provider = pefile.PE(THUMBNAIL_PROVIDER)
        self.addCleanup(provider.close)
        for pe in self.pe, provider:
            dlls = {entry.dll.decode().lower()
                    for directory in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT")
                    for entry in getattr(pe, directory, [])}
            self.assertTrue(dlls, "no imports found")
            self.assertEqual(dlls - SYSTEM_DLLS, set(), "imports from non-system DLLs")
        self.assertEqual([symbol.name for symbol in provider.DIRECTORY_ENTRY_EXPORT.symbols],
                         [b"DllCanUnloadNow", b"DllGetClassObject"])


if __name__ == "__main__":
    unittest.main()
