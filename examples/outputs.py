"""Where the examples write their files: build/examples/ in the repository,
out of the source tree."""

import pathlib

OUTPUT_DIR = pathlib.Path(__file__).resolve().parent.parent / "build" / "examples"


def output_path(name):
    """The path of `name` in OUTPUT_DIR, which is created if missing."""
    OUTPUT_DIR.mkdir(parents=True, exist_ok=True)
    return str(OUTPUT_DIR / name)
