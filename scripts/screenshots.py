"""Takes the pictures of Halvotren that docs/ shows, from the real program
running in a test bed: the tray with the green icon and with the red one,
the right-click menu open, the firewall warning and the offer of an update.

Run by scripts/screenshots.sh, on a bed it started or on the one the
environment names (WINEPREFIX, DISPLAY, HALVOTREN_EXE, HALVOTREN_FIXTURES).
Beside the pictures it writes shown.json: what the driver read on the
screen while each was taken (the icon's colour, the menu's place, the
box's title), which the test compares with the pictures themselves.

    python3 screenshots.py OUTPUT_FOLDER
"""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

from bed import (EXE, WM_CLOSE, WM_COMMAND, Driver, click_elsewhere, click_tray, pointer_over_program,  # noqa: E402
                 read_picture, reset_firewall, set_firewall, set_service_order, shield_pixels, text_lines,
                 title_bar_rows, tray_colour, tray_icons, tray_window_id,
                 wait_until, wine)
from test_update import (BOX_TIMEOUT, CHECK_FOR_UPDATES, OFFER, UPDATE_AVAILABLE, VERSION_PATH,  # noqa: E402
                         remove_proxy, set_proxy)
from update_server import Answer, UpdateServer  # noqa: E402

WARNING = "Firewall Warning!"
IDOK, IDNO = 1, 7
# Behind the windows cut out together (the tray and its menu), a desktop's
# plain colour instead of the bare X display's.
DESKTOP = "#3a6ea5"
UNDECORATED = "HKCU\\Software\\Wine\\AppDefaults\\Halvotren.exe\\X11 Driver"


def window_geometry(window):
    """(left, top, width, height) of an X window on the display."""
    out = subprocess.run(["xwininfo", "-id", window], stdout=subprocess.PIPE, text=True, check=True).stdout
    fields = dict(line.strip().split(":", 1) for line in out.splitlines() if ":" in line)
    return tuple(int(fields[name].strip()) for name in
                 ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))


def shoot(path, left, top, width, height, drawn=None):
    """Cuts the rectangle out of the display into path, again until
    `drawn` finds the picture drawn."""
    def taken():
        subprocess.run(["import", "-silent", "-window", "root", "-crop",
                        "%dx%d+%d+%d" % (width, height, left, top), "+repage", "-strip", "png:" + path], check=True)
        return drawn is None or drawn(read_picture(path))
    wait_until(taken, 20, interval=0.3, what="%s to be drawn" % os.path.basename(path))


def shoot_tray(path):
    """Our icon's own cell of the tray."""
    [(colour, left, size)] = wait_until(lambda: len(tray_icons()) == 1 and tray_icons(), 20, what="one tray icon")
    x, y, _, _ = window_geometry(tray_window_id())
    shoot(path, x + left, y, size, size, lambda picture: max(shield_pixels(picture)) >= 20)
    return {"icon": colour}


