# Convenience front end over CMake and its presets (CMakePresets.json). Build trees live in build/
# (plain) and build-san/ (sanitized).
BUILD      ?= build
SAN_BUILD  ?= build-san
JOBS       ?= 2

.PHONY: all deps deps-run configure configure-run build test test-fast test-sanitize check run clean \
        format fuzz fuzz-smoke slurm-test deb package-test

all: build

# The Debian packages, in two tiers (scripts/install-deps.sh): `deps-run` what the programs need,
# `deps` that and what the tests, benchmarks and fuzz targets need.
deps-run:
	@bash scripts/install-deps.sh run

deps:
	@bash scripts/install-deps.sh test

# The programs alone: build/ configured without the tests when nothing configured it yet. Once the
# tests are configured (configure), the programs are built in the same tree.
configure-run: | deps-run
	@[ -f $(BUILD)/build.ninja ] || cmake --preset default -B $(BUILD) -DMARKET_BUILD_TESTS=OFF

# Everything: build/ with the tests, configured again when configure-run left them out.
configure: | deps
	@grep -qs '^MARKET_BUILD_TESTS:BOOL=ON' $(BUILD)/CMakeCache.txt || \
	  cmake --preset default -B $(BUILD) -DMARKET_BUILD_TESTS=ON

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The test command: warnings as errors, every test.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The fast tier: every in-process test (CTest label unit, cmake/MarketTests.cmake), in seconds.
test-fast: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -L unit

$(SAN_BUILD)/build.ninja: | deps
	cmake --preset sanitize -B $(SAN_BUILD)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: $(SAN_BUILD)/build.ninja
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

# Plain and sanitized: what CI runs.
check: test test-sanitize

# A tournament's shards as a job array on a real one-node Slurm started by hand (root; installs
# Debian's Slurm and MUNGE when missing), merged and compared with the run in one piece.
slurm-test: configure
	bash scripts/slurm-test.sh $(BUILD)

# The Debian package of the programs, with their man pages, completions, example scenarios and
# tournament files and the docs, in $(BUILD)/package/ (CPack; help2man and dpkg-shlibdeps come
# with the test tier). Made from build/ as it is configured, the tests left out when unconfigured.
NEWEST_DEB = ls -t $(BUILD)/package/auction-market_*.deb | head -n 1
deb: | deps
	@$(MAKE) --no-print-directory configure-run
	cmake --build $(BUILD) -j $(JOBS) --target package_contents
	cd $(BUILD) && cpack -G DEB > /dev/null
	@realpath "$$($(NEWEST_DEB))"

# The package from outside the checkout: unpacked with dpkg -x into a temporary root (or, with
# PACKAGE_TEST_FLAGS=--install as root, installed with dpkg -i and removed with dpkg -r), the
# default session, an example tournament, every man page, the completions.
PACKAGE_TEST_FLAGS ?=
package-test: deb
	bash scripts/package-test.sh $(PACKAGE_TEST_FLAGS) "$$($(NEWEST_DEB))"

# libFuzzer targets (clang, build-fuzz/; docs/fuzzing.md): replay the named seeds and the
# regressions, then fuzz each target briefly.
FUZZ_SECONDS ?= 30
fuzz-smoke: | deps
	bash fuzz/run.sh replay
	bash fuzz/run.sh $(FUZZ_SECONDS)

# A long fuzzing run that grows build-fuzz/corpus/TARGET, then merged: make fuzz FUZZ_SECONDS=1800
fuzz: | deps
	bash fuzz/run.sh $(FUZZ_SECONDS)
	bash fuzz/run.sh merge

# Every C++ file in git, whatever its folder.
format:
	git ls-files --cached --others --exclude-standard '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(SAN_BUILD)

# Benchmarks: Release build in build-bench/, figures beside baselines measured in the same run.
.PHONY: bench
bench: | deps
	bash bench/run.sh

# The stepped clock: the default session stepped against real 40 ms ticks, and the tick rate with
# one agent against a round trip plus one idle look (Release build in build-bench/).
.PHONY: bench-stepped
bench-stepped: | deps
	bash bench/stepped.sh

# A million-session tournament of built-in bidders, run with --jobs 2 and shown, beside market-sim
# playing the same sessions (bench/tournament.sh; Release build in build-bench/).
.PHONY: bench-tournament
bench-tournament: | deps
	bash bench/tournament.sh

# The largest valid session beside the default one (bench/large.sh): market-sim's peak memory, time
# and results size, and market-report's peak memory, time and page size for each, in the Release
# build (build-bench/).
.PHONY: bench-large
bench-large: | deps
	bash bench/large.sh

