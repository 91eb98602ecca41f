#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A stand-in for the releases of GitHub on 127.0.0.1, for the test of the
page engine's update under Wine.

  /OWNER/REPO/releases/latest          302 to .../releases/tag/TAG, where TAG
                                       is the text of FOLDER/OWNER/REPO/latest
  /OWNER/REPO/releases/download/T/N    the file FOLDER/OWNER/REPO/T/N
Prints its port on standard output, writes "METHOD PATH" of each request to
the log file, and ends by itself after LIFETIME seconds.

  release_serve.py FOLDER LOGFILE LIFETIME
"""
import http.server
import os
import sys
import threading

folder, log_file, lifetime = sys.argv[1], sys.argv[2], float(sys.argv[3])
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with lock, open(log_file, "a") as log:
            log.write(f"{self.command} {self.path}\n")
        parts = self.path.split("?", 1)[0].strip("/").split("/")
        if any(p in ("", ".", "..") for p in parts):
            return self.send_empty(404)
        if len(parts) == 4 and parts[2:] == ["releases", "latest"]:
            try:
                with open(os.path.join(folder, parts[0], parts[1], "latest")) as f:
                    tag = f.read().strip()
            except OSError:
                return self.send_empty(404)
            return self.send_empty(302, f"/{parts[0]}/{parts[1]}/releases/tag/{tag}")
        if len(parts) == 6 and parts[2:4] == ["releases", "download"]:
            full = os.path.join(folder, parts[0], parts[1], parts[4], parts[5])
            if os.path.isfile(full):
                with open(full, "rb") as f:
                    data = f.read()
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)
                return
        self.send_empty(404)

    def send_empty(self, status, location=None):
        self.send_response(status)
        if location:
            host, port = self.server.server_address[:2]
            self.send_header("Location", f"http://{host}:{port}{location}")
        self.send_header("Content-Length", "0")
        self.end_headers()


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
threading.Timer(lifetime, server.shutdown).start()
server.serve_forever()
