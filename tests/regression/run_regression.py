#!/usr/bin/python3
"""Runs every case of cases.txt through kest-headless and compares what it
shows and plays with the baselines under tests/baselines/.

    run_regression.py --build DIR [--headless FILE] [--update] [--jobs N] [NAME ...]

Each case leaves NAME.png and NAME.wav in DIR/regression/. A picture that
differs from its baseline is written beside a copy of the baseline and a
side-by-side image (baseline, new, differences in red), and the paths are
printed; a sound that differs from its checksum leaves its WAV there too.
--update rewrites the baselines from this run instead of comparing.
"""

import argparse
import concurrent.futures
import hashlib
import pathlib
import shlex
import subprocess
import sys

SOURCE = pathlib.Path(__file__).resolve().parents[2]
MANIFEST = SOURCE / "tests" / "regression" / "cases.txt"
BASELINES = SOURCE / "tests" / "baselines"
BIOS_BYTES = 0x80000


class Case:
    def __init__(self, name, fields, line):
        self.name = name
        self.fields = fields
        self.line = line
        self.disc = None
        self.bios = []  # (path, offset) parts laid into one BIOS image
        self.settings = []  # (section, key, value)
        self.args = []
        self.copies = []  # files copied into the data folder (data.json)
        self.after = None  # the earlier case whose data folder this one goes on in
        self.folder = name
        self.wrong = None  # why the case's picture or sound is known to be wrong

    def baseline(self, suffix):
        kind = ".wrong" if self.wrong else ""
        return BASELINES / f"{self.name}{kind}{suffix}"


def expand(text, build):
    return text.replace("{build}", str(build)).replace("{source}", str(SOURCE))


def parse_manifest(path, build):
    """One case a line: NAME fields=N [disc=FILE] [bios=FILE[@OFFSET]] ...
    [set=Section.key=value] ... [copy=FILE] ... [after=CASE] [args="..."] [wrong="why"]."""
    cases = []
    names = {}
    for number, raw in enumerate(path.read_text().splitlines(), 1):
        words = shlex.split(raw, comments=True)
        if not words:
            continue
        where = f"{path.name}:{number}"
        name = words[0]
        if "=" in name or not name.replace("_", "").replace("-", "").isalnum():
            raise ValueError(f"{where}: a case starts with its name, got '{name}'")
        if name in names:
            raise ValueError(f"{where}: case '{name}' is named twice")
        case = Case(name, 0, number)
        names[name] = case
        for word in words[1:]:
            key, sep, value = word.partition("=")
            if not sep:
                raise ValueError(f"{where}: expected key=value, got '{word}'")
            value = expand(value, build)
            if key == "fields":
                case.fields = int(value)
            elif key == "disc":
                case.disc = value
            elif key == "bios":
                file, _, offset = value.partition("@")
                case.bios.append((file, int(offset, 0) if offset else 0))
            elif key == "set":
                target, eq, setting = value.partition("=")
                section, dot, setting_key = target.partition(".")
                if not eq or not dot:
                    raise ValueError(f"{where}: set= takes Section.key=value, got '{value}'")
                case.settings.append((section, setting_key, setting))
            elif key == "copy":
                case.copies.append(value)
            elif key == "after":
                if value not in names or value == name:
                    raise ValueError(f"{where}: after= names an earlier case, got '{value}'")
                case.after = value
                case.folder = names[value].folder
            elif key == "args":
                case.args += shlex.split(value)
            elif key == "wrong":
                case.wrong = value
            else:
                raise ValueError(f"{where}: unknown key '{key}'")
        if case.fields <= 0:
            raise ValueError(f"{where}: case '{name}' needs fields=N")
        cases.append(case)
    return cases


def settings_text(case, bios_path):
    sections = {"Path": {}, "General": {"kest_bios": "1", "cartridge": "1"}}
    if bios_path:
        sections["Path"]["sat_bios"] = str(bios_path)
        sections["General"]["kest_bios"] = "0"
    for section, key, value in case.settings:
        sections.setdefault(section, {})[key] = value
    lines = []
    for section, keys in sections.items():
        if keys:
            lines.append(f"[{section}]")
            lines += [f"{key} = {value}" for key, value in keys.items()]
    return "\r\n".join(lines) + "\r\n"


def build_bios(case, folder):
    image = bytearray(BIOS_BYTES)
    for file, offset in case.bios:
        data = pathlib.Path(file).read_bytes()
        if offset + len(data) > BIOS_BYTES:
            raise ValueError(f"case '{case.name}': {file} at {offset:#x} does not fit a BIOS image")
        image[offset:offset + len(data)] = data
    path = folder / "bios.bin"
    path.write_bytes(bytes(image))
    return path


def run_case(case, headless, out, before=None):
    """Runs one case; answers (png path, wav path). A case that goes on
    after another (before, its future) waits for it and runs in its data
    folder, with the saves it left; any other starts from an empty one."""
    import shutil

    folder = out / case.folder
    if before:
        try:
            before.result()
        except Exception as error:
            raise RuntimeError(f"it goes on after '{case.after}', which failed") from error
    else:
        shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True, exist_ok=True)
    for file in case.copies:
        shutil.copyfile(file, folder / pathlib.Path(file).name)
    for stale in (out / f"{case.name}.png", out / f"{case.name}.wav"):
        stale.unlink(missing_ok=True)
    bios = build_bios(case, folder) if case.bios else None
    (folder / "kest.ini").write_bytes(settings_text(case, bios).encode())
    png, wav = out / f"{case.name}.png", out / f"{case.name}.wav"
    command = [str(headless), "--data", str(folder), "--fields", str(case.fields),
               "--png", str(png), "--wav", str(wav)] + case.args
    if case.disc:
        command.append(case.disc)
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace", timeout=600)
    (out / f"{case.name}.log").write_text(done.stdout)
    if done.returncode != 0:
        raise RuntimeError(f"kest-headless exited {done.returncode}:\n{done.stdout[-2000:]}\n"
                           f"command: {shlex.join(command)}")
    if not png.exists() or not wav.exists():
        raise RuntimeError(f"kest-headless wrote no picture or no sound: {shlex.join(command)}")
    return png, wav


