#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamp service on loopback, for signing tests.

    timestamp_server.py <openssl ts config> <port file>

Answers every POST of a time-stamp query with OpenSSL's reply (`openssl ts
-reply`, with the configuration's time-stamping certificate and key), and
writes the port it listens on to the port file once it is ready. Runs until
it is ended.
"""
import http.server
import os
import subprocess
import sys
import tempfile

config = sys.argv[1]
port_file = sys.argv[2]


class TimestampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as work:
            query_path = os.path.join(work, "query.tsq")
            reply_path = os.path.join(work, "reply.tsr")
            with open(query_path, "wb") as f:
                f.write(query)
            made = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query_path,
                                   "-out", reply_path], capture_output=True)
            if made.returncode != 0:
                sys.stderr.write(made.stderr.decode(errors="replace"))
                self.send_error(500)
                return
            with open(reply_path, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, format, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimestampHandler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
