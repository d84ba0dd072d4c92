"""Runs the host's commands in the guest: one JSON request a connection, one JSON answer.

A request is {"argv", "cwd", "env", "timeout"} (env is added to the guest's own); the answer is
{"code", "stdout", "stderr"} with the outputs in base64, or {"error"}. {"ping": true} answers
{"pong": true}. A command whose host side goes away is killed with its process group, so a
timed-out test leaves nothing running here.
"""

import base64
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


def read_request(connection):
    data = b""
    while not data.endswith(b"\n"):
        chunk = connection.recv(65536)
        if not chunk:
            raise ConnectionError("the host closed the connection before its request ended")
        data += chunk
    return json.loads(data)


def host_gone(connection):
    readable, _, _ = select.select([connection], [], [], 0)
    if not readable:
        return False
    try:
        return connection.recv(1, socket.MSG_PEEK) == b""
    except OSError:
        return True


def forget_cached_files():
    # The work tree is shared with caching: what the host changed since must be read anew. A
    # request still running may have written files whose data has not reached the host yet;
    # dropped from the cache first, they would be read back from the host truncated.
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as control:
        control.write("3\n")


def run(connection, request):
    forget_cached_files()
    try:
        return run_command(connection, request)
    finally:
        os.sync()  # what the command wrote reaches the host before the answer does


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
        deadline = time.monotonic() + float(request.get("timeout") or 3600)
        while process.poll() is None:
            if host_gone(connection) or time.monotonic() > deadline:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait()
                return {"error": "killed: the host gave up or the timeout passed"}
            time.sleep(0.05)
        out.seek(0)
        err.seek(0)
        return {"code": process.returncode,
                "stdout": base64.b64encode(out.read()).decode("ascii"),
                "stderr": base64.b64encode(err.read()).decode("ascii")}


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        try:
            request = read_request(self.request)
            answer = {"pong": True} if request.get("ping") else run(self.request, request)
            self.request.sendall(json.dumps(answer).encode("ascii") + b"\n")
        except (OSError, ValueError, ConnectionError) as failure:
            print("agent: %s" % failure, file=sys.stderr)


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


if __name__ == "__main__":
    with Server(("0.0.0.0", int(sys.argv[1])), Handler) as server:
        print("qz-agent serving", flush=True)
        server.serve_forever()
