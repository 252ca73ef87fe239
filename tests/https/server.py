#!/usr/bin/env python3
"""The test suite's HTTPS feed on loopback.

Two servers on 127.0.0.1, each on a free port: the first with a certificate
from the test authority that the test wine prefix trusts, the second with
one from an authority nobody trusts. Both serve the files below --root and
answer some paths on purpose:

  /status/<code>/<anything>     that status; 301 and 302 point Location at
                                /hit/<anything> on the same server
  /hit/<anything>               records the path in --hits, then 200
  /gen/<size>/<anything>        200 with <size> filler bytes
  /hold/<token>/<path>          waits until <root>/.release/<token> exists
                                (at most 120 s), then serves <path>

The ports are written as "<trusted> <untrusted>" to --ports once both
servers listen.
"""
import argparse
import http.server
import os
import ssl
import threading
import time


def make_handler(root, hits_file):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *args):
            pass

        def answer(self, code, body=b"", headers=()):
            self.send_response(code)
            for name, value in headers:
                self.send_header(name, value)
            if code not in (204, 304):
                self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if code not in (204, 304) and body:
                self.wfile.write(body)

        def serve_file(self, relative):
            base = os.path.abspath(root)
            path = os.path.normpath(os.path.join(base, relative.lstrip("/")))
            if not path.startswith(base + os.sep) or not os.path.isfile(path):
                self.answer(404, b"not found")
                return
            with open(path, "rb") as f:
                body = f.read()
            self.answer(200, body)

        def do_GET(self):
            parts = self.path.split("/")
            kind = parts[1] if len(parts) > 1 else ""
            if kind == "status" and len(parts) > 2:
                code = int(parts[2])
                headers = []
                body = b"status body"
                if code in (301, 302):
                    host = self.headers.get("Host", "localhost")
                    headers.append(("Location", "https://%s/hit/%s" % (host, "/".join(parts[3:]))))
                if code == 206:
                    headers.append(("Content-Range", "bytes 0-10/100"))
                self.answer(code, body, headers)
            elif kind == "hit":
                with open(hits_file, "a") as f:
                    f.write(self.path + "\n")
                self.answer(200, b"redirect target")
            elif kind == "gen" and len(parts) > 2:
                size = int(parts[2])
                self.answer(200, bytes((i * 7 + 3) % 251 for i in range(size)))
            elif kind == "hold" and len(parts) > 3:
                flag = os.path.join(root, ".release", parts[2])
                deadline = time.time() + 120
                while not os.path.exists(flag) and time.time() < deadline:
                    time.sleep(0.05)
                self.serve_file("/".join(parts[3:]))
            else:
                self.serve_file(self.path)

    return Handler


def serve(root, hits, cert, key):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), make_handler(root, hits))
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--hits", required=True)
    parser.add_argument("--ports", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--untrusted-cert", required=True)
    parser.add_argument("--untrusted-key", required=True)
    args = parser.parse_args()
    os.makedirs(os.path.join(args.root, ".release"), exist_ok=True)
    trusted = serve(args.root, args.hits, args.cert, args.key)
    untrusted = serve(args.root, args.hits, args.untrusted_cert, args.untrusted_key)
    with open(args.ports + ".tmp", "w") as f:
        f.write("%d %d\n" % (trusted, untrusted))
    os.replace(args.ports + ".tmp", args.ports)
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    main()
