# Ansible runs it with the target's Python (interpreter discovery), so it has no #! line.
# Copyright (C) 2026 OxloConfig developers. All rights reserved (see LICENSE).

DOCUMENTATION = r'''
module: oxlo_firmware
short_description: Bring Oxlo gateways to a firmware version
description:
  - Runs C(oxlo fleet firmware INVENTORY IMAGE --version VERSION --json), which
    searches for the devices, uploads I(image) to each one that reports
    another version, and confirms each comes back reporting I(version).
  - The devices are named by I(macs), written into a temporary inventory, or
    by I(inventory), a file of C(oxlo fleet apply) (only each device's C(mac) is used).
  - Devices that already report I(version) are left alone, so a second run
    changes nothing.
  - The first I(canary) devices are upgraded and confirmed before any other
    starts; once I(max_failures) uploads failed no new one starts. The task
    fails naming every device that failed or was not started, and still
    returns I(devices).
  - In check mode C(--dry-run) is added; the devices are searched and no
    firmware message is sent.
author: OxloConfig developers
options:
  image:
    description: The firmware image on the managed host.
    type: path
    required: true
  version:
    description:
      - The version the image brings, as the devices report it once running it, like C(2.0.0).
      - Quote it in YAML, or C(2.10) is read as a number and becomes C(2.1).
    type: str
    required: true
  macs:
    description: MAC addresses of the devices, like C(02-00-00-00-00-01) (colons are taken too).
    type: list
    elements: str
  inventory:
    description: An inventory file of C(oxlo fleet apply) on the managed host, naming the devices.
    type: path
  model:
    description: Only devices reporting this model are upgraded; a device reporting another fails.
    type: str
  force:
    description: Upload to devices that already report I(version) too (the task is then never idempotent).
    type: bool
    default: false
  canary:
    description: How many devices are upgraded and confirmed before the others start (0 for none).
    type: int
    default: 1
  parallel:
    description: How many uploads run at once.
    type: int
    default: 16
  max_failures:
    description: No new upload starts once this many devices failed.
    type: int
    default: 1
  back_within:
    description: Seconds a device has to come back reporting I(version) after its upload, 1 to 3600 (oxlo's default is 180).
    type: int
  search_timeout:
    description: Seconds to collect replies to the search (oxlo's default is 3).
    type: float
  data_timeout:
    description: Milliseconds to wait for the reply to each data message (oxlo's default is 4000).
    type: int
  end_timeout:
    description: Milliseconds to wait for the reply to the end message (oxlo's default is 41000).
    type: int
  oxlo:
    description: Path of the oxlo program, or its name to look up on PATH.
    type: str
    default: oxlo
attributes:
  check_mode:
    description: Searches and reports which devices would be upgraded, in which order; sends no firmware.
    support: full
  diff_mode:
    description: Shows the version of each device that is (or would be) upgraded, before and after.
    support: full
notes:
  - Only one oxlo program at a time can use a host's UDP port 2057.
  - Give I(macs) or I(inventory), not both.
'''

EXAMPLES = r'''
- name: Firmware 2.0.0 for the press hall gateways
  oxlo.gateway.oxlo_firmware:
    image: /srv/firmware/cg-200-2.0.0.bin
    version: "2.0.0"
    model: Oxlo CG-200
    macs:
      - 02-00-5E-00-01-01
      - 02-00-5E-00-01-02

- name: Every gateway of the fleet file, two canaries, then 32 at once
  oxlo.gateway.oxlo_firmware:
    image: /srv/firmware/cg-200-2.0.0.bin
    version: "2.0.0"
    inventory: /etc/oxlo/fleet.yml
    canary: 2
    parallel: 32
    max_failures: 3
    back_within: 300
'''

RETURN = r'''
devices:
  description:
    - One entry per device, as C(oxlo fleet firmware --json) prints it.
    - C(result) is C(upgraded), C(unchanged), C(failed) or C(not_started);
      in check mode C(would_upgrade), C(unchanged) or C(failed), with
      C(canary) and C(order) (the place in which it would start).
  returned: when oxlo printed its report
  type: list
  elements: dict
  sample:
    - mac: 02-00-5E-00-01-01
      name: Press hall
      model: Oxlo CG-200
      version_before: 1.1.0
      version_after: 2.0.0
      result: upgraded
      reason: ""
      seconds: 14.2
summary:
  description: How many devices ended in each result.
  returned: when oxlo printed its report
  type: dict
  sample: {upgraded: 1, unchanged: 1, failed: 0, not_started: 0}
'''

