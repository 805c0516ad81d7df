"""ctypes binding for the quendral-hosts library.

The library is found through, in order: the QUENDRAL_HOSTS_LIBRARY
environment variable (a full path), the copy inside this package (the wheel
carries one), the system's library search (ctypes.util.find_library), and
finally the plain file name.

Text crossing the boundary is bytes in the library, which takes paths and
texts in the system's narrow encoding. On Linux that is UTF-8: arguments are
encoded with the 'surrogateescape' error handler, and record text is decoded
the same way, so a hosts file holding bytes that are not UTF-8 still loads
and those bytes are written back unchanged. On Windows it is the ANSI code
page ('mbcs'): a path or text that it cannot represent raises ValueError
instead of naming another file.

Arguments are checked before the library sees them: a text that is not a
str (a path: not a str, bytes or os.PathLike) raises TypeError, a text or
path holding a NUL character raises ValueError (the library would cut it
there), an index that is not an integer raises TypeError, and one outside
the C int range raises IndexError.

The library keeps a single, process-wide hosts file in memory. A HostsFile
points the library at its own path before each load and save, and refuses
to touch the records in memory unless it was the last one to load them.
"""

import ctypes
import ctypes.util
import errno
import json
import operator
import os
import sys
import threading
from dataclasses import dataclass

__all__ = ["HostsError", "HostsFile", "HostsPermissionError", "Record", "flush_dns", "version"]


def _text_codec(platform):
    """The encoding of paths and texts for the library on `platform`, with
    the error handlers for encoding and for decoding."""
    if platform == "win32":
        return "mbcs", "strict", "surrogateescape"
    return "utf-8", "surrogateescape", "surrogateescape"


_ENCODING, _ENCODE_ERRORS, _DECODE_ERRORS = _text_codec(sys.platform)

_INT_MIN = -(2**31)
_INT_MAX = 2**31 - 1

if sys.platform == "win32":
    _LIBRARY_FILE = "quendral-hosts.dll"
    _Loader = ctypes.WinDLL
else:
    _LIBRARY_FILE = "libquendral-hosts.so"
    _Loader = ctypes.CDLL


class HostsError(Exception):
    """A library call failed; `message` is the library's own error text."""

    def __init__(self, message):
        super().__init__(message)
        self.message = message


class HostsPermissionError(HostsError, PermissionError):
    """A save the system refused for want of rights. `message` is the
    library's text followed by how to get them: run elevated on Windows, as
    root elsewhere."""


def _refusal_words(platform):
    """The system's words for a refused access, as the library's texts end."""
    if platform == "win32":
        return [ctypes.FormatError(5).rstrip(" .\r\n")]  # ERROR_ACCESS_DENIED
    return [os.strerror(errno.EACCES), os.strerror(errno.EPERM)]


def _elevation_hint(platform):
    if platform == "win32":
        return "the system refused access: run the program elevated (Run as administrator)"
    return "the system refused access: run the program as root (for example with sudo)"


@dataclass(frozen=True)
class Record:
    """One hosts entry: an address and one host name."""

    ip: str
    name: str
    enabled: bool
    comment: str


# The library must be used from one thread at a time; this lock also keeps
# a call and the hosts_last_error() that explains it together.
_lock = threading.RLock()
_lib = None
_loaded_by = None

_SIGNATURES = {
    "hosts_set_path": (ctypes.c_int, [ctypes.c_char_p]),
    "hosts_version": (ctypes.c_char_p, []),
    "hosts_last_error": (ctypes.c_char_p, []),
    "hosts_count": (ctypes.c_int, []),
    "hosts_load": (ctypes.c_int, []),
    "hosts_get": (ctypes.c_char_p, [ctypes.c_int]),
    "hosts_add": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p]),
    "hosts_set_enabled": (ctypes.c_int, [ctypes.c_int, ctypes.c_int]),
    "hosts_remove": (ctypes.c_int, [ctypes.c_int]),
    "hosts_save": (ctypes.c_int, []),
    "hosts_flush_dns": (ctypes.c_int, []),
}


def _candidates():
    override = os.environ.get("QUENDRAL_HOSTS_LIBRARY")
    if override:
        yield override
    yield os.path.join(os.path.dirname(os.path.abspath(__file__)), _LIBRARY_FILE)
    found = ctypes.util.find_library("quendral-hosts")
    if found:
        yield found
    yield _LIBRARY_FILE


def _library():
    global _lib
    if _lib is None:
        failures = []
        for candidate in _candidates():
            try:
                lib = _Loader(candidate)
            except OSError as exc:
                failures.append(f"{candidate}: {exc}")
                continue
            for name, (restype, argtypes) in _SIGNATURES.items():
                function = getattr(lib, name)
                function.restype = restype
                function.argtypes = argtypes
            _lib = lib
            break
        else:
            raise OSError("quendral-hosts library not found; tried " + "; ".join(failures))
    return _lib


