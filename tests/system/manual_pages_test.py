#!/usr/bin/python3
"""The manual pages as built render without a warning from man, except the
"can't break line" that groff gives for Japanese text it cannot break."""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vltsys  # noqa: E402
from vltsys import check, check_equal  # noqa: E402

PAGES = [
    # name, page under the build folder's man/, warnings that are accepted
    ("English", "man1/vellumtide.1.gz", ()),
    ("Japanese", "ja/man1/vellumtide.1.gz", ("can't break line",)),
]


def renders_cleanly(page, accepted):
    def case(_root):
        path = os.path.join(vltsys.BUILD_DIR, "man", page)
        check(os.path.exists(path), "no manual page at " + path)
        done = subprocess.run(["man", "--warnings", "-l", path], capture_output=True,
                              env=dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80",
                                       MAN_KEEP_FORMATTING=""), timeout=60)
        check_equal(done.returncode, 0, "man exit status")
        warnings = [line for line in done.stderr.decode(errors="replace").splitlines()
                    if not any(text in line for text in accepted)]
        check_equal(warnings, [], "warnings")
        text = done.stdout.decode(errors="replace")
        for section in ("vellumtide", "--xcnf", "VELLUMTIDE_HOME", "XDG_STATE_HOME", "printf"):
            check(section in text, "%r missing from the page" % section)
    return case


if __name__ == "__main__":
    vltsys.require(shutil.which("man") is not None, "man is not installed")
    sys.exit(vltsys.run_cases([("manual page, " + name, renders_cleanly(page, accepted))
                               for name, page, accepted in PAGES]))
