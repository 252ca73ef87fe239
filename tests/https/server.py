#!/usr/bin/env python3
"""The test suite's HTTPS feed on loopback.

Servers on 127.0.0.1, each on a free port, all serving the files below
--root: the first with a certificate from the test authority that the test
wine prefix trusts, the second with one from an authority nobody trusts,
and one more for every --also certificate (the fixture adds one for
another host name, an expired one and a self-signed one). They answer some
paths on purpose:

  /status/<code>/<anything>     that status; 301 and 302 point Location at
                                /hit/<anything> on the same server
  /hit/<anything>               records the path in --hits, then 200
  /gen/<size>/<anything>        200 with <size> filler bytes
  /hold/<token>/<path>          waits until <root>/.release/<token> exists
                                (at most 120 s), then serves <path>

and misbehave on purpose for any path with a segment "fault-<kind>" or
"fault-<kind>-<number>" in it: the file at the path without that segment is
answered with status 200 and

  fault-reset       its Content-Length, half of the body, then a TCP reset
  fault-short       its Content-Length, half of the body, then a clean close
  fault-long-<n>    a Content-Length <n> bytes (default half) short of the
                    body, then the whole body
  fault-chunked     a chunked body that never ends: the file's bytes over
                    and over (the server gives up after 256 MiB)
  fault-drip-<ms>   its Content-Length, then one byte every <ms> ms
  fault-stall-<ms>  its Content-Length, half of the body, <ms> ms of
                    silence, then the rest
  fault-pace-<KiB>   its Content-Length, then the body in pieces of 16 KiB at
                    <KiB> KiB per second: a large download that takes a
                    while

Each misbehaviour is recorded in --hits as "fault-<kind> <path>" before it
starts, and each connection that ends without a request as
"<port>: no request, handshake <ok or why it failed>", so that a test can
tell the fault it asked for from an answer it did not expect.

The ports are written to --ports once every server listens, in the order
"<trusted> <untrusted> <also...>".
"""
import argparse
import http.server
import os
import socket
import ssl
import struct
import threading
import time

# Most bytes an endless body sends before the server gives up on a client
# that never stops reading.
ENDLESS_CAP = 256 * 1024 * 1024


class Gone(Exception):
    """The connection is over; the handler stops answering."""


