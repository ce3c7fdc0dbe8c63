# Ansible runs it with the target's Python (interpreter discovery), so it has no #! line.
# Copyright (C) 2026 OxloConfig developers. All rights reserved (see LICENSE).

DOCUMENTATION = r'''
module: oxlo_address
short_description: Give an Oxlo gateway its IPv4 address, mask, gateway and name
description:
  - Searches with C(oxlo discover --json), finds the device by its MAC and
    compares its address, mask, gateway and name with the ones wanted.
  - When they differ, runs C(oxlo assign MAC --ip ... --mask ... --gateway ... --verify),
    which searches again and fails unless the device answers at the new address.
  - oxlo refuses an address this host or another device found already holds;
    the module then fails with oxlo's message and nothing is sent.
author: OxloConfig developers
options:
  mac:
    description: MAC address of the device, like C(02-00-00-00-00-01) (colons are taken too).
    type: str
    required: true
  ip:
    description: The IPv4 address wanted; left out, the device keeps its own.
    type: str
  mask:
    description: The subnet mask wanted; left out, the device keeps its own.
    type: str
  gateway:
    description: The gateway wanted; left out, the device keeps its own.
    type: str
  name:
    description: The device name wanted, 1 to 32 bytes in UTF-8; left out, the device keeps its own.
    type: str
  interface:
    description:
      - Search on this network interface only, like C(eth0).
      - The assignment itself goes out on every interface, as C(oxlo assign) sends it.
    type: str
  timeout:
    description: Seconds to collect replies to each search (oxlo's default is 3).
    type: float
  oxlo:
    description: Path of the oxlo program, or its name to look up on PATH.
    type: str
    default: oxlo
attributes:
  check_mode:
    description: Searches and reports what would change; sends no assignment.
    support: full
  diff_mode:
    description: Shows the address, mask, gateway and name before and after.
    support: full
notes:
  - Only one oxlo program at a time can use a host's UDP port 2057.
'''

EXAMPLES = r'''
- name: Address the press hall gateway
  oxlo.gateway.oxlo_address:
    mac: 02-00-5E-00-01-01
    ip: 10.57.0.101
    mask: 255.255.255.0
    gateway: 10.57.0.1
    name: Press hall
    timeout: 1
'''

RETURN = r'''
device:
  description: The device as C(oxlo discover --json) listed it before any change.
  returned: always
  type: dict
  sample: {mac: 02-00-5E-00-01-01, name: Oxlo-1, ip: 10.57.0.50, mask: 255.255.255.0, gateway: 10.57.0.1}
address:
  description: The address, mask, gateway and name the device has (or would have in check mode).
  returned: always
  type: dict
  sample: {ip: 10.57.0.101, mask: 255.255.255.0, gateway: 10.57.0.1, name: Press hall}
stdout:
  description: What C(oxlo assign --json) printed, the address sent and whether the device took it.
  returned: when an assignment was sent
  type: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.oxlo.gateway.plugins.module_utils.oxlo import (
    COMMON_OPTIONS, fail_oxlo, fail_unparsable, normal_mac, parse_json, run_oxlo, seconds)

FIELDS = ('ip', 'mask', 'gateway', 'name')


def canonical_address(module, option, text):
    """TEXT as oxlo prints addresses (no zero padding), or a module failure."""
    parts = text.strip().split('.')
    if len(parts) != 4 or not all(p.isdigit() and p.isascii() and int(p) <= 255 for p in parts):
        module.fail_json(msg="%s: '%s' is not an IPv4 address (four numbers 0-255)" % (option, text))
    return '.'.join(str(int(p)) for p in parts)


def as_text(values):
    return ''.join('%s: %s\n' % (field, values[field]) for field in FIELDS)


def main():
    options = dict(
        mac=dict(type='str', required=True),
        ip=dict(type='str'),
        mask=dict(type='str'),
        gateway=dict(type='str'),
        name=dict(type='str'),
        interface=dict(type='str'),
        timeout=dict(type='float'),
        **COMMON_OPTIONS
    )
    module = AnsibleModule(options, supports_check_mode=True)
    p = module.params
    mac = normal_mac(module, p['mac'])
    wanted = {}
    for field in ('ip', 'mask', 'gateway'):
        if p[field] is not None:
            wanted[field] = canonical_address(module, field, p[field])
    if p['name'] is not None:
        # A longer name would be cut short and never match.
        if not 1 <= len(p['name'].encode('utf-8')) <= 32:
            module.fail_json(msg='name: %r is not 1 to 32 bytes in UTF-8' % p['name'])
        wanted['name'] = p['name']

    args = ['discover', '--json']
    if p['interface']:
        args += ['--interface', p['interface']]
    args += seconds('--timeout', p['timeout'])
    rc, stdout, stderr = run_oxlo(module, args)
    if rc != 0:
        fail_oxlo(module, rc, stdout, stderr)
    devices = parse_json(stdout, list)
    if devices is None:
        fail_unparsable(module, stdout, 'list of devices')
    device = next((d for d in devices if isinstance(d, dict) and d.get('mac') == mac), None)
    if device is None:
        module.fail_json(msg='%s did not answer the search (%d other devices did)' % (mac, len(devices)))

    before = dict((field, device.get(field)) for field in FIELDS)
    after = dict(before, **wanted)
    result = dict(changed=before != after, device=device, address=after)
    if module._diff:
        result['diff'] = dict(before=as_text(before), after=as_text(after),
                              before_header=mac, after_header=mac)
    if not result['changed'] or module.check_mode:
        module.exit_json(**result)

    args = ['assign', mac, '--ip', after['ip'], '--mask', after['mask'],
            '--gateway', after['gateway'], '--verify', '--json']
    if 'name' in wanted:
        args += ['--name', wanted['name']]
    args += seconds('--timeout', p['timeout'])
    rc, stdout, stderr = run_oxlo(module, args)
    # One document once the message went: a refused address sends nothing
    # and prints none; a failed check may leave the device changed.
    sent = parse_json(stdout, dict)
    if rc != 0:
        fail_oxlo(module, rc, stdout, stderr, changed=bool(sent and 'sent' in sent))
    module.exit_json(stdout=stdout, **result)


if __name__ == '__main__':
    main()
