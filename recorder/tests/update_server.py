#!/usr/bin/env python3
"""A stand-in update server on 127.0.0.1 for the update check test.

Serves one connection per behaviour given, in order, then exits; never runs
longer than the bound. Writes each request's bytes (hex) and how each
connection ended into the log.
  newer  - the version text of a newer version, sent in two parts
  same   - the program's own version text
  silent - takes the request and sends nothing until the client gives up
  chatty - sends a byte every 200 ms without the marker until the client gives up
"""
import socket
import sys
import time

# The stop step ends the server; this bound only keeps a forgotten one from
# lingering. The test may start long after the server: the test runner puts
# other serial tests between a fixture's set-up and its test.
BOUND_S = 1800


def log(path, line):
    with open(path, "a") as f:
        f.write(line + "\n")


def read_request(conn):
    data = b""
    conn.settimeout(10)
    while b"\r\n\r\n" not in data:
        part = conn.recv(4096)
        if not part:
            break
        data += part
    return data


def wait_closed(conn, sender=None):
    """Seconds until the client closed the connection."""
    start = time.monotonic()
    conn.settimeout(0.2)
    while time.monotonic() - start < 90:
        try:
            if sender:
                sender()
            if conn.recv(1) == b"":
                break
        except socket.timeout:
            continue
        except OSError:
            break
    return time.monotonic() - start


def main():
    log_path, port, behaviours = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    deadline = time.monotonic() + BOUND_S
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(4)
    log(log_path, "listening")
    for behaviour in behaviours:
        server.settimeout(max(1, deadline - time.monotonic()))
        try:
            conn, _ = server.accept()
        except socket.timeout:
            break
        with conn:
            request = read_request(conn)
            log(log_path, "request " + request.hex())
            if behaviour in ("newer", "same"):
                text = "3.1 - 01.01.09" if behaviour == "newer" else "3.0 - 08.07.08"
                body = ("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nZelbo Version: " + text + "\r\n").encode()
                split = body.index(b"Version") + 3  # the marker split over two receives
                conn.sendall(body[:split])
                time.sleep(0.3)
                conn.sendall(body[split:])
                conn.shutdown(socket.SHUT_WR)
                log(log_path, behaviour + " served")
            elif behaviour == "silent":
                log(log_path, "silent closed after %.1f s" % wait_closed(conn))
            elif behaviour == "chatty":
                log(log_path, "chatty closed after %.1f s" % wait_closed(conn, lambda: conn.send(b"x")))
    server.close()
    log(log_path, "done")


if __name__ == "__main__":
    main()
