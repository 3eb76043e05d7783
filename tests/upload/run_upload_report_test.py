#!/usr/bin/env python3
"""Runs upload_report_test.exe under Wine against collecting servers on free loopback ports
(answering 200, 204, 500, and one that drops the connection) plus a port nobody listens on.
The program is copied into a directory of its own so that its diagnostics log is its own."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile


def windows_path(path):
    # Wine maps Z: to the Linux root.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--server", required=True)
    parser.add_argument("--wine-run", required=True)
    opts, rest = parser.parse_known_args()
    sys.path.insert(0, os.path.dirname(os.path.abspath(opts.server)))
    from server_process import CollectServer, free_port

    work = tempfile.mkdtemp(prefix="velk_upload_")
    servers = []
    try:
        exe = os.path.join(work, "bin", os.path.basename(opts.exe))
        os.makedirs(os.path.dirname(exe))
        shutil.copy(opts.exe, exe)
        env = dict(os.environ)
        # WinInet under Wine honours these; the loopback server must be reached directly.
        for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
            env.pop(name, None)
        for name, kwargs in (("OK", {}), ("204", {"status": 204}), ("500", {"status": 500}), ("DROP", {"drop": True})):
            server = CollectServer(os.path.join(work, "server_" + name.lower()), **kwargs)
            servers.append(server)
            env["VELK_PORT_" + name] = str(server.port)
            env["VELK_STORE_" + name] = windows_path(server.folder)
        env["VELK_PORT_DEAD"] = str(free_port())
        result = subprocess.run([opts.wine_run, opts.build, exe] + rest, env=env, timeout=280)
        for server in servers:
            server.stop()
            with open(os.path.join(server.folder, "server.out")) as f:
                sys.stdout.write(f.read())
        return result.returncode
    finally:
        for server in servers:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
