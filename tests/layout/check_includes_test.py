#!/usr/bin/env python3
"""The include checker finds each kind of wrong include in a small tree."""

import pathlib
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import check_includes  # noqa: E402


def make_tree(root, files):
    for name, text in files.items():
        path = pathlib.Path(root) / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)


class CheckIncludesTest(unittest.TestCase):
    def problems(self, files):
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, files)
            count, problems = check_includes.check_tree(root)
            self.assertEqual(count, len([f for f in files if not f.startswith("build/")]))
            return problems

    def test_a_tree_that_keeps_the_rules_passes(self):
        self.assertEqual(self.problems({
            "core/base/device.h": '#include "core/base/types.h"\n#include <vector>\n',
            "board/scu/scu.h": '#include "core/base/device.h"\n#include "board/sh2/sh2.h"\n',
            "video/vdp2/vdp2.h": '#include "video/color_tables.h"\n#include "video/vdp1/vdp1.h"\n',
            "core/machine/system.h": '#include "video/vdp2/vdp2.h"\n#include "core/base/bus.h"\n',
            "core/emulator/kest.h": '#include "core/machine/system.h"\n',
            "platform/canvas_view.h": '#include <QWidget>\n#include "cd/media/scsi_transport.h"\n',
            "ui/app/main.cpp": '#include "platform/canvas_view.h"\n#include "core/emulator/kest.h"\n',
            "tools/kest_headless.cpp": '#include "core/emulator/kest.h"\n',
            "tests/anything_test.cpp": '#include "ui/app/main_frame.h"\n#include "support/files.h"\n',
            "build/asan/generated.h": '#include "ui/app/main_frame.h"\n',
        }), [])

    def test_each_upward_or_sideways_include_is_reported(self):
        problems = self.problems({
            "core/base/object.h": '#include "core/machine/machine.h"\n',
            "board/smpc/smpc.h": '#include "core/base/device.h"\n#include "core/machine/machine.h"\n',
            "sound/scsp/scsp.cpp": '#include "core/emulator/kest.h"\n',
            "video/vdp2/vdp2.cpp": '#include "cd/cdb/cdb.h"\n',
            "cd/media/cue.cpp": '#include "platform/host_time.h"\n',
            "core/machine/system.cpp": '#include "core/emulator/kest.h"\n',
            "platform/audio_loop.cpp": '#include "ui/host/host_sound.h"\n',
            "tools/kest_headless.cpp": '#include "ui/app/main_frame.h"\n',
        })
        self.assertEqual(problems, [
            'board/smpc/smpc.h:2: "core/machine/machine.h": chip may not include machine',
            'cd/media/cue.cpp:1: "platform/host_time.h": chip may not include platform',
            'core/base/object.h:1: "core/machine/machine.h": base may not include machine',
            'core/machine/system.cpp:1: "core/emulator/kest.h": machine may not include emulator',
            'platform/audio_loop.cpp:1: "ui/host/host_sound.h": platform may not include ui',
            'sound/scsp/scsp.cpp:1: "core/emulator/kest.h": chip may not include emulator',
            'tools/kest_headless.cpp:1: "ui/app/main_frame.h": tools may not include ui',
            'video/vdp2/vdp2.cpp:1: "cd/cdb/cdb.h": video/vdp2 may not include cd/cdb (not a listed peer)',
        ])

    def test_host_libraries_loose_core_files_and_unrooted_names(self):
        problems = self.problems({
            "video/vdp1/vdp1.cpp": '#include <QImage>\n#include <SDL2/SDL.h>\n#include <cstring>\n',
            "core/base/log.cpp": '#  include <QtCore/QString>\n',
            "core/leftover.h": '#include "core/base/types.h"\n',
            "board/sh2/sh2.cpp": '#include "sh2_tables.h"\n#include "support/files.h"\n',
        })
        self.assertEqual(problems, [
            'board/sh2/sh2.cpp:1: "sh2_tables.h": name the folder (includes are rooted at the top)',
            'board/sh2/sh2.cpp:2: "support/files.h": includes are rooted at the top of the tree',
            'core/base/log.cpp:1: <QtCore/QString>: no Qt or SDL below platform/',
            'core/leftover.h:1: files of core/ belong in core/base, core/machine or core/emulator',
            'video/vdp1/vdp1.cpp:1: <QImage>: no Qt or SDL below platform/',
            'video/vdp1/vdp1.cpp:2: <SDL2/SDL.h>: no Qt or SDL below platform/',
        ])


if __name__ == "__main__":
    unittest.main()
