#!/usr/bin/python3
"""A throw-away RFC 3161 time-stamp server on 127.0.0.1 for the signing check.

    timestamp_server.py CONFIG PORT_FILE

Answers every POST with `openssl ts -reply` under the [tsa_config] section of CONFIG and
writes the port it listens on into PORT_FILE once it is ready. Runs until killed.
"""
import http.server
import os
import subprocess
import sys
import tempfile


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as folder:
            query_file = os.path.join(folder, "query.tsq")
            reply_file = os.path.join(folder, "reply.tsr")
            with open(query_file, "wb") as out:
                out.write(query)
            result = subprocess.run(
                ["openssl", "ts", "-reply", "-config", CONFIG, "-section", "tsa_config",
                 "-queryfile", query_file, "-out", reply_file],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            reply = b""
            if result.returncode == 0:
                with open(reply_file, "rb") as source:
                    reply = source.read()
        if not reply:
            self.send_error(500, "openssl ts -reply failed")
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        sys.stderr.write("timestamp server: " + (args[0] % args[1:]) + "\n")


if __name__ == "__main__":
    CONFIG = os.path.abspath(sys.argv[1])
    server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampHandler)
    with open(sys.argv[2] + ".new", "w") as port_file:
        port_file.write(str(server.server_address[1]))
    os.rename(sys.argv[2] + ".new", sys.argv[2])
    server.serve_forever()
