#!/usr/bin/env python3
"""Static checks of a built Sheenpad.dll, for builds whose programs cannot run:

    check-dll.py DLL --machine i386|x86-64 --registry-script FILE.rgs
                 [--same-registry-as OTHER.dll]

- a DLL of the machine's PE format (PE32 for i386, PE32+ for x86-64);
- exports exactly DllCanUnloadNow @1, DllGetClassObject @2, DllRegisterServer @3
  and DllUnregisterServer @4, by undecorated name;
- imports only DLLs that ship with Windows;
- carries every resource of the library with its type and id (US English):
  "REGISTRY" 101 byte-identical to the registration script (and to the other
  DLL's, when given), "TYPELIB" 1 for the machine's system kind, dialog 205,
  icon groups 201 (32x32) and 203, 204 (32x32 and 16x16), all in 16 colours,
  string 100 "Sheenpad", and the version resource with its exact strings.

Prints one line per failed check and a summary; exits 1 on any failure.
Plain Python, no PE library: only the structures these checks read.
"""
import argparse
import os
import re
import struct
import sys

MACHINES = {"i386": (0x014C, 0x10B), "x86-64": (0x8664, 0x20B)}
SYSKIND = {"i386": 1, "x86-64": 3}  # SYS_WIN32, SYS_WIN64
EXPORTS = {1: "DllCanUnloadNow", 2: "DllGetClassObject", 3: "DllRegisterServer",
           4: "DllUnregisterServer"}
SYSTEM_DLLS = re.compile(
    r"^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|msvcrt|"
    r"ntdll|uuid|ws2_32|bcrypt|version)\.dll$|^api-ms-win-")
RT_ICON, RT_STRING, RT_DIALOG, RT_GROUP_ICON, RT_VERSION = 3, 6, 5, 14, 16
LANG_EN_US = 0x409
VERSION_STRINGS = {
    "CompanyName": "",
    "FileDescription": "Sheenpad Module",
    "FileVersion": "1, 0, 0, 1",
    "InternalName": "Sheenpad",
    "OriginalFilename": "Sheenpad.DLL",
    "ProductName": "Sheenpad Module",
    "ProductVersion": "1, 0, 0, 1",
    "OLESelfRegister": "",
}


class PeError(Exception):
    pass


