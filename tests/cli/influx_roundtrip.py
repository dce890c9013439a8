#!/usr/bin/python3
"""Starts a real InfluxDB 1.x server (Debian's influxd) on free loopback ports with its files in a
temporary folder, writes the lines of a file through its HTTP /write endpoint as a user's pipe
would, reads the measurement back through /query, and prints what came back as JSON:
{"points": [{"time_ns": ..., "level": ..., "max_hold": ..., <tags>...}, ...]}.

    /usr/bin/python3 influx_roundtrip.py LINES_FILE MEASUREMENT

A write the server refuses (HTTP 400 names the bad line) fails the program with the server's words.
"""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def request(url, data=None):
    try:
        with urllib.request.urlopen(urllib.request.Request(url, data=data), timeout=30) as reply:
            return reply.status, reply.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


def main():
    lines_file, measurement = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        http, rpc = free_port(), free_port()
        config = os.path.join(folder, "influxdb.conf")
        with open(config, "w") as f:
            f.write(f"""reporting-disabled = true
bind-address = "127.0.0.1:{rpc}"
[meta]
  dir = "{folder}/meta"
[data]
  dir = "{folder}/data"
  wal-dir = "{folder}/wal"
  query-log-enabled = false
[http]
  enabled = true
  bind-address = "127.0.0.1:{http}"
  log-enabled = false
[monitor]
  store-enabled = false
""")
        server = subprocess.Popen(["influxd", "-config", config], stdout=subprocess.DEVNULL,
                                  stderr=open(os.path.join(folder, "influxd.log"), "w"))
        try:
            base = f"http://127.0.0.1:{http}"
            for _ in range(300):
                try:
                    if request(base + "/ping")[0] == 204:
                        break
                except OSError:
                    pass
                time.sleep(0.1)
            else:
                sys.exit("influxd did not start: " + open(os.path.join(folder, "influxd.log")).read())
            status, body = request(base + "/query", urllib.parse.urlencode({"q": "CREATE DATABASE noise"}).encode())
            if status != 200:
                sys.exit(f"CREATE DATABASE: {status} {body!r}")
            with open(lines_file, "rb") as f:
                status, body = request(base + "/write?db=noise&precision=ns", f.read())
            if status != 204:
                sys.exit(f"/write refused the lines: {status} {body.decode()}")
            quoted = measurement.replace("\\", "\\\\").replace('"', '\\"')
            query = urllib.parse.urlencode({"db": "noise", "epoch": "ns", "q": f'SELECT * FROM "{quoted}"'})
            status, body = request(base + "/query?" + query)
            if status != 200:
                sys.exit(f"/query: {status} {body!r}")
            result = json.loads(body)["results"][0]
            points = []
            for series in result.get("series", []):
                columns = series["columns"]
                for row in series["values"]:
                    point = dict(zip(columns, row))
                    point["time_ns"] = point.pop("time")
                    points.append(point)
            print(json.dumps({"points": points}))
        finally:
            server.terminate()
            server.wait(timeout=30)


main()
