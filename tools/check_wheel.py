"""Checks that a release wheel holds none of the test machinery and that the stand-in
runtime exports only its interface, and prints the wheel's files and size.

    python tools/check_wheel.py WHEEL

Fails when a file of the wheel is test-only, when a shared object defines or refers to
a test-only symbol (the --wrap=free accounting, the runtime's test fixtures) or holds
the name of the test-only module vorn._vornc_bridge._testing, when the runtime's
exported symbols differ from the VORN_C_API declarations of its headers that release
builds have, or when its SONAME is not versioned. Needs nm and readelf (binutils)."""
from __future__ import annotations

import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADERS = ROOT / "standins" / "vorn_c_shared" / "include"
RUNTIME_SONAME = "libvorn_c_shared.so.0"
TEST_SYMBOLS = re.compile(r"^(__wrap_|__real_|vorn_testing_|vorn_type_unprintable$|vorn_runtime_counters$"
                          r"|vorn_setup_calls$)")
TEST_FILES = re.compile(r"(^|/)(testing|_testing|conftest|test_[^/]*)(\.|/|$)")
TEST_MODULE_NAME = b"vorn._vornc_bridge._testing"


def interface() -> set[str]:
    """The names declared VORN_C_API in the runtime's headers outside test-only blocks."""
    names = set()
    for header in HEADERS.glob("*.h"):
        depth_test = 0
        for line in header.read_text().splitlines():
            if line.startswith("#ifdef VORN_TEST_HOOKS"):
                depth_test += 1
            elif line.startswith("#endif") and depth_test:
                depth_test -= 1
            elif line.startswith("VORN_C_API") and not depth_test:
                names.add(re.search(r"(\w+)\s*(\(|;)", line).group(1))
    return names


def symbols(path: pathlib.Path, *flags: str) -> set[str]:
    out = subprocess.run(["nm", "-D", *flags, str(path)], capture_output=True, text=True, check=True).stdout
    return {line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip()}


def soname(path: pathlib.Path) -> str | None:
    out = subprocess.run(["readelf", "-d", str(path)], capture_output=True, text=True, check=True).stdout
    found = re.search(r"\(SONAME\)\s+Library soname: \[(.+)\]", out)
    return found.group(1) if found else None


def main(wheel_path: str) -> int:
    wheel = pathlib.Path(wheel_path)
    faults = []
    with zipfile.ZipFile(wheel) as zf, tempfile.TemporaryDirectory() as tmp:
        infos = zf.infolist()
        print(f"{wheel.name}: {wheel.stat().st_size} bytes, {len(infos)} files")
        for info in infos:
            print(f"  {info.file_size:>9}  {info.filename}")
            if TEST_FILES.search(info.filename):
                faults.append(f"test-only file {info.filename}")
        for info in infos:
            if ".so" not in pathlib.PurePath(info.filename).name:
                continue
            path = pathlib.Path(zf.extract(info, tmp))
            name = pathlib.PurePath(info.filename).name
            defined, undefined = symbols(path, "--defined-only"), symbols(path, "--undefined-only")
            for sym in sorted((defined | undefined)):
                if TEST_SYMBOLS.match(sym):
                    faults.append(f"{name}: test-only symbol {sym}")
            if TEST_MODULE_NAME in path.read_bytes():
                faults.append(f"{name}: holds the test-only module {TEST_MODULE_NAME.decode()}")
            if name.startswith("libvorn_c_shared"):
                if name != RUNTIME_SONAME or soname(path) != RUNTIME_SONAME:
                    faults.append(f"{name}: the runtime must be {RUNTIME_SONAME}, SONAME {soname(path)}")
                expected = interface()
                if defined != expected:
                    faults.append(f"{name}: exports beyond its interface {sorted(defined - expected)}, "
                                  f"missing {sorted(expected - defined)}")
                print(f"  {name}: SONAME {soname(path)}, {len(defined)} symbols exported, all of its interface")
            elif defined != {f"PyInit_{name.split('.')[0]}"}:
                faults.append(f"{name}: exports {sorted(defined)}")
    for fault in faults:
        print(f"check_wheel: {fault}", file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