class Pe:
    """The parts of a PE image that the checks read."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, vsize, va, rawsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((va, max(vsize, rawsize), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise PeError("address 0x%x lies in no section" % rva)

    def read(self, rva, size):
        at = self.offset(rva)
        return self.data[at:at + size]

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def exports(self):
        """{ordinal: name} of the exports that have names, and the unnamed ordinals."""
        rva, size = self.directory(0)
        if not rva:
            return {}, set()
        (_, _, _, _, _, base, functions, names, _, name_table,
         ordinal_table) = struct.unpack_from("<IIHHIIIIIII", self.read(rva, 40))
        named = {}
        for i in range(names):
            name_rva = struct.unpack_from("<I", self.read(name_table + 4 * i, 4))[0]
            index = struct.unpack_from("<H", self.read(ordinal_table + 2 * i, 2))[0]
            named[base + index] = self.cstring(name_rva)
        address_table = struct.unpack_from("<I", self.read(rva + 28, 4))[0]
        unnamed = set()
        for i in range(functions):
            if struct.unpack_from("<I", self.read(address_table + 4 * i, 4))[0] and base + i not in named:
                unnamed.add(base + i)
        return named, unnamed

    def imports(self):
        rva, _ = self.directory(1)
        result = []
        while rva:
            entry = struct.unpack_from("<IIIII", self.read(rva, 20))
            if entry[3] == 0:
                break
            result.append(self.cstring(entry[3]))
            rva += 20
        return result

    def resources(self):
        """{(type, id, language): bytes}; names are str, numbers int."""
        root, _ = self.directory(2)
        found = {}
        if not root:
            return found

        def entries(rva):
            named, numbered = struct.unpack_from("<HH", self.read(rva + 12, 4))
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.read(rva + 16 + 8 * i, 8))
                if key & 0x80000000:
                    at = root + (key & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.read(at, 2))[0]
                    key = self.read(at + 2, 2 * length).decode("utf-16-le")
                yield key, target

        for rtype, t in entries(root):
            for rid, i in entries(root + (t & 0x7FFFFFFF)):
                for lang, leaf in entries(root + (i & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.read(root + leaf, 8))
                    found[(rtype, rid, lang)] = self.read(data_rva, size)
        return found


def parse_version(data):
    """VS_VERSIONINFO: (fixed file/product version tuples, {block: {name: value}},
    translations)."""

    def node(at):
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        end = data.index(b"\0\0", at + 6)
        while (end - at - 6) % 2:
            end = data.index(b"\0\0", end + 1)
        key = data[at + 6:end].decode("utf-16-le")
        value_at = (end + 2 + 3) & ~3
        return at + length, key, kind, value_length, value_at

    end, key, _, value_length, value_at = node(0)
    if key != "VS_VERSION_INFO":
        raise PeError("version resource key is %r" % key)
    fixed = struct.unpack_from("<13I", data, value_at)
    if fixed[0] != 0xFEEF04BD:
        raise PeError("no VS_FIXEDFILEINFO signature")
    split = lambda hi, lo: (hi >> 16, hi & 0xFFFF, lo >> 16, lo & 0xFFFF)
    versions = (split(fixed[2], fixed[3]), split(fixed[4], fixed[5]))
    strings, translations = {}, []
    child = (value_at + value_length + 3) & ~3
    while child < end:
        child_end, child_key, _, _, child_value = node(child)
        inner = child_value
        while inner < child_end:
            inner_end, inner_key, _, inner_length, inner_value = node(inner)
            if child_key == "StringFileInfo":
                table = strings.setdefault(inner_key, {})
                entry = inner_value
                while entry < inner_end:
                    entry_end, name, _, length, value = node(entry)
                    text = data[value:value + 2 * length].decode("utf-16-le") if length else ""
                    table[name] = text.rstrip("\0")
                    entry = (entry_end + 3) & ~3
            elif child_key == "VarFileInfo" and inner_key == "Translation":
                translations = [struct.unpack_from("<HH", data, inner_value + 4 * i)
                                for i in range(inner_length // 4)]
            inner = (inner_end + 3) & ~3
        child = (child_end + 3) & ~3
    return versions, strings, translations


def icon_images(resources, group):
    """The (width, height, colours, bits) of each image of an icon group."""
    data = resources[(RT_GROUP_ICON, group, LANG_EN_US)]
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    images = []
    for i in range(count):
        width, height, colours, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
        if (RT_ICON, icon_id, LANG_EN_US) not in resources:
            raise PeError("icon group %d names icon %d, which is missing" % (group, icon_id))
        images.append((width or 256, height or 256, colours, bits))
    return images


def check(args):
    failures = []
    fail = failures.append
    with open(args.dll, "rb") as f:
        pe = Pe(f.read())

    machine, magic = MACHINES[args.machine]
    if (pe.machine, pe.magic) != (machine, magic):
        fail("machine 0x%x with optional header 0x%x, not %s" % (pe.machine, pe.magic, args.machine))
    if not pe.characteristics & 0x2000:
        fail("not a DLL")

    named, unnamed = pe.exports()
    if named != EXPORTS:
        fail("exports %s, not %s" % (sorted(named.items()), sorted(EXPORTS.items())))
    if unnamed:
        fail("exports ordinals without names: %s" % sorted(unnamed))

    for dll in pe.imports():
        if not SYSTEM_DLLS.search(dll.lower()):
            fail("imports %s, which is not a system DLL" % dll)

    resources = pe.resources()
    wanted = [("REGISTRY", 101), ("TYPELIB", 1), (RT_DIALOG, 205), (RT_GROUP_ICON, 201),
              (RT_GROUP_ICON, 203), (RT_GROUP_ICON, 204), (RT_STRING, 100 // 16 + 1), (RT_VERSION, 1)]
    missing = [(rtype, rid) for rtype, rid in wanted if (rtype, rid, LANG_EN_US) not in resources]
    for rtype, rid in missing:
        fail("resource type %r id %r (US English) is missing" % (rtype, rid))
    if missing:
        return failures

    with open(args.registry_script, "rb") as f:
        script = f.read()
    registry = resources[("REGISTRY", 101, LANG_EN_US)]
    if registry != script:
        fail("REGISTRY 101 differs from %s" % args.registry_script)
    if args.same_registry_as and not os.path.isfile(args.same_registry_as):
        fail("cannot compare REGISTRY 101 with that of %s: the file is missing (the win32 build "
             "makes it with its target win64_sheenpad, or takes the path set in the CMake cache "
             "variable GLINTMARK_WIN64_SHEENPAD)" % args.same_registry_as)
    elif args.same_registry_as:
        with open(args.same_registry_as, "rb") as f:
            other = Pe(f.read()).resources().get(("REGISTRY", 101, LANG_EN_US))
        if other != registry:
            fail("REGISTRY 101 differs from that of %s" % args.same_registry_as)

    typelib = resources[("TYPELIB", 1, LANG_EN_US)]
    if typelib[:4] != b"MSFT":
        fail("TYPELIB 1 is not a type library")
    else:
        flags, version = struct.unpack_from("<II", typelib, 0x14)
        if flags & 0xF != SYSKIND[args.machine]:
            fail("TYPELIB 1 has system kind %d" % (flags & 0xF))
        if version != 1:  # major 1 in the low word, minor 0 in the high word
            fail("TYPELIB 1 has version 0x%x, not 1.0" % version)

    for group, sizes in ((201, [32]), (203, [32, 16]), (204, [32, 16])):
        images = icon_images(resources, group)
        expected = [(s, s, 16, 4) for s in sizes]
        if images != expected:
            fail("icon group %d holds %s, not %s" % (group, images, expected))

    block = resources[(RT_STRING, 100 // 16 + 1, LANG_EN_US)]
    at, text = 0, None
    for index in range(16):
        length = struct.unpack_from("<H", block, at)[0]
        if index == 100 % 16:
            text = block[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        at += 2 + 2 * length
    if text != "Sheenpad":
        fail("string 100 is %r, not 'Sheenpad'" % text)

    versions, strings, translations = parse_version(resources[(RT_VERSION, 1, LANG_EN_US)])
    if versions != ((1, 0, 0, 1), (1, 0, 0, 1)):
        fail("numeric file and product versions are %s, not 1.0.0.1" % (versions,))
    if strings != {"040904B0": VERSION_STRINGS}:
        fail("version strings are %s" % strings)
    if translations != [(0x409, 1200)]:
        fail("version translations are %s" % translations)
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dll")
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    parser.add_argument("--registry-script", required=True)
    parser.add_argument("--same-registry-as")
    args = parser.parse_args()
    try:
        failures = check(args)
    except (OSError, PeError, struct.error, ValueError, KeyError) as e:
        failures = ["cannot read it: %s" % e]
    for line in failures:
        print("check-dll: %s: %s" % (args.dll, line))
    if failures:
        return 1
    print("check-dll: %s: %s DLL, four exports, system imports, every resource as expected"
          % (args.dll, args.machine))
    return 0


if __name__ == "__main__":
    sys.exit(main())
