#!/usr/bin/python3
"""Delivery benchmark: a 100 MB attachment sent to a local discard server.

Starts Postfix's smtp-sink on a loopback port, sends one message with a 100 MB
attachment through build/vellumtide (settings in a temporary program folder),
and reports the wall time and the peak memory of the run. For comparison it
sends the same number of message bytes through a plain socket with the same
SMTP dialogue. Usage: bench/delivery_bench.py [build-dir] [size-MB]
"""
import os
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
SIZE_MB = int(sys.argv[2]) if len(sys.argv) > 2 else 100
SINK = shutil.which("smtp-sink") or "/usr/sbin/smtp-sink"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def start_sink(port):
    user = ["-u", "nobody"] if os.geteuid() == 0 else []
    proc = subprocess.Popen([SINK, "-a", *user, "127.0.0.1:%d" % port, "10"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return proc
        except OSError:
            time.sleep(0.05)
    proc.kill()
    sys.exit("smtp-sink did not start")


def plain_socket_send(port, nbytes):
    line = b"A" * 76 + b"\r\n"
    payload = line * (nbytes // len(line) + 1)
    start = time.perf_counter()
    with socket.create_connection(("127.0.0.1", port)) as s:
        f = s.makefile("rb")

        def reply():
            while True:
                ln = f.readline()
                if ln[3:4] != b"-":
                    return ln

        reply()
        for cmd in (b"EHLO bench", b"MAIL FROM:<a@b>", b"RCPT TO:<c@d>", b"DATA"):
            s.sendall(cmd + b"\r\n")
            reply()
        s.sendall(payload)
        s.sendall(b"\r\n.\r\n")
        reply()
        s.sendall(b"QUIT\r\n")
        reply()
    return time.perf_counter() - start, len(payload)


def main():
    exe = os.path.abspath(os.path.join(BUILD, "vellumtide"))
    work = tempfile.mkdtemp()
    port = free_port()
    sink = start_sink(port)
    try:
        env = dict(os.environ, VELLUMTIDE_HOME=work, VELLUMTIDE_UI="none")
        subprocess.run([exe, "--xcnf,", "127.0.0.1,", "%d," % port, "bench@example.com,", ",", ",",
                        "user,", "secret"], env=env, check=True)
        attachment = os.path.join(work, "large.bin")
        with open(attachment, "wb") as f:
            chunk = os.urandom(1 << 20)
            for _ in range(SIZE_MB):
                f.write(chunk)
        start = time.perf_counter()
        run = subprocess.run([exe, "to@example.com,", ",", "ベンチマーク,", "本文,", attachment], env=env)
        wall = time.perf_counter() - start
        peak_kb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
        if run.returncode != 0:
            with open(os.path.join(work, "vellumtideERR1.log"), encoding="utf-8", errors="replace") as log:
                sys.exit("vellumtide failed:\n" + log.read())
        message_bytes = SIZE_MB * (1 << 20) * 4 // 3 * 78 // 76
        plain, sent = plain_socket_send(port, message_bytes)
        print("attachment: %d MB, message about %.0f MB" % (SIZE_MB, sent / 1e6))
        print("vellumtide: %.2f s wall, peak memory %.1f MB" % (wall, peak_kb / 1024))
        print("plain socket, same bytes: %.2f s (ratio %.2fx)" % (plain, wall / plain))
    finally:
        sink.terminate()
        sink.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
