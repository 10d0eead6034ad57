#!/usr/bin/env python3
"""Reports COUNT players, FIRST and up (each opens a case, so an event), to
the contract on 127.0.0.1:PORT, one report a connection, from a few
clients at once; exits 1 when one was not acknowledged.
    send_reports.py PORT FIRST COUNT"""
import socket
import sys
from concurrent.futures import ThreadPoolExecutor

PORT, FIRST, COUNT = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
REPORTER = 76561198099999999


def report(reported):
    body = ('<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body>'
            '<AddInfraction xmlns="rosterhall"><ReporterCommunityId>%d</ReporterCommunityId>'
            '<ReportedCommunityId>%d</ReportedCommunityId></AddInfraction></s:Body></s:Envelope>'
            % (REPORTER, reported)).encode()
    head = ('POST /banservices/GetBanList.asmx HTTP/1.1\r\nHost: bans\r\nConnection: close\r\n'
            'SOAPAction: "rosterhall/AddInfraction"\r\nContent-Type: text/xml\r\n'
            'Content-Length: %d\r\n\r\n' % len(body)).encode()
    with socket.create_connection(("127.0.0.1", PORT), timeout=10) as connection:
        connection.sendall(head + body)
        answer = b""
        while chunk := connection.recv(65536):
            answer += chunk
    return answer.startswith(b"HTTP/1.1 200")


with ThreadPoolExecutor(4) as clients:
    acknowledged = sum(clients.map(report, range(FIRST, FIRST + COUNT)))
print("%d of %d reports acknowledged" % (acknowledged, COUNT))
sys.exit(0 if acknowledged == COUNT else 1)