def shoot_box(driver, caption, path):
    """The box with this caption, whole, and the title of the window a
    person sees in the middle of it."""
    box = driver.call("box", caption, BOX_TIMEOUT * 1000, timeout=BOX_TIMEOUT + 30)
    assert box["ok"], "no %r box appeared" % caption
    left, top, right, bottom = box["rect"]
    # The box is drawn once it is the window found on top in its middle.
    wait_until(lambda: driver.call("title-at", (left + right) // 2, (top + bottom) // 2).get("title") == caption,
               20, what="the %r box on top" % caption)
    shoot(path, left, top, right - left, bottom - top,
          lambda picture: title_bar_rows(picture) >= 10 and text_lines(picture, (0, 0, right - left, bottom - top)))
    title = driver.call("title-at", (left + right) // 2, (top + bottom) // 2)["title"]
    return {"title": title, "text": box["text"]}


def shoot_menu(driver, path):
    """The menu a right-click on the icon opens, with the tray it came
    from, on a plain desktop."""
    click_tray(3)
    wait_until(lambda: driver.call("menus")["count"] == 1 and pointer_over_program(), 20,
               what="the popup menu under the pointer")
    left, top, right, bottom = driver.call("menus")["rect"]
    tray = window_geometry(tray_window_id())
    margin = 8
    x0, y0 = min(left, tray[0]) - margin, min(top, tray[1]) - margin
    x1, y1 = max(right, tray[0] + tray[2]) + margin, max(bottom, tray[1] + tray[3]) + margin
    x0, y0 = max(x0, 0), max(y0, 0)
    menu_file, tray_file = path + ".menu.png", path + ".tray.png"
    shoot(menu_file, left, top, right - left, bottom - top,
          lambda picture: text_lines(picture, (0, 0, right - left, bottom - top)))
    shoot(tray_file, *tray)
    subprocess.run(["convert", "-size", "%dx%d" % (x1 - x0, y1 - y0), "xc:" + DESKTOP,
                    tray_file, "-geometry", "+%d+%d" % (tray[0] - x0, tray[1] - y0), "-composite",
                    menu_file, "-geometry", "+%d+%d" % (left - x0, top - y0), "-composite",
                    "-strip", "png:" + path], check=True)
    os.remove(menu_file)
    os.remove(tray_file)
    click_elsewhere()
    wait_until(lambda: driver.call("menus")["count"] == 0, 20, what="the menu to close")
    return {"menu": [left - x0, top - y0, right - x0, bottom - y0]}


def main(folder):
    os.makedirs(folder, exist_ok=True)
    driver = Driver()
    server = UpdateServer()
    program = None
    shown = {}
    try:
        reset_firewall()
        for name in ("SharedAccess", "IpNat"):
            set_service_order(name, None)
            assert driver.call("service", name, "start", 20000)["ok"], "service %s did not start" % name
        # Wine draws the boxes' title bars itself, as Windows does, where no
        # window manager would.
        wine("reg", "add", UNDECORATED, "/v", "Decorated", "/d", "N", "/f")
        set_proxy(server.port)
        server.serve(VERSION_PATH, Answer(OFFER, content_type="text/plain"))
        program = subprocess.Popen(["wine", EXE], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = driver.call("window", 20000)
        assert window["ok"], "Halvotren's window did not appear"
        driver.call("target", window["pid"])

        wait_until(lambda: tray_colour() == "green", 20, what="a green tray icon")
        shown["tray-green.png"] = shoot_tray(os.path.join(folder, "tray-green.png"))
        shown["menu.png"] = shoot_menu(driver, os.path.join(folder, "menu.png"))

        driver.call("post", WM_COMMAND, CHECK_FOR_UPDATES, 0)
        shown["update-available.png"] = shoot_box(driver, UPDATE_AVAILABLE,
                                                  os.path.join(folder, "update-available.png"))
        assert driver.call("press", UPDATE_AVAILABLE, IDNO, 20000)["ok"]

        set_firewall(enabled=0)
        shown["firewall-warning.png"] = shoot_box(driver, WARNING, os.path.join(folder, "firewall-warning.png"))
        assert driver.call("press", WARNING, IDOK, 20000)["ok"]
        wait_until(lambda: tray_colour() == "red", 20, what="a red tray icon")
        shown["tray-red.png"] = shoot_tray(os.path.join(folder, "tray-red.png"))

        driver.call("post", WM_CLOSE, 0, 0)
        program.wait(timeout=30)
        program = None
    finally:
        if program is not None:
            program.kill()
            program.wait()
            driver.call("gone", 20000)
        remove_proxy()
        wine("reg", "delete", UNDECORATED.rsplit("\\", 1)[0], "/f", check=False)
        server.stop()
        set_firewall(enabled=1)
        driver.close()
    with open(os.path.join(folder, "shown.json"), "w") as f:
        json.dump(shown, f, indent=1, sort_keys=True)
        f.write("\n")
    for name in sorted(shown):
        print("%s: %s" % (os.path.join(folder, name), shown[name]))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "docs/images")
