#!/usr/bin/python3
"""alloc_sweep.py DMHOST MODULE FAILING_NEW_SO SOURCE_DIR WORKDIR

Runs sweep.s through dmhost once for every allocation a full run makes, the
N-th allocation failing in run N (failing_new.so, preloaded). No run may
abort, crash or hang: each exits 0, or 1 with a one-line message on standard
error.
Skipped (exit 77) for a sanitizer build, whose allocator the preloaded one
would fight.
"""
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys

SKIP = 77


def sanitized(binary):
    with open(binary, 'rb') as f:
        data = f.read()
    return any(s in data for s in (b'__asan_init', b'__tsan_init', b'__msan_init'))


def run(dmhost, module, script, cwd, env, out=None):
    try:
        p = subprocess.run([dmhost, '--module', module, script], cwd=cwd, env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    except subprocess.TimeoutExpired:
        return None, 'no end within 120 s'
    if out is not None:
        out.append(p.stdout.decode('utf-8', 'replace'))
    return p.returncode, p.stderr.decode('utf-8', 'replace')


def ranges(numbers):
    out = []
    for n in numbers:
        if out and out[-1][1] == n - 1:
            out[-1][1] = n
        else:
            out.append([n, n])
    return ' '.join(str(a) if a == b else '%d-%d' % (a, b) for a, b in out)


def main():
    dmhost, module, preload, source, work = sys.argv[1:6]
    for b in (dmhost, module):
        if sanitized(b):
            print('skipped: %s is built with a sanitizer, whose allocator a preloaded '
                  'operator new conflicts with' % os.path.basename(b))
            return SKIP
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    script = os.path.join(source, 'sweep.s')
    status, err = run(dmhost, module, os.path.join(source, 'make_pattern.s'), work, None)
    if status != 0:
        print('the pattern was not made: %s %s' % (status, err))
        return 1
    pattern = os.path.join(work, 'pattern.tif')

    def prepared(name):
        d = os.path.join(work, name)
        os.makedirs(d, exist_ok=True)
        shutil.copy(pattern, d)
        return d

    env = dict(os.environ, LD_PRELOAD=preload)
    count_file = os.path.join(work, 'count')
    out = []
    status, err = run(dmhost, module, script, prepared('full'),
                      dict(env, ORVAN_ALLOC_COUNT=count_file), out)
    # Every step must do its work in the full run, or the sweep misses it.
    if status != 0 or not re.fullmatch(r'centre 3[12]\.\d+ 3[12]\.\d+ ring 16\n', out[0]):
        print('the full run failed: %s %s %s' % (status, out, err))
        return 1
    total = 0
    if os.path.exists(count_file):
        with open(count_file) as f:
            total = int(f.read())
    # A preload that replaced nothing would make this sweep empty.
    if total < 100:
        print('only %d allocations counted: is operator new replaced?' % total)
        return 1

    def one(n):
        d = prepared('run_%d' % n)
        status, err = run(dmhost, module, script, d, dict(env, ORVAN_FAIL_AT=str(n)))
        shutil.rmtree(d, ignore_errors=True)
        return n, status, err

    bad = []
    ended = {0: 0, 1: 0}
    with concurrent.futures.ThreadPoolExecutor(len(os.sched_getaffinity(0))) as pool:
        for n, status, err in pool.map(one, range(1, total + 1)):
            # A message is one line; the host names a lack of memory in its
            # own work "out of memory" (the module's host errors keep their text).
            lines = err.strip().splitlines()
            said = status == 1 and len(lines) == 1 and (
                'bad_alloc' not in lines[0] or ': host error ' in lines[0])
            if status == 0 or said:
                ended[status] += 1
            else:
                bad.append((n, status, err.strip().splitlines()[-1:] or ['(no message)']))
    print('%d runs: %d succeeded, %d failed with a message, %d bad' %
          (total, ended[0], ended[1], len(bad)))
    for n, status, last in bad[:10]:
        print('  allocation %d: exit %s: %s' % (n, status, last[0]))
    if bad:
        print('  failing allocations: ' + ranges([n for n, _, _ in bad]))
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())
