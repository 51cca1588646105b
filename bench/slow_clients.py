#!/usr/bin/env python3
"""Slow and silent clients against quenta-httpd, on 127.0.0.1 only.

Opens ATTACKERS connections that misbehave (half send their request head one
byte a second, half send nothing; a few send a body one byte a second, a few
send less body than their Content-Length promises), and meanwhile a normal
client fetches a data file over fresh connections. Prints the normal client's
latency (p50, p99, max), how long each kind of slow connection was kept
before the server cut it, and the server's resident memory idle and under the
attack.

    bench/slow_clients.py [--build DIR] [--attackers 1000] [--seconds 30] [-- SERVER OPTIONS...]
"""
import argparse
import asyncio
import os
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
NORMAL_TARGET = "/querytest.js?a=1&b=2"
MULTIPART = b"Content-Type: multipart/form-data; boundary=b\r\n"


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def start_server(build, root, extra):
    server = subprocess.Popen(
        [os.path.join(build, "bin", "quenta-httpd"), "--root", root, "--listen", "127.0.0.1:0",
         "--module", os.path.join(build, "lib", "libwebquenta.so"), "--access-log", "off"] + extra,
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    deadline = time.time() + 20
    while time.time() < deadline:
        line = server.stdout.readline()
        if not line:
            break
        if "listening on http://127.0.0.1:" in line:
            return server, int(line.rsplit(":", 1)[1])
    server.kill()
    sys.exit("slow_clients: quenta-httpd did not start")


class Attacker:
    """One misbehaving connection; `cut` is the seconds until the server closed it."""

    def __init__(self, kind):
        self.kind = kind
        self.cut = None
        self.opened = None


async def wait_closed_by_server(reader, attacker):
    try:
        while await reader.read(4096):
            pass
    except (ConnectionError, OSError):
        pass
    if attacker.cut is None:
        attacker.cut = time.monotonic() - attacker.opened


async def attack(port, attacker, stop):
    try:
        reader, writer = await asyncio.open_connection("127.0.0.1", port)
    except OSError:
        attacker.cut = 0.0
        return
    attacker.opened = time.monotonic()
    watcher = asyncio.ensure_future(wait_closed_by_server(reader, attacker))
    if attacker.kind == "slow head":
        trickle = b"GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + b"a" * 4000 + b"\r\n\r\n"
        start = b""
    elif attacker.kind == "slow body":
        trickle = b"x" * 100000
        start = (b"POST /setup/error_edit.min.html HTTP/1.1\r\nHost: 127.0.0.1\r\n" + MULTIPART +
                 b"Content-Length: 100000\r\n\r\n")
    elif attacker.kind == "short body":
        trickle = b""
        start = (b"POST /setup/error_edit.min.html HTTP/1.1\r\nHost: 127.0.0.1\r\n" + MULTIPART +
                 b"Content-Length: 1000\r\n\r\n" + b"x" * 10)
    else:  # silent
        trickle = b""
        start = b""
    try:
        if start:
            writer.write(start)
        for byte in trickle:
            if stop.is_set() or attacker.cut is not None:
                break
            writer.write(bytes([byte]))
            await asyncio.sleep(1.0)
        await asyncio.wait([watcher, asyncio.ensure_future(stop.wait())], return_when=asyncio.FIRST_COMPLETED)
    except (ConnectionError, OSError):
        pass
    watcher.cancel()
    writer.close()


async def normal_get(port):
    start = time.monotonic()
    try:
        reader, writer = await asyncio.wait_for(asyncio.open_connection("127.0.0.1", port), 5)
        writer.write(f"GET {NORMAL_TARGET} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n".encode())
        answer = await asyncio.wait_for(reader.read(), 5)
        writer.close()
        ok = answer.startswith(b"HTTP/1.1 200")
    except (asyncio.TimeoutError, OSError):
        ok = False
    return time.monotonic() - start, ok


async def run(port, server_pid, attackers, seconds):
    stop = asyncio.Event()
    kinds = []
    special = max(1, attackers // 50)
    for i in range(attackers):
        if i < special:
            kinds.append("slow body")
        elif i < 2 * special:
            kinds.append("short body")
        elif i % 2:
            kinds.append("slow head")
        else:
            kinds.append("silent")
    crowd = [Attacker(kind) for kind in kinds]
    tasks = []
    for attacker in crowd:
        tasks.append(asyncio.ensure_future(attack(port, attacker, stop)))
        if len(tasks) % 100 == 0:
            await asyncio.sleep(0.05)
    await asyncio.sleep(1.0)
    latencies, failures, peak = [], 0, 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        took, ok = await normal_get(port)
        latencies.append(took)
        failures += 0 if ok else 1
        peak = max(peak, rss_kib(server_pid))
        await asyncio.sleep(0.05)
    stop.set()
    await asyncio.gather(*tasks)
    return crowd, latencies, failures, peak


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    parser.add_argument("--attackers", type=int, default=1000)
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("server", nargs="*", help="extra quenta-httpd options (after --)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    root = tempfile.mkdtemp(prefix="quenta-slow-bench-")
    machine = os.path.join(build, "bin", "quenta-machine")
    server = None
    try:
        subprocess.run([machine, "--root", root, "init", "--demo"], check=True, stdout=subprocess.DEVNULL)
        server, port = start_server(build, root, args.server)
        time.sleep(0.5)
        idle = rss_kib(server.pid)
        crowd, latencies, failures, peak = asyncio.run(run(port, server.pid, args.attackers, args.seconds))
    finally:
        if server is not None:
            server.send_signal(signal.SIGTERM)
            try:
                server.wait(30)
            except subprocess.TimeoutExpired:
                server.kill()
        subprocess.run([machine, "--root", root, "clean"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(root, ignore_errors=True)

    print(f"slow clients: {args.attackers} misbehaving connections, normal GET {NORMAL_TARGET} "
          f"for {args.seconds:.0f} s; server options: {' '.join(args.server) or '(defaults)'}")
    print(f"normal GET: {len(latencies)} requests, {failures} failed, p50 {statistics.median(latencies) * 1000:.1f} ms, "
          f"p99 {percentile(latencies, 0.99) * 1000:.1f} ms, max {max(latencies) * 1000:.1f} ms")
    print(f"server memory: idle {idle / 1024:.1f} MiB, peak under attack {peak / 1024:.1f} MiB")
    for kind in ("slow head", "silent", "slow body", "short body"):
        group = [a for a in crowd if a.kind == kind]
        cut = [a.cut for a in group if a.cut is not None]
        if not group:
            continue
        text = f"median {statistics.median(cut):.1f} s, max {max(cut):.1f} s" if cut else "-"
        print(f"  {kind:10s}: {len(group):4d} connections, {len(cut):4d} cut by the server ({text}), "
              f"{len(group) - len(cut)} still open at the end")


if __name__ == "__main__":
    main()
