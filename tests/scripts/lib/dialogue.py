"""What the scripts' Telnet dialogues with a running server share: a connection that waits
for the server to listen, and reads that stop at a text, a pattern or a shell prompt. Every
wait is bounded; a dialogue that goes wrong ends the script with what had arrived."""
import re
import socket
import time


def connect(port, seconds=20, timeout=10, receive_buffer=None):
    """A connection to 127.0.0.1:port, tried for `seconds` while the server starts."""
    deadline = time.time() + seconds
    while True:
        s = socket.socket()
        try:
            if receive_buffer:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
            s.settimeout(timeout)
            s.connect(("127.0.0.1", port))
            return s
        except OSError:
            s.close()
            if time.time() > deadline:
                raise
            time.sleep(0.1)


def _read_until(sock, done, what, seconds):
    data = b""
    end = time.time() + seconds
    while True:
        result = done(data)
        if result:
            return result
        if time.time() > end:
            raise SystemExit("timed out waiting for %s, got %r" % (what, data[-200:]))
        chunk = sock.recv(4096)
        if not chunk:
            raise SystemExit("closed while waiting for %s, got %r" % (what, data[-200:]))
        data += chunk


def expect(sock, text, seconds=10):
    """Reads until `text` has come; returns all that was read."""
    return _read_until(sock, lambda data: data if text in data else None, repr(text), seconds)


def expect_match(sock, pattern, seconds=10):
    """Reads until the regular expression `pattern` (bytes) matches; returns the match."""
    return _read_until(sock, lambda data: re.search(pattern, data), repr(pattern), seconds)


def expect_prompt(sock, seconds=10):
    """Reads until a shell prompt ends what came: "# " for the superuser, "$ " otherwise."""
    return _read_until(sock, lambda data: data if data.endswith((b"# ", b"$ ")) else None,
                       "the shell prompt", seconds)
