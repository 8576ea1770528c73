#!/usr/bin/python3
"""The regression runner against a stand-in kest-headless: a run that
matches passes, a changed dot or sample fails and leaves the picture pair,
an expected-wrong case keeps its own baseline, and the manifest's mistakes
are reported."""

import contextlib
import hashlib
import io
import os
import pathlib
import stat
import sys
import tempfile
import textwrap
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import run_regression  # noqa: E402

# Writes a 4 x 2 picture whose dot (1, 0) takes the colour in the file
# named by KEST_FAKE_DOT (default 10,20,30), and a WAV of the arguments.
FAKE_HEADLESS = textwrap.dedent("""\
    #!/usr/bin/python3
    import os, pathlib, sys
    from PIL import Image
    args = sys.argv[1:]
    png = args[args.index("--png") + 1]
    wav = args[args.index("--wav") + 1]
    data = pathlib.Path(args[args.index("--data") + 1])
    dot = tuple(int(v) for v in os.environ.get("KEST_FAKE_DOT", "10,20,30").split(","))
    picture = Image.new("RGB", (4, 2))
    picture.putpixel((1, 0), dot)
    picture.save(png)
    pathlib.Path(wav).write_bytes(b"RIFF" + " ".join(args).encode() + (data / "kest.ini").read_bytes())
    with open(data / "runs.txt", "a") as runs:
        runs.write(args[args.index("--fields") + 1] + "\\n")
    print("ran", " ".join(args))
""")


class RegressionRunnerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.dir.name)
        self.build = self.root / "build"
        self.build.mkdir()
        self.headless = self.root / "fake-headless"
        self.headless.write_text(FAKE_HEADLESS)
        self.headless.chmod(self.headless.stat().st_mode | stat.S_IXUSR)
        self.baselines = self.root / "baselines"
        self.saved = run_regression.BASELINES
        run_regression.BASELINES = self.baselines
        (self.root / "part.bin").write_bytes(b"\x01\x02")
        self.manifest = self.root / "cases.txt"
        self.manifest.write_text(textwrap.dedent("""\
            # comment
            plain   fields=3 disc={build}/x.iso
            broken  fields=5 bios={build}/../part.bin bios={build}/../part.bin@0x10 wrong="sprite clipped"
            pressed fields=9 set=General.region=7 args="--press 10-20:A"
            """))

    def tearDown(self):
        run_regression.BASELINES = self.saved
        os.environ.pop("KEST_FAKE_DOT", None)
        self.dir.cleanup()

    def run_cases(self, *extra):
        argv = ["run_regression.py", "--build", str(self.build), "--headless", str(self.headless),
                "--manifest", str(self.manifest), "--jobs", "2"] + list(extra)
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            result = run_regression.main(argv)
        self.log = printed.getvalue()
        return result

    def test_update_then_compare_then_a_changed_dot_fails_with_the_pair(self):
        self.assertEqual(self.run_cases(), 1, "no baselines yet")
        self.assertEqual(self.run_cases("--update"), 0)
        self.assertEqual(sorted(p.name for p in self.baselines.iterdir()), [
            "broken.wrong.png", "broken.wrong.wav.sha256", "plain.png", "plain.wav.sha256",
            "pressed.png", "pressed.wav.sha256"])
        self.assertEqual(self.run_cases(), 0)

        os.environ["KEST_FAKE_DOT"] = "10,20,31"
        self.assertEqual(self.run_cases("plain"), 1)
        out = self.build / "regression"
        from PIL import Image
        pair = Image.open(out / "plain.side-by-side.png").convert("RGB")
        self.assertEqual(pair.size, (4 * 3 + 8, 2))
        self.assertEqual(pair.getpixel((1, 0)), (10, 20, 30))       # the baseline
        self.assertEqual(pair.getpixel((8 + 1, 0)), (10, 20, 31))   # the new picture
        self.assertEqual(pair.getpixel((16 + 1, 0)), (255, 0, 0))   # the difference
        self.assertEqual(pair.getpixel((16 + 2, 0)), (0, 0, 0))
        self.assertTrue((out / "plain.baseline.png").exists())
        self.assertIn("in 1 dots, first (1, 0) #0A141E -> #0A141F", self.log)

        # The expected-wrong case is compared with its own baseline too.
        self.assertEqual(self.run_cases("broken"), 1)

    def test_sound_and_arguments_reach_the_run(self):
        self.assertEqual(self.run_cases("--update"), 0)
        wav = (self.build / "regression" / "pressed.wav").read_bytes()
        self.assertIn(b"--fields 9 --png", wav)
        self.assertIn(b"--press 10-20:A", wav)
        self.assertIn(b"[General]\r\nkest_bios = 1\r\ncartridge = 1\r\nregion = 7\r\n", wav)
        self.assertEqual((self.baselines / "pressed.wav.sha256").read_text().split()[0],
                         hashlib.sha256(wav).hexdigest())
        broken = (self.build / "regression" / "broken.wav").read_bytes()
        self.assertIn(b"sat_bios = ", broken)
        bios = (self.build / "regression" / "broken" / "bios.bin").read_bytes()
        self.assertEqual(len(bios), 0x80000)
        self.assertEqual(bios[:3] + bios[0x10:0x13], b"\x01\x02\x00\x01\x02\x00")

        # A checksum that no longer matches fails.
        (self.baselines / "plain.wav.sha256").write_text("0" * 64 + "  plain.wav\n")
        self.assertEqual(self.run_cases("plain"), 1)
        self.assertEqual(self.run_cases("pressed"), 0)

    def test_manifest_mistakes_are_reported(self):
        for text, message in [
            ("a fields=0\n", "needs fields=N"),
            ("a fields=1\na fields=2\n", "named twice"),
            ("a fields=1 colour=red\n", "unknown key 'colour'"),
            ("a fields=1 set=General\n", "Section.key=value"),
            ("fields=1\n", "starts with its name"),
            ("a fields=1 loose\n", "key=value"),
            ("a fields=1 after=b\nb fields=1\n", "after= names an earlier case"),
            ("a fields=1 after=a\n", "after= names an earlier case"),
        ]:
            self.manifest.write_text(text)
            with self.assertRaisesRegex(ValueError, message):
                run_regression.parse_manifest(self.manifest, self.build)

    def test_a_case_after_another_goes_on_in_its_folder(self):
        self.manifest.write_text(textwrap.dedent("""\
            first   fields=3
            second  fields=4 after=first
            third   fields=5 after=second
            """))
        # Naming the last case brings the ones it goes on after.
        self.assertEqual(self.run_cases("--update", "third"), 0)
        folder = self.build / "regression" / "first"
        self.assertEqual((folder / "runs.txt").read_text(), "3\n4\n5\n")
        self.assertFalse((self.build / "regression" / "second").exists())
        # Every run of the chain starts from an empty folder.
        self.assertEqual(self.run_cases(), 0)
        self.assertEqual((folder / "runs.txt").read_text(), "3\n4\n5\n")
        # A case after a failed one fails without running.
        self.headless.write_text("#!/bin/sh\nexit 3\n")
        self.assertEqual(self.run_cases(), 1)
        self.assertIn("FAIL second: it goes on after 'first', which failed", self.log)

    def test_a_run_that_fails_or_an_unknown_name_fails(self):
        self.headless.write_text("#!/bin/sh\nexit 3\n")
        self.assertEqual(self.run_cases("--update"), 1)
        self.assertEqual(self.run_cases("nosuch"), 2)


if __name__ == "__main__":
    unittest.main()
