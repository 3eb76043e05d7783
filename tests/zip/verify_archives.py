#!/usr/bin/env python3
"""Runs zip_archive_samples under Wine and checks what it wrote with Python's zipfile and unzip -t:
every archive opens, every entry's CRC, name, size, method and bytes match its source.
What Windows' own Explorer would make of the archives is not covered.

Usage: verify_archives.py WINE_RUN BUILD_DIR SAMPLES_EXE OUT_DIR
"""
import os
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

STORED_SUFFIXES = (".z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz")


def windows_path(path):
    # Wine maps drive Z: to the Linux root.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def expected_method(name):
    dot = name.rfind(".")
    return zipfile.ZIP_STORED if dot >= 0 and name[dot:].lower() in STORED_SUFFIXES else zipfile.ZIP_DEFLATED


def stored_name(name):
    # Names are stored in code page 936 with '/' and without the UTF-8 flag, so zipfile decodes them
    # as code page 437; encoding back gives the bytes on disk.
    return name.replace("\\", "/").encode("cp936")


def check(condition, message, failures):
    if not condition:
        failures.append(message)


def verify_archive(path, expected, src, failures):
    label = os.path.basename(path)
    with zipfile.ZipFile(path) as archive:
        bad = archive.testzip()
        check(bad is None, f"{label}: testzip reports {bad}", failures)
        infos = archive.infolist()
        check(len(infos) == len(expected), f"{label}: {len(infos)} entries, expected {len(expected)}", failures)
        for info, (entry, source) in zip(infos, expected):
            data = open(os.path.join(src, source), "rb").read()
            raw_name = info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
            where = f"{label}:{entry}"
            check(info.flag_bits & 0x800 == 0, f"{where}: UTF-8 flag set", failures)
            check(raw_name == stored_name(entry), f"{where}: name bytes {raw_name!r}", failures)
            check(info.compress_type == expected_method(entry), f"{where}: method {info.compress_type}", failures)
            check(info.file_size == len(data), f"{where}: size {info.file_size} != {len(data)}", failures)
            check(info.CRC == zlib.crc32(data), f"{where}: CRC {info.CRC:08x}", failures)
            check(info.create_version == 23 and info.create_system == 11, f"{where}: made by", failures)
            check(archive.read(info) == data, f"{where}: bytes differ from the source", failures)
    result = subprocess.run(["unzip", "-t", "-qq", path], capture_output=True, text=True, errors="replace")
    # unzip warns (exit 1) about an archive without entries; that is what an empty one is.
    clean = result.returncode == 0 or (not expected and result.returncode == 1 and "zipfile is empty" in result.stdout)
    check(clean, f"{label}: unzip -t exit {result.returncode}: {result.stdout}{result.stderr}", failures)


def verify_many(path, count, src, failures):
    label = os.path.basename(path)
    data = open(os.path.join(src, "one"), "rb").read()
    blob = open(path, "rb").read()
    disk_entries, total_entries = struct.unpack_from("<HH", blob, len(blob) - 22 + 8)
    check(disk_entries == total_entries == count & 0xFFFF, f"{label}: end record counts {total_entries}", failures)
    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        check(len(infos) == count, f"{label}: zipfile sees {len(infos)} entries", failures)
        check(archive.testzip() is None, f"{label}: testzip", failures)
        check(all(i.filename == f"m/{n}.gz" for n, i in enumerate(infos)), f"{label}: names", failures)
        check(archive.read(infos[-1]) == data, f"{label}: last entry's bytes", failures)
    result = subprocess.run(["unzip", "-t", "-qq", path], capture_output=True, text=True, errors="replace")
    # unzip knows the 16-bit count wraps; anything but a clean test is a fault.
    check(result.returncode == 0, f"{label}: unzip -t exit {result.returncode}: {result.stdout[-500:]}", failures)


def main():
    wine_run, build_dir, exe, out = sys.argv[1:5]
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    run = subprocess.run([wine_run, build_dir, exe, windows_path(out)], capture_output=True, text=True,
                         errors="replace", timeout=600)
    if run.returncode != 0:
        print(f"zip_archive_samples failed ({run.returncode}):\n{run.stdout}{run.stderr}")
        return 1
    manifest = {}
    many = None
    for line in open(os.path.join(out, "manifest.tsv"), encoding="utf-8").read().splitlines():
        archive, entry, source = line.split("\t")
        if entry.startswith("*"):
            many = (archive, int(entry[1:]))
            continue
        manifest.setdefault(archive, [])
        if entry:
            manifest[archive].append((entry, source))
    failures = []
    src = os.path.join(out, "src")
    for archive, expected in manifest.items():
        verify_archive(os.path.join(out, archive), expected, src, failures)
    check(os.path.getsize(os.path.join(out, "empty.zip")) == 22, "empty.zip is not 22 bytes", failures)
    check(many is not None, "no many-entry archive in the manifest", failures)
    if many:
        verify_many(os.path.join(out, many[0]), many[1], src, failures)
    for failure in failures:
        print("FAIL", failure)
    print(f"{len(manifest) + (1 if many else 0)} archives checked, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
