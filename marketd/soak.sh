#!/usr/bin/env bash
# marketd's soak (make soak): market_soak's honest and hostile crowd against one marketd on
# loopback for SOAK_SECONDS (default 600), then the figures and the targets: peak memory under
# 64 MiB, honest p99 tick gap within 1.1 ticks, every honest bid received, no honest bidder
# dropped. SOAK_TICK sets the tick in ms (default 50): a short tick plays the whole largest
# session (21 auctions of 200 goods) in minutes. Usage: soak.sh BUILD_DIR
set -euo pipefail
build=$1
seconds=${SOAK_SECONDS:-600}
tick=${SOAK_TICK:-50}
honest=${SOAK_HONEST:-200}
buyers=$((honest + 16))  # and 16 hostile logins
out=$(mktemp -d)
{
  echo "tick_ms = $tick"
  echo "price_step = 100"
  echo "admission_window_ms = 5000"
  echo "min_buyers = 1"
  echo "buyers_per_auction = $buyers"
  echo "max_buyers = $buyers"
  for i in $(seq 1 $honest); do echo "[[registry]]"; echo "login = \"h$i\""; echo "password = \"h$i-pw\""; done
  for l in f1 f2 s1 s2 s3 s4 d1 d2 d3 d4 d5 d6 d7 d8 d9 d10; do
    echo "[[registry]]"; echo "login = \"$l\""; echo "password = \"$l-pw\""
  done
  for a in $(seq 1 21); do echo "[[auctions]]"; echo "generated_goods = 200"; done
} > "$out/soak.toml"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
${SOAK_SERVER_PREFIX:-} "$build/bin/marketd" --scenario "$out/soak.toml" --listen 127.0.0.1:0 --port-file "$out/port" \
  --results "$out/results.json" > "$out/marketd.out" 2> "$out/marketd.err" &
server=$!
for _ in $(seq 1 500); do [ -s "$out/port" ] && break; sleep 0.02; done
"$build/bin/market_soak" "$(cat "$out/port")" "$server" "$seconds" "$tick" "$honest" > "$out/soak.out"
status=0
wait "$server" || status=$?
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
grep -v '^sent ' "$out/soak.out"
echo "marketd exit status: $status"
grep -E '^Server:|^Bids:' "$out/marketd.err" || true
python3 - "$out" <<'PY'
import json, re, sys
out = sys.argv[1]
results = json.load(open(out + "/results.json", errors="replace"))
sent = {}
for line in open(out + "/soak.out"):
    if line.startswith("sent "):
        _, login, n = line.split()
        sent[login] = int(n)
received = {p["login"]: p for p in results["participants"]}
honest = [l for l in received if l.startswith("h")]
lost = sum(max(0, sent.get(l, 0) - received[l]["bids"]) for l in honest)
dropped = [l for l in honest if received[l]["dropped"]]
print("honest bids sent %d, received and counted %d, lost %d" %
      (sum(sent.values()), sum(received[l]["bids"] for l in honest), lost))
print("honest bidders admitted %d, dropped %d" % (len(honest), len(dropped)))
reasons = {}
for d in results["dropped"]:
    key = re.sub(r"\d+", "N", d["reason"])
    reasons[key] = reasons.get(key, 0) + 1
print("connections dropped by marketd: %d in all; the first %d by reason: %s" %
      (results["dropped_total"], len(results["dropped"]), reasons))
print("failed logins: %d" % results["failed_logins_total"])
err = open(out + "/marketd.err", errors="replace").read()
rss = int(re.search(r"max resident (\d+) KiB", err).group(1))
cpu = re.search(r"cpu user ([\d.]+) s, system ([\d.]+) s", err)
print("marketd peak resident memory %.1f MiB; cpu %.1f s user + %.1f s system" %
      (rss / 1024, float(cpu.group(1)), float(cpu.group(2))))
gap = re.search(r"p99 ([\d.]+),", open(out + "/soak.out").read())
ok = rss < 64 * 1024 and lost == 0 and not dropped and float(gap.group(1)) <= 1.1
print("targets (memory < 64 MiB, p99 gap <= 1.1 ticks, no honest bid lost, none dropped): %s" %
      ("met" if ok else "NOT met"))
PY
echo "files in $out"
