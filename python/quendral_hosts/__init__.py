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
path holding a NUL character or an empty path raises ValueError (the library
would cut the text there, or take the empty path for the system hosts file),
an index that is not an integer raises TypeError, and one outside the C int
range raises IndexError.

Edits follow the model every front end shares (docs/editing.md): names
compare ignoring ASCII case, addresses by value, add is idempotent, set
leaves a name exactly one enabled record, and enable, disable and remove take
an index, a record, a name or an address. Failures raise HostsError
subclasses that are also the matching built-in exceptions: ValueError,
IndexError, PermissionError, and HostsChangedError when the file changed
since it was loaded (load again and repeat the edit).

The library keeps a single, process-wide hosts file in memory. A HostsFile
points the library at its own path before each load and save, and refuses
to touch the records in memory unless it was the last one to load them.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import errno
import json
import operator
import os
import re
import sys
import threading
from dataclasses import dataclass, field
from types import TracebackType
from typing import Any, Callable, Iterator, List, Optional, Tuple, Type, Union

__all__ = [
    "HostsChangedError",
    "HostsError",
    "HostsFile",
    "HostsIndexError",
    "HostsPermissionError",
    "HostsValueError",
    "Record",
    "__version__",
    "flush_dns",
    "version",
]

__version__ = "1.0.0"

#: What a path may be: a str, bytes or a path object.
PathType = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

# The words qhosts uses for the same refusal.
_EMPTY_PATH = "--file needs a non-empty path"


def _text_codec(platform: str) -> Tuple[str, str, str]:
    """The encoding of paths and texts for the library on `platform`, with
    the error handlers for encoding and for decoding."""
    if platform == "win32":
        return "mbcs", "strict", "surrogateescape"
    return "utf-8", "surrogateescape", "surrogateescape"


_ENCODING, _ENCODE_ERRORS, _DECODE_ERRORS = _text_codec(sys.platform)

_INT_MIN = -(2**31)
_INT_MAX = 2**31 - 1

_LIBRARY_FILE = "quendral-hosts.dll" if sys.platform == "win32" else "libquendral-hosts.so"


class HostsError(Exception):
    """A library call failed; `message` is the library's own error text."""

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message

    def __str__(self) -> str:
        return self.message


class HostsValueError(HostsError, ValueError):
    """Refused input: an invalid address or name, a comment too long or
    holding a line break, a text holding NUL, an empty or too long path."""


class HostsIndexError(HostsError, IndexError):
    """An index outside the loaded records."""


class HostsChangedError(HostsError):
    """The save found that another program changed the file since it was
    loaded; nothing was written. Load again and repeat the edit."""


class HostsPermissionError(HostsError, PermissionError):
    """The system refused access to the hosts file or its folder, for want
    of rights. `message` is the library's text followed by how to get them:
    run elevated on Windows, as root elsewhere."""


def _elevation_hint(platform: str) -> str:
    if platform == "win32":
        return "the system refused access: run the program elevated (Run as administrator)"
    return "the system refused access: run the program as root (for example with sudo)"


@dataclass(frozen=True)
class Record:
    """One hosts entry: an address and one host name.

    `index` is the record's place in the table when it was read; it is not
    part of the comparison, so equal records are equal wherever they sit.
    """

    ip: str
    name: str
    enabled: bool
    comment: str
    index: int = field(default=-1, compare=False)


# The library must be used from one thread at a time; this lock also keeps
# a call and the hosts_last_error() that explains it together.
_lock = threading.RLock()
_lib: Any = None
_loaded_by: Optional["HostsFile"] = None

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


def _candidates() -> Iterator[str]:
    override = os.environ.get("QUENDRAL_HOSTS_LIBRARY")
    if override:
        yield override
    yield os.path.join(os.path.dirname(os.path.abspath(__file__)), _LIBRARY_FILE)
    found = ctypes.util.find_library("quendral-hosts")
    if found:
        yield found
    yield _LIBRARY_FILE


def _library() -> Any:
    global _lib
    if _lib is None:
        loader: Callable[[str], Any] = getattr(ctypes, "WinDLL", ctypes.CDLL)
        failures = []
        for candidate in _candidates():
            try:
                lib = loader(candidate)
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


def _decode(raw: bytes) -> str:
    return raw.decode(_ENCODING, _DECODE_ERRORS)


def _to_bytes(text: str, what: str, encoding: Optional[str] = None,
              errors: Optional[str] = None) -> bytes:
    """`text` as the library takes it; `what` names it in errors."""
    encoding = encoding or _ENCODING
    errors = errors or _ENCODE_ERRORS
    try:
        raw = text.encode(encoding, errors)
    except UnicodeEncodeError as exc:
        raise HostsValueError(
            f"{what} {text!r} cannot be written in the {encoding} encoding the library takes: "
            f"{exc.reason} at position {exc.start}"
        ) from None
    if b"\0" in raw:
        raise HostsValueError(f"{what} {text!r} holds a NUL character")
    return raw


