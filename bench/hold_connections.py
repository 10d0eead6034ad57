"""Holds COUNT idle connections to HOST:PORT, PER_ADDRESS of them from each
of the addresses 127.1.0.1, 127.1.0.2, ... (the service caps connections per
address), sending nothing. Prints "held COUNT" once all are open; when its
standard input ends, prints how many the server had closed meanwhile, and
lets them all go.
Usage: hold_connections.py HOST PORT COUNT PER_ADDRESS"""

import resource
import select
import socket
import sys

host, port, count, per_address = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
_, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

held = []
for i in range(count):
    n = i // per_address
    connection = socket.socket()
    connection.bind(("127.1.%d.%d" % (n // 250, n % 250 + 1), 0))
    connection.connect((host, port))
    held.append(connection)
print("held", len(held), flush=True)

sys.stdin.read()
poll = select.poll()
for connection in held:
    poll.register(connection, select.POLLIN)
# The server sends nothing to an idle connection: readable means closed.
print("closed by the server:", len(poll.poll(0)), flush=True)
