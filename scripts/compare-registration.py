#!/usr/bin/env python3
"""Registers two builds of Sheenpad.dll, each in its own Wine prefix, and
checks that they write the same registry content:

    compare-registration.py DLL PREFIX REFERENCE-DLL REFERENCE-PREFIX

Made for the 32-bit library (in the win32 build's 32-bit prefix) against the
64-bit one (in a 64-bit prefix). Each library is registered with the regsvr32
of its own Wine, cmake/wine32.sh for a PE32 file and `wine` for a PE32+ one;
a prefix that does not exist yet is created as the library's kind.

For each library: regsvr32 /u (so that leftovers of an aborted run cannot hide
a difference), regsvr32, `reg export` of the ProgIDs, the class, the type
library, its interface, the Browser Helper Object and the toolbar button, and
regsvr32 /u again, also when a step fails, so that the prefix ends as it was.

The exports are compared after two substitutions, the only ways in which the
two registrations may differ: the library's path (its long and short forms,
and its folder) becomes <Sheenpad.dll>, and the type library's platform
subkey (win32 or win64, by the library's machine) becomes <platform>.

Prints the difference and exits 1 when they differ or a step fails.
"""
import difflib
import ntpath
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
WINE32 = os.path.join(HERE, "..", "cmake", "wine32.sh")
WINE_PREFIX_SCRIPT = os.path.join(HERE, "..", "cmake", "wine-prefix.sh")
CLSID = "{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}"
KEYS = [
    r"HKCR\Sheenpad.Highlighter.1",
    r"HKCR\Sheenpad.Highlighter",
    "HKCR\\CLSID\\" + CLSID,
    r"HKCR\TypeLib\{5A7D3C10-4E2B-11D5-9F31-0050DA2B7E10}",
    r"HKCR\Interface\{5A7D3C1C-4E2B-11D5-9F31-0050DA2B7E10}",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\" + CLSID,
    r"HKLM\SOFTWARE\Microsoft\Internet Explorer\Extensions\{c4e1a9f2-4e2c-11d5-9f3B-0050da2b7e10}",
]
# PE machine: (kind, Wine command, prefix architecture and type library platform)
KINDS = {0x014C: ("32-bit", WINE32, "win32"), 0x8664: ("64-bit", "wine", "win64")}
TIMEOUT = 300


class Failure(Exception):
    """A failed step; `wine_log` says whether the Wine log tells more."""

    def __init__(self, message, wine_log=True):
        super().__init__(message)
        self.wine_log = wine_log


def machine_of(path):
    try:
        with open(path, "rb") as f:
            data = f.read(4096)
        at = struct.unpack_from("<I", data, 0x3C)[0]
        if data[:2] != b"MZ" or data[at:at + 4] != b"PE\0\0":
            raise Failure("%s is not a PE file" % path)
        return struct.unpack_from("<H", data, at + 4)[0]
    except (OSError, struct.error) as e:
        raise Failure("cannot read %s: %s" % (path, e))


