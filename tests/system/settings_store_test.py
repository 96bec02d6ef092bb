"""End-to-end cases of the settings file: concurrent stores, a store that
meets a full disk, entries that are links, and files that cannot be read."""
import os
import resource
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vltsys  # noqa: E402
from vltsys import check, check_equal  # noqa: E402

NOT_LOADED = "サーバ情報等の初期設定パラメータを取得できませんでした。"
LOAD_FAILED = "エラーが発生しました。 \r\nデータ:\tエラー番号 :%d -- PrjVellumtide でエラーが発生しました。 %s"


def store_text(user, password="p"):
    return "--xcnf, smtp.example.com, 587, me@example.com, , , %s, %s" % (user, password)


def concurrent_stores(root):
    """Two runs storing at once, and a reader meanwhile: the reader always
    finds complete settings, and the end holds one of the two whole."""
    home = vltsys.Home(root)
    home.store(store_text("first"))
    writers = []
    for _ in range(25):
        writers += [home.start(store_text("alpha", "a" * 300)), home.start(store_text("beta"))]
        check(home.stored_user() in ("first", "alpha", "beta"), "settings missing or mixed")
    for writer in writers:
        writer.stdout.close()
        check_equal(writer.wait(60), 0, "exit status of a concurrent store")
    check(home.stored_user() in ("alpha", "beta"), "final settings")
    leftovers = [n for n in os.listdir(home.path) if ".tmp" in n]
    check_equal(leftovers, [], "temporary files left")


def full_disk(root):
    """A store whose file cannot be written completely keeps the previous one."""
    home = vltsys.Home(root)
    home.store(store_text("first"))
    with open(home.file("vlt.sysdat"), "rb") as f:
        before = f.read()

    def small_files():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (1024, 1024))

    done = home.run(store_text("second", "x" * 2000), preexec_fn=small_files)
    check_equal(done.returncode, 1, "exit status")
    check_equal(home.error_entries(), [
        "エラー番号 :57 -- PrjVellumtide でエラーが発生しました。 \r\nデバイス I/O エラーです。"],
        "reports")
    with open(home.file("vlt.sysdat"), "rb") as f:
        check_equal(f.read(), before, "settings after the failed store")
    check_equal(sorted(os.listdir(home.path)), ["vellumtideERR1.log", "vlt.sysdat"], "files")


def links_refused(root):
    home = vltsys.Home(root)
    target = os.path.join(root, "elsewhere")
    with open(target, "w") as f:
        f.write("untouched")
    os.symlink(target, home.file("vlt.sysdat"))
    done = home.run(store_text("first"))
    check_equal(done.returncode, 1, "exit status of the store")
    done = home.run("to@example.com, , s, body")
    check_equal(done.returncode, 1, "exit status of the sending run")
    check_equal(home.error_entries(), [
        "エラー番号 :75 -- PrjVellumtide でエラーが発生しました。 \r\nパス名が無効です。",
        LOAD_FAILED % (75, "パス名が無効です。"), NOT_LOADED], "reports")
    with open(target) as f:
        check_equal(f.read(), "untouched", "link target")


def large_file_not_read(root):
    """A 40 MB settings file is refused without being read."""
    home = vltsys.Home(root)
    piece = b"A" * (1 << 20)  # written in pieces: a forked child counts this process's memory
    with open(home.file("vlt.sysdat"), "wb") as f:
        for _ in range(40):
            f.write(piece)
    done = home.run("to@example.com, , s, body")
    check_equal(done.returncode, 1, "exit status")
    check_equal(home.error_entries(), [LOAD_FAILED % (6, "オーバーフローしました。"), NOT_LOADED],
                "reports")
    peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    check(peak_kib < 30 * 1024, "peak memory %d KiB" % peak_kib)


if __name__ == "__main__":
    vltsys.require(os.access(vltsys.PROGRAM, os.X_OK), "no program at " + vltsys.PROGRAM)
    sys.exit(vltsys.run_cases([
        ("large_file_not_read", large_file_not_read),
        ("concurrent_stores", concurrent_stores),
        ("full_disk", full_disk),
        ("links_refused", links_refused),
    ]))
