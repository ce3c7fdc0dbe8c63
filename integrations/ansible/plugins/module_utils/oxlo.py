# Shared by the oxlo.gateway modules: running the oxlo program and reading
# what it prints.
# Copyright (C) 2026 OxloConfig developers. All rights reserved (see LICENSE).

import json
import os
import re

# Options every module takes.
COMMON_OPTIONS = dict(
    oxlo=dict(type='str', default='oxlo'),
)

_MAC = re.compile(r'^[0-9A-Fa-f]{2}([-:][0-9A-Fa-f]{2}){5}$')


def normal_mac(module, text):
    """The MAC as oxlo prints it (02-00-00-00-00-01), or a module failure."""
    text = text.strip()
    if not _MAC.match(text):
        module.fail_json(msg="mac: '%s' is not a MAC address (like 02-00-00-00-00-01)" % text)
    return text.upper().replace(':', '-')


def seconds(option, value):
    """The argument pair for a timeout option, or nothing when not given."""
    return [] if value is None else [option, '%g' % value]


def run_oxlo(module, args):
    """Runs oxlo with ARGS (no shell); returns (rc, stdout, stderr)."""
    program = module.params['oxlo']
    if os.sep in program:
        if not (os.path.isfile(program) and os.access(program, os.X_OK)):
            module.fail_json(msg='oxlo: %s is not an executable program' % program)
    else:
        program = module.get_bin_path(program, required=True)
    return module.run_command([program] + [str(a) for a in args])


def fail_oxlo(module, rc, stdout, stderr, **result):
    """Fails with oxlo's own message, which names what it refused."""
    msg = stderr.strip() or 'oxlo exited with status %d and said nothing' % rc
    module.fail_json(msg=msg, rc=rc, stdout=stdout, stderr=stderr, **result)


def parse_json(text, kind):
    """TEXT as JSON if it is of KIND (list or dict), else None."""
    try:
        value = json.loads(text)
    except ValueError:
        return None
    return value if isinstance(value, kind) else None


def fail_unparsable(module, text, what):
    shown = text.strip()
    if len(shown) > 200:
        shown = shown[:200] + '...'
    module.fail_json(msg='oxlo printed no %s: %r' % (what, shown), stdout=text)
