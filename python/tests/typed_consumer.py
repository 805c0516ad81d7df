"""A program using the package the way a typed caller would; the wheel test
runs `mypy --strict` on it against the installed wheel."""

from typing import List

import quendral_hosts
from quendral_hosts import (HostsChangedError, HostsError, HostsFile, Record, flush_dns,
                            version)


def pin(path: str, address: str, name: str) -> int:
    """Points `name` at `address` alone, loading again when another program
    changed the file under the save."""
    for _ in range(5):
        try:
            with HostsFile(path) as hosts:
                return hosts.set(address, name, "pinned")
        except HostsChangedError:
            continue
    raise HostsError(f"{path} kept changing")


def names_at(path: str, address: str) -> List[str]:
    hosts = HostsFile(path)
    hosts.load()
    found: List[Record] = hosts.find(address=address)
    return [record.name for record in found if record.enabled]


def main() -> None:
    print(quendral_hosts.__version__, version(), len(flush_dns()))
    hosts = HostsFile("hosts")
    hosts.load()
    count: int = len(hosts)
    for record in hosts:
        print(record.index, record.ip, record.name, record.enabled, record.comment)
    changed: int = hosts.disable(name="old.lan") + hosts.remove(address="10.0.0.9")
    if hosts.modified and changed:
        hosts.save()
    try:
        hosts.remove(count + 1)
    except IndexError as error:
        print(error)
    except ValueError as error:
        print(error)
    print(pin("hosts", "10.0.0.7", "api.lan"), names_at("hosts", "10.0.0.7"))
