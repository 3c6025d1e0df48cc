#!/usr/bin/env bash
# A tournament on a real one-node Slurm: installs Debian's Slurm and MUNGE when missing, starts
# munged, slurmctld and slurmd by hand from a configuration in a temporary folder (their own
# socket, ports, state and logs; nothing of the system's is used or changed but the packages),
# submits a virtual-time tournament as a job array of shards, merges the shard databases and
# checks the result against the same tournament run in one piece. Every daemon started here is
# stopped on the way out, whatever happens; on failure their logs are printed.
#
#   scripts/slurm-test.sh [BUILD_DIR]      (default: build; needs root)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$(cd "${1:-build}" && pwd)
SHARDS=10
SEEDS=30  # 2 lineups: 60 sessions, 6 a shard
SUBMIT_TIMEOUT=${SLURM_TEST_TIMEOUT:-300}  # seconds for the whole array

say() { printf 'slurm-test: %s\n' "$*"; }
fail() {
  say "FAILED: $*"
  exit 1
}

[[ $(id -u) -eq 0 ]] || fail "needs root (daemons started by hand, SlurmUser=root)"
if ! command -v slurmctld >/dev/null || ! command -v slurmd >/dev/null ||
  ! command -v sbatch >/dev/null || ! command -v munged >/dev/null; then
  say "installing slurmctld slurmd slurm-client munge"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    slurmctld slurmd slurm-client munge >/dev/null
fi
cmake --build "$BUILD" --target tournament >/dev/null
TOURNAMENT=$BUILD/bin/tournament
[[ -x $TOURNAMENT ]] || fail "$TOURNAMENT was not built"

# Daemon files in a folder without spaces (Slurm's configuration takes no quotes); the
# tournament's files in one with a space, as a user's may be.
WORK=$(mktemp -d /tmp/slurm-test.XXXXXX)
OUT="$WORK/tournament out"
mkdir -p "$WORK"/{munge,state,spool,log} "$OUT"
chmod 700 "$WORK/munge"

