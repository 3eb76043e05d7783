#!/usr/bin/env python3
"""The real VELKBugReport.exe under Wine and Xvfb in a temporary install directory, driven through
its dialog, uploading to the collecting server on loopback: what is sent, started, deleted and
logged, and that the process ends by itself. It runs on either Windows build; it cannot show a
real TLS exchange.

Usage: report_workflow_e2e.py --build BUILD_DIR [unittest arguments]
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "collect_server"))
from server_process import CollectServer, free_port  # noqa: E402

WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
BUILD = None  # set from the command line

HINT = "请您描述一下刚刚是怎么操作的？"
BOUNDARY = b"----------------------------096304854221961038114493"
DELIMITER = b"\r\n--" + BOUNDARY + b"\r\n"
CLOSING = b"\r\n--" + BOUNDARY + b"--\r\n"
UPLOAD_PATH = "/crash/upload.php?product=tovrek&build=25"
ACCOUNT = "测试用户01"


def expected_head(account, description):
    a = account.encode("utf-8")
    return (DELIMITER + b'Content-Disposition: form-data;name="Account" \r\n\r\n' + a +
            DELIMITER + b'Content-Disposition: form-data;name="Message" \r\n\r\n' + description.encode("utf-8") +
            DELIMITER + b'Content-Disposition:form-data;name="crashFile";filename="' + a +
            b'.zip"\r\nContent-Type:application/zip\r\n\r\n')


def windows_path(path):
    # Wine maps Z: to the Linux root.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def is_32bit_build():
    """True for a build whose reporter is a PE32 program (machine i386 in its file header)."""
    with open(os.path.join(BUILD, "bin", "VELKBugReport.exe"), "rb") as f:
        image = f.read(4096)
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    return struct.unpack_from("<H", image, pe + 4)[0] == 0x14C


def clean_env():
    env = dict(os.environ)
    # WinInet under Wine honours these; the loopback server must be reached directly.
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy"):
        env.pop(name, None)
    return env


def wine(*args, timeout=30):
    # Output through files, not pipes: a Wine helper started on the way (the desktop process)
    # inherits the handles and outlives the program, and a pipe would then never reach its end.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run([WINE_RUN, BUILD] + list(args), stdout=out, stderr=err, timeout=timeout,
                                env=clean_env())
        out.seek(0)
        err.seek(0)
        result.stdout, result.stderr = out.read(), err.read()
    return result


def driver(*args, timeout=30):
    """Runs the dialog driver; (exit code, UTF-8 output without the line end)."""
    result = wine(os.path.join(BUILD, "bin", "dialog_driver.exe"), *args, timeout=timeout)
    return result.returncode, result.stdout.decode("utf-8", "replace").rstrip("\r\n")


def local_app_data():
    out = wine("cmd", "/c", "echo %LOCALAPPDATA%").stdout.decode("utf-8", "replace").strip()
    unix = wine("winepath", "-u", out).stdout.decode("utf-8", "replace").strip()
    if not out or not unix:
        raise RuntimeError("Wine did not tell the local application-data folder")
    return unix


class ReporterRun:
    """One install directory and one run of the reporter in it."""

    def __init__(self, case, url=None, account=ACCOUNT, dir_name="Tovrek", drive=None):
        self.base = tempfile.mkdtemp(prefix="velk_e2e_")
        self.install = os.path.join(self.base, dir_name)
        os.makedirs(self.install)
        # With a drive letter the install directory is that drive's root, and the reporter is
        # started as "Q:\VELKBugReport.exe".
        self.drive = drive
        self.drive_link = None
        if drive:
            self.drive_link = os.path.join(os.environ.get("WINEPREFIX", os.path.join(BUILD, "wineprefix")),
                                           "dosdevices", drive.lower() + ":")
            case.assertFalse(os.path.lexists(self.drive_link), "drive %s: is taken" % drive)
            os.symlink(self.install, self.drive_link)
        bin_dir = os.path.join(BUILD, "bin")
        shutil.copy(os.path.join(bin_dir, "VELKBugReport.exe"), self.install)
        shutil.copy(os.path.join(bin_dir, "stand_in_app_3_1_0_25.exe"), os.path.join(self.install, "TovrekCRM.exe"))
        if url is not None:
            with open(os.path.join(self.install, "uploadcrash.ini"), "w", newline="\r\n") as f:
                f.write("[url]\nurl=%s\n" % url)
        if account is not None:
            with open(os.path.join(self.install, "UserInfo.json"), "w", encoding="utf-8") as f:
                f.write('{"userinfolist": [{"account": "older"}, {"account": "%s"}]}' % account)
        self.dump = os.urandom(3000) + b"MDMP" * 5000
        with open(os.path.join(self.install, "CRASH.DMP"), "wb") as f:
            f.write(self.dump)
        self.process = None
        self.case = case

    def windows_install(self):
        return self.drive + ":\\" if self.drive else windows_path(self.install)

    def start(self, by_full_path=False):
        # Started from its own directory by bare name: a full path with a blank would itself be
        # split by Wine's launcher and could start the decoy of the blank-directory test. A drive
        # root, or a directory too long to be a current directory, is given in full (no blanks).
        program = "VELKBugReport.exe"
        if self.drive or by_full_path:
            program = self.windows_install().rstrip("\\") + "\\VELKBugReport.exe"
        self.process = subprocess.Popen([WINE_RUN, BUILD, program], cwd=self.install,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=clean_env())
        # The first window of a fresh prefix waits for the font caches to be built.
        code, _ = driver("wait", "60000", timeout=90)
        self.case.assertEqual(code, 0, "the dialog did not appear")

    def wait_end(self, timeout):
        """Seconds until the process ended by itself; fails the test when it does not."""
        start = time.time()
        try:
            self.process.wait(timeout)
            print("\n  %s: the reporter ended %.2f s after the message box" % (self.case.id().split(".")[-1], time.time() - start), file=sys.stderr)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            self.case.fail("the reporter did not end within %d s" % timeout)
        return time.time() - start

    def archives(self):
        return sorted(n for n in os.listdir(self.install) if n.lower().endswith(".zip"))

    def started(self):
        path = os.path.join(self.install, "started.txt")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read().decode("utf-8")

    def log_lines(self):
        path = os.path.join(self.install, "log", "BugReportLog.log")
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            data = f.read()
        lines = data.split(b"\r\n")
        self.case.assertEqual(lines[-1], b"", "the log does not end in CR LF")
        messages = []
        for line in lines[:-1]:
            self.case.assertTrue(line.startswith(b"Error\t"), line)
            messages.append(line[26:].decode("gbk"))
        return messages

    def cleanup(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.drive_link and os.path.islink(self.drive_link):
            os.remove(self.drive_link)
        shutil.rmtree(self.base, ignore_errors=True)


class ReportWorkflowTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.vizoziv = os.path.join(local_app_data(), "Temp", "Vizoziv")
        os.makedirs(cls.vizoziv, exist_ok=True)

    def setUp(self):
        self.cleanups = []
        # Two files of today and one of three days ago, with names of this run; whatever else of
        # today is in the folder belongs in the archive too.
        tag = "%d_%d" % (os.getpid(), int(time.time() * 1000))
        self.temp_files = {}
        for name, content in (("e2e_%s_今天.log" % tag, "今天的日志\r\n".encode("gbk") * 50),
                              ("e2e_%s_today.bin" % tag, os.urandom(700))):
            path = os.path.join(self.vizoziv, name)
            with open(path, "wb") as f:
                f.write(content)
            self.temp_files[name] = content
            self.cleanups.append(lambda p=path: os.path.exists(p) and os.remove(p))
        old = os.path.join(self.vizoziv, "e2e_%s_old.log" % tag)
        with open(old, "wb") as f:
            f.write(b"old")
        past = time.time() - 3 * 86400
        os.utime(old, (past, past))
        self.old_file = os.path.basename(old)
        self.cleanups.append(lambda p=old: os.path.exists(p) and os.remove(p))

    def tearDown(self):
        for fn in reversed(self.cleanups):
            fn()

    def server(self, **kwargs):
        folder = tempfile.mkdtemp(prefix="velk_e2e_server_")
        s = CollectServer(folder, **kwargs)
        self.cleanups.append(lambda: shutil.rmtree(folder, ignore_errors=True))
        self.cleanups.append(s.stop)
        return s

    def run_in(self, **kwargs):
        run = ReporterRun(self, **kwargs)
        self.cleanups.append(run.cleanup)
        return run

    def today_files(self):
        """Names in Temp\\Vizoziv written today (local time in China, as the reporter sees it)."""
        os.environ["TZ"] = "Asia/Shanghai"
        time.tzset()
        today = time.localtime()[:3]
        names = set()
        for name in os.listdir(self.vizoziv):
            path = os.path.join(self.vizoziv, name)
            if os.path.isfile(path) and time.localtime(os.path.getmtime(path))[:3] >= today:
                names.add(name)
        return names

    def confirm(self, run, description=None, untick=False):
        """Types (or not), unticks (or not), clicks OK, answers the message box; its text."""
        if untick:
            self.assertEqual(driver("uncheck")[0], 0)
        if description is not None:
            self.assertEqual(driver("type", description)[0], 0)
            self.assertEqual(driver("text"), (0, description))
        self.assertEqual(driver("ok")[0], 0)
        code, text = driver("msgbox", "10000")
        self.assertEqual(code, 0, "no message box")
        return text

    def check_upload(self, server, run, account, description):
        self.assertTrue(server.wait_for(lambda: len(server.uploads()) >= 1, 10), "nothing was uploaded")
        uploads = server.uploads()
        self.assertEqual(len(uploads), 1)
        up = uploads[0]
        record = up["record"]
        self.assertEqual(record["method"], "POST")
        self.assertEqual(record["target"], UPLOAD_PATH)
        self.assertFalse(record["chunked"])
        headers = [(n, v) for n, v in record["headers"] if n in ("Accept", "Accept-Encoding", "Content-Type")]
        self.assertEqual(headers, [("Accept", "*/*"), ("Accept-Encoding", "gzip, deflate"),
                                   ("Content-Type", "multipart/form-data; boundary=" + BOUNDARY.decode())])
        archive = up["crashFile.zip"]
        self.assertIsNotNone(archive)
        head = expected_head(account, description)
        self.assertEqual(int(record["content_length"]), len(head) + len(archive) + 60)
        self.assertEqual(up["body.bin"], head + archive + CLOSING)
        self.assertEqual(up["Account.txt"], account.encode("utf-8"))
        self.assertEqual(up["Message.txt"], description.encode("utf-8"))
        self.assertEqual(up["crashFile.name"], (account + ".zip").encode("utf-8"))
        return archive

    def check_archive(self, archive, expected_temp, with_dump=True):
        path = os.path.join(tempfile.mkdtemp(prefix="velk_e2e_zip_"), "a.zip")
        self.cleanups.append(lambda: shutil.rmtree(os.path.dirname(path), ignore_errors=True))
        with open(path, "wb") as f:
            f.write(archive)
        with zipfile.ZipFile(path) as z:
            self.assertIsNone(z.testzip())
            names = z.namelist()
            # Entry names are stored in the ANSI code page (936); zipfile reads them as cp437.
            decoded = [n.encode("cp437").decode("gbk") if not z.getinfo(n).flag_bits & 0x800 else n for n in names]
            first = ["INFOLOG.TXT", "CRASH.DMP"] if with_dump else ["INFOLOG.TXT"]
            self.assertEqual(decoded[:len(first)], first)
            self.assertEqual(set(decoded[len(first):]), expected_temp)
            self.assertNotIn(self.old_file, decoded)
            by_name = dict(zip(decoded, names))
            if with_dump:
                self.assertEqual(z.read(by_name["CRASH.DMP"]), self.current.dump)
            for name, content in self.temp_files.items():
                self.assertEqual(z.read(by_name[name]), content)

    def check_ended(self, run, expect_log):
        run.wait_end(15)
        self.assertEqual(run.archives(), [], "the archive was not deleted")
        self.assertEqual(run.log_lines(), expect_log)

    # --- confirming -------------------------------------------------------------------------

    def test_confirm_with_typed_chinese_description(self):
        server = self.server()
        run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH))
        expected_temp = self.today_files()
        run.start()
        self.assertEqual(len(run.archives()), 1, "no archive beside the reporter")
        description = "保存客户资料时程序崩溃\r\n第二行"
        # Return (WM_CHAR of CR) starts a new line in the box, which stores it as CR LF.
        typed = "保存客户资料时程序崩溃\r第二行"
        self.assertEqual(driver("type", typed)[0], 0)
        self.assertEqual(driver("text"), (0, description))
        self.assertEqual(driver("ok")[0], 0)
        code, text = driver("msgbox", "10000")
        self.assertEqual((code, text), (0, str(len(description.encode("utf-16-le")) // 2)))
        archive = self.check_upload(server, run, ACCOUNT, description)
        self.check_archive(archive, expected_temp)
        self.check_ended(run, [])
        self.assertEqual(run.started(), '"%s\\TovrekCRM.exe"' % windows_path(run.install))

    def test_confirm_untouched_sends_the_hint_from_a_directory_with_blanks(self):
        server = self.server()
        run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH),
                                         dir_name="Tovrek CRM 客户端")
        # A decoy where an unquoted command line is tried first ("...\\Tovrek" + ".exe"), as
        # C:\\Program.exe is for C:\\Program Files: it must never be the one started.
        shutil.copy(os.path.join(BUILD, "bin", "stand_in_app_3_1_0_25.exe"), os.path.join(run.base, "Tovrek.exe"))
        run.start()
        self.assertEqual(self.confirm(run), "15")
        self.check_upload(server, run, ACCOUNT, HINT)
        self.check_ended(run, [])
        self.assertFalse(os.path.exists(os.path.join(run.base, "started.txt")), "the decoy Tovrek.exe was started")
        self.assertEqual(run.started(), '"%s\\TovrekCRM.exe"' % windows_path(run.install))

    def test_unticked_box_starts_nothing_and_still_uploads(self):
        server = self.server()
        run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH))
        run.start()
        self.assertEqual(self.confirm(run, description="abc", untick=True), "3")
        self.check_upload(server, run, ACCOUNT, "abc")
        self.check_ended(run, [])
        self.assertIsNone(run.started())

    def test_close_sends_nothing_starts_nothing_deletes_the_archive(self):
        server = self.server()
        run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH))
        run.start()
        self.assertEqual(len(run.archives()), 1)
        self.assertEqual(driver("close")[0], 0)
        self.check_ended(run, [])
        self.assertIsNone(run.started())
        self.assertEqual(server.connections(), [])

    def test_no_account_file_sends_empty_account_and_dot_zip(self):
        server = self.server()
        run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH), account=None)
        run.start()
        self.assertEqual(self.confirm(run, description="x", untick=True), "1")
        self.check_upload(server, run, "", "x")
        self.check_ended(run, [])

    # --- where it is installed ------------------------------------------------------------------

    def test_drive_root_install_restarts_and_sends_from_the_root(self):
        server = self.server()
        run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH), drive="Q")
        expected_temp = self.today_files()
        run.start()
        self.assertEqual(self.confirm(run, description="root"), "4")
        archive = self.check_upload(server, run, ACCOUNT, "root")
        self.check_archive(archive, expected_temp)
        self.check_ended(run, [])
        self.assertTrue(os.path.exists(os.path.join(run.install, "log", "BugReportLog.log")))
        self.assertEqual(run.started(), '"Q:\\TovrekCRM.exe"')

    def test_install_path_of_300_characters_keeps_everything_beside_the_reporter(self):
        if is_32bit_build():
            # Wine's 32-bit half cannot start a program whose path is longer than MAX_PATH at all:
            # from its command line, through CreateProcessW and by the 8.3 form alike (error 2).
            # Windows can; the 64-bit build runs this case.
            self.skipTest("Wine cannot start a 32-bit program from a path over MAX_PATH")
        server = self.server()
        deep = os.path.join("Tovrek", *["客户端安装目录 level %02d" % i for i in range(16)])
        run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH), dir_name=deep)
        self.assertGreaterEqual(len(windows_path(os.path.join(run.install, "VELKBugReport.exe"))), 300)
        expected_temp = self.today_files()
        run.start(by_full_path=True)
        self.assertEqual(self.confirm(run, description="long"), "4")
        archive = self.check_upload(server, run, ACCOUNT, "long")
        self.check_archive(archive, expected_temp)
        self.check_ended(run, [])
        self.assertTrue(os.path.exists(os.path.join(run.install, "log", "BugReportLog.log")))
        logs = [d for d, _, files in os.walk(run.base) if "BugReportLog.log" in files]
        self.assertEqual(logs, [os.path.join(run.install, "log")])

    # --- neighbours: the crash handler, a second reporter --------------------------------------

    def test_dump_held_by_the_crash_handler(self):
        # The stand-in plays the handler: CRASH.DMP held without sharing from before the start.
        for hold_ms, packed in ((3000, True), (15000, False)):
            with self.subTest(hold_ms=hold_ms):
                server = self.server()
                run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH))
                marker = os.path.join(run.install, "holding.txt")
                holder = subprocess.Popen([WINE_RUN, BUILD, windows_path(os.path.join(run.install, "TovrekCRM.exe")),
                                           "--hold-dump", str(hold_ms)], cwd=run.install, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL, env=clean_env())
                self.cleanups.append(lambda p=holder: p.poll() is None and (p.kill(), p.wait()))
                self.assertTrue(server.wait_for(lambda: os.path.exists(marker), 30), "the dump was never held")
                expected_temp = self.today_files()
                run.start()
                self.confirm(run, untick=True)
                archive = self.check_upload(server, run, ACCOUNT, HINT)
                self.check_archive(archive, expected_temp, with_dump=packed)
                dump_line = "ERROR - failed to add '%s\\CRASH.DMP' to zip" % windows_path(run.install)
                self.check_ended(run, [] if packed else [dump_line])
                holder.wait(30)

    def test_second_reporter_in_the_folder_sends_its_own_report(self):
        # The first is still waiting for the server's answer when the second collects; the first
        # then deletes its archive and ends, and the second sends all the same.
        server = self.server(delay=6)
        first = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH))
        expected_temp = self.today_files()
        first.start()
        self.confirm(first, description="first", untick=True)
        self.assertTrue(server.wait_for(lambda: len(server.uploads()) == 1, 10), "the first sent nothing")
        second = subprocess.Popen([WINE_RUN, BUILD, "VELKBugReport.exe"], cwd=first.install,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=clean_env())
        self.cleanups.append(lambda: second.poll() is None and (second.kill(), second.wait()))
        self.assertEqual(driver("wait", "30000", timeout=60)[0], 0, "the second dialog did not appear")
        first.wait_end(30)
        self.assertEqual(len(first.archives()), 1, "the second reporter's archive is gone")
        self.confirm(first, description="second", untick=True)
        self.assertTrue(server.wait_for(lambda: len(server.uploads()) == 2, 10), "the second sent nothing")
        second.wait(30)
        uploads = server.uploads()
        self.assertEqual([u["Message.txt"] for u in uploads], [b"first", b"second"])
        for up in uploads:
            self.assertEqual(up["crashFile.name"], (ACCOUNT + ".zip").encode("utf-8"))
            self.check_archive(up["crashFile.zip"], expected_temp)
        self.assertEqual(first.archives(), [])
        self.assertEqual(first.log_lines(), [])

    # --- failures: the process ends all the same, with exactly the one line --------------------

    def test_empty_upload_address_sends_nothing_and_logs_nothing(self):
        server = self.server()
        run = self.current = self.run_in(url="")
        run.start()
        self.assertEqual(self.confirm(run, untick=True), "15")
        self.check_ended(run, [])
        self.assertEqual(server.connections(), [])

    def test_server_status_other_than_200_is_logged(self):
        for status in (204, 500):
            with self.subTest(status=status):
                server = self.server(status=status)
                run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH))
                run.start()
                self.confirm(run, untick=True)
                self.check_upload(server, run, ACCOUNT, HINT)
                self.check_ended(run, ["POST出错，错误码:%d" % status])

    def test_no_server_on_the_port_logs_the_exception_row(self):
        run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (free_port(), UPLOAD_PATH))
        run.start()
        self.confirm(run, untick=True)
        run.wait_end(15)
        # The code of the call that failed: the connection was refused.
        self.assertEqual(run.log_lines(), ["Unknow Exception occur 12029"])
        self.assertEqual(run.archives(), [])

    def test_server_that_never_answers_times_out_within_a_minute(self):
        # It takes the whole request and then stays silent: the receive time-out ends the wait.
        server = self.server(delay=600)
        run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH))
        run.start()
        self.confirm(run, untick=True)
        self.check_upload(server, run, ACCOUNT, HINT)
        took = run.wait_end(75)
        self.assertLess(took, 60)
        # Windows fails the end of the request with the time-out (12002, the exception row). Wine
        # ends it as if it had been answered and then has no status, as for a dropped connection.
        lines = run.log_lines()
        self.assertEqual(len(lines), 1, lines)
        self.assertIn(lines[0], ("Unknow Exception occur 12002", "POST出错，错误码:-1"))
        self.assertEqual(run.archives(), [], "the archive was not deleted")

    def test_archive_removed_before_confirming_logs_its_path(self):
        server = self.server()
        run = self.current = self.run_in(url="http://127.0.0.1:%d%s" % (server.port, UPLOAD_PATH))
        run.start()
        (name,) = run.archives()
        os.remove(os.path.join(run.install, name))
        self.confirm(run, untick=True)
        self.check_ended(run, ["打开本地文件%s\\%s失败" % (windows_path(run.install), name)])
        self.assertEqual(server.connections(), [])

    def test_https_in_the_query_of_an_http_address_speaks_tls(self):
        server = self.server()
        run = self.current = self.run_in(
            url="http://127.0.0.1:%d/crash/upload.php?back=https://tovrek.invalid/" % server.port)
        run.start()
        self.confirm(run, untick=True)
        run.wait_end(15)
        self.assertTrue(server.tls_handshakes(), "no TLS handshake reached the server")
        self.assertEqual(server.uploads(), [])
        lines = run.log_lines()
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], r"^Unknow Exception occur [1-9]\d*$")
        self.assertEqual(run.archives(), [])


def main():
    global BUILD
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    opts, rest = parser.parse_known_args()
    BUILD = os.path.abspath(opts.build)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
