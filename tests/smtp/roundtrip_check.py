"""Composes messages with the writer program and reads them back with
Python's email package, an independent MIME and RFC 2047 decoder."""

import email
import email.policy
import os
import subprocess
import sys
import tempfile
import unicodedata

WRITER = sys.argv[1]

# (name, subject, from_name, body, attachment file name or None,
#  expected subject, expected display name, expected body, expected charset).
# Without a display name the From header shows the address's local part.
# Decoders drop the blank between two adjacent encoded words, so the names keep
# ASCII beside each Japanese run where a blank must survive. A character that
# ISO-2022-JP cannot carry anywhere in the message makes it UTF-8 throughout.
CASES = [
    ("japanese_everywhere",
     "会議のお知らせ", "山田太郎",
     "こんにちは。\n本日の会議は15時からです。\r\n.\n..二つの点\n",
     "報告書 2024.pdf",
     "会議のお知らせ", "山田太郎",
     "こんにちは。\n本日の会議は15時からです。\n.\n..二つの点", "iso-2022-jp"),
    ("mixed_ascii_and_half_width",
     "Re: 週次報告 week 12", "Taro ﾔﾏﾀﾞ",
     "  ｶﾞｲﾄﾞ line 1\rline 2  ",
     "日本語.txt",
     "Re: 週次報告 week 12", "Taro ヤマダ",
     "ガイド line 1\nline 2", "iso-2022-jp"),
    ("long_subject_folded",
     "長い件名" * 10 + " end", "",
     "body",
     "資料 v2.bin",
     "長い件名" * 10 + " end", "taro",
     "body", "iso-2022-jp"),
    ("no_attachment",
     "お知らせ", "事務局",
     "本文のみ",
     None,
     "お知らせ", "事務局",
     "本文のみ", "iso-2022-jp"),
    ("utf8_everywhere",
     "会議\U0001F600のお知らせ (ｶﾞｲﾄﾞ) " + "\U00029E3D定食" * 12, "\U00020BB7野家",
     "絵文字 \U0001F600\n①㈱髙 〜¬ ｶﾞ\r\n.\n..二つの点\n" + "한국어 café " * 30,
     "\U00020BB7野家の報告 2024.pdf",
     "会議\U0001F600のお知らせ (ガイド) " + "\U00029E3D定食" * 12, "\U00020BB7野家",
     "絵文字 \U0001F600\n①㈱髙 〜¬ ガ\n.\n..二つの点\n" + ("한국어 café " * 30).rstrip(" "),
     "utf-8"),
]


def attachment_bytes(seed):
    data = bytearray(range(256)) * 40
    x = seed
    for _ in range(5000 + seed):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        data.append(x >> 23)
    return bytes(data)


def normalise(text):
    return text.replace("\r\n", "\n").rstrip("\n")


def main():
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        for seed, (name, subject, from_name, body, file_name,
                   want_subject, want_display, want_body, want_charset) in enumerate(CASES):
            args = [WRITER, os.path.join(tmp, name + ".eml"), subject, from_name, body]
            data = None
            if file_name is not None:
                data = attachment_bytes(seed)
                folder = os.path.join(tmp, name)
                os.mkdir(folder)
                path = os.path.join(folder, file_name)
                with open(path, "wb") as f:
                    f.write(data)
                args.append(path)
            subprocess.run(args, check=True)
            with open(args[1], "rb") as f:
                raw = f.read()

            def check(what, got, want):
                if got != want:
                    failures.append(f"{name}: {what}: got {got!r}, want {want!r}")

            check("7-bit", all(b < 128 for b in raw), True)
            msg = email.message_from_bytes(raw, policy=email.policy.default)
            check("defects", [str(d) for d in msg.defects], [])
            check("subject", str(msg["subject"]), want_subject)
            address = msg["from"].addresses[0]
            check("from address", address.addr_spec, "taro@example.com")
            check("display name", address.display_name, want_display)
            text = msg.get_body(preferencelist=("plain",))
            check("charset", text.get_content_charset(), want_charset)
            check("body", normalise(text.get_content()), want_body)
            attachments = list(msg.iter_attachments())
            if file_name is None:
                check("single part", msg.is_multipart(), False)
                check("attachments", len(attachments), 0)
                continue
            check("attachments", len(attachments), 1)
            if not attachments:
                continue
            part = attachments[0]
            check("file name", part.get_filename(), unicodedata.normalize("NFC", file_name))
            check("attachment type", part.get_content_type(), "application/octet-stream")
            check("attachment bytes", part.get_content() == data, True)

    for failure in failures:
        print(failure)
    print(f"{len(CASES)} messages, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
