# Ansible runs it with the target's Python (interpreter discovery), so it has no #! line.
# Copyright (C) 2026 OxloConfig developers. All rights reserved (see LICENSE).

DOCUMENTATION = r'''
module: oxlo_config
short_description: Bring an Oxlo gateway to the given settings
description:
  - Writes I(settings) into a temporary JSON file and runs
    C(oxlo config apply MAC FILE --json), which reads the device, sends only
    the groups that differ and the apply command, and reads the device back.
  - In check mode C(--dry-run) is added; the device is read and nothing is sent.
  - "oxlo checks every value before anything is sent; a bad one fails the task
    with oxlo's message naming the key, like C(can.id: Please Check CAN ID Fomat)."
author: OxloConfig developers
options:
  mac:
    description: MAC address of the device, like C(02-00-00-00-00-01) (colons are taken too).
    type: str
    required: true
  settings:
    description:
      - A whole or partial settings document, keys as C(oxlo config get --json)
        prints them (see docs/settings.schema.json of OxloConfig).
      - What it leaves out stays as the device holds it.
    type: dict
    required: true
  timeout:
    description: Seconds to wait for the read replies (oxlo's default is 2).
    type: float
  ack_timeout:
    description: Seconds to wait for the acknowledgement of the apply command (oxlo's default is 5).
    type: float
  oxlo:
    description: Path of the oxlo program, or its name to look up on PATH.
    type: str
    default: oxlo
attributes:
  check_mode:
    description: Reads the device and reports what would change; sends nothing.
    support: full
  diff_mode:
    description: Shows each setting that differs, before and after.
    support: full
notes:
  - Only one oxlo program at a time can use a host's UDP port 2057.
'''

EXAMPLES = r'''
- name: Port and CAN settings of the press hall gateway
  oxlo.gateway.oxlo_config:
    mac: 02-00-5E-00-01-01
    settings:
      port: {mode: TCP_Server, local_port: 4001}
      can: {bitrate_kbps: 250, id_format: 11-bit}
      filters:
        - {group: 1, slot: 1, type: Standard, id: "7FF"}
'''

RETURN = r'''
changes:
  description: Each setting that differed, as oxlo reported it.
  returned: always
  type: list
  elements: dict
  sample: [{key: port.local_port, before: 4001, after: 4101}]
verified:
  description: Whether the device was read back holding the settings (true when nothing was sent).
  returned: always
  type: bool
mac:
  description: The device, as oxlo writes MACs.
  returned: always
  type: str
  sample: 02-00-5E-00-01-01
'''

import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.oxlo.gateway.plugins.module_utils.oxlo import (
    COMMON_OPTIONS, fail_oxlo, fail_unparsable, normal_mac, parse_json, run_oxlo, seconds)


def as_text(changes, side):
    return ''.join('%s: %s\n' % (c.get('key'), json.dumps(c.get(side), ensure_ascii=False))
                   for c in changes)


def main():
    options = dict(
        mac=dict(type='str', required=True),
        settings=dict(type='dict', required=True),
        timeout=dict(type='float'),
        ack_timeout=dict(type='float'),
        **COMMON_OPTIONS
    )
    module = AnsibleModule(options, supports_check_mode=True)
    p = module.params
    mac = normal_mac(module, p['mac'])

    fd, path = tempfile.mkstemp(suffix='.json', dir=module.tmpdir)
    with os.fdopen(fd, 'w', encoding='utf-8') as f:
        json.dump(p['settings'], f, ensure_ascii=False)
    args = ['config', 'apply', mac, path, '--json']
    if module.check_mode:
        args.append('--dry-run')
    args += seconds('--timeout', p['timeout']) + seconds('--ack-timeout', p['ack_timeout'])
    rc, stdout, stderr = run_oxlo(module, args)

    report = parse_json(stdout, dict)
    if report is not None and not isinstance(report.get('diff'), list):
        report = None
    if rc != 0:
        # The report, when there is one, tells whether anything was written.
        written = bool(report and report.get('changed'))
        fail_oxlo(module, rc, stdout, stderr, changed=written,
                  changes=report['diff'] if report else [])
    if report is None:
        fail_unparsable(module, stdout, 'change report')

    changes = [c for c in report['diff'] if isinstance(c, dict)]
    changed = bool(changes) if module.check_mode else bool(report.get('changed'))
    result = dict(changed=changed, changes=changes, verified=bool(report.get('verified')), mac=mac)
    if module._diff:
        result['diff'] = dict(before=as_text(changes, 'before'), after=as_text(changes, 'after'),
                              before_header=mac, after_header=mac)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
