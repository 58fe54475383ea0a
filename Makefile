# The two commands of the README, plus the sanitizer run of the same tests.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps build run test sanitize fuzz clean

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/desktop/brindlewick

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DBRINDLEWICK_SANITIZE=ON
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ctest --output-on-failure -j $(JOBS)

# Every fuzz/<name>.cpp, built with clang and run over its seed corpus.
FUZZ_RUNS ?= 200000
fuzz: deps
	cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DBRINDLEWICK_FUZZ=ON
	cmake --build $(BUILD)-fuzz -j $(JOBS) --target fuzz_all
	scripts/run-fuzz $(BUILD)-fuzz/fuzz $(FUZZ_RUNS) $(JOBS)

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-fuzz
