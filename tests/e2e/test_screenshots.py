"""The pictures docs/ shows: scripts/screenshots.sh takes them again from the
real program on this bed, and each, new and committed, must show what its
name says, so that none goes stale unnoticed."""
import json
import os
import subprocess
import tempfile
import unittest

from bed import BedTestCase, read_picture, shield_pixels, text_lines, title_bar_rows
from test_menu import ITEMS
from test_update import UPDATE_AVAILABLE

SOURCE = os.environ.get("HALVOTREN_SOURCE", "")
COMMITTED = os.path.join(SOURCE, "docs", "images")
BOXES = {"firewall-warning.png": "Firewall Warning!", "update-available.png": UPDATE_AVAILABLE}
ICONS = {"tray-green.png": "green", "tray-red.png": "red"}
PICTURES_LIMIT = 200 * 1024


class Pictures(BedTestCase):
    def assert_pictures(self, folder):
        with open(os.path.join(folder, "shown.json")) as f:
            shown = json.load(f)
        self.assertEqual(sorted(list(BOXES) + list(ICONS) + ["menu.png"]), sorted(shown), folder)
        for name, colour in ICONS.items():
            green, red = shield_pixels(read_picture(os.path.join(folder, name)))
            self.assertEqual(colour, shown[name]["icon"], name)
            self.assertGreaterEqual(max(green, red), 20, "%s shows no icon" % name)
            self.assertEqual(colour, "green" if green > red else "red", "%s shows another icon" % name)
        for name, caption in BOXES.items():
            picture = read_picture(os.path.join(folder, name))
            width, height, _ = picture
            self.assertEqual(caption, shown[name]["title"], "%s was taken of another window" % name)
            self.assertGreaterEqual(title_bar_rows(picture), 10, "%s shows no title bar" % name)
            self.assertGreaterEqual(text_lines(picture, (0, 0, width, height)), 2, "%s shows no text" % name)
        menu = read_picture(os.path.join(folder, "menu.png"))
        self.assertEqual(len(ITEMS), text_lines(menu, shown["menu.png"]["menu"]),
                         "menu.png does not show the menu's %d items" % len(ITEMS))
        self.assertGreaterEqual(shield_pixels(menu)[0], 20, "menu.png does not show the green icon")

    def test_each_picture_shows_what_its_name_says(self):
        with tempfile.TemporaryDirectory(prefix="halvotren-pictures-") as folder:
            taken = subprocess.run([os.path.join(SOURCE, "scripts", "screenshots.sh"), folder],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
            self.assertEqual(0, taken.returncode, taken.stdout.decode(errors="replace"))
            self.assert_pictures(folder)
        self.assert_pictures(COMMITTED)
        size = sum(os.path.getsize(os.path.join(COMMITTED, name)) for name in os.listdir(COMMITTED))
        self.assertLess(size, PICTURES_LIMIT, "docs/images holds %d bytes" % size)


if __name__ == "__main__":
    unittest.main()
