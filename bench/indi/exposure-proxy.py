#!/usr/bin/env python3
"""A pass-through INDI proxy on loopback that sets the length of every exposure.

    exposure-proxy.py LISTEN_PORT SERVER_PORT SECONDS [LOG]

Everything the server sends goes to the client untouched (frames included).
Of what the client sends, the value of CCD_EXPOSURE_VALUE in each
newNumberVector CCD_EXPOSURE becomes SECONDS; all else passes as it is.
`quorvel guide` exposes an INDI camera for its default length and has no
option to change it; through this proxy it exposes for SECONDS instead.
Serves any number of clients, each with its own connection to the server,
until it is killed.
"""
import re
import socket
import sys
import threading
import time

listen_port, server_port, seconds = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
log = open(sys.argv[4], 'a') if len(sys.argv) > 4 else None

VECTOR = re.compile(rb'<newNumberVector\b[^>]*\bname=[\'"]CCD_EXPOSURE[\'"][^>]*>.*?</newNumberVector>', re.S)
VALUE = re.compile(rb'(<oneNumber\s+name=[\'"]CCD_EXPOSURE_VALUE[\'"][^>]*>)\s*([^<]*?)\s*(</oneNumber>)', re.S)
OPEN = b'<newNumberVector'
CLOSE = b'</newNumberVector>'


def rewrite(block):
    def one(m):
        if log:
            log.write('%.3f exposure %s -> %s\n' % (time.time(), m.group(2).decode(errors='replace'), seconds))
            log.flush()
        return m.group(1) + seconds.encode() + m.group(3)
    return VALUE.sub(one, block.group(0))


def client_to_server(src, dst):
    buf = b''
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            buf += data
            # hold back an unfinished newNumberVector; send the rest, rewritten
            start = buf.rfind(OPEN)
            keep = b''
            if start >= 0 and buf.find(CLOSE, start) < 0:
                buf, keep = buf[:start], buf[start:]
            if buf:
                dst.sendall(VECTOR.sub(rewrite, buf))
            buf = keep
    except OSError:
        pass
    for s in (src, dst):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def server_to_client(src, dst):
    try:
        while True:
            data = src.recv(1 << 20)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    for s in (src, dst):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def serve(client):
    server = socket.create_connection(('127.0.0.1', server_port))
    a = threading.Thread(target=client_to_server, args=(client, server), daemon=True)
    b = threading.Thread(target=server_to_client, args=(server, client), daemon=True)
    a.start()
    b.start()


listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(('127.0.0.1', listen_port))
listener.listen(8)
while True:
    conn, _ = listener.accept()
    serve(conn)