def wav_checksum(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def same_dots(a, b):
    """Two PNG files of the same picture, encoded differently."""
    import numpy
    from PIL import Image

    first = numpy.asarray(Image.open(a).convert("RGB"))
    second = numpy.asarray(Image.open(b).convert("RGB"))
    return first.shape == second.shape and bool(numpy.all(first == second))


def side_by_side(baseline, new, target):
    """Baseline, new picture and their differences (red on a dimmed
    baseline) side by side; answers the count of differing dots and a
    description of the first few."""
    import numpy
    from PIL import Image

    a = numpy.asarray(Image.open(baseline).convert("RGB"), dtype=numpy.uint8)
    b = numpy.asarray(Image.open(new).convert("RGB"), dtype=numpy.uint8)
    height, width = max(a.shape[0], b.shape[0]), max(a.shape[1], b.shape[1])

    def pad(p):
        canvas = numpy.zeros((height, width, 3), dtype=numpy.uint8)
        canvas[:p.shape[0], :p.shape[1]] = p
        return canvas

    a, b = pad(a), pad(b)
    differs = numpy.any(a != b, axis=2)
    marked = a // 3
    marked[differs] = (255, 0, 0)
    gap = numpy.full((height, 4, 3), 128, dtype=numpy.uint8)
    Image.fromarray(numpy.concatenate([a, gap, b, gap, marked], axis=1)).save(target)
    first = []
    for y, x in numpy.argwhere(differs)[:4]:
        was, now = ("#%02X%02X%02X" % tuple(int(c) for c in p[y, x]) for p in (a, b))
        first.append(f"({x}, {y}) {was} -> {now}")
    return int(differs.sum()), ", ".join(first)


def compare(case, png, wav, out):
    """Answers the lines that describe what differs; none when all agrees."""
    problems = []
    label = f"{case.name} (expected-wrong: {case.wrong})" if case.wrong else case.name
    picture = case.baseline(".png")
    if not picture.exists():
        problems.append(f"{label}: no baseline {picture}; new picture {png}")
    elif png.read_bytes() != picture.read_bytes() and not same_dots(picture, png):
        import shutil

        kept = out / f"{case.name}.baseline.png"
        shutil.copyfile(picture, kept)
        pair = out / f"{case.name}.side-by-side.png"
        dots, first = side_by_side(picture, png, pair)
        problems.append(f"{label}: picture differs from {picture} in {dots} dots, first {first}\n"
                        f"    new:          {png}\n    baseline:     {kept}\n    side by side: {pair}")
    sound = case.baseline(".wav.sha256")
    if not sound.exists():
        problems.append(f"{label}: no sound checksum {sound}; new sound {wav}")
    else:
        expected = sound.read_text().split()[0]
        actual = wav_checksum(wav)
        if actual != expected:
            problems.append(f"{label}: sound differs from {sound} (sha256 {actual}, baseline {expected})\n"
                            f"    new:          {wav}")
    return problems


def update(case, png, wav):
    import shutil

    BASELINES.mkdir(parents=True, exist_ok=True)
    # A case that changes between right and expected-wrong keeps one baseline.
    for stale in (".png", ".wav.sha256", ".wrong.png", ".wrong.wav.sha256"):
        (BASELINES / f"{case.name}{stale}").unlink(missing_ok=True)
    shutil.copyfile(png, case.baseline(".png"))
    case.baseline(".wav.sha256").write_text(f"{wav_checksum(wav)}  {case.name}.wav\n")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, type=pathlib.Path, help="the build folder")
    parser.add_argument("--headless", type=pathlib.Path, help="kest-headless (default: BUILD/tools/kest-headless)")
    parser.add_argument("--manifest", type=pathlib.Path, default=MANIFEST)
    parser.add_argument("--update", action="store_true", help="rewrite the baselines from this run")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("names", nargs="*", help="run only these cases")
    options = parser.parse_args(argv[1:])

    build = options.build.resolve()
    headless = options.headless or build / "tools" / "kest-headless"
    cases = parse_manifest(options.manifest, build)
    if options.names:
        unknown = set(options.names) - {case.name for case in cases}
        if unknown:
            print("regression: no such case:", ", ".join(sorted(unknown)))
            return 2
        wanted = set(options.names)
        for case in reversed(cases):
            if case.name in wanted and case.after:
                wanted.add(case.after)
        cases = [case for case in cases if case.name in wanted]
    out = build / "regression"
    out.mkdir(parents=True, exist_ok=True)

    failed = passed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.jobs)) as pool:
        runs = {}
        for case in cases:
            runs[case.name] = pool.submit(run_case, case, headless, out, runs.get(case.after))
        for case in cases:
            try:
                png, wav = runs[case.name].result()
            except Exception as error:  # a case that cannot run fails, and says why
                print(f"FAIL {case.name}: {error}")
                failed += 1
                continue
            if options.update:
                update(case, png, wav)
                print(f"updated {case.name}" + (" (expected-wrong)" if case.wrong else ""))
                passed += 1
                continue
            problems = compare(case, png, wav, out)
            if problems:
                failed += 1
                print("FAIL " + "\n".join(problems))
            else:
                passed += 1
                print(f"ok   {case.name}" + (" (expected-wrong, unchanged)" if case.wrong else ""))
    print(f"regression: {passed} passed, {failed} failed")
    return 1 if failed or not cases else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
