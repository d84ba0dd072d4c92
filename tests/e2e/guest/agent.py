"""Runs the host's commands in the guest: one JSON request a connection, its answer a stream of
JSON lines.

A request is {"secret", "argv", "cwd", "env", "timeout"} (env is added to the guest's own), or
{"secret", "ping": true}, answered {"pong": true}. While a command runs, what it prints comes as
{"stdout": base64} and {"stderr": base64} lines as it is printed; the last line is {"code"}, or
{"error"} (with "killed" when the command's time ran out and it was ended). A request without the
boot's secret is answered {"error": "refused"} and nothing runs. A command whose host side goes
away is killed with its process group, so a timed-out test leaves nothing running here.
"""

import base64
import hmac
import json
import os
import select
import signal
import socket
import socketserver
import subprocess
import sys
import tempfile
import time

SECRET_FILE = "/sys/firmware/qemu_fw_cfg/by_name/opt/qz/secret/raw"


def read_request(connection):
    data = b""
    while not data.endswith(b"\n"):
        chunk = connection.recv(65536)
        if not chunk:
            raise ConnectionError("the host closed the connection before its request ended")
        data += chunk
        if len(data) > (16 << 20):
            raise ValueError("request too large")
    return json.loads(data)


def host_gone(connection):
    readable, _, _ = select.select([connection], [], [], 0)
    if not readable:
        return False
    try:
        return connection.recv(1, socket.MSG_PEEK) == b""
    except OSError:
        return True


def send(connection, message):
    connection.sendall(json.dumps(message).encode("ascii") + b"\n")


def relay(connection, files, positions):
    """Sends what the command printed since the last call."""
    for name, handle in files.items():
        handle.seek(positions[name])
        data = handle.read()
        if data:
            positions[name] += len(data)
            send(connection, {name: base64.b64encode(data).decode("ascii")})


def run_command(connection, request):
    env = dict(os.environ)
    env.update(request.get("env") or {})
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            process = subprocess.Popen(request["argv"], cwd=request.get("cwd"), env=env,
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                       start_new_session=True)
        except OSError as failure:
            return {"error": "cannot start %r: %s" % (request["argv"][0], failure)}
        files = {"stdout": out, "stderr": err}
        positions = {"stdout": 0, "stderr": 0}
        deadline = time.monotonic() + float(request.get("timeout") or 3600)
        while process.poll() is None:
            gone = host_gone(connection)
            if gone or time.monotonic() > deadline:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait()
                if gone:
                    return None
                relay(connection, files, positions)
                return {"error": "killed: its %s s ran out" % request.get("timeout")}
            relay(connection, files, positions)
            time.sleep(0.05)
        relay(connection, files, positions)
        return {"code": process.returncode}


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        try:
            request = read_request(self.request)
            if not hmac.compare_digest(str(request.get("secret", "")), self.server.secret):
                send(self.request, {"error": "refused"})
                return
            if request.get("ping"):
                send(self.request, {"pong": True})
                return
            answer = run_command(self.request, request)
            if answer is not None:
                send(self.request, answer)
        except (OSError, ValueError, ConnectionError) as failure:
            print("agent: %s" % failure, file=sys.stderr)


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


if __name__ == "__main__":
    with open(SECRET_FILE) as source:
        secret = source.read().strip()
    with Server(("0.0.0.0", int(sys.argv[1])), Handler) as server:
        server.secret = secret
        print("qz-agent serving", flush=True)
        server.serve_forever()
