#!/usr/bin/python3
"""What large inputs cost, on the Release build: the peak memory of a
sending run with a 60 MB body, 200,000 recipients from a file and from the
command line, and a body that does not fit under an address-space limit.

Run as a system test only: the sanitizers change what memory costs, so the
sanitizer pass leaves these cases out."""
import os
import resource
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vltsys  # noqa: E402
from vltsys import check, check_equal  # noqa: E402

MIB = 1 << 20
BODY_MIB = 60
RECIPIENTS = 200000
NO_MEMORY = "エラー番号 :7 -- PrjVellumtide でエラーが発生しました。 \r\nメモリが不足しています。"
BAD_ADDRESS = "メールアドレスに使用できない文字が含まれています: "


def write_body(path, encoding, mib=BODY_MIB, extra=""):
    """A body of `mib` MiB of Japanese lines with bare LF line ends and
    half-width katakana (and `extra` on each line: a character ISO-2022-JP
    lacks makes the message UTF-8), written a line block at a time (a child
    process counts the memory this one holds when it starts)."""
    line = ("夜間バッチの処理結果です。ｶﾀｶﾅも入ります。 ASCII text.%s\n" % extra).encode(encoding)
    block = line * (MIB // len(line))
    with open(path, "wb") as f:
        for _ in range(mib * MIB // len(block)):
            f.write(block)


def sending_home(root, server):
    home = vltsys.Home(root)
    home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , user, secret" % server.port)
    return home


def run_env(home):
    env = {k: v for k, v in os.environ.items() if k not in ("DEBUG_MODE", "DISPLAY")}
    env.update(VELLUMTIDE_HOME=home.path, VELLUMTIDE_UI="none", LANG="C.UTF-8")
    return env


def body_memory(encoding, extra=""):
    """A sending run with a 60 MiB body peaks below three times the body
    and 16 MiB."""
    def case(root):
        body = os.path.join(root, "body.txt")
        write_body(body, encoding, extra=extra)
        with vltsys.SinkServer() as server:
            home = sending_home(root, server)
            status, peak_kib = vltsys.run_measured(
                [vltsys.PROGRAM, "to@example.com,", ",", "report,", body], run_env(home))
            check_equal(status, 0, "exit status (%s)" % home.error_entries())
            check_equal(len(server.message_octets), 1, "messages received")
            check(server.message_octets[0] > 40 * MIB, "message of %d octets" % server.message_octets[0])
        limit_kib = (3 * BODY_MIB + 16) * 1024
        check(peak_kib < limit_kib, "peak memory %d KiB, limit %d KiB" % (peak_kib, limit_kib))
    return case


def recipients_from_a_file(root):
    """200,000 recipients in a file are split and each gets its RCPT TO; a
    split that took quadratic time would not end within the time-out."""
    addresses = os.path.join(root, "to.txt")
    with open(addresses, "w") as f:
        f.writelines("user%06d@example.com\n" % i for i in range(RECIPIENTS))
    with vltsys.SinkServer(lifetime=120) as server:
        home = sending_home(root, server)
        done = home.run("%s, , report, body" % addresses, timeout=120)
        check_equal(done.returncode, 0, "exit status (%s)" % home.error_entries()[:3])
        check_equal(server.recipients, RECIPIENTS, "RCPT TO commands")


def recipients_on_the_command_line(root):
    """200,000 recipients on the command line, parted by full-width commas,
    are split and checked before any connection: the last one is refused."""
    with vltsys.SinkServer() as server:
        home = sending_home(root, server)
        last = "bad<%d@ex.jp" % RECIPIENTS
        addresses = ["u%06d@ex.jp" % i for i in range(RECIPIENTS - 1)] + [last]
        # 100 to an argument: one argument holds at most 128 KiB, and all of
        # them 6 MiB (with the stack limit raised to make room for that).
        args = ["，".join(addresses[i:i + 100]) + "，" for i in range(0, RECIPIENTS, 100)]
        args[-1] = args[-1][:-1] + ","

        def room_for_arguments():
            resource.setrlimit(resource.RLIMIT_STACK, (64 * MIB, 64 * MIB))

        status, _ = vltsys.run_measured([vltsys.PROGRAM] + args + [",", "report,", "body"],
                                        run_env(home), timeout=30, preexec_fn=room_for_arguments)
        check_equal(status, 1, "exit status")
        check_equal(home.error_entries(), [BAD_ADDRESS + last, vltsys.SEND_FAILED], "reports")
        check(not server.connected.is_set(), "connected although an address was refused")


def body_over_the_address_space(root):
    """Under an address-space limit that a run with a small body fits in, a
    60 MiB body ends the run with the out-of-memory report, then the sending
    run's report, and exit status 1."""
    small = os.path.join(root, "small.txt")
    write_body(small, "utf-8", mib=1)
    large = os.path.join(root, "large.txt")
    write_body(large, "utf-8")

    def limited():
        resource.setrlimit(resource.RLIMIT_AS, (40 * MIB, 40 * MIB))

    with vltsys.SinkServer() as server:
        home = sending_home(root, server)
        done = home.run("to@example.com, , report, %s" % small, preexec_fn=limited)
        check_equal(done.returncode, 0, "exit status with the small body (%s)" % home.error_entries())
        done = home.run("to@example.com, , report, %s" % large, preexec_fn=limited)
        check_equal(done.returncode, 1, "exit status with the large body")
        check_equal(home.error_entries(), [NO_MEMORY, vltsys.SEND_FAILED], "reports")
        check_equal(len(server.message_octets), 1, "messages received")


if __name__ == "__main__":
    vltsys.require(os.access(vltsys.PROGRAM, os.X_OK), "no program at " + vltsys.PROGRAM)
    sys.exit(vltsys.run_cases([
        ("body_memory_utf8", body_memory("utf-8")),
        ("body_memory_cp932", body_memory("cp932")),
        ("body_memory_utf8_message", body_memory("utf-8", "\U0001F600")),
        ("recipients_from_a_file", recipients_from_a_file),
        ("recipients_on_the_command_line", recipients_on_the_command_line),
        ("body_over_the_address_space", body_over_the_address_space),
    ]))
