#!/usr/bin/python3
# The production server as the console's tests need it: "/model.php" answers the lines of
# ROOT/models.txt, "/version.php?model=NAME" the versions ROOT/versions.json lists for NAME, and
# every other path is a file under ROOT (the firmware archives). Each request line is appended to
# ROOT/requests.log as it arrived. Listens on 127.0.0.1 port 80 only (the test's own network).
import http.server
import json
import os
import sys
import urllib.parse

root = sys.argv[1]


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=root, **kwargs)

    def log_message(self, format, *args):
        with open(os.path.join(root, "requests.log"), "a") as log:
            log.write("%s %s\n" % (self.command, self.path))

    def answer(self, text):
        body = text.encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/model.php":
            with open(os.path.join(root, "models.txt")) as models:
                return self.answer(models.read())
        if url.path == "/version.php":
            model = urllib.parse.parse_qs(url.query, keep_blank_values=True).get("model", [""])[0]
            with open(os.path.join(root, "versions.json")) as versions:
                return self.answer("".join(v + "\n" for v in json.load(versions).get(model, [])))
        return super().do_GET()


http.server.ThreadingHTTPServer(("127.0.0.1", 80), Handler).serve_forever()
