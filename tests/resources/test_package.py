"""The Windows Installer package's tables against the Windows Installer documentation: each rule
is named after the page or the internal consistency evaluator (ICE) it follows, and checks what
can be checked from the tables alone."""

import csv
import importlib.machinery
import importlib.util
import os
import re
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

import pefile

PACKAGE = os.environ["PACKAGE"]
LAUNCHER = os.environ["LAUNCHER"]
THUMBNAIL_PROVIDER = os.environ["THUMBNAIL_PROVIDER"]
SOURCE_DIR = os.environ["SOURCE_DIR"]
CLASS_ID = "{AB4AAF10-92E1-4AD1-A051-6225D83BEE1A}"
THUMBNAIL_HANDLER = "ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}"
PREVIEW_HANDLER = "ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}"
PREVIEW_HOST = "{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}"
APPROVED = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved"
PREVIEW_HANDLERS = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers"
WIX = "{http://schemas.microsoft.com/wix/2006/wi}"

REGISTRY_KEY_PATH, PERMANENT, TRANSITIVE, NEVER_OVERWRITE, WIN64 = 4, 16, 64, 128, 256
DLL, CONTINUE, IN_SCRIPT, ONLY_DETECT, MIN_INCLUSIVE, MAX_INCLUSIVE = 1, 64, 0x400, 2, 0x100, 0x200
GUID = re.compile(r"\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}")
SHORT_NAME = re.compile(r"[^\\/?|<>:*\"+,;=\[\] .]{1,8}(\.[^\\/?|<>:*\"+,;=\[\] .]{1,3})?")
FILE_REFERENCE = re.compile(r"\[#([^\]]+)\]")
# tools/make-package, which reads a package's components as the list of shipped ones holds them.
_LOADER = importlib.machinery.SourceFileLoader("make_package",
                                               os.path.join(SOURCE_DIR, "tools", "make-package"))
MAKE_PACKAGE = importlib.util.module_from_spec(importlib.util.spec_from_loader("make_package",
                                                                               _LOADER))
_LOADER.exec_module(MAKE_PACKAGE)


def export(name):
    """The rows of a table as {column: text}; a table the package lacks has none."""
    done = subprocess.run(["msiinfo", "export", PACKAGE, name], capture_output=True, text=True)
    if done.returncode:
        return []
    lines = done.stdout.splitlines()
    return [dict(zip(lines[0].split("\t"), line.split("\t"))) for line in lines[3:]]


def sequence(name):
    return {row["Action"]: (int(row["Sequence"]), row["Condition"]) for row in export(name)}