import os
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.oxlo.gateway.plugins.module_utils.oxlo import (
    COMMON_OPTIONS, fail_oxlo, fail_unparsable, normal_mac, parse_json, run_oxlo, seconds)

WOULD = 'would_upgrade'


def write_inventory(module, macs):
    """A temporary inventory naming MACS, for oxlo fleet firmware."""
    fd, path = tempfile.mkstemp(suffix='.yml', dir=module.tmpdir)
    with os.fdopen(fd, 'w', encoding='utf-8') as f:
        f.write('devices:\n')
        for mac in macs:
            f.write('  - mac: "%s"\n' % mac)
    return path


def read_report(stdout):
    report = parse_json(stdout, dict)
    if report is None or not isinstance(report.get('devices'), list) \
            or not isinstance(report.get('summary'), dict):
        return None
    report['devices'] = [d for d in report['devices'] if isinstance(d, dict)]
    return report


def as_text(devices, side):
    return ''.join('%s: %s\n' % (d.get('mac'), d.get(side)) for d in devices)


def failure_message(devices):
    """Each device that failed or never started, with why."""
    failed = ['%s (%s)' % (d.get('mac'), d.get('reason') or 'no reason given')
              for d in devices if d.get('result') == 'failed']
    skipped = [str(d.get('mac')) for d in devices if d.get('result') == 'not_started']
    parts = []
    if failed:
        parts.append('failed: ' + '; '.join(failed))
    if skipped:
        parts.append('not started: ' + ', '.join(skipped))
    return 'firmware ' + '; '.join(parts) if parts else ''


def main():
    options = dict(
        image=dict(type='path', required=True),
        version=dict(type='str', required=True),
        macs=dict(type='list', elements='str'),
        inventory=dict(type='path'),
        model=dict(type='str'),
        force=dict(type='bool', default=False),
        canary=dict(type='int', default=1),
        parallel=dict(type='int', default=16),
        max_failures=dict(type='int', default=1),
        back_within=dict(type='int'),
        search_timeout=dict(type='float'),
        data_timeout=dict(type='int'),
        end_timeout=dict(type='int'),
        **COMMON_OPTIONS
    )
    module = AnsibleModule(options, supports_check_mode=True,
                           mutually_exclusive=[('macs', 'inventory')],
                           required_one_of=[('macs', 'inventory')])
    p = module.params

    if p['inventory'] is not None:
        inventory = p['inventory']
    else:
        macs = [normal_mac(module, m) for m in p['macs']]
        if not macs:
            module.fail_json(msg='macs: the list is empty')
        inventory = write_inventory(module, macs)

    args = ['fleet', 'firmware', inventory, p['image'], '--version', p['version'], '--json']
    args += ['--canary', p['canary'], '--parallel', p['parallel'], '--max-failures', p['max_failures']]
    if p['model'] is not None:
        args += ['--model', p['model']]
    if p['force']:
        args.append('--force')
    args += seconds('--search-timeout', p['search_timeout'])
    for option in ('back_within', 'data_timeout', 'end_timeout'):
        if p[option] is not None:
            args += ['--' + option.replace('_', '-'), p[option]]
    if module.check_mode:
        args.append('--dry-run')
    rc, stdout, stderr = run_oxlo(module, args)

    # 2: a bad inventory, image or option, refused before anything was sent.
    report = read_report(stdout) if rc in (0, 1) else None
    if report is None:
        if rc != 0:
            fail_oxlo(module, rc, stdout, stderr)
        fail_unparsable(module, stdout, 'firmware report')

    devices = report['devices']
    upgrading = WOULD if module.check_mode else 'upgraded'
    moved = [d for d in devices if d.get('result') == upgrading]
    result = dict(changed=bool(moved), devices=devices, summary=report['summary'])
    if module._diff:
        after = [dict(d, version_after=p['version']) for d in moved] if module.check_mode else moved
        result['diff'] = dict(before=as_text(moved, 'version_before'),
                              after=as_text(after, 'version_after'))
    if rc != 0:
        msg = failure_message(devices) or stderr.strip() or 'oxlo exited with status %d' % rc
        module.fail_json(msg=msg, rc=rc, stderr=stderr, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
