#!/usr/bin/env python3
"""`glintmark registrar` end to end: the product script registered and
unregistered through .reg files, result codes, exit statuses, and output
files written whole or not at all.

Usage: registrar_command_test.py GLINTMARK SOURCE-DIR WORKDIR
"""
import os
import shutil
import subprocess
import sys
import unittest

GLINTMARK, SOURCE, WORK = sys.argv[1:4]
SCRIPT = os.path.join(SOURCE, "resources", "Sheenpad.rgs")
MODULE = "MODULE=C:\\PROGRA~1\\Sheenpad.dll"
EXIT_OK, EXIT_FAILURE, EXIT_USAGE = 0, 1, 2


def run(*args):
    return subprocess.run([GLINTMARK, "registrar", *args], capture_output=True, timeout=60)


def write(name, data):
    path = os.path.join(WORK, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


class Registrar(unittest.TestCase):
    def setUp(self):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)

    def test_register_then_unregister_through_reg_files(self):
        out = os.path.join(WORK, "registered.reg")
        result = run(SCRIPT, "--define", MODULE, "-o", out)
        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        self.assertIn(b"0x00000000 S_OK", result.stdout)
        with open(out, "rb") as f:
            text = f.read()
        self.assertTrue(text.startswith(b"REGEDIT4\r\n; register "))
        self.assertIn(b"[HKEY_CLASSES_ROOT\\CLSID\\{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}\\InprocServer32]\r\n"
                      b"@=\"C:\\\\PROGRA~1\\\\Sheenpad.dll\"\r\n\"ThreadingModel\"=\"Apartment\"\r\n", text)
        self.assertIn(b"\"Default Visible\"=\"Yes\"\r\n", text)
        self.assertIn(b"\"HotIcon\"=\"C:\\\\PROGRA~1\\\\Sheenpad.dll,203\"\r\n", text)

        result = run(SCRIPT, "--define", MODULE, "--unregister", "--registry", out)
        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        self.assertEqual(result.stdout,
                         b"REGEDIT4\r\n; unregister " + SCRIPT.encode() + b": 0x00000000 S_OK\r\n"
                         b"\r\n[HKEY_CLASSES_ROOT\\CLSID]\r\n")

    def test_failing_script_reports_its_code_and_the_registry_it_left(self):
        state = write("state.reg", b"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Before]\r\n\"v\"=dword:00000010\r\n")
        script = write("bad.rgs", b"HKCU { Added = s '%MODULE%' }")
        result = run(script, "--registry", state)
        self.assertEqual(result.returncode, EXIT_FAILURE)
        self.assertIn(b"0x80020009 DISP_E_EXCEPTION", result.stdout)
        self.assertIn(b"[HKEY_CURRENT_USER\\Before]\r\n\"v\"=dword:00000010\r\n", result.stdout)
        self.assertNotIn(b"Added", result.stdout)

    def test_output_is_written_whole_or_not_at_all(self):
        out = write("out.reg", b"previous")
        missing_dir = os.path.join(WORK, "no", "such", "dir", "out.reg")
        result = run(SCRIPT, "--define", MODULE, "-o", missing_dir)
        self.assertEqual(result.returncode, EXIT_FAILURE)
        self.assertIn(b"cannot write", result.stderr)
        result = run(write("bad.rgs", b"HKCU { k = q 1 }"), "-o", out)
        self.assertEqual(result.returncode, EXIT_FAILURE)
        with open(out, "rb") as f:
            self.assertTrue(f.read().startswith(b"REGEDIT4\r\n; register "))
        self.assertEqual(sorted(os.listdir(WORK)), ["bad.rgs", "out.reg"])  # no temporary left

    def test_bad_input_is_a_usage_error(self):
        bad_state = write("bad.reg", b"REGEDIT4\r\n[HKEY_CURRENT_USER\\k]\r\n\"v\"=dword:xyz\r\n")
        for args, message in [
            ((os.path.join(WORK, "missing.rgs"),), b"cannot read"),
            ((SCRIPT, "--registry", bad_state), b"bad.reg:3:"),
            ((SCRIPT, "--define", "NOEQUALS"), b"NAME=TEXT"),
            ((SCRIPT, "--code-page", "99999"), b"99999 not in {1252,932,65001}"),
        ]:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, EXIT_USAGE)
                self.assertIn(message, result.stderr)
                self.assertEqual(result.stdout, b"")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
