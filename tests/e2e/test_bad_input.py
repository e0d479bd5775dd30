"""Version files no server should send, and the program still watching the
firewall after each of them."""
import random
import unittest

import test_update as update
from bed import BedTestCase, TrayMixin, launched, set_firewall
from update_server import Answer, UpdateServer

URL = update.INSTALLER_URL
TEXT_LIMIT = 1023  # the message buffer holds 1023 characters and its end


def junk(size, seed):
    """Bytes of every value but the colon, so no split can succeed."""
    chooser = random.Random(seed)
    return bytes(chooser.choice([b for b in range(1, 256) if b != ord(":")]) for _ in range(size))


def offer_text(version, url):
    return ("There is an update to Halvotren available. The current\n"
            "version %s can be upgraded to %s by going to:\n\n%s" % (update.VERSION, version, url))


class BadVersionFiles(BedTestCase, TrayMixin):
    def setUp(self):
        super().setUp()
        self.server = UpdateServer()
        self.addCleanup(self.server.stop)
        update.set_proxy(self.server.port)
        self.addCleanup(update.remove_proxy)
        self.start_program(recorders=("msiexec.exe",))
        self.wait_tray("green")

    def serve(self, body):
        self.server.reset()
        self.server.serve(update.VERSION_PATH, Answer(body, content_type="text/plain"))
        self.command(update.CHECK_FOR_UPDATES)

    def assert_still_watching(self):
        self.assertIsNone(self.program.poll(), "Halvotren ended")
        set_firewall(enabled=0)
        self.press("Firewall Warning!")
        self.wait_tray("red")
        set_firewall(enabled=1)
        self.wait_tray("green")

    def test_unreadable_files_give_the_error(self):
        cases = (
            ("empty", b""),
            ("a zero byte first", b"\0" + update.OFFER.encode()),
            ("binary junk", junk(600, 7)),
            ("binary junk past the buffer", junk(5000, 8)),
            ("the colon beyond the first 1023 bytes", b"1" * 1023 + b":" + URL.encode()),
        )
        for name, body in cases:
            with self.subTest(case=name):
                self.serve(body)
                box = self.box(update.ERROR, timeout=update.BOX_TIMEOUT)
                self.assertEqual(update.ERROR_TEXT, box["text"])
                self.press(update.ERROR)
        self.assertEqual([], launched())
        self.assert_still_watching()

    def test_oversized_fields_are_cut_in_the_message(self):
        long_url = URL + "?" + "u" * 1999
        newer = update.NEWER
        exact = (newer + ":" + URL + "?").ljust(TEXT_LIMIT, "a")
        url_of_exact = exact[len(newer) + 1:]
        cases = (
            ("a version of 1000 digits", "1" * 1000 + ":" + URL, "1" * 1000, URL),
            ("a URL of 2000 characters", newer + ":" + long_url[:2000], newer, long_url[:2000]),
            ("exactly 1023 bytes", exact, newer, url_of_exact),
            ("5000 bytes, of which 1023 are read", exact + "b" * (5000 - TEXT_LIMIT), newer, url_of_exact),
        )
        for name, body, version, url in cases:
            with self.subTest(case=name):
                self.serve(body)
                box = self.box(update.UPDATE_AVAILABLE, timeout=update.BOX_TIMEOUT)
                expected = offer_text(version, url)
                self.assertEqual(expected[:TEXT_LIMIT], box["text"])
                self.press(update.UPDATE_AVAILABLE, update.IDNO)
        self.assertEqual([], [r for r in self.server.seen() if r.path != update.VERSION_PATH])
        self.assert_still_watching()


if __name__ == "__main__":
    unittest.main()