# One whole market session: the agent against the default market (MARKET_SCENARIO, MARKET_SEED,
# MARKET_RESULTS and MARKET_TRANSCRIPT are passed on to the gateway). The agent's log goes to
# buyer.log, the market's summary to the terminal. On the stepped clock (a tick ends as soon as
# the agent has answered) unless CLOCK=real: make run CLOCK=real.
CLOCK ?= stepped
run: configure-run
	@cmake --build $(BUILD) -j $(JOBS) --target buyer remote_control
	@PATH="$(abspath $(BUILD))/bin:$$PATH" MARKET_CLOCK=$(CLOCK) $(BUILD)/bin/buyer > buyer.log; status=$$?; \
	  echo "The agent's log is in buyer.log; the agent exited with status $$status."; exit $$status

# The default session (as make run, CLOCK too), then its HTML report: out/session.json, out/buyer.log and
# out/report.html. A tournament's report: build/bin/market-report --db out/tournament.db -o FILE.
.PHONY: report
report: configure-run
	@cmake --build $(BUILD) -j $(JOBS) --target buyer remote_control market-report
	@mkdir -p out
	@PATH="$(abspath $(BUILD))/bin:$$PATH" MARKET_CLOCK=$(CLOCK) MARKET_RESULTS=out/session.json \
	  $(BUILD)/bin/buyer \
	  > out/buyer.log || echo "The agent exited with status $$?; reporting what the session did."
	@$(BUILD)/bin/market-report out/session.json -o out/report.html
	@echo "$(abspath out/report.html)"

# One networked session on loopback: marketd serving scenarios/network.toml, three scripted network
# bidders and the agent (its gateway relays to marketd through MARKET_ADDRESS). The logs and the
# results go to out/network/, the market's summary to the terminal.
.PHONY: run-network bench-network
run-network: configure-run
	@cmake --build $(BUILD) -j $(JOBS) --target buyer remote_control marketd market_peer
	bash marketd/run_network.sh $(BUILD)

# marketd's load benchmark: 100 scripted bidders on 100 connections for a whole session, in a
# Release build (build-bench-net/); fails if a bid sent was not recorded.
BENCH_NET_BUILD ?= build-bench-net
bench-network: | deps
	cmake --preset bench -B $(BENCH_NET_BUILD) > /dev/null
	cmake --build $(BENCH_NET_BUILD) -j $(JOBS) --target marketd market_peer
	bash marketd/bench_network.sh $(BENCH_NET_BUILD)

# The live monitor's cost to the clock: tick gaps seen by an honest bidder with 50 viewers
# attached (one stalled) against none, in the same Release build (build-bench-net/).
.PHONY: bench-monitor
bench-monitor: | deps
	cmake --preset bench -B $(BENCH_NET_BUILD) > /dev/null
	cmake --build $(BENCH_NET_BUILD) -j $(JOBS) --target marketd market_monitor_bench
	bash marketd/bench_monitor.sh $(BENCH_NET_BUILD)

# A demo tournament: the buyer and the Python example agent against the default scenario's rivals
# over 30 seeds on a 10 ms tick, on the stepped clock (tournament/demo.toml), into
# out/tournament.db; prints the leaderboard. When python3 on PATH is a shim in front of the
# interpreter (a version manager's: pyenv's costs about 0.1 s a start), the interpreter's folder
# goes first on PATH, so that the shim runs once here and not again in every session.
# One session per core: on the stepped clock an agent kept from the CPU past its tick's deadline
# makes a late tick, so more sessions than cores make the results depend on the machine's load
# (measured: --jobs 4 on 2 cores gave 6 to 68 late agent-ticks a run, --jobs 2 none or one).
TOURNAMENT_JOBS ?= $(shell nproc)
PYTHON_DIR = $(shell d=$$(python3 -c 'import os, sys; print(os.path.dirname(sys.executable))' \
  2>/dev/null); [ "$$d" = "$$(dirname "$$(command -v python3)")" ] || echo "$$d")
.PHONY: tournament
tournament: configure-run
	@cmake --build $(BUILD) -j $(JOBS) --target tournament
	@mkdir -p out
	PATH="$(if $(PYTHON_DIR),$(PYTHON_DIR):)$$PATH" PYTHONDONTWRITEBYTECODE=1 \
	  $(BUILD)/bin/tournament run tournament/demo.toml --db out/tournament.db --jobs $(TOURNAMENT_JOBS)

# marketd's soak: an honest and a hostile crowd on loopback for SOAK_SECONDS (default 600), in a
# Release build (build-soak/); prints memory, tick gaps, bids sent and received, CPU and refusals.
SOAK_BUILD ?= build-soak
.PHONY: soak
soak: | deps
	cmake --preset bench -B $(SOAK_BUILD) > /dev/null
	cmake --build $(SOAK_BUILD) -j $(JOBS) --target marketd market_soak
	bash marketd/soak.sh $(SOAK_BUILD)
