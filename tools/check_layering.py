#!/usr/bin/env python3
"""Proves that the engine's layering and its public API hold at compile time.

Each engine layer may include its own headers and those of the layers it
builds on, and nothing else. For every layer this compiles a one-line
source that includes a header of every other layer, with the flags the
build gives that layer's own sources (from compile_commands.json): the
allowed includes must compile and the others must fail to find the header.

A front end (the command line, the platform layer, the window, the folder
picker, the benchmarks that time the API) sees the public headers alone
(engine/include/tessmark/): with its flags, each public header must compile
on its own, and no layer's header may be found. The project root is on a
front end's include path too (for its own folders), so its sources are
also read for includes that reach into engine/ by path.

Usage: check_layering.py BUILD_DIR
"""
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile

# What each layer builds on, as engine/CMakeLists.txt links them.
BELOW = {
    "format": [],
    "db": ["format"],
    "check": ["db", "format"],
    "compact": ["check", "db", "format"],
    "repair": ["compact", "check", "db", "format"],
    "build": ["db", "format"],
}

# Front-end targets, as the build names their objects' folders.
FRONT_ENDS = ["tessmark-cli", "tessmark_platform", "tessmark_main_window", "tessmark_folder_picker",
              "generate_bench"]

# The front ends' own folders, and the benchmark that times the API alone.
FRONT_END_SOURCES = ["cli", "platform", "main_window", "folder_picker", "bench/generate_bench.cpp"]
INCLUDE_BY_PATH = re.compile(r'^\s*#\s*include\s*[<"](\.\./)*engine/', re.M)


def includes_by_path(root):
    """Front-end sources that include an engine file by its path from the root."""
    found = []
    for entry in FRONT_END_SOURCES:
        path = os.path.join(root, entry)
        files = [path] if os.path.isfile(path) else [
            os.path.join(d, f) for d, _, names in os.walk(path) for f in names]
        for name in files:
            if name.endswith((".h", ".cpp", ".rc")):
                with open(name, errors="replace") as f:
                    if INCLUDE_BY_PATH.search(f.read()):
                        found.append(os.path.relpath(name, root))
    return sorted(found)


def compiler_flags(entry):
    """The compiler and its flags of a compile command, without output and source."""
    args = shlex.split(entry["command"]) if "command" in entry else list(entry["arguments"])
    kept, skip = [], False
    for arg in args:
        if skip:
            skip = False
            continue
        if arg in ("-o", "-c", "-MF", "-MT", "-MQ"):
            skip = arg != "-c"
            continue
        if arg == entry["file"] or arg.endswith(os.path.basename(entry["file"])):
            continue
        kept.append(arg)
    return kept


def compiles(flags, directory, source_path, include):
    with open(source_path, "w") as f:
        f.write(f'#include "{include}"\n')
    result = subprocess.run(flags + ["-fsyntax-only", source_path], cwd=directory,
                            capture_output=True, text=True)
    return result.returncode == 0, result.stderr.strip()


def main():
    build_dir = sys.argv[1]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    engine = os.path.join(root, "engine")
    with open(os.path.join(build_dir, "compile_commands.json")) as f:
        commands = json.load(f)

    def command_for(layer):
        prefix = os.path.join(engine, layer) + os.sep
        for entry in commands:
            if entry["file"].startswith(prefix):
                return entry
        raise SystemExit(f"no source of engine/{layer} in the build's compile commands")

    def a_header(layer):
        return sorted(h for h in os.listdir(os.path.join(engine, layer)) if h.endswith(".h"))[0]

    faults = []
    with tempfile.TemporaryDirectory() as scratch:
        for layer, below in BELOW.items():
            entry = command_for(layer)
            flags = compiler_flags(entry)
            for other in BELOW:
                source = os.path.join(scratch, f"{layer}_includes_{other}.cpp")
                ok, err = compiles(flags, entry["directory"], source, f"{other}/{a_header(other)}")
                allowed = other == layer or other in below
                if allowed and not ok:
                    faults.append(f"engine/{layer} cannot include {other}/: {err}")
                if not allowed and ok:
                    faults.append(f"engine/{layer} can include {other}/, a layer it does not build on")
        public = sorted(h for h in os.listdir(os.path.join(engine, "include", "tessmark"))
                        if h.endswith(".h"))
        for target in FRONT_ENDS:
            marker = f"/CMakeFiles/{target}.dir/"
            entry = next((e for e in commands if marker in e.get("command", " ".join(
                e.get("arguments", [])))), None)
            if entry is None:
                raise SystemExit(f"no source of {target} in the build's compile commands")
            flags = compiler_flags(entry)
            for header in public:
                source = os.path.join(scratch, f"{target}_public_{header}.cpp")
                ok, err = compiles(flags, entry["directory"], source, f"tessmark/{header}")
                if not ok:
                    faults.append(f"{target}: tessmark/{header} does not compile on its own: {err}")
            for layer in BELOW:
                source = os.path.join(scratch, f"{target}_includes_{layer}.cpp")
                ok, _ = compiles(flags, entry["directory"], source, f"{layer}/{a_header(layer)}")
                if ok:
                    faults.append(f"{target} can include {layer}/, a header internal to the engine")
    for source in includes_by_path(root):
        faults.append(f"{source} includes an engine file by its path, past the public API")
    for fault in faults:
        print(fault)
    print(f"layering: {len(BELOW)} layers, {len(FRONT_ENDS)} front ends, {len(public)} public headers, "
          f"{len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