PIDS=()  # the daemons' pid files
dump_logs() {
  for log in "$WORK"/log/* "$OUT"/shard-*.log; do
    [[ -f $log ]] || continue
    echo "----- $log (last 40 lines)"
    tail -n 40 "$log"
  done
}
cleanup() {
  local status=$?
  if [[ -n ${SLURM_CONF:-} ]] && command -v scancel >/dev/null; then
    timeout 10 scancel --name=tournament >/dev/null 2>&1 || true
  fi
  local i
  for ((i = ${#PIDS[@]} - 1; i >= 0; --i)); do  # slurmd, slurmctld, then munged
    local pidfile=${PIDS[i]}
    [[ -f $pidfile ]] || continue
    local pid
    pid=$(cat "$pidfile")
    [[ -n $pid ]] && kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  done
  if [[ $status -ne 0 ]]; then
    dump_logs
    say "failed (exit $status)"
  fi
  rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# MUNGE: a key of our own, our own socket.
dd if=/dev/urandom of="$WORK/munge/munge.key" bs=1 count=1024 status=none
chmod 400 "$WORK/munge/munge.key"
SOCKET=$WORK/munge/munge.socket
PIDS+=("$WORK/munge/munged.pid")
munged --force --key-file="$WORK/munge/munge.key" --socket="$SOCKET" \
  --pid-file="$WORK/munge/munged.pid" --log-file="$WORK/log/munged.log" \
  --seed-file="$WORK/munge/munged.seed"
for _ in $(seq 50); do [[ -S $SOCKET ]] && break; sleep 0.1; done
[[ -S $SOCKET ]] || fail "munged did not start"

# Ports: free ones, far from the defaults in case a Slurm already runs here.
free_port() {
  local port
  for port in $(shuf -i 20000-40000 -n 50); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
  fail "no free port"
}
CTLD_PORT=$(free_port)
SLURMD_PORT=$(free_port)
[[ $CTLD_PORT != "$SLURMD_PORT" ]] || SLURMD_PORT=$((CTLD_PORT + 1))

HOST=$(hostname -s)
NODE=$(slurmd -C | head -n 1)
[[ $NODE == NodeName=* ]] || fail "slurmd -C said: $NODE"
export SLURM_CONF=$WORK/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=tournament-test
SlurmctldHost=$HOST(127.0.0.1)
SlurmctldPort=$CTLD_PORT
SlurmdPort=$SLURMD_PORT
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$SOCKET
CredType=cred/munge
StateSaveLocation=$WORK/state
SlurmdSpoolDir=$WORK/spool
SlurmctldPidFile=$WORK/slurmctld.pid
SlurmdPidFile=$WORK/slurmd.pid
SlurmctldLogFile=$WORK/log/slurmctld.log
SlurmdLogFile=$WORK/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
ReturnToService=2
MinJobAge=5
SchedulerParameters=batch_sched_delay=0
MailProg=/bin/true
$NODE NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
PIDS+=("$WORK/slurmd.pid" "$WORK/slurmctld.pid")
slurmctld -c -f "$SLURM_CONF"
slurmd -f "$SLURM_CONF"
state=""
for _ in $(seq 100); do
  state=$(timeout 5 sinfo -h -o %T 2>/dev/null || true)
  [[ $state == idle ]] && break
  sleep 0.2
done
[[ $state == idle ]] || fail "the node is not idle (sinfo: '$state')"
say "slurm is up: $(sinfo -h -o '%N %c CPUs %T')"

# The tournament: every entry built in, so every session runs on virtual time.
{
  cat <<EOF
name = "slurm test"
scenarios = ["$ROOT/scenarios/default.toml"]
seeds = { base = 1, count = $SEEDS }
EOF
  cat "$ROOT/tests/data/two_lineups.toml"
} >"$OUT/t.toml"

"$TOURNAMENT" slurm "$OUT/t.toml" --shards "$SHARDS" --out "$OUT" --jobs 1 --time 10
[[ -x $OUT/tournament.sbatch ]] || fail "no job script"
start=$(date +%s%N)
timeout "$SUBMIT_TIMEOUT" sbatch --wait "$OUT/tournament.sbatch" ||
  fail "the job array failed or did not end within ${SUBMIT_TIMEOUT}s"
say "job array done in $((($(date +%s%N) - start) / 1000000)) ms"

# Every shard file holds the sessions planned for it.
"$TOURNAMENT" plan "$OUT/t.toml" --shards "$SHARDS" >"$WORK/plan.txt"
shard_files=()
for ((k = 0; k < SHARDS; ++k)); do
  db="$OUT/shard-$k.db"
  [[ -f $db ]] || fail "no $db"
  shard_files+=("$db")
  planned=$(awk -v k="$k" '$1 == k && NF >= 2 { print $2 }' "$WORK/plan.txt")
  [[ -n $planned ]] || fail "the plan has no shard $k"
  note=$("$TOURNAMENT" show --db "$db" --format csv 2>&1 >/dev/null)
  [[ $note == "tournament: shard $k of $SHARDS: $planned of its $planned sessions;"* ]] ||
    fail "shard $k: expected $planned sessions; show said: $note"
done
say "$SHARDS shard files, each with its planned sessions"

# The same tournament in one piece, and the merge.
"$TOURNAMENT" run "$OUT/t.toml" --db "$WORK/whole.db" --jobs 2 --format csv >"$WORK/whole.csv"
start=$(date +%s%N)
"$TOURNAMENT" merge --into "$OUT/all.db" "${shard_files[@]}" >"$WORK/merge.out" ||
  fail "merge exited $? ($(cat "$WORK/merge.out"))"
merge_ms=$((($(date +%s%N) - start) / 1000000))
"$TOURNAMENT" show --db "$OUT/all.db" --format csv >"$WORK/merged.csv"
diff -u "$WORK/whole.csv" "$WORK/merged.csv" || fail "the merged leaderboard differs"
say "merged leaderboard equals the one-piece run ($merge_ms ms to merge $SHARDS shards)"

# A shard left out: reported, exit 4 (incomplete), and show says so.
set +e
"$TOURNAMENT" merge --into "$WORK/part.db" "${shard_files[@]:0:4}" "${shard_files[@]:5}" \
  >/dev/null 2>"$WORK/part.err"
code=$?
set -e
[[ $code -eq 4 ]] || fail "merge without shard 4 exited $code"
grep -qx "tournament: missing shard 4" "$WORK/part.err" || fail "$(cat "$WORK/part.err")"
"$TOURNAMENT" show --db "$WORK/part.db" | grep -q "missing 4" || fail "show does not say shard 4 is missing"
# A shard given twice, and a merge run again: nothing added.
"$TOURNAMENT" merge --into "$OUT/all.db" "${shard_files[0]}" "${shard_files[@]}" \
  >"$WORK/again.out" 2>"$WORK/again.err"
grep -qx "tournament: shard 0 given more than once (${shard_files[0]})" "$WORK/again.err" ||
  fail "$(cat "$WORK/again.err")"
[[ $(grep -c ", 0 added$" "$WORK/again.out") -eq $((SHARDS + 1)) ]] ||
  fail "merging again added sessions: $(cat "$WORK/again.out")"
"$TOURNAMENT" show --db "$OUT/all.db" --format csv | diff -q - "$WORK/whole.csv" >/dev/null ||
  fail "merging again changed the leaderboard"
say "missing and repeated shards reported; passed"
