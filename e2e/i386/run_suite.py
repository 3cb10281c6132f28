#!/usr/bin/python3
"""Runs the end-to-end cases of cases.py on one backend:
  i386    the 32-bit saver (build/win32) under 32-bit Wine in the emulated i386
          machine (boots it once for the whole run; builds the machine image
          first when --build-image is given and it is not cached)
  wine64  the 64-bit saver (build/win64) under the host's wine64
Builds the test doubles of PASSWORD.CPL and MPR.DLL for the backend's width
against host/system_entry_points.h. Exits non-zero when a case fails or the
backend cannot be brought up; never skips silently.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parents[1]
sys.path.insert(0, str(HERE))

import cases  # noqa: E402

COMPILERS = {32: "i686-w64-mingw32-g++", 64: "x86_64-w64-mingw32-g++"}


def build_doubles(bits, out):
    """Compiles the three doubles; the entry points are checked against the
    saver's own declarations (system_entry_points.h)."""
    src = HERE / "doubles"
    made = {}
    for name, source, definition in (("verifier", "verifier.cpp", "verifier"),
                                     ("verifier_fault", "verifier_fault.cpp", "verifier"),
                                     ("mpr", "mpr.cpp", "mpr")):
        target = out / f"{name}{bits}.dll"
        command = [COMPILERS[bits], "-shared", "-Os", "-Wall", "-Wextra", "-Werror",
                   "-static", "-static-libgcc", "-s",
                   f"-I{REPO / 'host'}", f"-I{REPO / 'platform'}", f"-I{REPO / 'resources'}",
                   f"-I{src}", "-o", str(target), str(src / source),
                   str(src / f"{definition}{bits}.def")]
        done = subprocess.run(command, capture_output=True, text=True)
        if done.returncode != 0:
            raise SystemExit(f"building the {name} double failed:\n{done.stderr}")
        made[name] = target
    return made


def ensure_image(build):
    import vm
    image = vm.image_dir()
    if (image / "disk.qcow2").exists():
        return image
    if not build:
        raise SystemExit(f"the i386 machine image is not built ({image}); "
                         f"run e2e/i386/build-image.sh or pass --build-image")
    started = time.monotonic()
    print(f"building the i386 machine image into {image} (once per machine)", flush=True)
    done = subprocess.run(["bash", str(HERE / "build-image.sh")])
    if done.returncode != 0 or not (image / "disk.qcow2").exists():
        raise SystemExit("building the i386 machine image failed")
    print(f"image built in {time.monotonic() - started:.0f} s", flush=True)
    return image


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--backend", choices=("i386", "wine64"), default="i386")
    parser.add_argument("--build-dir", help="MinGW build tree (default build/win32 or build/win64)")
    parser.add_argument("--build-image", action="store_true")
    parser.add_argument("--case", action="append", help="run only these cases (name without case_)")
    parser.add_argument("--logs", help="keep logs here")
    args = parser.parse_args()

    bits = 32 if args.backend == "i386" else 64
    tree = Path(args.build_dir or os.environ.get(
        "VELLOMIRE_WIN32_DIR" if bits == 32 else "VELLOMIRE_WIN64_DIR",
        REPO / "build" / ("win32" if bits == 32 else "win64")))
    saver = tree / "vellomire.scr"
    helpers = tree / "e2e" / "windows"
    for needed in [saver] + [helpers / f"{h}.exe" for h in ("launcher", "winlist", "previewhost",
                                                             "foreground")]:
        if not needed.exists():
            raise SystemExit(f"missing {needed}: build the {bits}-bit tree first (tools/build.sh)")

    selected = [c for c in cases.CASES
                if not args.case or c.__name__[len("case_"):] in args.case]
    if not selected:
        raise SystemExit(f"no case named {args.case}")

    started = time.monotonic()
    if args.backend == "i386":
        ensure_image(args.build_image)
    work = Path(tempfile.mkdtemp(prefix=f"vellomire-cases{bits}-"))
    logs = Path(args.logs) if args.logs else work
    logs.mkdir(parents=True, exist_ok=True)
    failures = []
    try:
        doubles = build_doubles(bits, work)
        kit = cases.Kit(saver=saver, verifier=doubles["verifier"],
                        verifier_fault=doubles["verifier_fault"], mpr=doubles["mpr"])
        if args.backend == "i386":
            from vm_session import VmSession
            session = VmSession(helpers, log_dir=logs)
        else:
            sys.path.insert(0, str(REPO / "e2e" / "harness"))
            from wine_env import WineSession
            session = WineSession("cases64")
            session.helpers = helpers
        t = time.monotonic()
        try:
            session.start()
        except Exception as error:
            raise SystemExit(f"the {args.backend} backend did not start: {error}")
        print(f"{args.backend}: ready in {time.monotonic() - t:.1f} s "
              f"{getattr(session, 'timings', '')}", flush=True)
        try:
            for case in selected:
                name = case.__name__[len("case_"):]
                t = time.monotonic()
                try:
                    note = case(session, kit)
                    print(f"PASS {name} ({time.monotonic() - t:.1f} s)"
                          + (f": {note}" if note else ""), flush=True)
                except Exception as error:
                    failures.append(name)
                    print(f"FAIL {name} ({time.monotonic() - t:.1f} s): "
                          f"{type(error).__name__}: {error}", flush=True)
                    traceback.print_exc(limit=4)
                    try:
                        session.reset()
                    except Exception as error:  # the next case will report what is broken
                        print(f"  reset failed: {error}", flush=True)
                finally:
                    try:
                        session.write_control_ini(None)
                    except Exception:
                        pass
        finally:
            session.close()
    finally:
        if args.logs is None:
            shutil.rmtree(work, ignore_errors=True)
    total = time.monotonic() - started
    print(f"{args.backend}: {len(selected) - len(failures)} of {len(selected)} cases passed "
          f"in {total:.0f} s", flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