class PackageTablesTest(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.properties = {row["Property"]: row["Value"] for row in export("Property")}
        cls.components = {row["Component"]: row for row in export("Component")}
        cls.registry = export("Registry")
        cls.searches = {row["Property"]: row["Signature_"] for row in export("AppSearch")}
        cls.actions = {row["Action"]: row for row in export("CustomAction")}
        # {extension: the ProgID the package registers for it}, from the OpenWithProgids rows.
        cls.progids = {row["Key"].split("\\")[0]: row["Name"] for row in cls.registry
                       if row["Key"].endswith("\\OpenWithProgids")}
        cls.summary = dict(line.split(": ", 1) for line in subprocess.run(
            ["msiinfo", "suminfo", PACKAGE], capture_output=True, text=True,
            check=True).stdout.splitlines())

    def test_searches_reach_the_install_from_its_user_interface(self):
        # SecureCustomProperties Property, AppSearch Action: the searches run in the client.
        conditions = " ".join(
            [row["Condition"] for row in self.components.values()]
            + [row["Condition"] for row in export("LaunchCondition")]
            + [condition for table in ("InstallUISequence", "InstallExecuteSequence")
               for _, condition in sequence(table).values()])
        used = set(re.findall(r"\w+", conditions)) | {row["Directory"]
                                                      for row in export("Directory")}
        secure = self.properties.get("SecureCustomProperties", "").split(";")
        self.assertIn("INSTALLFOLDER", used & set(self.searches))
        self.assertEqual(sorted(used & set(self.searches) - set(secure)), [])

    def test_extension_defaults_are_never_overwritten(self):
        # Component Table (msidbComponentAttributesNeverOverwrite), REINSTALLMODE Property.
        with open(os.path.join(SOURCE_DIR, "resources", "icons", "icons.tsv")) as table:
            extensions = {row["ext"] for row in csv.DictReader(table, delimiter="\t")} - {"-"}
        defaults = {row["Key"].rsplit("\\", 1)[-1]: self.components[row["Component_"]]
                    for row in self.registry
                    if row["Key"].rsplit("\\", 1)[-1].startswith(".") and not row["Name"]}
        self.assertEqual(set(defaults), extensions)
        for extension, component in defaults.items():
            with self.subTest(extension):
                attributes = int(component["Attributes"])
                self.assertEqual(attributes & (REGISTRY_KEY_PATH | PERMANENT | NEVER_OVERWRITE
                                               | TRANSITIVE),
                                 REGISTRY_KEY_PATH | PERMANENT | NEVER_OVERWRITE)
                self.assertTrue(component["Condition"], "written whoever owns the extension")
        # The same defaults for Orbedo's own WiX v3 installer: the package's components, GUIDs,
        # conditions and key paths.
        fragment = ET.parse(os.path.join(SOURCE_DIR, "resources", "installer",
                                         "extension-defaults.wxs"))
        keys = {row["Registry"]: row for row in self.registry}
        self.assertEqual(
            {(element.get("Guid"), element.find(WIX + "Condition").text,
              element.get("Permanent"), element.get("NeverOverwrite"),
              element.find(WIX + "RegistryValue").get("Key").rsplit("\\", 1)[-1],
              element.find(WIX + "RegistryValue").get("Value"))
             for element in fragment.iter(WIX + "Component")},
            {(component["ComponentId"], component["Condition"], "yes", "yes", extension,
              keys[component["KeyPath"]]["Value"]) for extension, component in defaults.items()})

    def test_file_rows_are_the_files_versions(self):
        # File Table (Version: the file's own), File Versioning Rules, MsiFileHash Table (for
        # unversioned files only), Filename (ICE03).
        rows = {row["FileName"].split("|")[-1]: row for row in export("File")}
        versions = {}
        for path in LAUNCHER, THUMBNAIL_PROVIDER:
            pe = pefile.PE(path)
            fixed = pe.VS_FIXEDFILEINFO[0]
            [translation] = [var.entry[b"Translation"] for info in pe.FileInfo[0]
                             if info.Key == b"VarFileInfo" for var in info.Var]
            versions[os.path.basename(path)] = (
                f"{fixed.FileVersionMS >> 16}.{fixed.FileVersionMS & 0xFFFF}."
                f"{fixed.FileVersionLS >> 16}.{fixed.FileVersionLS & 0xFFFF}",
                str(int(translation.split()[0], 16)), str(os.path.getsize(path)))
        self.assertEqual({name: (row["Version"], row["Language"], row["FileSize"])
                          for name, row in rows.items()}, versions)
        self.assertEqual(export("MsiFileHash"), [])
        names = ([file["FileName"] for file in export("File")]
                 + [row["FileName"] for row in export("Signature")]
                 + [part for row in export("Directory") if row["Directory_Parent"]
                    for part in row["DefaultDir"].split(":")])
        for name in names:
            self.assertRegex(name.split("|")[0], rf"^(\.|{SHORT_NAME.pattern})$")

    def test_refuses_where_orbedo_exe_is_not_where_the_launcher_goes(self):
        # LaunchCondition Table, DrLocator Table, RegLocator Table, Signature Table, ICE12.
        conditions = [row for row in export("LaunchCondition")
                      if row["Condition"].startswith("Installed OR ")]
        self.assertEqual(len(conditions), 1, "no launch condition for a first install")
        [condition] = conditions
        self.assertIn("[INSTALLFOLDER]", condition["Description"])
        found = condition["Condition"].split(" OR ", 1)[1]
        [signature] = [row for row in export("Signature")
                       if row["Signature"] == self.searches.get(found)]
        self.assertEqual(signature["FileName"].split("|")[-1], "Orbedo.exe")
        folder = self.searches["INSTALLFOLDER"]
        located = {(row["Signature_"], row["Parent"], row["Path"], row["Depth"])
                   for row in export("DrLocator")}
        # In the folder the search of INSTALLFOLDER finds: an installed version's, else the one
        # INSTALLFOLDER already names, given or set to the default before the searches.
        self.assertEqual({row for row in located if row[0] in (signature["Signature"], folder)},
                         {(signature["Signature"], folder, "", "0"),
                          (folder, "", "[INSTALLFOLDER]", "0")})
        [registry] = [row for row in export("RegLocator") if row["Signature_"] == folder]
        self.assertEqual(int(registry["Type"]) & 0x0F, 0, "not a folder")
        # RegLocator Table (Key, not nullable): where INSTALLFOLDER is given, a key never written.
        key = self.properties.get(re.fullmatch(r"\[(\w+)\]", registry["Key"])[1], "")
        self.assertNotIn(key, ["", *(row["Key"] for row in self.registry)])
        [(name, default)] = [(name, row) for name, row in self.actions.items()
                             if row["Source"] == "INSTALLFOLDER"]
        self.assertEqual(int(default["Type"]), 51)
        self.assertRegex(default["Target"], r"^\[ProgramFiles64Folder\]")
        for table in ("InstallUISequence", "InstallExecuteSequence"):
            actions = sequence(table)
            self.assertEqual(actions[name][1], "NOT INSTALLFOLDER")
            self.assertLess(actions[name][0], actions["AppSearch"][0])
            self.assertLess(actions["AppSearch"][0], actions["LaunchConditions"][0])

    def test_registry_rows_follow_the_install_context_and_name_the_installed_launcher(self):
        # Registry Table (root 0), ICE69, LocalServer32.
        fragment = ET.parse(os.path.join(SOURCE_DIR, "resources", "installer", "launcher.wxs"))
        shared = {element.get("Id") for element in fragment.iter(WIX + "Component")}
        self.assertEqual({row["Root"] for row in self.registry if row["Component_"] in shared},
                         {"0", "-1"})
        features = {}
        for row in export("FeatureComponents"):
            features.setdefault(row["Component_"], set()).add(row["Feature_"])
        files = {row["File"]: row["Component_"] for row in export("File")}
        for row in self.registry:
            for file in FILE_REFERENCE.findall(row["Value"]):
                self.assertLessEqual(features[row["Component_"]], features.get(files[file], set()),
                                     row)
        server = [row["Value"] for row in self.registry
                  if row["Key"] == f"CLSID\\{CLASS_ID}\\LocalServer32" and not row["Name"]]
        self.assertEqual(server, ['"[#Launcher.exe]"'])

    def test_shell_handlers_of_the_structure_types_run_isolated(self):
        # Thumbnail Handlers (Registering Your Thumbnail Handler, Thumbnail Processes), How to
        # Register a Preview Handler: under the ProgID of each type the table marks, never under an
        # extension; in process, apartment model, served by the DLL; never DisableProcessIsolation
        # or DisableLowILProcessIsolation; the preview handler in the 64-bit preview host (its
        # AppID) and on the list of preview handlers. Registering Shell Extension Handlers: both on
        # the approved list, for the policy EnforceShellExtensionSecurity. Lists in the install
        # context's root.
        with open(os.path.join(SOURCE_DIR, "resources", "icons", "icons.tsv")) as table:
            marked = {f"Orbedo.{row['label']}" for row in csv.DictReader(table, delimiter="\t")
                      if row["thumbnail"] == "yes"}
        [dll] = [row for row in export("File") if row["FileName"].endswith("|OrbedoThumbnails.dll")]
        for handler, name, lists, extra in [
                (THUMBNAIL_HANDLER, "Orbedo thumbnails", [APPROVED], {}),
                (PREVIEW_HANDLER, "Orbedo preview", [APPROVED, PREVIEW_HANDLERS],
                 {"DisplayName": "Orbedo preview", "AppID": PREVIEW_HOST})]:
            handlers = {row["Key"].split("\\")[0]: row["Value"] for row in self.registry
                        if row["Key"].endswith(handler)}
            self.assertEqual(set(handlers), marked)
            [handler_class] = set(handlers.values())

            def values(key):
                return {row["Name"]: row["Value"] for row in self.registry if row["Key"] == key}
            self.assertEqual(values(f"CLSID\\{handler_class}"), {"": name, **extra})
            self.assertEqual(values(f"CLSID\\{handler_class}\\InprocServer32"),
                             {"": f"[#{dll['File']}]", "ThreadingModel": "Apartment"})
            self.assertEqual(sorted((row["Root"], row["Key"], row["Value"]) for row in self.registry
                                    if row["Name"] == handler_class),
                             sorted(("-1", key, name) for key in lists))
        self.assertEqual([row for row in self.registry if "Isolation" in row["Name"]], [])

    def test_default_associations_file_names_the_package_types(self):
        # Dism /Import-DefaultAppAssociations: an Association per type, naming a ProgID we register.
        root = ET.parse(f"{SOURCE_DIR}/docs/registration/default-associations.xml").getroot()
        self.assertEqual((root.tag, len(root)), ("DefaultAssociations", 23))
        self.assertEqual({(row.get("Identifier"), row.get("ProgId"), row.get("ApplicationName"))
                          for row in root},
                         {(extension, progid, "Orbedo")
                          for extension, progid in self.progids.items()})

    def test_default_apps_names_every_type(self):
        # Registering Programs with Client Types (Capabilities, RegisteredApplications).
        values = {(row["Key"], row["Name"]): row["Value"] for row in self.registry
                  if row["Root"] == "-1"}
        capabilities = values[("SOFTWARE\\RegisteredApplications", "Orbedo")]
        self.assertEqual(values[(capabilities, "ApplicationIcon")], "[#Launcher.exe],-101")
        self.assertEqual({name: value for (key, name), value in values.items()
                          if key == capabilities + "\\FileAssociations"}, self.progids)

    def test_the_shell_is_told_once_the_registry_is_written_or_removed(self):
        # Custom Action Type 1, Custom Action Return Processing Options, Deferred Execution Custom
        # Actions (before InstallFinalize, an immediate action runs before the script's changes).
        [(name, action)] = [(name, row) for name, row in self.actions.items()
                            if int(row["Type"]) & 0x3F == DLL]
        self.assertEqual(int(action["Type"]) & (CONTINUE | IN_SCRIPT), CONTINUE)
        actions = sequence("InstallExecuteSequence")
        self.assertGreater(actions[name][0], actions["InstallFinalize"][0])
        # UPGRADINGPRODUCTCODE Property: not in the old product's removal inside an upgrade.
        self.assertEqual(actions[name][1], "NOT UPGRADINGPRODUCTCODE")
        dll = pefile.PE(data=subprocess.run(
            ["msiinfo", "extract", PACKAGE, "Binary." + action["Source"]], capture_output=True,
            check=True).stdout)
        imports = {entry.dll.lower(): [symbol.name for symbol in entry.imports]
                   for entry in dll.DIRECTORY_ENTRY_IMPORT}
        self.assertIn(b"SHChangeNotify", imports[b"shell32.dll"])
        self.assertLessEqual(set(imports), {b"kernel32.dll", b"msvcrt.dll", b"shell32.dll"})
        self.assertIn(action["Target"].encode(),
                      [symbol.name for symbol in dll.DIRECTORY_ENTRY_EXPORT.symbols])

    def test_files_in_use_never_close_a_program(self):
        # MSIRESTARTMANAGERCONTROL Property, MSIRMSHUTDOWN Property, REBOOT Property: Restart
        # Manager only detects, and an in-use file is replaced at the next restart.
        self.assertEqual({name: self.properties.get(name)
                          for name in ("MSIRESTARTMANAGERCONTROL", "MSIRMSHUTDOWN", "REBOOT")},
                         {"MSIRESTARTMANAGERCONTROL": "DisableShutdown", "MSIRMSHUTDOWN": None,
                          "REBOOT": None})

    def test_add_remove_programs(self):
        # ARPINSTALLLOCATION Property, ARPNOMODIFY Property.
        self.assertEqual(self.properties.get("ARPNOMODIFY"), "1")
        [(name, location)] = [(name, row) for name, row in self.actions.items()
                              if row["Source"] == "ARPINSTALLLOCATION"]
        self.assertEqual((int(location["Type"]), location["Target"]), (51, "[INSTALLFOLDER]"))
        actions = sequence("InstallExecuteSequence")
        self.assertLess(actions["CostFinalize"][0], actions[name][0])
        self.assertLess(actions[name][0], actions["RegisterProduct"][0])

    def test_components_and_features(self):
        # ICE08, ICE21, Component Table (KeyPath).
        guids = [row["ComponentId"] for row in self.components.values()]
        self.assertEqual([guid for guid in guids if not GUID.fullmatch(guid)], [])
        self.assertEqual(len(set(guids)), len(guids), "a GUID shared by two components")
        featured = {row["Component_"] for row in export("FeatureComponents")}
        self.assertEqual(set(self.components) - featured, set())
        owners = {row["File"]: row["Component_"] for row in export("File")}
        registry = {row["Registry"]: row["Component_"] for row in self.registry}
        for name, row in self.components.items():
            rows = registry if int(row["Attributes"]) & REGISTRY_KEY_PATH else owners
            self.assertEqual(rows.get(row["KeyPath"]), name, f"{name}'s key path")

    def test_shipped_components_keep_their_guids_and_resources(self):
        # Changing the Component Code: a component that has shipped keeps its GUID and its
        # resources, in every later release but one that removes it, a major upgrade.
        kept, listed = MAKE_PACKAGE.shipped()
        built = MAKE_PACKAGE.layout(PACKAGE)
        changed = sorted(name for name in listed if built.get(name) != kept.get(name))
        self.assertEqual({name: built.get(name) for name in changed},
                         {name: kept.get(name) for name in changed})

    def test_versions_differ_where_windows_installer_compares_them(self):
        # ProductVersion Property: up to 255.255.65535, the fourth field ignored; File Table: the
        # files' versions, which must then be the product's.
        self.assertRegex(self.properties["ProductVersion"], r"^\d+\.\d+\.\d+(\.0)?$")
        refusals = {"1.0.0.5": "ignores a version's fourth field", "256.0.0.0": "up to",
                    "1.0.70000.0": "up to", "1.0.1.0": "not of the package's, 1.0.1.0"}
        with tempfile.TemporaryDirectory() as folder:
            refused = {version: subprocess.run(
                [os.path.join(SOURCE_DIR, "tools", "make-package"), "pack", "--version",
                 version, "--launcher", LAUNCHER, "--notify-shell", LAUNCHER, "--thumbnails",
                 LAUNCHER, "--output", os.path.join(folder, "refused.msi")],
                capture_output=True, text=True).stderr for version in refusals}
        self.assertEqual({version: text in refused[version] for version, text in refusals.items()},
                         dict.fromkeys(refusals, True), refused)

    def test_64_bit_package(self):
        # ICE80, Summary Information Stream (Template, Revision Number, Page Count, Word Count).
        self.assertEqual(self.summary["Template"], "x64;" + self.properties["ProductLanguage"])
        self.assertRegex(self.summary["Revision number (UUID)"], GUID)
        self.assertGreaterEqual(int(self.summary["Version"].split()[0]), 200)
        self.assertEqual(int(self.summary["Source"].split()[0]), 2, "not compressed")
        for name in ("ProductCode", "UpgradeCode"):
            self.assertRegex(self.properties[name], GUID)
        self.assertEqual([name for name, row in self.components.items()
                          if not int(row["Attributes"]) & WIN64], [])
        self.assertEqual([row["Signature_"] for row in export("RegLocator")
                          if not int(row["Type"]) & 0x10], [])
        parents = {row["Directory"]: row["Directory_Parent"] for row in export("Directory")}
        for row in self.components.values():
            folder = row["Directory_"]
            while folder not in ("ProgramFiles64Folder", ""):
                folder = parents[folder]
            self.assertEqual(folder, "ProgramFiles64Folder", row["Component"])

    def test_sequences(self):
        # ICE27, ICE68.
        order = {"InstallUISequence": ["FindRelatedProducts", "AppSearch", "LaunchConditions",
                                       "CostInitialize", "FileCost", "CostFinalize",
                                       "ExecuteAction"],
                 "InstallExecuteSequence": ["FindRelatedProducts", "AppSearch",
                                            "LaunchConditions", "CostInitialize", "FileCost",
                                            "CostFinalize", "InstallValidate",
                                            "RemoveExistingProducts", "InstallInitialize",
                                            "ProcessComponents", "InstallFiles",
                                            "WriteRegistryValues", "RegisterProduct",
                                            "PublishProduct", "InstallFinalize"]}
        for table, actions in order.items():
            numbers = sequence(table)
            self.assertEqual(sorted(actions, key=lambda action: numbers[action][0]), actions)
        # ICE82: no two actions of one number.
        for table in ("InstallUISequence", "InstallExecuteSequence", "AdminUISequence",
                      "AdminExecuteSequence", "AdvtExecuteSequence"):
            numbers = [number for number, _ in sequence(table).values()]
            self.assertEqual(len(set(numbers)), len(numbers), table)
        # One set of taken numbers, grown with every action that packing adds.
        taken = MAKE_PACKAGE.Sequences(PACKAGE)
        free = max(taken.taken["InstallExecuteSequence"]) + 1
        taken.take("InstallExecuteSequence", free, "Added")
        self.assertRaises(SystemExit, taken.take, "InstallExecuteSequence", free, "AddedAgain")
        # Upgrade Table: a rebuild at the same version replaces the installed one, a lower
        # version is refused.
        version = self.properties["ProductVersion"]
        upgrades = {(row["VersionMin"], row["VersionMax"], int(row["Attributes"]) & (
            ONLY_DETECT | MIN_INCLUSIVE | MAX_INCLUSIVE)) for row in export("Upgrade")}
        self.assertEqual(upgrades, {("", version, MAX_INCLUSIVE), (version, "", ONLY_DETECT)})
        for name, row in self.actions.items():
            kind = int(row["Type"])
            # No impersonation is for actions that run deferred, in the script.
            self.assertFalse(kind & 0x800 and not kind & 0x400, f"{name} is of type {kind}")


if __name__ == "__main__":
    unittest.main()