def make_handler(root, hits_file):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *args):
            pass

        def record(self, line):
            with open(hits_file, "a") as f:
                f.write(line + "\n")

        def setup(self):
            super().setup()
            self.requests_seen = 0
            # The handshake happens here, in the connection's own thread,
            # rather than in accept(): a client that stalls or refuses the
            # certificate then holds up no other connection.
            try:
                self.request.do_handshake()
                self.handshake = "ok"
            except (ssl.SSLError, OSError) as error:
                self.handshake = "failed: %s" % (getattr(error, "reason", None) or error)

        def handle(self):
            if self.handshake == "ok":
                try:
                    super().handle()
                except (ssl.SSLError, OSError):
                    pass
            if self.requests_seen == 0:
                self.record("%d: no request, handshake %s" % (self.server.server_address[1], self.handshake))

        def answer(self, code, body=b"", headers=()):
            self.send_response(code)
            for name, value in headers:
                self.send_header(name, value)
            if code not in (204, 304):
                self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if code not in (204, 304) and body:
                self.wfile.write(body)

        def file_bytes(self, relative):
            """The bytes of a file below the root, or None."""
            base = os.path.abspath(root)
            path = os.path.normpath(os.path.join(base, relative.lstrip("/")))
            if not path.startswith(base + os.sep) or not os.path.isfile(path):
                return None
            with open(path, "rb") as f:
                return f.read()

        def serve_file(self, relative):
            body = self.file_bytes(relative)
            if body is None:
                self.answer(404, b"not found")
            else:
                self.answer(200, body)

        def send(self, data):
            try:
                self.wfile.write(data)
            except (BrokenPipeError, ConnectionError, ssl.SSLError, OSError):
                raise Gone()

        def start_body(self, length=None, chunked=False):
            self.send_response(200)
            if chunked:
                self.send_header("Transfer-Encoding", "chunked")
            else:
                self.send_header("Content-Length", str(length))
            self.end_headers()
            self.close_connection = True

        def reset(self):
            # A zero linger time makes the close send a TCP reset; no TLS
            # close_notify goes out first.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            raise Gone()

        def close_cleanly(self):
            try:
                # The shutdown waits for the client's own close_notify,
                # which a client still expecting body bytes may never send.
                self.connection.settimeout(5)
                self.connection.unwrap().close()
            except (ssl.SSLError, OSError):
                pass
            raise Gone()

        def misbehave(self, kind, number, body):
            half = len(body) // 2
            if kind == "reset":
                self.start_body(len(body))
                self.send(body[:half])
                time.sleep(0.2)  # lets the half reach the client before the reset
                self.reset()
            elif kind == "short":
                self.start_body(len(body))
                self.send(body[:half])
                self.close_cleanly()
            elif kind == "long":
                missing = number if number is not None else len(body) - half
                self.start_body(max(len(body) - missing, 0))
                self.send(body)
            elif kind == "chunked":
                self.start_body(chunked=True)
                piece = body or b"x"
                sent = 0
                while sent < ENDLESS_CAP:
                    self.send(b"%x\r\n" % len(piece) + piece + b"\r\n")
                    sent += len(piece)
            elif kind == "drip":
                self.start_body(len(body))
                for i in range(len(body)):
                    if i:
                        time.sleep((number or 1000) / 1000.0)
                    self.send(body[i:i + 1])
            elif kind == "pace":
                rate = (number or 256) * 1024.0
                self.start_body(len(body))
                began = time.monotonic()
                for start in range(0, len(body), 16384):
                    # Each piece leaves when the rate allows it.
                    due = began + start / rate
                    time.sleep(max(0.0, due - time.monotonic()))
                    self.send(body[start:start + 16384])
            elif kind == "stall":
                self.start_body(len(body))
                self.send(body[:half])
                time.sleep((number or 1000) / 1000.0)
                self.send(body[half:])
            else:
                self.answer(400, b"unknown fault")

        def fault(self, parts):
            """Answers a request with a fault segment; False when it has none."""
            for i, part in enumerate(parts):
                if not part.startswith("fault-"):
                    continue
                words = part.split("-")
                kind = words[1] if len(words) > 1 else ""
                number = int(words[2]) if len(words) > 2 and words[2].isdigit() else None
                body = self.file_bytes("/".join(parts[:i] + parts[i + 1:]))
                if body is None:
                    self.answer(404, b"not found")
                    return True
                self.record("%s %s" % (part, self.path))
                try:
                    self.misbehave(kind, number, body)
                except Gone:
                    self.close_connection = True
                    self.wfile = _Discard()
                return True
            return False

        def do_GET(self):
            self.requests_seen += 1
            parts = self.path.split("/")
            kind = parts[1] if len(parts) > 1 else ""
            if self.fault(parts):
                return
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

        def finish(self):
            # A connection the handler cut on purpose has nothing to flush.
            try:
                super().finish()
            except (ssl.SSLError, OSError):
                pass

    return Handler


class _Discard:
    """Stands in for the stream of a connection that is gone."""

    def write(self, data):
        return len(data)

    def flush(self):
        pass

    def close(self):
        pass


def serve(root, hits, cert, key):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), make_handler(root, hits))
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
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
    parser.add_argument("--also", nargs=2, action="append", default=[], metavar=("CERT", "KEY"),
                        help="one more server with this certificate and key")
    args = parser.parse_args()
    os.makedirs(os.path.join(args.root, ".release"), exist_ok=True)
    ports = [serve(args.root, args.hits, args.cert, args.key),
             serve(args.root, args.hits, args.untrusted_cert, args.untrusted_key)]
    for cert, key in args.also:
        ports.append(serve(args.root, args.hits, cert, key))
    with open(args.ports + ".tmp", "w") as f:
        f.write(" ".join(str(p) for p in ports) + "\n")
    os.replace(args.ports + ".tmp", args.ports)
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    main()
