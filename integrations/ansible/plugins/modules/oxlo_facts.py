# Ansible runs it with the target's Python (interpreter discovery), so it has no #! line.
# Copyright (C) 2026 OxloConfig developers. All rights reserved (see LICENSE).

DOCUMENTATION = r'''
module: oxlo_facts
short_description: Find the Oxlo gateways of a network segment and read their settings
description:
  - Runs C(oxlo fleet inventory --json) on the managed host and returns every
    device that answered, with its settings, as the fact C(oxlo_devices).
  - Discovery is by broadcast, so only the segments the host is on are searched.
  - A device that answered the search but not the read requests is listed with
    C(settings) null and its C(error); the module warns about it.
author: OxloConfig developers
options:
  oxlo:
    description: Path of the oxlo program, or its name to look up on PATH.
    type: str
    default: oxlo
  interface:
    description: Search on this network interface only, like C(eth0).
    type: str
  search_timeout:
    description: Seconds to collect replies to the search (oxlo's default is 3).
    type: float
  timeout:
    description: Seconds to wait for a device's replies to the read requests (oxlo's default is 2).
    type: float
attributes:
  check_mode:
    description: Reads only, so it runs in check mode too.
    support: full
  diff_mode:
    description: Changes nothing, so there is no difference to show.
    support: none
notes:
  - Only one oxlo program at a time can use a host's UDP port 2057.
'''

EXAMPLES = r'''
- name: Read every gateway of the segment
  oxlo.gateway.oxlo_facts:
    search_timeout: 2

- name: Show them
  ansible.builtin.debug:
    msg: "{{ item.mac }} {{ item.name }} {{ item.ip }}"
  loop: "{{ ansible_facts.oxlo_devices }}"
'''

RETURN = r'''
ansible_facts:
  description: The facts found.
  returned: always
  type: dict
  contains:
    oxlo_devices:
      description:
        - One entry per device, as C(oxlo fleet inventory --json) prints it.
        - C(settings) is a settings document (network, port, can, filters) or
          null when it could not be read; C(error) says why.
      type: list
      elements: dict
      sample:
        - mac: 02-00-00-00-00-01
          model: Oxlo CG-100
          version: 1.0.1
          name: Oxlo-1
          ip: 10.57.0.101
          mask: 255.255.255.0
          gateway: 10.57.0.1
          settings: {port: {mode: TCP_Server, local_port: 4001}, can: {bitrate_kbps: 500}}
          error: null
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.oxlo.gateway.plugins.module_utils.oxlo import (
    COMMON_OPTIONS, fail_oxlo, fail_unparsable, parse_json, run_oxlo, seconds)


def main():
    options = dict(
        interface=dict(type='str'),
        search_timeout=dict(type='float'),
        timeout=dict(type='float'),
        **COMMON_OPTIONS
    )
    module = AnsibleModule(options, supports_check_mode=True)
    p = module.params

    args = ['fleet', 'inventory', '--json']
    if p['interface']:
        args += ['--interface', p['interface']]
    args += seconds('--search-timeout', p['search_timeout']) + seconds('--timeout', p['timeout'])
    rc, stdout, stderr = run_oxlo(module, args)

    devices = parse_json(stdout, list)
    # Status 1 with a list: some device was found but not read.
    if rc != 0 and (rc != 1 or devices is None):
        fail_oxlo(module, rc, stdout, stderr)
    if devices is None:
        fail_unparsable(module, stdout, 'list of devices')
    for line in stderr.splitlines():
        if line.strip():
            module.warn(line.strip())
    module.exit_json(changed=False, ansible_facts=dict(oxlo_devices=devices))


if __name__ == '__main__':
    main()
