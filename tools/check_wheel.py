"""What a published wheel must hold beyond what abi3audit and auditwheel check.

    python tools/check_wheel.py dist/brenik-*.whl

- the module exports PyInit_brenik and nothing else;
- the OpenBLAS it needs is the copy in brenik.libs/, under a name and SONAME of
  its own, and it is the one used even when the generic libscipy_openblas.so
  (loaded by `import scipy_openblas32`) is already in the process;
- the project's and OpenBLAS's licence texts and the stub package are in it.
"""

import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile

GENERIC_OPENBLAS = "libscipy_openblas.so"

# Run with the unpacked wheel first on the path: the loaded copy is the one
# mapped from the wheel's brenik.libs/, or the generic one stood in for it.
LOADED_OPENBLAS = """
import pathlib, scipy_openblas32, brenik
libs = pathlib.Path(brenik.__file__).parent / "brenik.libs"
print(sorted({line.split()[-1] for line in open("/proc/self/maps") if "openblas" in line}))
raise SystemExit(not any(str(libs) in line for line in open("/proc/self/maps")))
"""


def dynamic_entries(path, tag):
    """Values of one tag (NEEDED, SONAME) of an ELF file's dynamic section."""
    out = subprocess.run(["readelf", "-d", str(path)], check=True, capture_output=True, text=True)
    return re.findall(rf"\({tag}\)\s+.*\[(.*)\]", out.stdout)


def exported_symbols(path):
    out = subprocess.run(["nm", "-D", "--defined-only", str(path)],
                         check=True, capture_output=True, text=True)
    return [line.split()[-1] for line in out.stdout.splitlines()]


def problems_of(root):
    module = root / "brenik.abi3.so"
    dist_info = next(root.glob("brenik-*.dist-info"))
    problems = []
    if (exported := exported_symbols(module)) != ["PyInit_brenik"]:
        problems.append(f"the module exports {exported}")
    blas = [name for name in dynamic_entries(module, "NEEDED") if name.startswith("libscipy_openblas")]
    if len(blas) != 1 or blas[0] == GENERIC_OPENBLAS:
        problems.append(f"the module needs {blas}, not one OpenBLAS of its own")
    elif dynamic_entries(root / "brenik.libs" / blas[0], "SONAME") != blas:
        problems.append(f"brenik.libs/{blas[0]} does not carry that SONAME")
    loaded = subprocess.run([sys.executable, "-c", LOADED_OPENBLAS], cwd=root,
                            capture_output=True, text=True)
    if loaded.returncode != 0:
        problems.append("with the generic OpenBLAS loaded first, the process maps "
                        f"{loaded.stdout.strip()} {loaded.stderr.strip()}")
    for wanted in ("licenses/LICENSE", "licenses/OpenBLAS/LICENSE.txt"):
        if not (dist_info / wanted).is_file():
            problems.append(f"{dist_info.name}/{wanted} is missing")
    if not (root / "brenik-stubs" / "__init__.pyi").is_file():
        problems.append("brenik-stubs/__init__.pyi is missing")
    return problems


# The lowest policy a Debian 12 build reaches: its glibc 2.33 stat family and
# 2.34 pthread_once; anything newer shuts out machines for no reason.
OLDEST_GLIBC = "manylinux_2_34"


def main(wheel):
    with tempfile.TemporaryDirectory() as tmp:
        with zipfile.ZipFile(wheel) as archive:
            archive.extractall(tmp)
        problems = problems_of(pathlib.Path(tmp))
    if f"-{OLDEST_GLIBC}_" not in pathlib.Path(wheel).name:
        problems.append(f"the wheel is not tagged {OLDEST_GLIBC}")
    for problem in problems:
        print(f"{wheel}: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
