"""The version's other forms: the version block's and the package's. The
major upgrade finds an older product only if package versions order as the
versions compare, so every accepted version maps to one in that order, and
a version that could not is refused by the build."""
import os
import subprocess
import unittest

VERSION_CMAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake", "version.cmake")


def mapped(version):
    run = subprocess.run(["cmake", "-DHALVOTREN_VERSION=" + version, "-P", VERSION_CMAKE],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return run.returncode, run.stdout.strip()


class VersionMapping(unittest.TestCase):
    def test_package_versions_order_as_the_versions_do(self):
        rows = (("1.05", "1,0,5,0", "1.0.5"), ("1.09", "1,0,9,0", "1.0.9"), ("1.1", "1,1,0,0", "1.1.0"),
                ("1.15", "1,1,5,0", "1.1.5"), ("2", "2,0,0,0", "2.0.0"), ("255.99", "255,9,9,0", "255.9.9"))
        previous = None
        for version, fixed, package in rows:
            with self.subTest(version=version):
                self.assertEqual((0, fixed + " " + package), mapped(version))
                ordered = tuple(int(part) for part in package.split("."))
                self.assertTrue(previous is None or previous < ordered)
                previous = ordered

    def test_versions_that_would_collide_or_overflow_are_refused(self):
        for version in ("1.005", "256", "1.", "-1"):
            with self.subTest(version=version):
                status, output = mapped(version)
                self.assertNotEqual(0, status)
                self.assertIn("HALVOTREN_VERSION must be", output)
                self.assertIn("'%s'" % version, output)


if __name__ == "__main__":
    unittest.main()
