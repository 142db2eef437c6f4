"""velkd-sim for the package's tests, in the private /tmp the test runs in
(CTest starts pytest under in_private_tmp)."""
import os
import pathlib
import select
import subprocess
import tempfile
from typing import Iterator, List, Optional

import pytest

SIM = os.environ["VELKD_SIM"]
TOOL = os.environ["VELKDIRECT"]
SOCKET = "/tmp/velkdirect.sock"
# The interpreter may run with the sanitizer runtime preloaded; the programs
# it starts are built with their own.
CHILD_ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


class Daemon:
    def __init__(self, *options: str, user: Optional[str] = None, description: str = "") -> None:
        self.dir = tempfile.mkdtemp(prefix="velkd-", dir="/tmp")
        os.chmod(self.dir, 0o755)
        ready_r, ready_w = os.pipe()
        args: List[str] = [SIM, "--ready-fd", str(ready_w), *options]
        if description:
            path = pathlib.Path(self.dir, "platform.toml")
            default = subprocess.run([SIM, "--print-default"], capture_output=True, text=True, check=True,
                                     env=CHILD_ENV).stdout
            path.write_text(default + description)
            args += ["--config", str(path)]
        if user:
            args = ["setpriv", f"--reuid={user}", "--regid=nogroup", "--clear-groups", "--", *args]
        self.log = pathlib.Path(self.dir, "velkd-sim.log")
        with self.log.open("wb") as log:
            self.process = subprocess.Popen(args, pass_fds=(ready_w,), env=CHILD_ENV, stderr=log)
        os.close(ready_w)
        if not select.select([ready_r], [], [], 60)[0] or os.read(ready_r, 16) != b"ready\n":
            self.process.kill()
            self.process.wait()
            raise RuntimeError(f"velkd-sim did not start: {self.log.read_text()}")
        os.close(ready_r)

    def stop(self) -> None:
        self.process.terminate()
        self.process.wait(timeout=30)


@pytest.fixture
def daemon() -> Iterator[Daemon]:
    """velkd-sim serving the built-in platform."""
    d = Daemon()
    yield d
    d.stop()


@pytest.fixture
def no_daemon() -> Iterator[None]:
    """Nothing at the socket path."""
    if os.path.lexists(SOCKET):
        os.unlink(SOCKET)
    yield