def _decode(raw):
    return raw.decode(_ENCODING, _DECODE_ERRORS)


def _to_bytes(text, what, encoding=None, errors=None):
    """`text` as the library takes it; `what` names it in errors."""
    encoding = encoding or _ENCODING
    errors = errors or _ENCODE_ERRORS
    try:
        raw = text.encode(encoding, errors)
    except UnicodeEncodeError as exc:
        raise ValueError(
            f"{what} {text!r} cannot be written in the {encoding} encoding the library takes: "
            f"{exc.reason} at position {exc.start}"
        ) from None
    if b"\0" in raw:
        raise ValueError(f"{what} {text!r} holds a NUL character")
    return raw


def _encode(text, what):
    if not isinstance(text, str):
        raise TypeError(f"{what} must be a str, not {type(text).__name__}")
    return _to_bytes(text, what)


def _encode_path(path):
    path = os.fspath(path)  # TypeError for anything that is not a path
    if isinstance(path, bytes):
        if b"\0" in path:
            raise ValueError(f"path {path!r} holds a NUL character")
        return path
    return _to_bytes(path, "path")


def _index(index):
    index = operator.index(index)  # TypeError for anything but an integer
    if not _INT_MIN <= index <= _INT_MAX:
        raise IndexError(f"index {index} out of range")
    return index


def _last_error(lib):
    return _decode(lib.hosts_last_error())


def _check(lib, result):
    if result < 0:
        raise HostsError(_last_error(lib))
    return result


def version():
    """The library's version text, such as "1.0.0"."""
    return _decode(_library().hosts_version())


def flush_dns():
    """Flushes the system's DNS resolver cache.

    Returns True when the resolver's own call did it. When the library fell
    back to the system command, returns the library's note about the failed
    first attempt instead (a non-empty, so still true, string). Raises
    HostsError when both ways failed.
    """
    with _lock:
        lib = _library()
        _check(lib, lib.hosts_flush_dns())
        return _last_error(lib) or True


class HostsFile:
    """A hosts file, by default the system's (path=None)."""

    def __init__(self, path=None):
        self._raw_path = None if path is None else _encode_path(path)
        self.path = path

    def _select(self, lib):
        _check(lib, lib.hosts_set_path(self._raw_path))

    def _loaded(self):
        lib = _library()
        if _loaded_by is not self:
            raise HostsError("records not loaded: call load() on this HostsFile first")
        return lib

    def load(self):
        """Reads the file into memory; a missing file loads as empty."""
        global _loaded_by
        with _lock:
            lib = _library()
            _loaded_by = None
            self._select(lib)
            _check(lib, lib.hosts_load())
            _loaded_by = self

    def count(self):
        with _lock:
            return self._loaded().hosts_count()

    def records(self):
        """All records in file order; a record's position is its index."""
        with _lock:
            lib = self._loaded()
            result = []
            for index in range(lib.hosts_count()):
                raw = lib.hosts_get(index)
                if not raw:
                    raise HostsError(_last_error(lib))
                fields = json.loads(_decode(raw))
                result.append(
                    Record(
                        ip=fields["ip"],
                        name=fields["name"],
                        enabled=bool(fields["enabled"]),
                        comment=fields["comment"],
                    )
                )
            return result

    def add(self, ip, name, comment=None):
        """Appends an enabled record and returns its index."""
        raw_ip = _encode(ip, "ip")
        raw_name = _encode(name, "name")
        note = None if comment is None else _encode(comment, "comment")
        with _lock:
            lib = self._loaded()
            return _check(lib, lib.hosts_add(raw_ip, raw_name, note))

    def enable(self, index):
        self._set_enabled(index, 1)

    def disable(self, index):
        self._set_enabled(index, 0)

    def _set_enabled(self, index, enabled):
        index = _index(index)
        with _lock:
            lib = self._loaded()
            _check(lib, lib.hosts_set_enabled(index, enabled))

    def remove(self, index):
        """Removes a record; later records move down by one."""
        index = _index(index)
        with _lock:
            lib = self._loaded()
            _check(lib, lib.hosts_remove(index))

    def save(self):
        """Replaces the file with the records and other lines held in memory.

        Raises HostsPermissionError (a HostsError and a PermissionError) when
        the system refused access, HostsError for any other failure; the file
        is then unchanged."""
        with _lock:
            lib = self._loaded()
            self._select(lib)
            if lib.hosts_save() < 0:
                error = _last_error(lib)
                if any(error.endswith(": " + words) for words in _refusal_words(sys.platform)):
                    raise HostsPermissionError(error + "; " + _elevation_hint(sys.platform))
                raise HostsError(error)
