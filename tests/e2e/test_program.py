"""The program file itself, as Windows reads it."""
import os
import unittest

from bed import EXE, BedTestCase


def windows_path(unix_path):
    return "Z:" + unix_path.replace("/", "\\")


class ProgramFile(BedTestCase):
    def test_version_block(self):
        info = self.driver.call("version", windows_path(EXE))
        self.assertTrue(info["ok"], info)
        version = os.environ["HALVOTREN_VERSION"]
        fixed = os.environ["HALVOTREN_VERSION_FIXED"].replace(",", ".")
        expected = {
            "file": fixed, "product": fixed, "flags_mask": 0x17, "flags": 0,
            "os": 4, "type": 1, "subtype": 0, "translation": "040904b0",
            "FileVersion": version, "ProductVersion": version, "ProductName": "Halvotren",
            "InternalName": "Halvotren", "OriginalFilename": "Halvotren.exe",
            "FileDescription": "Halvotren",
        }
        self.assertEqual(expected, {key: info.get(key) for key in expected})


if __name__ == "__main__":
    unittest.main()
