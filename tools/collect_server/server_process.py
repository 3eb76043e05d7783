"""Starts the collecting server as a child process on a free loopback port and reads back what
it stored; shared by the upload tests and the whole-program tests."""

import json
import os
import subprocess
import sys
import time

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "collect_server.py")


class CollectServer:
    def __init__(self, folder, status=200, delay=0.0, drop=False):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        port_file = os.path.join(folder, "port")
        args = [sys.executable, SERVER, "--dir", folder, "--port", "0", "--port-file", port_file,
                "--status", str(status), "--delay", str(delay)]
        if drop:
            args.append("--drop")
        self.log = open(os.path.join(folder, "server.out"), "w")
        self.process = subprocess.Popen(args, stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.time() + 10
        while not os.path.exists(port_file):
            if self.process.poll() is not None or time.time() > deadline:
                raise RuntimeError("collect_server did not start")
            time.sleep(0.02)
        with open(port_file) as f:
            self.port = int(f.read())

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def _records(self, kind):
        if not os.path.isdir(self.folder):
            return []
        return sorted(os.path.join(self.folder, n) for n in os.listdir(self.folder) if n.startswith(kind + "-"))

    def uploads(self):
        """Each stored upload as a dict: folder, json record, raw, body, fields' bytes."""
        out = []
        for folder in self._records("upload"):
            item = {"folder": folder}
            with open(os.path.join(folder, "request.json"), encoding="utf-8") as f:
                item["record"] = json.load(f)
            for name in ("request.raw", "body.bin", "Account.txt", "Message.txt", "crashFile.zip", "crashFile.name"):
                path = os.path.join(folder, name)
                item[name] = None
                if os.path.exists(path):
                    with open(path, "rb") as f:
                        item[name] = f.read()
            out.append(item)
        return out

    def tls_handshakes(self):
        return self._records("tls")

    def connections(self):
        path = os.path.join(self.folder, "connections.log")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return f.read().splitlines()

    def wait_for(self, predicate, timeout):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if predicate():
                return True
            time.sleep(0.05)
        return predicate()


def free_port():
    """A loopback port nobody listens on (bound and released at once)."""
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
