#!/usr/bin/env python3
"""Soak: quenta-httpd under mixed GETs and form posts from 16 clients for 10
minutes, with the machine simulator running (live status and the mailbox
drain), on 127.0.0.1 only. Prints each minute the requests answered, errors
(no answer, or a status other than 200), posts answered with the 400 page, and
the server's resident memory and open descriptors, then whether anything grew.

    bench/soak.py [--build DIR] [--minutes 10] [--clients 16]
"""
import argparse
import http.client
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
BOUNDARY = "----WebKitFormBoundaryx8G2kQ4mZr7YpT0c"
GETS = ["/querytest.js?a=1&b=2", "/logs/TotalArcHours.js", "/index.html", "/no/such/page.js"]
POST_PATH = "/setup/error_edit.min.html"
POST_FIELDS = [("ase_time", "2"), ("arcstarterrorpcode", "190"), ("mwe_time", "0.35"),
               ("missedwelderrorpcode", "650"), ("arcerrortimepcode", "390"), ("arcerrorvoltspcode", "391"),
               ("arcerrorampspcode", "392"), ("are_volts", "22.7"), ("are_amps", "400"), ("are_time", "1.5")]


def post_body():
    parts = "".join(f"--{BOUNDARY}\r\nContent-Disposition: form-data; name=\"{name}\"\r\n\r\n{value}\r\n"
                    for name, value in POST_FIELDS)
    return (parts + f"--{BOUNDARY}--\r\n").encode()


class Counts:
    def __init__(self):
        self.lock = threading.Lock()
        self.requests = self.errors = self.page400 = 0


def client(port, index, counts, stop, page400):
    body = post_body()
    connection = None
    round_number = 0
    while not stop.is_set():
        round_number += 1
        try:
            if connection is None:
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            if (round_number + index) % 8 == 0:
                connection.request("POST", POST_PATH, body,
                                   {"Content-Type": f"multipart/form-data; boundary={BOUNDARY}"})
            else:
                connection.request("GET", GETS[(round_number + index) % len(GETS)])
            response = connection.getresponse()
            answer = response.read()
            ok = response.status == 200
            bad_post = ok and answer == page400
            if response.getheader("Connection", "").lower() == "close":
                connection.close()
                connection = None
        except (OSError, http.client.HTTPException):
            ok, bad_post = False, False
            if connection is not None:
                connection.close()
            connection = None
        with counts.lock:
            counts.requests += 1
            counts.errors += 0 if ok else 1
            counts.page400 += 1 if bad_post else 0
    if connection is not None:
        connection.close()


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--clients", type=int, default=16)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    machine = os.path.join(build, "bin", "quenta-machine")
    root = tempfile.mkdtemp(prefix="quenta-soak-")
    processes = []
    try:
        subprocess.run([machine, "--root", root, "init", "--demo"], check=True, stdout=subprocess.DEVNULL)
        server = subprocess.Popen([os.path.join(build, "bin", "quenta-httpd"), "--root", root, "--listen",
                                   "127.0.0.1:0", "--access-log", "off"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        processes.append(server)
        port = 0
        for line in server.stdout:
            if "listening on http://127.0.0.1:" in line:
                port = int(line.rsplit(":", 1)[1])
                break
        if port == 0:
            sys.exit("soak: quenta-httpd did not start")
        for command in (["status", "run"], ["mailbox", "drain", "--follow"]):
            processes.append(subprocess.Popen([machine, "--root", root] + command,
                                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        with open(os.path.join(root, "MMCMemory/www/wwwpub/400.htm"), "rb") as page:
            page400 = page.read()

        counts, stop = Counts(), threading.Event()
        threads = [threading.Thread(target=client, args=(port, i, counts, stop, page400))
                   for i in range(args.clients)]
        for thread in threads:
            thread.start()
        print(f"soak: {args.clients} clients, {args.minutes:g} min, simulator running; GETs of "
              f"{', '.join(GETS)}; every 8th request a post to {POST_PATH}")
        print(f"{'minute':>6} {'requests':>10} {'errors':>7} {'400 page':>9} {'RSS MiB':>8} {'fds':>5}")
        samples = []
        periods = max(1, int(round(args.minutes)))
        period = args.minutes * 60 / periods
        for minute in range(1, periods + 1):
            time.sleep(period)
            with counts.lock:
                requests, errors, page400s = counts.requests, counts.errors, counts.page400
                counts.requests = counts.errors = counts.page400 = 0
            rss = resident_kib(server.pid) / 1024
            fds = len(os.listdir(f"/proc/{server.pid}/fd"))
            samples.append((rss, fds))
            print(f"{minute:>6} {requests:>10} {errors:>7} {page400s:>9} {rss:>8.1f} {fds:>5}", flush=True)
        stop.set()
        for thread in threads:
            thread.join()
        if len(samples) > 2:
            grew_rss = samples[-1][0] - samples[1][0]
            grew_fds = samples[-1][1] - samples[1][1]
            print(f"soak: from minute 2 to the end, RSS {grew_rss:+.1f} MiB, descriptors {grew_fds:+d}")
    finally:
        for process in processes:
            process.send_signal(signal.SIGTERM)
        for process in processes:
            try:
                process.wait(30)
            except subprocess.TimeoutExpired:
                process.kill()
        subprocess.run([machine, "--root", root, "clean"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
