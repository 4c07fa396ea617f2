#!/usr/bin/python3
"""alloc_sweep.py ORVANHOST MODULE FAILING_NEW_SO SOURCE_DIR WORKDIR

Runs sweep.s through orvanhost once for every allocation a full run makes, the
N-th allocation failing in run N (failing_new.so, preloaded). No run may
abort, crash or hang: each exits 0 with every line done and nothing on
standard error, or 1 with a one-line message. Once the script runs, that
message is "sweep.s:N: out of memory", N the line the run stopped in (the
first line whose "@N" it did not show).
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


def run(orvanhost, module, script, cwd, env, out=None):
    try:
        p = subprocess.run([orvanhost, '--module', module, script], cwd=cwd, env=env,
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
    orvanhost, module, preload, source, work = sys.argv[1:6]
    for b in (orvanhost, module):
        if sanitized(b):
            print('skipped: %s is built with a sanitizer, whose allocator a preloaded '
                  'operator new conflicts with' % os.path.basename(b))
            return SKIP
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    script = os.path.join(source, 'sweep.s')
    status, err = run(orvanhost, module, os.path.join(source, 'make_pattern.s'), work, None)
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
    status, err = run(orvanhost, module, script, prepared('full'),
                      dict(env, ORVAN_ALLOC_COUNT=count_file), out)
    # Every step must do its work in the full run, or the sweep misses it.
    with open(script) as f:
        lines = [n for n, text in enumerate(f, 1) if re.search(r'Result\("@%d\\n"\);$' % n, text.rstrip())]
    done = [int(n) for n in re.findall(r'@(\d+)\n', out[0])]
    if (status != 0 or err or done != lines or
            not re.search(r'^centre 3[12]\.\d+ 3[12]\.\d+ ring 16$', out[0], re.M)):
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
        out = []
        status, err = run(orvanhost, module, script, d, dict(env, ORVAN_FAIL_AT=str(n)), out)
        shutil.rmtree(d, ignore_errors=True)
        return n, status, err, [int(k) for k in re.findall(r'@(\d+)\n', out[0])] if out else []

    def fine(status, err, shown):
        message = err.strip().splitlines()
        if shown != lines[:len(shown)]:
            return False
        if status == 0:
            return not message and shown == lines
        if status != 1 or len(message) != 1:
            return False
        if 0 < len(shown) < len(lines):
            return message[0] == '%s:%d: out of memory' % (script, lines[len(shown)])
        # Before the first line (reading, parsing, loading the module) and
        # after the last (shutting down) the line may be any or none; the
        # module's host errors keep their text.
        return message[0].endswith(': out of memory') or ': host error ' in message[0]

    bad = []
    ended = {0: 0, 1: 0}
    with concurrent.futures.ThreadPoolExecutor(len(os.sched_getaffinity(0))) as pool:
        for n, status, err, shown in pool.map(one, range(1, total + 1)):
            if fine(status, err, shown):
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
