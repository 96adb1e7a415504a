#!/usr/bin/env python3
"""Under Wine: varnel-host.exe serves the metrics endpoint and a scrape succeeds.

Usage: metrics_scrape.py EMULATOR HOST WORK_DIR
Starts the runner for a fixed time on a free loopback port, scrapes it until it answers,
checks the answer, and waits for the runner to end by itself (exit status 0).
"""
import os
import socket
import subprocess
import sys
import time
import urllib.error
import urllib.request

RUN_SECONDS = 60


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def request(url, method="GET"):
    req = urllib.request.Request(url, method=method, data=b"x" if method == "POST" else None)
    try:
        with urllib.request.urlopen(req, timeout=10) as res:
            return res.status, res.headers.get("Content-Type"), res.read().decode("utf-8")
    except urllib.error.HTTPError as e:
        return e.code, e.headers.get("Content-Type"), ""


def main():
    emulator, host, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    port = free_port()
    url = f"http://127.0.0.1:{port}/metrics"
    with open(os.path.join(work, "runner.out"), "w") as out, open(os.path.join(work, "runner.err"), "w") as err:
        runner = subprocess.Popen([emulator, host, "--metrics-listen", f"127.0.0.1:{port}",
                                   "--seconds", str(RUN_SECONDS)], stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        answer = None
        deadline = time.monotonic() + RUN_SECONDS
        while answer is None and time.monotonic() < deadline and runner.poll() is None:
            try:
                answer = request(url)
            except OSError:
                time.sleep(0.5)
        problems = []
        if answer is None:
            problems.append("the endpoint never answered")
        else:
            status, content_type, body = answer
            if status != 200:
                problems.append(f"status {status}")
            if content_type != "text/plain; version=0.0.4; charset=utf-8":
                problems.append(f"content type {content_type}")
            total = [l for l in body.splitlines() if l.startswith("statrix_memory_total_bytes ")]
            if not total or float(total[0].split()[1]) <= 0:
                problems.append("no statrix_memory_total_bytes figure")
            for family in ("statrix_alarms_total counter", "statrix_pass_duration_seconds histogram"):
                if f"# TYPE {family}\n" not in body:
                    problems.append(f"no TYPE line for {family}")
            if request(url, "POST")[0] != 405:
                problems.append("POST was not refused with 405")
            if request(f"http://127.0.0.1:{port}/other")[0] != 404:
                problems.append("an unknown path was not 404")
        try:
            code = runner.wait(timeout=RUN_SECONDS + 120)
        except subprocess.TimeoutExpired:
            runner.kill()
            code = runner.wait()
            problems.append("the runner did not end after --seconds")
        if code != 0:
            problems.append(f"runner exit status {code}")
    if problems:
        for name in ("runner.out", "runner.err"):
            with open(os.path.join(work, name)) as f:
                sys.stderr.write(f"--- {name}\n{f.read()}")
        sys.stderr.write("FAIL: " + "; ".join(problems) + "\n")
        return 1
    print("scrape under Wine: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