def windows_path(path):
    """A Unix path as Wine's drive Z: shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def reg_escape(text):
    """A string as `reg export` writes it between quotes."""
    return text.replace("\\", "\\\\").replace('"', '\\"')


class Build:
    """One library in its prefix, registered through its own Wine."""

    def __init__(self, dll, prefix, log):
        if not os.path.isfile(dll):
            raise Failure("the library %s does not exist" % dll)
        machine = machine_of(dll)
        if machine not in KINDS:
            raise Failure("%s is for machine 0x%x, neither i386 nor x86-64" % (dll, machine))
        self.kind, self.wine, self.platform = KINDS[machine]
        self.dll, self.prefix, self.log = os.path.abspath(dll), os.path.abspath(prefix), log
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES=os.environ.get("WINEDLLOVERRIDES", "mscoree,mshtml="))
        self.env.pop("WINEARCH", None)
        self.module = windows_path(self.dll)

    def run(self, *command, check=True, output=None):
        """Runs a command of this build's Wine. Its streams go to the log (its
        output to the file `output`, if given), never to ours: the wine server
        and the services it starts would hold them open."""
        with open(self.log, "ab") as log, open(output or os.devnull, "wb") as out:
            log.write(("+ %s\n" % " ".join(command)).encode())
            log.flush()
            try:
                done = subprocess.run([self.wine, *command], env=self.env, stdin=subprocess.DEVNULL,
                                      stdout=out if output else log, stderr=log, timeout=TIMEOUT)
            except subprocess.TimeoutExpired:
                raise Failure("%s wine: '%s' took longer than %d s" % (self.kind, " ".join(command), TIMEOUT))
        if check and done.returncode != 0:
            raise Failure("%s wine: '%s' failed with status %d (log: %s)"
                          % (self.kind, " ".join(command), done.returncode, self.log))
        return done.returncode

    def prepare(self):
        with open(self.log, "ab") as log:
            if subprocess.run([WINE_PREFIX_SCRIPT, self.prefix, self.wine], stdin=subprocess.DEVNULL,
                              stdout=log, stderr=log, timeout=TIMEOUT).returncode != 0:
                raise Failure("cannot create the Wine prefix %s (log: %s)" % (self.prefix, self.log))
        with open(os.path.join(self.prefix, "system.reg"), errors="replace") as f:
            arch = next((line.strip()[6:] for line in f if line.startswith("#arch=")), "?")
        if arch != self.platform:
            raise Failure("the prefix %s is a %s one, not %s as the %s library %s needs"
                          % (self.prefix, arch, self.platform, self.kind, self.dll), wine_log=False)
        # The short form, as the library writes it into InprocServer32.
        short = os.path.join(os.path.dirname(self.log), "short-%s.txt" % self.platform)
        self.run("winepath", "-s", self.module, output=short)
        with open(short, "rb") as f:
            self.short_module = f.read().decode("latin-1").strip()
        if not self.short_module:
            raise Failure("%s wine cannot resolve %s as %s" % (self.kind, self.dll, self.module))

    def export(self, folder):
        """{key: [lines]} of each key's `reg export`, normalised."""
        exported = {}
        for index, key in enumerate(KEYS):
            file = os.path.join(folder, "%s-%d.reg" % (self.platform, index))
            if self.run("reg", "export", key, windows_path(file), "/y", check=False) != 0:
                exported[key] = ["(missing)"]
                continue
            with open(file, "rb") as f:
                text = f.read().decode("utf-16")
            exported[key] = [self.normalise(line) for line in text.splitlines()
                             if line.strip() and not line.startswith("Windows Registry Editor")]
        return exported

    def normalise(self, line):
        # Long and short forms get the same name: in a folder whose names are
        # all 8.3 ones (build/win32) the two are the same text.
        for path in (self.module, self.short_module):
            line = line.replace(reg_escape(path), "<Sheenpad.dll>")
        folder = ntpath.dirname(self.module) + "\\"
        line = line.replace(reg_escape(folder), reg_escape("<Sheenpad.dll's folder>\\"))
        return line.replace("\\0\\%s]" % self.platform, "\\0\\<platform>]")


def compare(builds, folder):
    exports = []
    for build in builds:
        build.prepare()
        build.run("regsvr32", "/u", "/s", build.module, check=False)
        try:
            build.run("regsvr32", "/s", build.module)
            exports.append(build.export(folder))
        finally:
            build.run("regsvr32", "/u", "/s", build.module, check=False)
        if build.run("reg", "query", "HKCR\\CLSID\\" + CLSID, check=False) == 0:
            raise Failure("regsvr32 /u of %s left HKCR\\CLSID\\%s behind" % (build.dll, CLSID))

    differences = []
    for key in KEYS:
        mine, theirs = (exported[key] for exported in exports)
        if mine == ["(missing)"] and theirs == ["(missing)"]:
            differences.append("%s: written by neither library\n" % key)
        elif mine != theirs:
            differences.extend(difflib.unified_diff(
                theirs, mine, "%s (%s)" % (key, builds[1].dll), "%s (%s)" % (key, builds[0].dll),
                lineterm=""))
    if differences:
        raise Failure("the registrations differ:\n" + "\n".join(differences), wine_log=False)
    values = sum(1 for key in KEYS for line in exports[0][key] if not line.startswith("["))
    subkeys = sum(1 for key in KEYS for line in exports[0][key] if line.startswith("["))
    print("compare-registration: %s and %s write the same %d keys and %d values under:"
          % (builds[0].dll, builds[1].dll, subkeys, values))
    for key in KEYS:
        print("  " + key)


def main():
    if len(sys.argv) != 5:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    dll, prefix, reference, reference_prefix = sys.argv[1:]
    if not os.path.isfile(reference):
        print("compare-registration: the reference library %s is missing: the win32 build makes it "
              "with its target win64_sheenpad, or takes the path set in the CMake cache variable "
              "GLINTMARK_WIN64_SHEENPAD"
              % reference, file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory(prefix="compare-registration.") as folder:
        log = os.path.join(folder, "wine.log")
        try:
            compare([Build(dll, prefix, log), Build(reference, reference_prefix, log)], folder)
        except Failure as e:
            print("compare-registration: %s" % e, file=sys.stderr)
            if e.wine_log and os.path.exists(log):
                with open(log, "rb") as f:
                    tail = f.read().decode("utf-8", "replace").splitlines()[-20:]
                print("  the end of the Wine log:\n" + "\n".join("  | " + l for l in tail), file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
