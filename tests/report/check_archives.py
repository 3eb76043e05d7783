#!/usr/bin/env python3
"""Checks the report archives with a standard decoder: runs the archive tests under Wine with
VELK_ARCHIVE_OUT set, then opens every archive they left with zipfile, tests every CRC, and
compares the entry names (in order) and each entry's bytes with what the test recorded.
Usage: check_archives.py WINE_RUN BUILD_DIR TEST_PROGRAM OUT_DIR"""
import os
import pathlib
import shutil
import subprocess
import sys
import zipfile


def main():
    wine_run, build, program, out = sys.argv[1:5]
    out = os.path.abspath(out)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    # Wine maps drive Z: to the Linux root.
    env = dict(os.environ, VELK_ARCHIVE_OUT="Z:" + out.replace("/", "\\"))
    run = subprocess.run([wine_run, build, program, "--gtest_filter=BuildReportArchive.*:CollectReport.*"], env=env)
    if run.returncode != 0:
        print(f"the archive tests failed (exit {run.returncode})")
        return 1

    manifests = sorted(pathlib.Path(out).glob("*.manifest"))
    if not manifests:
        print("the archive tests left no archives to check")
        return 1
    failures = 0
    for manifest in manifests:
        case = str(manifest)[: -len(".manifest")]
        expected_names = manifest.read_text(encoding="utf-8").splitlines()
        problems = []
        try:
            with zipfile.ZipFile(case + ".zip") as archive:
                bad = archive.testzip()
                if bad is not None:
                    problems.append(f"CRC or data error in entry {bad!r}")
                infos = archive.infolist()
                names = [info.filename for info in infos]
                if names != expected_names:
                    problems.append(f"entries {names} instead of {expected_names}")
                for i, info in enumerate(infos[: len(expected_names)]):
                    expected = pathlib.Path(f"{case}.{i}").read_bytes()
                    actual = archive.read(info)
                    if actual != expected:
                        problems.append(f"entry {i} ({info.filename}) holds {len(actual)} bytes that differ "
                                        f"from the {len(expected)} bytes of its source")
                    if info.file_size != len(expected):
                        problems.append(f"entry {i} ({info.filename}) records size {info.file_size}")
        except (zipfile.BadZipFile, OSError, NotImplementedError) as error:
            problems.append(f"cannot be read: {error}")
        name = os.path.basename(case)
        if problems:
            failures += 1
            print(f"FAIL {name}")
            for problem in problems:
                print(f"    {problem}")
        else:
            print(f"ok   {name}: {len(expected_names)} entries")
    print(f"{len(manifests) - failures} of {len(manifests)} archives sound")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
