#!/usr/bin/env python3
"""art/check on a copy of the plug-in folder in which one face or overlay is
redrawn from its SVG source with a fault: the old "off" look (grey, or crossed
out), a label that does not stand out or does not fit, a flash frame over the
label. Each must fail the check with its own message; the copy as rendered
passes."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FOLDER = os.path.join(ROOT, "plugin", "com.vantora.kestrel.sdPlugin")
SOURCES = os.path.join(ROOT, "art", "svg")
LIVE_RED = "#ef3b3b"


class CheckTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="art-check-")
        cls.folder = os.path.join(cls.scratch, "plugin")
        shutil.copytree(FOLDER, cls.folder)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch)

    def doctor(self, name, change, language=None):
        """Renders name's source, changed, over its file in the copy (put back
        after the test)."""
        with open(os.path.join(SOURCES, name[:-4] + ".svg"), encoding="utf-8") as f:
            source = f.read()
        changed = change(source)
        self.assertNotEqual(changed, source, "the fault was not put in")
        target = os.path.join(self.folder, name)
        with open(target, "rb") as f:
            rendered = f.read()
        self.addCleanup(self.put_back, target, rendered)
        subprocess.run(["rsvg-convert", "--width", "144", "--height", "144", "--format", "png", "-o", target],
                       input=changed.encode("utf-8"), check=True)

    @staticmethod
    def put_back(target, rendered):
        with open(target, "wb") as f:
            f.write(rendered)

    def check(self, *names):
        run = subprocess.run([sys.executable, "-B", os.path.join(ROOT, "art", "check"), "--folder", self.folder,
                              "--only", *names], capture_output=True, text=True)
        return run.returncode, run.stderr

    def assertFails(self, name, message):
        code, errors = self.check(name)
        self.assertEqual(code, 1, errors)
        self.assertIn(f"{name}: {message}", errors)

    def test_the_faces_as_rendered_pass(self):
        code, errors = self.check("streaming_state_off.png", "media_request_on.png", "state_success.png")
        self.assertEqual((code, errors), (0, ""))

    def test_an_off_face_greyed_dimmed_or_crossed_out_fails(self):
        self.doctor("streaming_state_off.png", lambda s: s.replace(LIVE_RED, "#6b7280"))
        self.assertFails("streaming_state_off.png", "off face is greyed")
        self.doctor("streaming_state_off.png", lambda s: s.replace(LIVE_RED, "#b02a2a"))
        self.assertFails("streaming_state_off.png", "off face is dimmed")
        slash = ('<line x1="39" y1="21" x2="105" y2="87" stroke="#15171c" stroke-width="20" stroke-linecap="round"/>'
                 f'<line x1="39" y1="21" x2="105" y2="87" stroke="{LIVE_RED}" stroke-width="10" stroke-linecap="round"/>')
        self.doctor("streaming_state_off.png", lambda s: s.replace("<text", slash + "<text", 1))
        self.assertFails("streaming_state_off.png", "off face is crossed out")

    def test_a_label_of_low_contrast_too_wide_or_covered_fails(self):
        label_fill = lambda colour: lambda s: re.sub(r'(<text[^>]*fill=")[^"]*', r"\g<1>" + colour, s)
        self.doctor("media_request_on.png", label_fill("#3a3f4b"))
        self.assertFails("media_request_on.png", "label contrast")
        self.doctor("media_request_on.png", lambda s: re.sub(r">ON</text>", ">ANNEHMEN</text>", s))
        self.assertFails("media_request_on.png", "label is too wide")
        # The flash frame as it was: thick, with round corners cutting into the label.
        self.doctor("state_success.png", lambda s: re.sub(r'rx="11"([^>]*)stroke-width="6"', r'rx="15"\1stroke-width="12"', s))
        self.assertFails("state_success.png", "draws into the label box")


if __name__ == "__main__":
    unittest.main()
