#!/usr/bin/env python3
"""The sorting of sanitizer reports after an end-to-end run: which ones fail the run."""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import sanitizer_reports  # noqa: E402

ROOT = "/home/dev/kelso"

SVG_RECURSION = """==4242==ERROR: AddressSanitizer: stack-overflow on address 0x7ffd6ee8eed8 (pc 0x7f59 bp 0x7ffd sp 0x7ffd T0)
    #0 0x7f59a1e4761d in __interceptor_memset ../../../../src/libsanitizer/sanitizer_common/sanitizer_common_interceptors.inc:799
    #1 0x7f59a1c01234 in QSvgNode::bounds() const (/lib/x86_64-linux-gnu/libQt6Svg.so.6+0x3f234)
    #2 0x7f59a1c05678 in QSvgUse::bounds(QPainter*, QSvgExtraStates&) const (/lib/x86_64-linux-gnu/libQt6Svg.so.6+0x43678)

SUMMARY: AddressSanitizer: stack-overflow (/lib/x86_64-linux-gnu/libQt6Svg.so.6+0x3f234) in QSvgNode::bounds() const
==4242==ABORTING
Command: /home/dev/kelso/build/sanitize/bin/kelso --thumbnail-worker --time-limit 10000
"""

WORKER_OWN_FAULT = """==4243==ERROR: AddressSanitizer: heap-buffer-overflow on address 0x6020 at pc 0x55 bp 0x7ff sp 0x7ff
READ of size 4 at 0x6020 thread T0
    #0 0x55d1 in WorkerWire::readFrame(int) /home/dev/kelso/build/sanitize/../../src/platform/thumbnailer/WorkerWire.cpp:88
    #1 0x55d2 in DecoderWorkers::runIfWorker(int, char**) /home/dev/kelso/src/platform/thumbnailer/DecoderWorkerMain.cpp:120
Command: /home/dev/kelso/build/sanitize/bin/kelso --thumbnail-worker --time-limit 10000
"""

MAIN_PROCESS_IN_QT = """==4244==ERROR: AddressSanitizer: heap-use-after-free on address 0x6120 at pc 0x7f bp 0x7ff sp 0x7ff
READ of size 8 at 0x6120 thread T0
    #0 0x7f01 in QWidget::isVisible() const (/lib/x86_64-linux-gnu/libQt6Widgets.so.6+0x1a0)
    #1 0x7f02 in QApplication::notify(QObject*, QEvent*) (/lib/x86_64-linux-gnu/libQt6Widgets.so.6+0x2b0)
Command: /home/dev/kelso/build/sanitize/bin/kelso
"""

UBSAN_IN_KELSO = """/home/dev/kelso/src/util/Sizes.cpp:41:17: runtime error: signed integer overflow: 2147483647 + 1 cannot be represented in type 'int'
    #0 0x55e1 in Sizes::grow(int) /home/dev/kelso/src/util/Sizes.cpp:41
"""

# A worker that hit a fault in Qt while Kelso's decoding code is below it on the stack: the
# faulting frame is the library's, which is what the worker is there to absorb.
WORKER_QT_OVER_KELSO_FRAMES = """==4245==ERROR: AddressSanitizer: SEGV on unknown address 0x000000000000
    #0 0x7f11 in QImageReader::read(QImage*) (/lib/x86_64-linux-gnu/libQt6Gui.so.6+0x100)
    #1 0x55d3 in decodeOne(WorkerWire::Job const&) /home/dev/kelso/build/sanitize/../../src/platform/thumbnailer/DecoderWorkerMain.cpp:61
    #2 0x55d2 in DecoderWorkers::runIfWorker(int, char**) /home/dev/kelso/src/platform/thumbnailer/DecoderWorkerMain.cpp:120
Command: /home/dev/kelso/build/sanitize/bin/kelso --thumbnail-worker --time-limit 10000
"""


class ClassifyTest(unittest.TestCase):
    def setUp(self):
        self.kelso = sanitizer_reports.kelso_frame_pattern(ROOT)

    def test_a_worker_stopped_inside_qtsvg_is_expected(self):
        self.assertEqual(sanitizer_reports.classify(SVG_RECURSION, self.kelso), "worker")
        self.assertEqual(sanitizer_reports.classify(WORKER_QT_OVER_KELSO_FRAMES, self.kelso), "worker")

    def test_a_fault_in_the_workers_own_code_is_kelsos(self):
        self.assertEqual(sanitizer_reports.classify(WORKER_OWN_FAULT, self.kelso), "kelso")

    def test_a_library_fault_in_kelsos_own_process_is_not_excused(self):
        self.assertEqual(sanitizer_reports.classify(MAIN_PROCESS_IN_QT, self.kelso), "library")
        # The same report without the command line: it cannot be told to be a worker.
        no_command = SVG_RECURSION.replace("Command:", "Cmd?")
        self.assertEqual(sanitizer_reports.classify(no_command, self.kelso), "library")

    def test_undefined_behaviour_in_kelsos_sources_is_kelsos(self):
        self.assertEqual(sanitizer_reports.classify(UBSAN_IN_KELSO, self.kelso), "kelso")

    def test_another_tree_of_the_same_name_is_not_kelsos_code(self):
        elsewhere = UBSAN_IN_KELSO.replace("/home/dev/kelso/", "/home/dev/kelso-old/")
        self.assertEqual(sanitizer_reports.classify(elsewhere, self.kelso), "library")


CUT_OFF = """=================================================================
==16984==ERROR: AddressSanitizer: stack-overflow on address 0x7ffedf5f9d68 (pc 0x7f7e bp 0x7ffe sp 0x7ffe T0)
"""


class CutOffTest(unittest.TestCase):
    def test_a_report_cut_off_before_its_stack_is_told_apart(self):
        kelso = sanitizer_reports.kelso_frame_pattern(ROOT)
        self.assertEqual(sanitizer_reports.classify(CUT_OFF, kelso), "incomplete")
        self.assertEqual(sanitizer_reports.classify(CUT_OFF + MAIN_PROCESS_IN_QT.split("\n", 2)[2], kelso), "library")


class ExitStatusTest(unittest.TestCase):
    def run_on(self, reports):
        with tempfile.TemporaryDirectory() as logs:
            for i, text in enumerate(reports):
                with open(os.path.join(logs, "asan.%d" % (1000 + i)), "w") as f:
                    f.write(text)
            return subprocess.run([sys.executable, os.path.join(HERE, "sanitizer_reports.py"), logs, ROOT],
                                  capture_output=True, text=True)

    def test_no_reports_pass(self):
        self.assertEqual(self.run_on([]).returncode, 0)

    def test_only_expected_reports_pass(self):
        r = self.run_on([SVG_RECURSION])
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("expected", r.stdout)

    def test_one_failing_report_among_expected_ones_fails_the_run(self):
        r = self.run_on([SVG_RECURSION, MAIN_PROCESS_IN_QT])
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertIn("QWidget::isVisible", r.stdout)
        self.assertIn("failing 1", r.stdout)


if __name__ == "__main__":
    unittest.main()
