"""An FTP server for the web copy tests that offers MLSD (unlike vsftpd) and
breaks off transfers on request.

Usage: ftp_server.py ROOT. Serves ROOT to anonymous users (read and write)
on 127.0.0.1 at a free port, prints "PORT <n>" and runs until its standard
input closes. Every command received is appended to ROOT/../commands.log.
A file whose name starts with "drop-" is sent only half: then the data
connection is closed and the transfer reported as aborted.
"""
import os
import sys
import threading
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class HalfFile:
    """A file that fails after half of its bytes."""

    def __init__(self, f):
        self._f = f
        self._left = os.fstat(f.fileno()).st_size // 2
        self.name = f.name
        self.closed = False

    def read(self, n=-1):
        if self._left <= 0:
            raise OSError("transfer broken off")
        data = self._f.read(min(n if n > 0 else self._left, self._left))
        self._left -= len(data)
        return data

    def close(self):
        self.closed = True
        self._f.close()

    def fileno(self):
        return self._f.fileno()

    def seek(self, *args):
        return self._f.seek(*args)


class Fs(AbstractedFS):
    def open(self, filename, mode):
        f = super().open(filename, mode)
        if "r" in mode and os.path.basename(filename).startswith("drop-"):
            return HalfFile(f)
        return f


def main():
    root = os.path.abspath(sys.argv[1])
    log_path = os.path.join(os.path.dirname(root), "commands.log")

    class Handler(FTPHandler):
        abstracted_fs = Fs
        use_sendfile = False

        def pre_process_command(self, line, cmd, arg):
            with open(log_path, "a") as log:
                log.write(cmd + (" " + arg if arg and cmd != "PASS" else "") + "\n")
            return super().pre_process_command(line, cmd, arg)

    authorizer = DummyAuthorizer()
    warnings.simplefilter("ignore")  # anonymous write access is what the tests want
    authorizer.add_anonymous(root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    Handler.banner = "test server ready"
    server = FTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.socket.getsockname()[1], flush=True)

    def watch_stdin():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    import logging
    logging.basicConfig(level=logging.CRITICAL)
    server.serve_forever()


if __name__ == "__main__":
    main()
