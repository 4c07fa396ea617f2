#!/usr/bin/python3
"""stress_footprint.py ORVANHOST MODULE SCRIPT WORKDIR

Runs the many-calls script and reads the host's resident memory at each
"checkpoint N" line the script shows. After the first checkpoint (a quarter
of the rounds, when every function has run many times) the footprint must
stay steady: the last reading may exceed the first by at most 5 MB plus 5 %,
while a leak of one image, string or matrix per call would grow it by the
rounds times their size. The run must also succeed (under the sanitizers:
without a leak report).
"""
import os
import shutil
import subprocess
import sys

GRACE_BYTES = 5 * 1024 * 1024
GRACE_SHARE = 0.05


def resident_bytes(pid):
    """None once the process has ended: the last checkpoint line can reach
    us after it exited, when /proc shows a zombie without memory."""
    try:
        with open('/proc/%d/status' % pid) as f:
            for line in f:
                if line.startswith('VmRSS:'):
                    return int(line.split()[1]) * 1024
    except FileNotFoundError:
        pass
    return None


def main():
    orvanhost, module, script, work = sys.argv[1:5]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    env = dict(os.environ)
    # The sanitizer's quarantine of freed memory would otherwise grow the
    # footprint for a long while by itself.
    asan = env.get('ASAN_OPTIONS', '')
    env['ASAN_OPTIONS'] = (asan + ':' if asan else '') + 'quarantine_size_mb=4'
    proc = subprocess.Popen([orvanhost, '--module', module, script], cwd=work, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    readings = []
    for line in proc.stdout:
        if line.startswith('checkpoint '):
            rss = resident_bytes(proc.pid)
            if rss is not None:
                readings.append((line.strip(), rss))
    err = proc.stderr.read()
    status = proc.wait()
    for name, rss in readings:
        print('%-20s %8.1f MB' % (name, rss / 1048576.0))
    if status != 0:
        print('orvanhost exited with status %d\n%s' % (status, err))
        return 1
    if len(readings) < 2:
        print('fewer than two checkpoints')
        return 1
    first, last = readings[0][1], readings[-1][1]
    allowed = first + GRACE_BYTES + GRACE_SHARE * first
    if last > allowed:
        print('footprint grew from %.1f MB to %.1f MB (allowed %.1f MB)'
              % (first / 1048576.0, last / 1048576.0, allowed / 1048576.0))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
