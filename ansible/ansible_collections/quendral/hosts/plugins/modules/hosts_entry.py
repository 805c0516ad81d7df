#!/usr/bin/python
# Copyright (c) 2026 The quendral-hosts developers
# MIT License (see LICENSE in the quendral-hosts repository)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: hosts_entry
short_description: A host name's entry in the hosts file
description:
  - Edits the hosts file through the quendral-hosts Python package
    (C(quendral_hosts)), which runs on the managed host: the file is written
    to a locked temporary file and replaced in one step, and a save is
    refused when another program changed the file since it was loaded (the
    edit is then repeated on a fresh load, up to five times).
  - A second run with the same arguments changes nothing and writes nothing.
version_added: "1.0.0"
author: The quendral-hosts developers
requirements:
  - the quendral_hosts Python package on the managed host (install its wheel
    with ansible.builtin.pip)
options:
  name:
    description: The host name, or a list of them. Names compare ignoring ASCII case.
    type: list
    elements: str
    required: true
  ip:
    description:
      - The address. Required for I(state=present).
      - For I(state=absent) and I(state=disabled), only the records of I(name)
        at this address are chosen; without it, every record of I(name).
      - Addresses compare by value (C(10.0.0.05) is C(10.0.0.5)).
    type: str
  state:
    description:
      - C(present) leaves each name exactly one enabled record, at I(ip); its
        other enabled records are disabled.
      - C(absent) leaves no record of each name (at I(ip), if given).
      - C(disabled) keeps the records of each name (at I(ip), if given) as
        commented entries; with I(ip), a name that has no record there gets
        one, commented.
    type: str
    choices: [present, absent, disabled]
    default: present
  comment:
    description:
      - The comment for a record that I(state=present) keeps or adds; a
        record whose comment differs is written anew, at the end.
      - For I(state=disabled), the comment of a commented record it adds.
    type: str
  path:
    description: The hosts file; by default the system's.
    type: path
  backup:
    description:
      - Before a change, copies the file to C(PATH.bak.YYYYMMDD-HHMMSS)
        (the local time), with its permissions; nothing is copied when
        the file does not exist yet.
    type: bool
    default: false
  flush:
    description: After a change, flushes the resolver cache.
    type: bool
    default: false
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
"""

EXAMPLES = r"""
- name: dev.lan and api.lan resolve to 10.0.0.42
  quendral.hosts.hosts_entry:
    name: [dev.lan, api.lan]
    ip: 10.0.0.42
    comment: build farm
    backup: true

- name: no record of old.lan remains
  quendral.hosts.hosts_entry:
    name: old.lan
    state: absent

- name: test.lan at 10.0.0.9 is kept, commented out
  quendral.hosts.hosts_entry:
    name: test.lan
    ip: 10.0.0.9
    state: disabled
