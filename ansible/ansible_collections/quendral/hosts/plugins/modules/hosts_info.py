#!/usr/bin/python
# Copyright (c) 2026 The quendral-hosts developers
# MIT License (see LICENSE in the quendral-hosts repository)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: hosts_info
short_description: The records of the hosts file, as data
description:
  - Reads the hosts file through the quendral-hosts Python package
    (C(quendral_hosts)) on the managed host and returns its records,
    enabled and commented, in file order. Never writes.
version_added: "1.0.0"
author: The quendral-hosts developers
requirements:
  - the quendral_hosts Python package on the managed host (install its wheel
    with ansible.builtin.pip)
options:
  name:
    description: Only the records of these host names (compared ignoring ASCII case).
    type: list
    elements: str
  ip:
    description: Only the records at this address (compared by value).
    type: str
  path:
    description: The hosts file; by default the system's.
    type: path
attributes:
  check_mode:
    support: full
"""

EXAMPLES = r"""
- name: what the fleet's hosts files say about dev.lan
  quendral.hosts.hosts_info:
    name: dev.lan
  register: dev

- ansible.builtin.debug:
    msg: "{{ dev.records | selectattr('enabled') | map(attribute='ip') | list }}"
"""

RETURN = r"""
records:
  description: The records chosen, in file order.
  returned: always
  type: list
  elements: dict
  contains:
    index: {description: The record's place in the file, from 0., type: int}
    ip: {description: The address., type: str}
    name: {description: The host name., type: str}
    enabled: {description: False for a commented entry., type: bool}
    comment: {description: The comment, or an empty text., type: str}
"""

import traceback

from ansible.module_utils.basic import AnsibleModule, missing_required_lib

try:
    import quendral_hosts
except ImportError:
    quendral_hosts = None
    IMPORT_ERROR = traceback.format_exc()
else:
    IMPORT_ERROR = None


def main():
    module = AnsibleModule(
        argument_spec=dict(
            name=dict(type="list", elements="str"),
            ip=dict(type="str"),
            path=dict(type="path"),
        ),
        supports_check_mode=True,
    )
    if quendral_hosts is None:
        module.fail_json(
            msg=missing_required_lib(
                "quendral_hosts",
                reason="to read the hosts file; install the quendral-hosts wheel on the managed "
                       "host with ansible.builtin.pip"),
            exception=IMPORT_ERROR)
    names, ip = module.params["name"], module.params["ip"]
    try:
        hosts = quendral_hosts.HostsFile(module.params["path"])
        hosts.load()
        if names:
            chosen = {}
            for name in names:
                for record in hosts.find(name=name, address=ip):
                    chosen[record.index] = record
            records = [chosen[index] for index in sorted(chosen)]
        elif ip is not None:
            records = hosts.find(address=ip)
        else:
            records = hosts.records()
    except (quendral_hosts.HostsError, OSError, TypeError) as exc:
        module.fail_json(msg=str(exc))
    module.exit_json(changed=False, records=[
        dict(index=r.index, ip=r.ip, name=r.name, enabled=r.enabled, comment=r.comment)
        for r in records])


if __name__ == "__main__":
    main()
