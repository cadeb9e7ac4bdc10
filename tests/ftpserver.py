#!/usr/bin/python3
"""A throw-away FTP server for the tests on 127.0.0.1, on a free port. Arguments: home folder, command log,
user, password, then "anonymous" to let anonymous log in too (with write rights) and "trickle" to take
uploads at 100 bytes a second. Every command is logged,
the password masked. Prints "PORT PID" once it listens; leaves after 60 seconds or when its parent ends."""
import ctypes
import os
import signal
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

home, log_path, user, password = sys.argv[1:5]
parent = os.getppid()
ctypes.CDLL(None).prctl(1, signal.SIGTERM, 0, 0, 0)  # PR_SET_PDEATHSIG: SIGTERM when the parent ends
if os.getppid() != parent:  # the parent ended before that was armed
    os._exit(0)
threading.Timer(60, os._exit, (0,)).start()
log = open(log_path, "a", buffering=1)


class Handler(FTPHandler):
    auth_failed_timeout = 0  # answer a wrong password at once

    def pre_process_command(self, line, cmd, arg):
        log.write(("PASS ***" if cmd == "PASS" else line) + "\n")
        return super().pre_process_command(line, cmd, arg)


Handler.authorizer = DummyAuthorizer()
Handler.authorizer.add_user(user, password, home, perm="elradfmwMT")
if "anonymous" in sys.argv[5:]:
    Handler.authorizer.add_anonymous(home, perm="elradfmwMT")
if "trickle" in sys.argv[5:]:
    ThrottledDTPHandler.read_limit = 100
    Handler.dtp_handler = ThrottledDTPHandler
server = FTPServer(("127.0.0.1", 0), Handler)
print(server.socket.getsockname()[1], os.getpid(), flush=True)
server.serve_forever(handle_exit=False)
