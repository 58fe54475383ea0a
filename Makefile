# The two commands of the README, plus the sanitizer run of the same tests.
BUILD ?= build
JOBS ?= $(shell nproc)
# A compiler warning fails the build of `make test`, and every build under CI.
# Once on, a build folder keeps it (switching it off and on would rebuild it all);
# WERROR=OFF turns it off.
WERROR ?= $(if $(filter true,$(CI)),ON)
test: WERROR = ON
werror = $(if $(WERROR),-DBRINDLEWICK_WERROR=$(WERROR))

.PHONY: deps build run test bench sanitize fuzz clean ctest-in

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(werror)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/desktop/brindlewick --register
	$(BUILD)/desktop/brindlewick

test: build
	scripts/pg-server run $(BUILD)/pg-server $(MAKE) --no-print-directory ctest-in DIR=$(BUILD)

# The benchmark programs, into $(BUILD)/bench; run them by hand.
bench: build
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks

sanitize: deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DBRINDLEWICK_SANITIZE=ON $(werror)
	cmake --build $(BUILD)-asan -j $(JOBS)
	scripts/pg-server run $(BUILD)-asan/pg-server $(MAKE) --no-print-directory ctest-in DIR=$(BUILD)-asan

# ctest in DIR, against the private PostgreSQL server of scripts/pg-server.
ctest-in:
	cd $(DIR) && ctest --output-on-failure -j $(JOBS); status=$$?; \
	  echo "PostgreSQL tests passed: $$(awk '/^[0-9]+\/[0-9]+ Test: /{name=$$3} /^Test Passed/{if (name ~ /Postgres/) n++} END{print n+0}' Testing/Temporary/LastTest.log)"; \
	  exit $$status

# Every fuzz/<name>.cpp, built with clang and run over its seed corpus. The
# sources are compiled in batches (unity build), which halves this build.
FUZZ_RUNS ?= 200000
fuzz: deps
	cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DBRINDLEWICK_FUZZ=ON -DCMAKE_UNITY_BUILD=ON $(werror)
	cmake --build $(BUILD)-fuzz -j $(JOBS) --target fuzz_all
	scripts/run-fuzz $(BUILD)-fuzz/fuzz $(FUZZ_RUNS) $(JOBS)

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-fuzz
