"""Runs qm44xx-server for a test: started with free ports, the lines it prints
read back, stopped at the end (SIGTERM, then SIGKILL). Every wait is bounded,
and the whole test is stopped by an alarm if it runs too long."""
import os
import re
import select
import signal
import socket
import subprocess
import sys
import time

BOARD = re.compile(r"^board (\S+) serial (\S+): SCPI on ([0-9.]+):(\d+)$")
METRICS = re.compile(r"^metrics on http://([0-9.]+):(\d+)/metrics$")


def deadline(seconds):
    """Ends the test with a failure if it is still running after this long."""
    def expired(*_):
        print("FAIL: the test did not end within %d s" % seconds, flush=True)
        os._exit(1)
    signal.signal(signal.SIGALRM, expired)
    signal.alarm(seconds)


class Server:
    def __init__(self, binary, arguments, boards):
        self.process = subprocess.Popen([binary] + arguments, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        self.boards = []   # (path, serial, port)
        self.metrics = None
        buffered = b""
        limit = time.monotonic() + 10
        while len(self.boards) < boards or (self.metrics is None and "--metrics" in arguments
                                             and "off" not in arguments):
            left = limit - time.monotonic()
            if left <= 0 or self.process.poll() is not None:
                raise RuntimeError("the server did not start: %r" % self.process.stderr.read1())
            ready, _, _ = select.select([self.process.stdout], [], [], left)
            if not ready:
                continue
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                continue
            buffered += chunk
            while b"\n" in buffered:
                line, buffered = buffered.split(b"\n", 1)
                text = line.decode()
                board = BOARD.match(text)
                metrics = METRICS.match(text)
                if board:
                    self.boards.append((board.group(1), board.group(2), int(board.group(4))))
                elif metrics:
                    self.metrics = int(metrics.group(2))

    @property
    def pid(self):
        return self.process.pid

    def stop(self):
        """Stops the server; its exit code."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode


class Client:
    """A raw SCPI client: newline-terminated lines, answers read in order."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.buffer = b""

    def send(self, data):
        self.socket.sendall(data if isinstance(data, bytes) else data.encode() + b"\n")

    def line(self):
        while b"\n" not in self.buffer:
            chunk = self.socket.recv(65536)
            if not chunk:
                raise RuntimeError("connection closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode()

    def query(self, text):
        self.send(text)
        return self.line()

    def close(self):
        self.socket.close()


def check(condition, message):
    if not condition:
        print("FAIL: " + message, flush=True)
        sys.exit(1)
