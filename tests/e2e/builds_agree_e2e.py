#!/usr/bin/env python3
"""The shipped 32-bit reporter and the 64-bit one, each under Wine in its own build's prefix, on the
same inputs (one install directory, the very same files of Temp\\Vizoziv through hard links): their
archives must be the same bytes, except INFOLOG.TXT's time stamp and what follows from it (its
time fields, CRC, compressed bytes and size, and the offsets after it). It cannot tell whether
both are wrong in the same way; the other tests check what the bytes should be.

Usage: builds_agree_e2e.py --build I686_BUILD --other X86_64_BUILD
Exits 77 (skipped) when the other build has no reporter yet.
"""

import argparse
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPTS = os.path.join(ROOT, "scripts")
SKIPPED = 77
ACCOUNT = "一致01"
INFOLOG = b"INFOLOG.TXT"
# The date line of INFOLOG.TXT: its GBK label, then the local time.
STAMP = re.compile(rb"(\xC8\xD5    \xC6\xDA:   )\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d")


def clean_env():
    env = dict(os.environ)
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy"):
        env.pop(name, None)
    return env


def wine(build, *args, timeout=60, cwd=None):
    # Output through files: a Wine helper that outlives the program would hold a pipe open.
    with tempfile.TemporaryFile() as out:
        result = subprocess.run([os.path.join(SCRIPTS, "wine-run"), build] + list(args), stdout=out,
                                stderr=subprocess.DEVNULL, timeout=timeout, env=clean_env(), cwd=cwd)
        out.seek(0)
        return result.returncode, out.read().decode("utf-8", "replace").strip()


def vizoziv_of(build):
    _, folder = wine(build, "cmd", "/c", "echo %LOCALAPPDATA%")
    _, unix = wine(build, "winepath", "-u", folder)
    if not folder or not unix:
        raise RuntimeError("Wine did not tell the local application-data folder of " + build)
    return os.path.join(unix, "Temp", "Vizoziv")


def run_reporter(build, install, out_zip):
    """Starts the build's reporter in `install`, keeps the archive it made before its dialog showed,
    and closes the dialog; an error text, or None."""
    shutil.copy(os.path.join(build, "bin", "VELKBugReport.exe"), install)
    process = subprocess.Popen([os.path.join(SCRIPTS, "wine-run"), build, "VELKBugReport.exe"], cwd=install,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=clean_env())
    driver = os.path.join(build, "bin", "dialog_driver.exe")
    try:
        code, _ = wine(build, driver, "wait", "60000", timeout=90)
        if code != 0:
            return "the dialog of %s did not appear" % build
        archive = os.path.join(install, ACCOUNT + ".zip")
        if not os.path.exists(archive):
            return "%s made no archive" % build
        shutil.copy(archive, out_zip)
        wine(build, driver, "close")
        if wine(build, driver, "gone", "30000", timeout=60)[0] != 0:
            return "the dialog of %s did not close" % build
        process.wait(60)
        return None
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def entries(blob):
    """The archive's entries in directory order, with their raw parts; raises on a broken layout."""
    end = blob.rfind(b"PK\x05\x06")
    count, cd_size, cd_offset = struct.unpack_from("<HII", blob, end + 10)
    result = []
    at = cd_offset
    for _ in range(count):
        fields = struct.unpack_from("<4s6H3I5H2I", blob, at)
        name_len, extra_len, comment_len = fields[10], fields[11], fields[12]
        local_at = fields[16]
        central = bytearray(blob[at:at + 46 + name_len + extra_len + comment_len])
        name = bytes(central[46:46 + name_len])
        l_name, l_extra = struct.unpack_from("<HH", blob, local_at + 26)
        data_at = local_at + 30 + l_name + l_extra
        result.append({
            "name": name,
            "central": central,
            "local": bytearray(blob[local_at:data_at]),
            "data": blob[data_at:data_at + fields[8]],
            "method": fields[4],
        })
        at += len(central)
    result.append({"name": b"<end record>", "central": bytearray(blob[end:]), "local": bytearray(), "data": b""})
    return result


def masked(entry):
    """The parts that must agree: the offset of every entry's header is cut out (INFOLOG.TXT's
    compressed size moves what follows it); of INFOLOG.TXT, also its time and date, CRC, sizes,
    time extras and compressed bytes, and its text with the time stamp blanked takes their place."""
    central, local = bytearray(entry["central"]), bytearray(entry["local"])
    if entry["name"] == b"<end record>":
        central[16:20] = b"\0" * 4  # where the directory starts
        return bytes(central), b""
    central[42:46] = b"\0" * 4
    if entry["name"] != INFOLOG:
        return bytes(central), bytes(local) + entry["data"]
    for record, header in ((central, 12), (local, 10)):
        record[header:header + 16] = b"\0" * 16  # time, date, CRC, compressed and full size
    name_len = struct.unpack_from("<H", central, 28)[0]
    central[46 + name_len:] = b"\0" * (len(central) - 46 - name_len)
    name_len = struct.unpack_from("<H", local, 26)[0]
    local[30 + name_len:] = b"\0" * (len(local) - 30 - name_len)
    data = entry["data"]
    text = zlib.decompress(data, -15) if entry["method"] == 8 else data
    return bytes(central), bytes(local) + STAMP.sub(rb"\1<time>", text)