"""

RETURN = r"""
records:
  description: The records of the names after the edit (in check mode, as they would be).
  returned: always
  type: list
  elements: dict
  contains:
    index: {description: The record's place in the file, from 0., type: int}
    ip: {description: The address., type: str}
    name: {description: The host name., type: str}
    enabled: {description: False for a commented entry., type: bool}
    comment: {description: The comment, or an empty text., type: str}
backup_file:
  description: The backup made before the change.
  returned: when I(backup) made one
  type: str
path:
  description: The file edited.
  returned: always
  type: str
"""

import os
import shutil
import tempfile
import time
import traceback

from ansible.module_utils.basic import AnsibleModule, missing_required_lib

try:
    import quendral_hosts
except ImportError:
    quendral_hosts = None
    IMPORT_ERROR = traceback.format_exc()
else:
    IMPORT_ERROR = None

# As many attempts as qhosts makes when the file changed since the load.
ATTEMPTS = 5


def system_hosts_path():
    if os.name == "nt":
        root = os.environ.get("SystemRoot", r"C:\Windows")
        return os.path.join(root, "System32", "drivers", "etc", "hosts")
    return "/etc/hosts"


def read_text(path):
    """The file's text, or an empty text when it does not exist."""
    try:
        with open(path, "rb") as stream:
            return stream.read().decode("utf-8", "surrogateescape")
    except FileNotFoundError:
        return ""


def apply(hosts, params):
    """Applies the edit to the loaded records; returns the names' records."""
    names, ip, comment = params["name"], params["ip"], params["comment"]
    state = params["state"]
    for name in names:
        if state == "present":
            hosts.set(ip, name, comment)
        elif state == "absent":
            hosts.remove(name=name, address=ip)
        elif hosts.disable(name=name, address=ip) == 0 and ip is not None:
            hosts.disable(hosts.add(ip, name, comment))
    chosen = {}
    for name in names:
        for record in hosts.find(name=name):
            chosen[record.index] = dict(index=record.index, ip=record.ip, name=record.name,
                                        enabled=record.enabled, comment=record.comment)
    return [chosen[index] for index in sorted(chosen)]


def write_backup(path, backup=None):
    """Copies `path` to a dated backup beside it (or over `backup`, this
    run's backup of an earlier attempt), as a whole file that appears in one
    step; returns its name, or None when there is no file."""
    if not os.path.exists(path):
        return None
    if backup is None:
        stamp = time.strftime("%Y%m%d-%H%M%S")
        backup = "%s.bak.%s" % (path, stamp)
        number = 1
        while os.path.exists(backup):  # two changes within one second
            backup = "%s.bak.%s-%d" % (path, stamp, number)
            number += 1
    folder = os.path.dirname(os.path.abspath(path))
    handle, temp = tempfile.mkstemp(prefix=os.path.basename(backup) + ".", dir=folder)
    try:
        with os.fdopen(handle, "wb") as out, open(path, "rb") as source:
            shutil.copyfileobj(source, out)
            out.flush()
            os.fsync(out.fileno())
        shutil.copymode(path, temp)
        os.replace(temp, backup)
    except BaseException:
        if os.path.exists(temp):
            os.unlink(temp)
        raise
    return backup


def preview(path, params):
    """The records and text the edit would leave, worked out on a copy."""
    folder = tempfile.mkdtemp(prefix="quendral-hosts-check.")
    try:
        copy = os.path.join(folder, "hosts")
        if os.path.exists(path):
            shutil.copyfile(path, copy)
        hosts = quendral_hosts.HostsFile(copy)
        hosts.load()
        records = apply(hosts, params)
        changed = hosts.modified
        if changed:
            hosts.save()
        return changed, records, read_text(copy)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def run(module):
    params = module.params
    if params["state"] == "present" and params["ip"] is None:
        module.fail_json(msg="state=present needs ip")
    if not params["name"]:
        module.fail_json(msg="name needs at least one host name")
    given = params["path"]
    path = system_hosts_path() if given is None else given
    result = dict(changed=False, path=path)
    for attempt in range(1, ATTEMPTS + 1):
        before = read_text(path)
        hosts = quendral_hosts.HostsFile(given)
        hosts.load()
        records = apply(hosts, params)
        changed = hosts.modified
        after = before
        if changed and module.check_mode:
            changed, records, after = preview(path, params)
        elif changed:
            # Each attempt backs up the file its save would replace.
            if params["backup"]:
                backup = write_backup(path, result.get("backup_file"))
                if backup is not None:
                    result["backup_file"] = backup
            try:
                hosts.save()
            except quendral_hosts.HostsChangedError:
                if attempt == ATTEMPTS:
                    raise
                continue
            after = read_text(path)
        break
    result.update(changed=changed, records=records)
    if module._diff:
        result["diff"] = dict(before=before, after=after, before_header=path, after_header=path)
    if changed and params["flush"] and not module.check_mode:
        try:
            note = quendral_hosts.flush_dns()
        except quendral_hosts.HostsError as exc:
            result["msg"] = "saved, but the DNS flush failed: %s" % exc
            module.fail_json(**result)
        if note:
            result["flush_note"] = note
    module.exit_json(**result)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            name=dict(type="list", elements="str", required=True),
            ip=dict(type="str"),
            state=dict(type="str", choices=["present", "absent", "disabled"], default="present"),
            comment=dict(type="str"),
            path=dict(type="path"),
            backup=dict(type="bool", default=False),
            flush=dict(type="bool", default=False),
        ),
        supports_check_mode=True,
    )
    if quendral_hosts is None:
        module.fail_json(
            msg=missing_required_lib(
                "quendral_hosts",
                reason="to edit the hosts file; install the quendral-hosts wheel on the managed "
                       "host with ansible.builtin.pip"),
            exception=IMPORT_ERROR)
    try:
        run(module)
    except (quendral_hosts.HostsError, OSError, TypeError) as exc:
        module.fail_json(msg=str(exc))


if __name__ == "__main__":
    main()
