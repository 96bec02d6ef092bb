#!/usr/bin/env bash
# The main job, end to end: starts a real SMTP server (aiosmtpd, AUTH required)
# on a loopback port, stores the server settings in a temporary program
# folder, sends a Japanese message with an attachment, and shows what the
# server received, raw and decoded.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -x build/vellumtide ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j2 --target vellumtide >/dev/null
fi

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

/usr/bin/python3 tests/tools/smtp_server.py --outdir "$work/received" --user demo --password 's3cret' \
  --lifetime 60 > "$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do grep -q READY "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(awk '/READY/ {print $2}' "$work/server.out")
echo "== aiosmtpd listening on 127.0.0.1:$port (AUTH PLAIN/LOGIN required)"

export VELLUMTIDE_HOME="$work/home"
mkdir -p "$VELLUMTIDE_HOME"
echo "== storing the settings (SMTP AUTH)"
build/vellumtide --xcnf, 127.0.0.1, "$port", sender@example.com, , , demo, s3cret
build/vellumtide --info

printf '各位\n\n本日の処理結果を添付します。\nｶﾀｶﾅも全角で届きます。\n.\n以上\n' > "$work/本文.txt"
head -c 3000 /dev/urandom > "$work/報告書.pdf"

echo "== sending"
FROM_NAME='山田 太郎' build/vellumtide to@example.com, cc@example.com, 夜間バッチ報告, \
  "$work/本文.txt", "$work/報告書.pdf"
echo "   exit status: $?"

for _ in $(seq 50); do [ -f "$work/received/001.eml" ] && break; sleep 0.1; done
echo "== what the server received (raw)"
cat "$work/received/001.eml" | head -c 2500; echo; echo "   [...]"
echo "== decoded with Python's email package"
/usr/bin/python3 - "$work/received/001.eml" "$work/報告書.pdf" <<'PY'
import email, email.policy, sys
msg = email.message_from_binary_file(open(sys.argv[1], "rb"), policy=email.policy.default)
for h in ("Date", "From", "To", "Cc", "Subject", "X-Mailer"):
    print(f"{h}: {msg[h]}")
body = msg.get_body(preferencelist=("plain",))
print("--- body ---")
print(body.get_content())
for part in msg.iter_attachments():
    data = part.get_payload(decode=True)
    same = data == open(sys.argv[2], "rb").read()
    print(f"--- attachment: {part.get_filename()} ({len(data)} bytes, identical: {same})")
PY
echo "== message log ($VELLUMTIDE_HOME/Scrivlane1.log)"
head -n 3 "$VELLUMTIDE_HOME/Scrivlane1.log"
