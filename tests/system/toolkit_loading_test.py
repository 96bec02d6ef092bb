#!/usr/bin/python3
"""When the toolkit is loaded: a sending run that shows no window maps no X
or toolkit library, even with DISPLAY set; a run that needs a window loads the
graphical windows module and, when no window can be opened, goes on the none
way as a run without a display does."""
import os
import re
import shutil
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vltsys  # noqa: E402
from vltsys import check, check_equal, wait_for  # noqa: E402

TOOLKIT = re.compile(r"libX11|libxcb|libXft|libXrender|libfltk|libfontconfig|vellumtide-gui")
MODULE = os.path.join(vltsys.BUILD_DIR, "vellumtide-gui.so")
MISSING = "パラメータが不足しています。"


def run_env(home, **changes):
    env = {k: v for k, v in os.environ.items()
           if k not in ("VELLUMTIDE_UI", "FROM_NAME", "TO_ALIAS", "CC_ALIAS", "REPLY_TO",
                        "DEBUG_MODE", "DISPLAY")}
    env.update(VELLUMTIDE_HOME=home.path, LANG="C.UTF-8")
    env.update(changes)
    return {k: v for k, v in env.items() if v is not None}


def sending_run_maps_no_toolkit(root):
    # A server that accepts and never greets keeps the run waiting in its
    # first network read: the state of a sending run after start-up.
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        listener.settimeout(20)
        port = listener.getsockname()[1]
        home = vltsys.Home(root)
        home.store("--xcnf, 127.0.0.1, %d, me@example.com, , , user, secret" % port)
        run = subprocess.Popen([vltsys.PROGRAM, "to@example.com,", ",", "件名,", "本文"],
                               env=run_env(home, DISPLAY=":0"), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            connection, _ = listener.accept()
            with connection, open("/proc/%d/maps" % run.pid) as maps:
                mapped = maps.read()
            check(run.poll() is None, "the run ended before its maps were read")
            check("libssl" in mapped, "maps read from the wrong process")
            found = sorted(set(TOOLKIT.findall(mapped)))
            check_equal(found, [], "toolkit libraries mapped by a sending run")
        finally:
            run.kill()
            run.wait(10)


def window_falls_back(program_folder, display, expect_module):
    """A run that lacks its subject asks for the re-entry window; none can be
    opened, so it ends the none way: exit 1 and the missing-parameter report."""
    def case(root):
        program = vltsys.PROGRAM
        if program_folder == "alone":
            program = os.path.join(root, "alone", "vellumtide")
            os.mkdir(os.path.dirname(program))
            shutil.copy(vltsys.PROGRAM, program)
        home = vltsys.Home(root)
        home.store("--xcnf, 127.0.0.1, 9, me@example.com, , , user, secret")
        done = subprocess.run([program, "to@example.com,", ",", ",", "本文"],
                              env=run_env(home, DISPLAY=display, LD_DEBUG="files"),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        # The dynamic loader says "calling init: PATH" for each library it loads.
        loaded = " ".join(re.findall(r"calling init: (\S+)", done.stderr.decode(errors="replace")))
        check_equal((done.returncode, home.error_entries()), (1, [MISSING]),
                    "exit status and reports (standard output %r)" % done.stdout[-300:])
        check_equal("vellumtide-gui.so" in loaded, expect_module, "module loaded")
        if not expect_module:
            check_equal(sorted(set(TOOLKIT.findall(loaded))), [], "toolkit libraries loaded")
    return case


if __name__ == "__main__":
    vltsys.require(os.access(vltsys.PROGRAM, os.X_OK), "no program at " + vltsys.PROGRAM)
    cases = [
        ("sending run with DISPLAY set maps no toolkit", sending_run_maps_no_toolkit),
        ("window wanted without DISPLAY: nothing loaded",
         window_falls_back("build", None, False)),
        ("window wanted, module missing: none way", window_falls_back("alone", ":999", False)),
    ]
    if os.path.exists(MODULE):
        cases.append(("window wanted, display does not open: module loaded, none way",
                      window_falls_back("build", ":999", True)))
    sys.exit(vltsys.run_cases(cases))
