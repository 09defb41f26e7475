"""A private PostgreSQL cluster for a test: `initdb` into a temporary folder,
the server on a Unix socket of its own (no TCP), removed afterwards.
PostgreSQL refuses to run as root, so under root the server runs as `nobody`.

    cluster = postgres.Cluster(self)        # started; stopped and removed at cleanup
    service --db cluster.url
    cluster.stop(); cluster.start()         # the database gone and back
    cluster.sql("SELECT count(*) FROM rooms")
"""

import os
import shutil
import subprocess
import tempfile
import time
import urllib.parse
from pathlib import Path

BIN = Path(os.environ.get("VANTOR_PG_BIN", "/usr/lib/postgresql/15/bin"))
USER = "vantor"


class Cluster:
    def __init__(self, test=None, settings=()):
        self.root = Path(tempfile.mkdtemp(prefix="vantor-pg-"))
        self.data, self.socket = self.root / "data", self.root / "socket"
        self.socket.mkdir()
        self.as_user = []
        if os.getuid() == 0:
            shutil.chown(self.root, "nobody")
            shutil.chown(self.socket, "nobody")
            self.as_user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        self._run(BIN / "initdb", "-D", self.data, "-U", USER, "--auth=trust", "-E", "UTF8", "--no-sync")
        options = ["listen_addresses=''", "unix_socket_directories='%s'" % self.socket, "fsync=off",
                   "max_connections=100", "shared_buffers=32MB"] + list(settings)
        with open(self.data / "postgresql.conf", "a") as conf:
            conf.write("\n".join(options) + "\n")
        # The socket's folder as the host, percent-encoded: a URI without parameters.
        self.url = "postgresql://%s@%s/postgres" % (USER, urllib.parse.quote(str(self.socket), safe=""))
        if test:
            test.addCleanup(self.remove)
        self.start()

    def _run(self, *command, check=True):
        return subprocess.run(self.as_user + [str(c) for c in command], capture_output=True, check=check,
                              cwd=self.root, stdin=subprocess.DEVNULL)

    def start(self):
        self._run(BIN / "pg_ctl", "-D", self.data, "-l", self.root / "server.log", "-w", "-t", "30", "start")

    def stop(self, mode="fast"):
        self._run(BIN / "pg_ctl", "-D", self.data, "-m", mode, "-w", "-t", "30", "stop", check=False)

    def pid(self):
        """The server's process id, as text."""
        return (self.data / "postmaster.pid").read_text().split("\n", 1)[0]

    def sql(self, text):
        """Runs `text` with psql; the rows as lists of strings."""
        out = subprocess.run([BIN / "psql", "-X", "-A", "-t", "-q", "-F", "\t", "-v", "ON_ERROR_STOP=1",
                              "-d", self.url, "-c", text], capture_output=True, check=True, text=True).stdout
        return [line.split("\t") for line in out.splitlines() if line]

    def session(self):
        """A psql session fed through its stdin (for a lock held open)."""
        return subprocess.Popen([BIN / "psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", self.url],
                                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True)

    def remove(self):
        self.stop("immediate")
        shutil.rmtree(self.root, ignore_errors=True)


def wait_for(predicate, timeout=30.0, step=0.05):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()
