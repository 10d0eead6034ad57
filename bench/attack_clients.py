"""A stranger's clients for bench/attack_service.sh: requests to
palisard-service through nginx in front of it (the moderation pages with TLS
on 8443 as mod.example.org, the public port on 80 as bans.example.org), each
client from a source address of its own, on a connection it keeps.
  attack_clients.py flood ADDRESS COUNT
      COUNT sign-ins under new names (a wrong password each) from one
      address, 8 at once
  attack_clients.py storm SECONDS ADDRESS...
      from each address, sign-ins under new names one after the other, all
      addresses at once, for SECONDS
  attack_clients.py appeals FIRST_ID ADDRESS...
      from the N-th address, appeals of players FIRST_ID + 3N, + 3N + 1 and
      + 3N + 2, each 2,000 characters, all addresses at once
Prints how many answers had each status ("0": none came), and the seconds
taken: "401:20 429:29980 in 41.2 s"."""

import collections
import http.client
import ssl
import sys
import threading
import time
import urllib.parse

TLS = ssl.create_default_context()
TLS.check_hostname = False
TLS.verify_mode = ssl.CERT_NONE  # the benchmark's own certificate

# Host as the browser sends it, port, and whether TLS carries it.
PAGES = ("mod.example.org:8443", 8443, True)
PUBLIC = ("bans.example.org", 80, False)


class Client:
    """Keep-alive requests from `source` to a site, connected again when the
    server closed the connection."""

    def __init__(self, source, site):
        self.source, (self.host, self.port, self.tls) = source, site
        self.origin = ("https://" if self.tls else "http://") + self.host
        self.connection = None

    def _connect(self):
        # nginx on this machine, over the source address's own family.
        target = "::1" if ":" in self.source else "127.0.0.1"
        if self.tls:
            return http.client.HTTPSConnection(target, self.port, context=TLS, source_address=(self.source, 0),
                                               timeout=30)
        return http.client.HTTPConnection(target, self.port, source_address=(self.source, 0), timeout=30)

    def post(self, path, fields):
        headers = {"Host": self.host, "Origin": self.origin, "Content-Type": "application/x-www-form-urlencoded"}
        for _ in range(2):  # once again on a fresh connection when the kept one was closed
            try:
                if self.connection is None:
                    self.connection = self._connect()
                self.connection.request("POST", path, urllib.parse.urlencode(fields), headers)
                answer = self.connection.getresponse()
                answer.read()
                if answer.will_close:
                    self.close()
                return answer.status
            except (OSError, http.client.HTTPException):
                self.close()
        return 0

    def close(self):
        if self.connection is not None:
            self.connection.close()
        self.connection = None


def run_all(work):
    """Runs each of `work` (functions of a Counter) on a thread of its own;
    prints the statuses counted and the seconds it took."""
    counts = collections.Counter()
    lock = threading.Lock()

    def one(job):
        mine = collections.Counter()
        job(mine)
        with lock:
            counts.update(mine)

    started = time.monotonic()
    threads = [threading.Thread(target=one, args=(job,)) for job in work]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    print(" ".join("%d:%d" % item for item in sorted(counts.items())), "in %.1f s" % (time.monotonic() - started))


def flood(address, count):
    def job(first):
        def run(counts):
            client = Client(address, PAGES)
            for i in range(first, count, 8):
                counts[client.post("/signin", {"name": "guess%d" % i, "password": "wrong"})] += 1
        return run
    run_all([job(first) for first in range(8)])


def storm(seconds, addresses):
    end = time.monotonic() + seconds

    def job(n, address):
        def run(counts):
            client = Client(address, PAGES)
            i = 0
            while time.monotonic() < end:
                counts[client.post("/signin", {"name": "storm%d-%d" % (n, i), "password": "wrong"})] += 1
                i += 1
        return run
    run_all([job(n, address) for n, address in enumerate(addresses)])


def appeals(first_id, addresses):
    text = ("Not me. " * 250)[:2000]

    def job(n, address):
        def run(counts):
            client = Client(address, PUBLIC)
            for k in range(3):
                counts[client.post("/player/%d" % (first_id + 3 * n + k), {"appeal": text})] += 1
        return run
    run_all([job(n, address) for n, address in enumerate(addresses)])


if __name__ == "__main__":
    command, arguments = sys.argv[1], sys.argv[2:]
    if command == "flood":
        flood(arguments[0], int(arguments[1]))
    elif command == "storm":
        storm(float(arguments[0]), arguments[1:])
    elif command == "appeals":
        appeals(int(arguments[0]), arguments[1:])
    else:
        sys.exit(__doc__)
