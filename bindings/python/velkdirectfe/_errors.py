"""The exceptions the package raises, and the diagnosis of an unreachable daemon."""
from __future__ import annotations

import enum
import grp
import os
import pwd
import socket
import stat
import struct
from . import _facts

#: The socket every call connects to, unless VELKDIRECT_SOCKET names another.
SOCKET_PATH = "/tmp/velkdirect.sock"


def _socket_path() -> str:
    """The socket the library calls: VELKDIRECT_SOCKET when set (the library
    reads it with secure_getenv; a Python script is never set-id), else
    SOCKET_PATH."""
    return os.environ.get("VELKDIRECT_SOCKET") or SOCKET_PATH

# A call that fails after this long ran into the library's 25 s bound.
_TIMEOUT_SECONDS = 24.0


class VelkdirectfeError(Exception):
    """Base class of the failures of a call to the daemon."""


class Unreachable(enum.Enum):
    """Why a call could not get an answer from the daemon."""

    #: Nothing at the socket path: no daemon runs.
    NO_SOCKET = "no socket"
    #: Something that is not a socket sits at the path.
    NOT_A_SOCKET = "not a socket"
    #: This user may not connect to the socket.
    PERMISSION = "permission denied"
    #: A socket file with nothing listening on it (a daemon that stopped).
    NOT_LISTENING = "nothing listening"
    #: The socket is served by a user the library does not talk to.
    UNTRUSTED_PEER = "untrusted peer"
    #: The daemon accepted the call and did not answer within 25 s.
    TIMED_OUT = "timed out"
    #: The daemon accepted the call, then answered something that is not
    #: this protocol or closed the connection.
    FAILED = "failed"
    #: The socket path could not be examined (the message says why).
    OTHER = "other"


class DaemonUnreachable(VelkdirectfeError):
    """The call got no answer from the daemon (the library's result -1).

    ``reason`` is an :class:`Unreachable`, ``subject`` what the call was
    about (empty for calls about the whole platform), and ``str()`` of the
    exception the same diagnosis the ``velkdirect`` tool prints.
    """

    def __init__(self, reason: Unreachable, message: str, subject: str = "") -> None:
        super().__init__(message)
        self.reason = reason
        self.subject = subject


class DaemonError(VelkdirectfeError):
    """The daemon answered the call with a failure status.

    ``status`` is the daemon's status (1 and up), ``name`` its words
    ("unknown object"; empty for a status the daemon does not define) and
    ``subject`` what the call was about.
    """

    def __init__(self, status: int, subject: str = "") -> None:
        self.status = status
        self.name = status_name(status)
        self.subject = subject
        what = f"{self.name} (status {status})" if self.name else f"failed with status {status}"
        super().__init__(f"{subject}: {what}" if subject else what)


def status_name(status: int) -> str:
    """The daemon's words for a failure status; empty for one it does not define."""
    return _facts.STATUS_WORDS.get(status, "")


def _user(uid: int) -> str:
    try:
        return pwd.getpwuid(uid).pw_name
    except KeyError:
        return str(uid)


def _group(gid: int) -> str:
    try:
        return grp.getgrgid(gid).gr_name
    except KeyError:
        return str(gid)


def _trusted(uid: int) -> bool:
    if uid in (0, os.geteuid()):
        return True
    if not _facts.DAEMON_USER:
        return False
    try:
        return pwd.getpwnam(_facts.DAEMON_USER).pw_uid == uid
    except KeyError:
        return False


def diagnose(elapsed: float, subject: str = "") -> DaemonUnreachable:
    """Looks at the socket now and tells why a call that ran ``elapsed``
    seconds got no answer: the checks, in order, of the ``velkdirect`` tool."""
    path = _socket_path()
    unreachable = f"cannot reach the management daemon at {path}"

    def fail(reason: Unreachable, message: str) -> DaemonUnreachable:
        return DaemonUnreachable(reason, message, subject)

    try:
        st = os.lstat(path)
    except FileNotFoundError:
        return fail(Unreachable.NO_SOCKET,
                    f"{unreachable}: there is no socket file (is the daemon running? velkd-sim starts one)")
    except OSError as e:
        return fail(Unreachable.OTHER, f"{unreachable}: {e.strerror}")
    if not stat.S_ISSOCK(st.st_mode):
        return fail(Unreachable.NOT_A_SOCKET, f"{unreachable}: the path is not a socket")
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
        try:
            probe.connect(path)
        except PermissionError:
            owner, group = _user(st.st_uid), _group(st.st_gid)
            if st.st_mode & stat.S_IWGRP:
                hint = (f"connecting needs write permission on the socket: run as {owner} or as a member of "
                        f"group {group} (usermod -aG {group} USER, then log in again)")
            else:
                hint = (f"connecting needs write permission on the socket, which only {owner} has: run as "
                        f"{owner}, or have the socket made group-writable (mode 0660) for a group you are in")
            return fail(Unreachable.PERMISSION, f"permission denied on {path} ({owner}:{group}, "
                        f"mode {st.st_mode & 0o7777:04o})\nhint: {hint}")
        except ConnectionRefusedError:
            return fail(Unreachable.NOT_LISTENING, f"{unreachable}: nothing is listening on the socket "
                        "(a daemon that stopped left it behind?)")
        except OSError as e:
            return fail(Unreachable.OTHER, f"{unreachable}: {e.strerror}")
        peer_uid = struct.unpack("3i", probe.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[1]
    if not _trusted(peer_uid):
        return fail(Unreachable.UNTRUSTED_PEER,
                    f"{unreachable}: the socket is served by user {_user(peer_uid)}, which the library does "
                    "not talk to (only root, the calling user"
                    + (f" or {_facts.DAEMON_USER})" if _facts.DAEMON_USER else ")"))
    what = f"the call about {subject}" if subject else "the call"
    if elapsed >= _TIMEOUT_SECONDS:
        return fail(Unreachable.TIMED_OUT,
                    f"the daemon at {path} accepted {what} but did not answer within 25 s (timed out)")
    return fail(Unreachable.FAILED, f"the daemon at {path} accepted {what} but failed it: it answered "
                "something that is not this protocol, or closed the connection")


def check(status: int, started: float, subject: str, now: float) -> None:
    """Raises the exception for a library result other than 0."""
    if status == 0:
        return
    if status == -1:
        raise diagnose(now - started, subject)
    raise DaemonError(status, subject)