def differences(ours, theirs):
    a, b = entries(ours), entries(theirs)
    names_a = [e["name"] for e in a]
    names_b = [e["name"] for e in b]
    if names_a != names_b:
        return ["entries differ: %r against %r" % (names_a, names_b)]
    found = []
    for x, y in zip(a, b):
        central_x, rest_x = masked(x)
        central_y, rest_y = masked(y)
        if central_x != central_y:
            found.append("%r: directory record differs" % x["name"])
        if rest_x != rest_y:
            at = next((i for i, (p, q) in enumerate(zip(rest_x, rest_y)) if p != q), min(len(rest_x), len(rest_y)))
            found.append("%r: local header or data differs from byte %d (of %d and %d)" %
                         (x["name"], at, len(rest_x), len(rest_y)))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="the i686 build")
    parser.add_argument("--other", required=True, help="the x86_64 build")
    args = parser.parse_args()
    build32 = os.path.abspath(args.build)
    build64 = os.path.abspath(args.other)
    for build in (build32, build64):
        for exe in ("VELKBugReport.exe", "dialog_driver.exe", "stand_in_app_3_1_0_25.exe"):
            if not os.path.exists(os.path.join(build, "bin", exe)):
                print("skipped: %s has no %s; build it first" % (build, exe))
                return SKIPPED

    # The other build's prefix and display, stopped again only when this test started them.
    display = os.path.join(build64, "wine-display")
    was_running = os.path.exists(display) and os.path.exists("/tmp/.X11-unix/X" + open(display).read().strip()[1:])
    subprocess.run([os.path.join(SCRIPTS, "wine-session"), "start", build64], check=True,
                   stdout=subprocess.DEVNULL, timeout=300)
    base = tempfile.mkdtemp(prefix="velk_agree_")
    linked = []
    try:
        install = os.path.join(base, "Tovrek")
        os.makedirs(install)
        shutil.copy(os.path.join(build64, "bin", "stand_in_app_3_1_0_25.exe"), os.path.join(install, "TovrekCRM.exe"))
        with open(os.path.join(install, "UserInfo.json"), "w", encoding="utf-8") as f:
            f.write('{"userinfolist": [{"account": "%s"}]}' % ACCOUNT)
        with open(os.path.join(install, "uploadcrash.ini"), "w", newline="\r\n") as f:
            f.write("[url]\nurl=http://127.0.0.1:9/crash/upload\n")
        # A dump that exercises the compressor: runs, repeats at many distances, random stretches.
        rng = random.Random(9)
        parts = []
        for _ in range(400):
            kind = rng.randrange(3)
            if kind == 0:
                parts.append(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 600))))
            elif kind == 1:
                parts.append(bytes([rng.randrange(256)]) * rng.randrange(3, 2000))
            elif parts:
                parts.append(parts[rng.randrange(len(parts))])
        files = {os.path.join(install, "CRASH.DMP"): b"MDMP\x93\xa7\x00\x00" + b"".join(parts)}

        tag = "agree_%d" % os.getpid()
        viz64, viz32 = vizoziv_of(build64), vizoziv_of(build32)
        for folder in (viz64, viz32):
            os.makedirs(folder, exist_ok=True)
        for name, content in (("%s_会话.log" % tag, "客户列表已加载\r\n".encode("gbk") * 300),
                              ("%s_settings.xml" % tag, b'<settings theme="blue"/>\r\n')):
            files[os.path.join(viz64, name)] = content
        for path, content in files.items():
            with open(path, "wb") as f:
                f.write(content)
        # Reading a file under Wine moves its access time on: each run starts from the same times.
        now = time.time()
        times = (now - 30, now - 60)
        # The 32-bit prefix sees the very same files, times included.
        for path in list(files):
            if os.path.dirname(path) == viz64:
                twin = os.path.join(viz32, os.path.basename(path))
                os.link(path, twin)
                linked += [path, twin]

        zips = {}
        for label, build in (("x86_64", build64), ("i686", build32)):
            for leftover in ("INFOLOG.TXT", ACCOUNT + ".zip", "started.txt"):
                if os.path.exists(os.path.join(install, leftover)):
                    os.remove(os.path.join(install, leftover))
            for path in files:
                os.utime(path, times)
            out = os.path.join(base, label + ".zip")
            error = run_reporter(build, install, out)
            if error:
                print("FAIL", error)
                return 1
            zips[label] = open(out, "rb").read()
            print("%s: archive of %d bytes" % (label, len(zips[label])))

        found = differences(zips["x86_64"], zips["i686"])
        names = [e["name"].decode("cp936") for e in entries(zips["i686"])[:-1]]
        print("entries: %s" % ", ".join(names))
        for f in found:
            print("FAIL", f)
        if zips["x86_64"] == zips["i686"]:
            print("the archives are identical, INFOLOG.TXT's time stamp included")
        wanted = {"INFOLOG.TXT", "CRASH.DMP"}
        if not wanted <= {n.split("\\")[-1].split("/")[-1] for n in names} or len(names) < 4:
            print("FAIL the archive lacks the expected entries")
            return 1
        print("%d differences beyond INFOLOG.TXT's time stamp" % len(found))
        return 1 if found else 0
    finally:
        for path in linked:
            if os.path.exists(path):
                os.remove(path)
        shutil.rmtree(base, ignore_errors=True)
        if not was_running:
            subprocess.run([os.path.join(SCRIPTS, "wine-session"), "stop", build64], stdout=subprocess.DEVNULL)


if __name__ == "__main__":
    sys.exit(main())
