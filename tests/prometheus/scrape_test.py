#!/usr/bin/python3
"""A real Prometheus scrapes orvane-headless --metrics, all on 127.0.0.1, and its HTTP API must show what
three loopback Half-Life servers did: one answering after 150 ms (its round trip, although the output
limit is so low that queries wait seconds in the queue behind those to 16 mute servers, all queued in the same tick), one that falls
silent (state 1, one time-out counted) and one whose name carries quotes, a backslash and line feeds (the
label arrives intact). The scrape itself must pass `promtool check metrics`. Stops by itself within 90 s."""
import json, os, shutil, signal, socket, subprocess, sys, tempfile, threading, time, urllib.parse, urllib.request

HEADLESS = sys.argv[1]
DEADLINE = time.monotonic() + 80
HOSTILE = 'Evil "quoted" \\ back\nslash\nline'


class Peer(threading.Thread):
    """A classic Half-Life server: answers "details" (after delay seconds) until silent_after seconds."""

    def __init__(self, name, delay=0.0, silent_after=None):
        super().__init__(daemon=True)
        self.name_, self.delay, self.silent_after = name, delay, silent_after
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.started = time.monotonic()
        self.stop = False

    def run(self):
        while not self.stop:
            try:
                data, sender = self.sock.recvfrom(2048)
            except socket.timeout:
                continue
            if self.silent_after is not None and time.monotonic() - self.started > self.silent_after:
                continue
            if data == b"\xff\xff\xff\xffplayers\x00":
                answer = b"\xff\xff\xff\xffD\x00"
            elif data == b"\xff\xff\xff\xffdetails\x00":  # A2S queries get no answer: the object stays classic
                answer = b"\xff\xff\xff\xffm" + b"\x00".join(
                    s.encode() for s in (f"127.0.0.1:{self.port}", self.name_, "de_dust2", "valve", "Half-Life")
                ) + b"\x00" + bytes([3, 16, 47])
            else:
                continue
            threading.Timer(self.delay, self.sock.sendto, (answer, sender)).start()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get(url):
    with urllib.request.urlopen(url, timeout=5) as r:
        return r.read().decode()


def query(api, expr):
    body = json.loads(get(f"{api}/api/v1/query?" + urllib.parse.urlencode({"query": expr})))
    return {r["metric"].get("name", ""): float(r["value"][1]) for r in body["data"]["result"]}


def main():
    peers = {"delayed": Peer("Delayed", delay=0.15), "silent": Peer("Silent", silent_after=12.0),
             "hostile": Peer(HOSTILE)}
    for p in peers.values():
        p.start()
    mute = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(16)]
    for s in mute:
        s.bind(("127.0.0.1", 0))
    work = tempfile.mkdtemp(prefix="orvane-prom-")
    procs = []
    try:
        # 4096 bits/s sends one datagram per 100 ms window: each cycle's first tick queues seconds of queries.
        args = [HEADLESS, "--metrics", "127.0.0.1:0", "--seconds", "85", "--no-sound", "--limit", "4096"]
        # The mute servers first: their queries are ahead in the queue when the others' are queued.
        for s in mute:
            args += ["--hl", f"127.0.0.1:{s.getsockname()[1]}"]
        for p in peers.values():
            args += ["--hl", f"127.0.0.1:{p.port}"]
        headless = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        procs.append(headless)
        line = headless.stderr.readline()
        assert "metrics at http://127.0.0.1:" in line, line
        target = line.split("http://")[1].split("/")[0]
        threading.Thread(target=headless.stderr.read, daemon=True).start()
        rtt_ms = {}  # the headless line's own round trip, by server name

        def read_lines():
            for text in headless.stdout:
                line = json.loads(text)
                if "serverName" in line:
                    rtt_ms[line["serverName"]] = line["rttMs"]
        threading.Thread(target=read_lines, daemon=True).start()

        api_port = free_port()
        with open(os.path.join(work, "prometheus.yml"), "w") as f:
            f.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                    f"scrape_configs:\n  - job_name: orvane\n    static_configs:\n      - targets: ['{target}']\n")
        procs.append(subprocess.Popen(
            ["prometheus", f"--config.file={work}/prometheus.yml", f"--storage.tsdb.path={work}/data",
             f"--web.listen-address=127.0.0.1:{api_port}", "--log.level=warn"],
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "prometheus.log"), "w")))
        api = f"http://127.0.0.1:{api_port}"

        want = {"queries waited in the queue": False, "delayed rtt near 0.15 s": False, "silent peer in state 1 after a time-out": False,
                "hostile name intact": False}
        seen = {}
        while not all(want.values()) and time.monotonic() < DEADLINE:
            time.sleep(1)
            try:
                state = query(api, "orvane_object_state")
                rtt = query(api, "orvane_object_rtt_seconds")
                timeouts = query(api, "orvane_object_timeouts_total")
                queue = query(api, "max_over_time(orvane_output_queue_datagrams[1m])")
            except OSError:
                continue  # Prometheus still starting
            seen = {"state": state, "rtt": rtt, "timeouts": timeouts, "queue": queue}
            want["queries waited in the queue"] |= queue.get("", 0) >= 20
            want["delayed rtt near 0.15 s"] = (state.get("Delayed") == 2 and 0.14 <= rtt.get("Delayed", 0) <= 0.35
                                               and 140 <= (rtt_ms.get("Delayed") or 0) <= 350)
            seen["rttMs"] = rtt_ms.get("Delayed")
            want["silent peer in state 1 after a time-out"] = (
                state.get("Silent") == 1 and timeouts.get("Silent") == 1 and "Silent" not in rtt
                and "Silent" in rtt_ms and rtt_ms["Silent"] is None)
            want["hostile name intact"] = state.get(HOSTILE) == 2
        for what, ok in want.items():
            print(("ok   " if ok else "FAIL ") + what)
        if not all(want.values()):
            print("last values:", json.dumps(seen))
            return 1

        scrape = get(f"http://{target}/metrics")
        check = subprocess.run(["promtool", "check", "metrics"], input=scrape, text=True, capture_output=True)
        print("promtool check metrics:", check.returncode, check.stdout.strip(), check.stderr.strip())
        return 0 if check.returncode == 0 else 1
    finally:
        for p in reversed(procs):
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
        for p in peers.values():
            p.stop = True
        for s in mute:
            s.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