def _encode(text: object, what: str) -> bytes:
    if not isinstance(text, str):
        raise TypeError(f"{what} must be a str, not {type(text).__name__}")
    return _to_bytes(text, what)


def _encode_path(path: PathType) -> bytes:
    path = os.fspath(path)  # TypeError for anything that is not a path
    if not path:
        raise HostsValueError(_EMPTY_PATH)
    if isinstance(path, bytes):
        if b"\0" in path:
            raise HostsValueError(f"path {path!r} holds a NUL character")
        return path
    return _to_bytes(path, "path")


def _index(index: object) -> int:
    index = operator.index(index)  # type: ignore[arg-type]  # TypeError for a non-integer
    if not _INT_MIN <= index <= _INT_MAX:
        raise HostsIndexError(f"index {index} out of range")
    return index


def _access_texts() -> Tuple[str, ...]:
    """The system's words for refused access, as the library passes them on."""
    if sys.platform == "win32":
        format_error: Callable[[int], str] = getattr(ctypes, "FormatError")
        return (format_error(5).rstrip(" .\r\n"),)
    return (os.strerror(errno.EACCES), os.strerror(errno.EPERM))


_INPUT_ERRORS = ("invalid ip: ", "invalid name: ", "ip is NULL or empty", "name is NULL or empty",
                 "comment too long", "comment contains a line break", "path too long")
_INDEX_ERROR = re.compile(r"index -?\d+ out of range \(count \d+\)\Z")


def _error(text: str) -> HostsError:
    """The exception for a library error text, of the kind the text tells."""
    if text.startswith(_INPUT_ERRORS):
        return HostsValueError(text)
    if _INDEX_ERROR.match(text):
        return HostsIndexError(text)
    if text.endswith(" changed since it was loaded"):
        return HostsChangedError(text)
    if any(text.endswith(": " + refused) for refused in _access_texts()):
        return HostsPermissionError(text + "; " + _elevation_hint(sys.platform))
    return HostsError(text)


def _last_error(lib: Any) -> str:
    return _decode(lib.hosts_last_error())


def _check(lib: Any, result: int) -> int:
    if result < 0:
        raise _error(_last_error(lib))
    return result


def version() -> str:
    """The library's version text, such as "1.0.0"."""
    return _decode(_library().hosts_version())


def flush_dns() -> str:
    """Flushes the system's DNS resolver cache.

    Returns an empty text when the resolver's own call did it, else the
    library's note: why the first attempt was not used while the system
    command worked, or that no resolver cache runs. Raises HostsError when
    both ways failed.
    """
    with _lock:
        lib = _library()
        _check(lib, lib.hosts_flush_dns())
        return _last_error(lib)


# ---- the editing model (docs/editing.md) ----------------------------------


def _same_name(a: str, b: str) -> bool:
    """Host names compare ignoring ASCII case (and only ASCII)."""
    return a.encode(_ENCODING, "surrogateescape").lower() == b.encode(
        _ENCODING, "surrogateescape").lower()


def _ipv4_bytes(ip: str) -> Optional[bytes]:
    groups = ip.split(".")
    if len(groups) != 4:
        return None
    out = bytearray()
    for group in groups:
        if not 1 <= len(group) <= 3 or not all("0" <= c <= "9" for c in group):
            return None
        if int(group) > 255:
            return None
        out.append(int(group))
    return bytes(out)


def _ipv6_groups(text: str) -> Optional[List[int]]:
    if not text:
        return []
    groups = []
    for group in text.split(":"):
        if not 1 <= len(group) <= 4 or not all(c in "0123456789abcdefABCDEF" for c in group):
            return None
        groups.append(int(group, 16))
    return groups


def _ipv6_bytes(ip: str) -> Optional[bytes]:
    if "::" in ip:
        head_text, tail_text = ip.split("::", 1)
        head, tail = _ipv6_groups(head_text), _ipv6_groups(tail_text)
        if head is None or tail is None or len(head) + len(tail) > 8:
            return None
    else:
        head, tail = _ipv6_groups(ip), []
        if head is None or len(head) != 8:
            return None
    groups = head + [0] * (8 - len(head) - len(tail)) + tail
    return b"".join(group.to_bytes(2, "big") for group in groups)


