"""Debian's Prometheus scrapes qm44xx-server serving two simulated boards; its
HTTP API then gives the VIN series of both boards, about 1.8 V each.

    prometheus_scrape.py SERVER [PROMETHEUS]
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

from serverproc import Client, Server, check, deadline

deadline(55)
binary = sys.argv[1]
prometheus = sys.argv[2] if len(sys.argv) > 2 else "/usr/bin/prometheus"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def query(port, expression):
    url = "http://127.0.0.1:%d/api/v1/query?%s" % (port, urllib.parse.urlencode(
        {"query": expression}))
    with urllib.request.urlopen(url, timeout=5) as answer:
        body = json.load(answer)
    check(body.get("status") == "success", "%s: %r" % (expression, body))
    return body["data"]["result"]


server = Server(binary, ["--simulate=QM4434", "--simulate=QM4422", "--port", "0",
                         "--metrics", "127.0.0.1:0", "--interval", "200"], boards=2)
work = tempfile.mkdtemp(prefix="qm44xx-prometheus-")
scraper = None
try:
    for path, serial, port in server.boards:
        c = Client(port)
        check(c.query("POW ON;*OPC?") == "1", "power on %s" % path)
        c.close()
    config = os.path.join(work, "prometheus.yml")
    with open(config, "w") as f:
        f.write("global:\n  scrape_interval: 200ms\n"
                "scrape_configs:\n  - job_name: qm44xx\n    static_configs:\n"
                "      - targets: ['127.0.0.1:%d']\n" % server.metrics)
    web = free_port()
    scraper = subprocess.Popen([prometheus, "--config.file=" + config,
                                "--storage.tsdb.path=" + os.path.join(work, "data"),
                                "--web.listen-address=127.0.0.1:%d" % web],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    series = []
    until = time.monotonic() + 40
    while time.monotonic() < until:
        try:
            series = query(web, "qm44xx_vin_volts")
        except OSError:
            series = []  # not listening yet
        if len(series) == 2 and all(s["value"][1] not in ("NaN",) for s in series):
            break
        time.sleep(0.1)
    nodes = {s["metric"]["node"]: s for s in series}
    check(sorted(nodes) == sorted(b[0] for b in server.boards),
          "VIN series of %s, boards %s" % (sorted(nodes), server.boards))
    for path, serial, _ in server.boards:
        s = nodes[path]
        vin = float(s["value"][1])
        check(abs(vin - 1.8) < 0.01, "%s: VIN %s" % (path, vin))
        check(s["metric"]["serial"] == serial and s["metric"]["job"] == "qm44xx",
              "%s: labels %r" % (path, s["metric"]))
    chips = sorted(s["metric"]["chip"] for s in series)
    check(chips == ["QM4422", "QM4434"], "chips %s" % chips)
    up = query(web, "sum(qm44xx_up)")
    check(float(up[0]["value"][1]) == 2, "up: %r" % up)
    print("VIN: " + ", ".join("%s %s V" % (p, nodes[p]["value"][1]) for p in sorted(nodes)))
finally:
    if scraper:
        scraper.terminate()
        try:
            scraper.wait(10)
        except subprocess.TimeoutExpired:
            scraper.kill()
    code = server.stop()
    shutil.rmtree(work, ignore_errors=True)
check(code == 0, "the server ended with %s" % code)
print("prometheus scrape: 1 passed, 0 failed")
