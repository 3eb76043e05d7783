#!/usr/bin/env python3
"""Runs upload_report_test.exe under Wine against collecting servers on free loopback ports
(answering 200, 204, 500, and one that drops the connection) plus a port nobody listens on, and
TLS servers with certificates from two test CAs made here: one CA the test trusts (its servers
name 127.0.0.1 or another host), one it does not. The program is copied into a directory of its
own so that its diagnostics log is its own."""

import argparse
import functools
import http.server
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading


def serve_folder(folder):
    """A plain HTTP server for the CAs' revocation lists; its port."""
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=folder)
    handler.log_message = lambda *args: None
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def make_ca(folder, name, crl_port):
    """A CA with an empty revocation list (name.crl, served); the client fails a certificate whose
    revocation it cannot check before it looks at anything else."""
    def openssl(*args):
        subprocess.run(["openssl"] + list(args), check=True, capture_output=True, cwd=folder)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".pem",
            "-days", "2", "-subj", "/CN=VELK test " + name, "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("x509", "-in", name + ".pem", "-outform", "DER", "-out", name + ".der")
    with open(os.path.join(folder, name + ".index"), "w"):
        pass
    with open(os.path.join(folder, name + ".crlnumber"), "w") as f:
        f.write("01\n")
    with open(os.path.join(folder, name + ".cnf"), "w") as f:
        f.write("[ca]\ndefault_ca=test\n[test]\ndatabase=%s.index\ncrlnumber=%s.crlnumber\n"
                "default_md=sha256\ndefault_crl_days=2\n" % (name, name))
    openssl("ca", "-gencrl", "-config", name + ".cnf", "-keyfile", name + ".key", "-cert", name + ".pem",
            "-out", name + ".crl.pem")
    openssl("crl", "-in", name + ".crl.pem", "-outform", "DER", "-out", name + ".crl")

    def issue(server, alt):
        """A server certificate; the chain file holds it and the CA, as a server sends them."""
        with open(os.path.join(folder, server + ".ext"), "w") as f:
            f.write("subjectAltName=%s\nextendedKeyUsage=serverAuth\ncrlDistributionPoints=URI:"
                    "http://127.0.0.1:%d/%s.crl\n" % (alt, crl_port, name))
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", server + ".key", "-out", server + ".csr",
                "-subj", "/CN=" + server)
        openssl("x509", "-req", "-in", server + ".csr", "-CA", name + ".pem", "-CAkey", name + ".key",
                "-CAcreateserial", "-out", server + ".pem", "-days", "2", "-extfile", server + ".ext")
        with open(os.path.join(folder, server + ".chain"), "w") as out:
            for part in (server + ".pem", name + ".pem"):
                with open(os.path.join(folder, part)) as f:
                    out.write(f.read())
        return os.path.join(folder, server + ".chain"), os.path.join(folder, server + ".key")
    return issue


class TlsServer:
    """Answers 200 to every request that gets through the handshake."""

    def __init__(self, chain, key):
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(chain, key)
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(8)
        self.port = self.socket.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                plain, _ = self.socket.accept()
            except OSError:
                return
            threading.Thread(target=self.answer, args=(plain,), daemon=True).start()

    def answer(self, plain):
        try:
            plain.settimeout(20)
            with self.context.wrap_socket(plain, server_side=True) as conn:
                data = b""
                while b"\r\n\r\n" not in data:
                    more = conn.recv(65536)
                    if not more:
                        return
                    data += more
                head, body = data.split(b"\r\n\r\n", 1)
                length = 0
                for line in head.split(b"\r\n")[1:]:
                    name, _, value = line.partition(b":")
                    if name.strip().lower() == b"content-length":
                        length = int(value)
                while len(body) < length:
                    more = conn.recv(65536)
                    if not more:
                        return
                    body += more
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
        except (OSError, ssl.SSLError, ValueError):
            pass


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
        pki = os.path.join(work, "pki")
        os.makedirs(pki)
        crl_port = serve_folder(pki)
        trusted = make_ca(pki, "trusted_ca", crl_port)
        stranger = make_ca(pki, "stranger_ca", crl_port)
        # Wine's name check wants 127.0.0.1 as a DNS name as well as an IP address.
        for name, issue, alt in (("RIGHT", trusted, "DNS:127.0.0.1,IP:127.0.0.1"),
                                 ("WRONG", trusted, "DNS:collect.tovrek.invalid"),
                                 ("STRANGER", stranger, "DNS:127.0.0.1,IP:127.0.0.1")):
            env["VELK_PORT_TLS_" + name] = str(TlsServer(*issue(name.lower(), alt)).port)
        env["VELK_TLS_CA"] = windows_path(os.path.join(pki, "trusted_ca.der"))
        def setup(action):
            run = subprocess.run([opts.wine_run, opts.build, exe, "--gtest_filter=TlsSetup.*"],
                                 env=dict(env, VELK_TLS_SETUP=action), timeout=60)
            return run.returncode == 0
        if not setup("add"):
            print("the test CA could not be put into the Root store")
            return 1
        try:
            result = subprocess.run([opts.wine_run, opts.build, exe] + rest, env=env, timeout=280)
        finally:
            setup("remove")
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