def _address_key(ip: str) -> Tuple[str, Union[bytes, str]]:
    """The address by value, so that two spellings of one address compare
    equal; a text of neither form is only equal to itself, ignoring case."""
    v4 = _ipv4_bytes(ip)
    if v4 is not None:
        return "4", v4
    v6 = _ipv6_bytes(ip)
    if v6 is not None:
        return "6", v6
    return "?", ip.lower()


def _comment(comment: object) -> Optional[bytes]:
    """A comment as stored: trimmed of outer blanks, as a save and load
    would leave it; None for none."""
    if comment is None:
        return None
    if not isinstance(comment, str):
        raise TypeError(f"comment must be a str, not {type(comment).__name__}")
    return _to_bytes(comment.strip(" \t"), "comment") or None


#: What enable, disable and remove take: an index or a record read earlier.
Target = Union[int, Record]


class HostsFile:
    """A hosts file, by default the system's (no path).

    The library keeps one hosts file for the whole process: a HostsFile
    works on the records in memory only while it is the last one that loaded.
    Used in a with statement it loads on entry and, when the block ends
    without an exception and an edit changed something, saves.
    """

    def __init__(self, path: Optional[PathType] = None) -> None:
        self._raw_path = None if path is None else _encode_path(path)
        self._modified = False
        #: The path given, or None for the system hosts file.
        self.path = path

    def __repr__(self) -> str:
        """HostsFile(path), as constructed."""
        return f"HostsFile({self.path!r})"

    # ---- loading and saving

    def _select(self, lib: Any) -> None:
        _check(lib, lib.hosts_set_path(self._raw_path))

    def _loaded(self) -> Any:
        lib = _library()
        if _loaded_by is not self:
            raise HostsError("records not loaded: call load() on this HostsFile first")
        return lib

    def load(self) -> None:
        """Reads the file into memory; a missing file loads as empty."""
        global _loaded_by
        with _lock:
            lib = _library()
            _loaded_by = None
            self._select(lib)
            _check(lib, lib.hosts_load())
            self._modified = False
            _loaded_by = self

    def save(self) -> None:
        """Replaces the file with the records and other lines held in memory.

        Raises HostsChangedError when another program changed the file since
        the load, HostsPermissionError (a HostsError and a PermissionError,
        its message ending with a hint to run elevated, or as root) when the
        system refused access, HostsError for any other failure; the file is
        then unchanged.
        """
        with _lock:
            lib = self._loaded()
            self._select(lib)
            _check(lib, lib.hosts_save())
            self._modified = False

    @property
    def modified(self) -> bool:
        """True when an edit changed the records since the last load or save."""
        return self._modified

    def __enter__(self) -> "HostsFile":
        """Loads the file and returns this HostsFile."""
        self.load()
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 trace: Optional[TracebackType]) -> None:
        """Saves when the block raised nothing and an edit changed something."""
        if kind is None and self._modified:
            self.save()

    # ---- reading

    def _get(self, lib: Any, index: int) -> Record:
        raw = lib.hosts_get(index)
        if not raw:
            raise _error(_last_error(lib))
        fields = json.loads(_decode(raw))
        return Record(ip=fields["ip"], name=fields["name"], enabled=bool(fields["enabled"]),
                      comment=fields["comment"], index=index)

    def _all(self, lib: Any) -> List[Record]:
        return [self._get(lib, index) for index in range(lib.hosts_count())]

    def count(self) -> int:
        """The number of records loaded."""
        with _lock:
            return int(self._loaded().hosts_count())

    def __len__(self) -> int:
        """The number of records loaded."""
        return self.count()

    def records(self) -> List[Record]:
        """All records in file order, each carrying its index."""
        with _lock:
            return self._all(self._loaded())

    def __iter__(self) -> Iterator[Record]:
        """The records in file order, read in one pass when iteration starts."""
        return iter(self.records())

    def __getitem__(self, index: int) -> Record:
        """Record `index` (negative indexes count from the end)."""
        index = _index(index)
        with _lock:
            lib = self._loaded()
            count = lib.hosts_count()
            return self._get(lib, index + count if -count <= index < 0 else index)

    @staticmethod
    def _matcher(name: Optional[str], address: Optional[str]) -> Callable[[Record], bool]:
        if name is None and address is None:
            raise TypeError("give a name, an address or both")
        for value, what in ((name, "name"), (address, "address")):
            if value is not None:
                _encode(value, what)
                if not value:
                    raise HostsValueError(f"{what} is empty")
        key = None if address is None else _address_key(address)

        def matches(record: Record) -> bool:
            return ((name is None or _same_name(record.name, name))
                    and (key is None or _address_key(record.ip) == key))

        return matches

    def find(self, name: Optional[str] = None, address: Optional[str] = None) -> List[Record]:
        """Every record, enabled or not, with the name (ignoring ASCII case)
        and/or the address (by value: 10.0.0.01 is 10.0.0.1), in file order."""
        matches = self._matcher(name, address)
        return [record for record in self.records() if matches(record)]

    def exists(self, name: Optional[str] = None, address: Optional[str] = None) -> bool:
        """True when find() would find something."""
        return bool(self.find(name, address))

    # ---- editing

    def _add(self, lib: Any, raw_ip: bytes, raw_name: bytes, note: Optional[bytes]) -> int:
        index = _check(lib, lib.hosts_add(raw_ip, raw_name, note))
        self._modified = True
        return index

    def add(self, ip: str, name: str, comment: Optional[str] = None) -> int:
        """Adds an enabled record unless an enabled one with that name and
        address is there; returns the record's index either way."""
        raw_ip, raw_name = _encode(ip, "ip"), _encode(name, "name")
        note = _comment(comment)
        key = _address_key(ip)
        with _lock:
            lib = self._loaded()
            for record in self._all(lib):
                if record.enabled and _same_name(record.name, name) and _address_key(record.ip) == key:
                    return record.index
            return self._add(lib, raw_ip, raw_name, note)

    def set(self, ip: str, name: str, comment: Optional[str] = None) -> int:
        """Leaves `name` exactly one enabled record, at `ip`: the others of
        the name are disabled, a disabled one at `ip` is enabled, and a
        differing `comment` writes the record anew at the end. Returns the
        index of the name's enabled record."""
        raw_ip, raw_name = _encode(ip, "ip"), _encode(name, "name")
        raw_note = _comment(comment)
        note = None if comment is None else _decode(raw_note or b"")
        key = _address_key(ip)
        with _lock:
            lib = self._loaded()
            records = self._all(lib)
            kept: Optional[Record] = None
            for record in records:
                if (_same_name(record.name, name) and _address_key(record.ip) == key
                        and (kept is None or (record.enabled and not kept.enabled))):
                    kept = record
            anew = kept is None or (note is not None and note != kept.comment)
            # The record that needs adding is added first: when the library
            # refuses it, nothing has changed yet.
            index = self._add(lib, raw_ip, raw_name, raw_note) if anew else -1
            for record in records:
                if record.enabled and _same_name(record.name, name) and record is not kept:
                    _check(lib, lib.hosts_set_enabled(record.index, 0))
                    self._modified = True
            if kept is None:
                return index
            if anew:
                _check(lib, lib.hosts_remove(kept.index))
                return index - 1
            if not kept.enabled:
                _check(lib, lib.hosts_set_enabled(kept.index, 1))
                self._modified = True
            return kept.index

    def _select_records(self, lib: Any, target: Optional[Target], name: Optional[str],
                        address: Optional[str]) -> List[Record]:
        if target is None:
            matches = self._matcher(name, address)
            return [record for record in self._all(lib) if matches(record)]
        if name is not None or address is not None:
            raise TypeError("give a target or a name and address, not both")
        if isinstance(target, Record):
            current = self._get(lib, target.index) if 0 <= target.index < lib.hosts_count() else None
            if current is None or current != Record(target.ip, target.name, current.enabled,
                                                    target.comment):
                raise HostsError(f"record {target.index} is no longer {target.ip} {target.name}: "
                                 "load the file again")
            return [current]
        return [self._get(lib, _index(target))]

    def _change(self, target: Optional[Target], name: Optional[str], address: Optional[str],
                enable: Optional[bool]) -> int:
        with _lock:
            lib = self._loaded()
            chosen = self._select_records(lib, target, name, address)
            # From the last to the first, so that a removal moves none still to do.
            for record in reversed(chosen):
                if enable is None:
                    _check(lib, lib.hosts_remove(record.index))
                elif record.enabled != enable:
                    _check(lib, lib.hosts_set_enabled(record.index, int(enable)))
                else:
                    continue
                self._modified = True
            return len(chosen)

    def enable(self, target: Optional[Target] = None, *, name: Optional[str] = None,
               address: Optional[str] = None) -> int:
        """Enables record `target` (an index or a record read earlier), or
        every record with the name and/or address. Returns how many records
        were chosen (0: nothing matched); those already enabled stay as
        they are."""
        return self._change(target, name, address, True)

    def disable(self, target: Optional[Target] = None, *, name: Optional[str] = None,
                address: Optional[str] = None) -> int:
        """Disables (comments out) records, chosen as for enable()."""
        return self._change(target, name, address, False)

    def remove(self, target: Optional[Target] = None, *, name: Optional[str] = None,
               address: Optional[str] = None) -> int:
        """Removes records, chosen as for enable(); later records move down."""
        return self._change(target, name, address, None)
