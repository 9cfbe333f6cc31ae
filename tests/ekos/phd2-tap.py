#!/usr/bin/env python3
"""Loopback relay between an imaging suite and a PHD2-protocol guide server.

    phd2-tap.py LISTEN_PORT TARGET_PORT LOGFILE

Accepts connections on 127.0.0.1:LISTEN_PORT, opens one to
127.0.0.1:TARGET_PORT for each, and copies bytes both ways unchanged.  Every
complete line is also appended to LOGFILE as

    2026-12-07T19:05:01.123 #1 > {"method":"get_connected","id":1}

with ">" for what the client sent and "<" for what the server answered or
pushed, #N numbering the connections.  Runs until killed.
"""
import asyncio
import datetime
import sys

listen_port, target_port, log_path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
log = open(log_path, "a", buffering=1)
counter = 0


def note(conn, arrow, text):
    stamp = datetime.datetime.now().isoformat(timespec="milliseconds")
    log.write(f"{stamp} #{conn} {arrow} {text}\n")


async def pump(reader, writer, conn, arrow):
    pending = b""
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            writer.write(data)
            await writer.drain()
            pending += data
            *lines, pending = pending.split(b"\n")
            for line in lines:
                note(conn, arrow, line.decode("utf-8", "replace").rstrip("\r"))
    except (ConnectionError, asyncio.CancelledError):
        pass
    finally:
        if pending:
            note(conn, arrow, pending.decode("utf-8", "replace") + " (no newline)")
        note(conn, arrow, "(closed)")
        try:
            writer.close()
        except Exception:
            pass


async def serve(client_reader, client_writer):
    global counter
    counter += 1
    conn = counter
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
    except OSError as e:
        note(conn, "!", f"cannot reach 127.0.0.1:{target_port}: {e}")
        client_writer.close()
        return
    note(conn, "!", "connected")
    await asyncio.gather(pump(client_reader, server_writer, conn, ">"),
                         pump(server_reader, client_writer, conn, "<"))


async def main():
    server = await asyncio.start_server(serve, "127.0.0.1", listen_port)
    async with server:
        await server.serve_forever()

asyncio.run(main())
