#!/usr/bin/python3
"""A throw-away FTP server for the tests: 127.0.0.1 on a free port (printed once it listens), one user
and maybe anonymous, every command logged (the password masked). It leaves after --limit seconds, when
its standard input closes, and when its parent dies."""
import argparse
import ctypes
import os
import signal
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def leave_with_parent():
    # PR_SET_PDEATHSIG = 1: the kernel sends SIGTERM when the parent process ends.
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(1, signal.SIGTERM, 0, 0, 0)
    except Exception:
        pass


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p.add_argument("--home", required=True)
    p.add_argument("--anonymous", action="store_true")  # also let anonymous log in, with write rights
    p.add_argument("--log")  # file that receives every command received
    p.add_argument("--limit", type=float, default=60.0)  # seconds before the server leaves by itself
    args = p.parse_args()

    parent = os.getppid()
    leave_with_parent()
    if os.getppid() != parent:  # the parent ended before the death signal was armed
        os._exit(0)

    log = open(args.log, "a", buffering=1) if args.log else None
    log_lock = threading.Lock()

    class Handler(FTPHandler):
        auth_failed_timeout = 0  # answer a wrong password at once
        permit_foreign_addresses = False

        def pre_process_command(self, line, cmd, arg):
            if log:
                shown = "PASS ***" if cmd == "PASS" else line
                with log_lock:
                    log.write(shown + "\n")
            return super().pre_process_command(line, cmd, arg)

    auth = DummyAuthorizer()
    auth.add_user(args.user, args.password, args.home, perm="elradfmwMT")
    if args.anonymous:
        auth.add_anonymous(args.home, perm="elradfmwMT")
    Handler.authorizer = auth
    Handler.banner = "orvane test server ready."

    server = FTPServer(("127.0.0.1", 0), Handler)
    port = server.socket.getsockname()[1]

    timer = threading.Timer(args.limit, os._exit, (0,))
    timer.daemon = True
    timer.start()

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        finally:
            os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()

    print(port, flush=True)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
