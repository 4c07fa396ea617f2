#!/usr/bin/python3
"""script_reading_test.py ORVANHOST MODULE FAILING_READ_SO WORKDIR

A script orvanhost cannot read (a folder, a missing file, one it may not read,
a read error at once or midway) ends with "SCRIPT: cannot read the
script: CAUSE" and status 1, and none of it runs. Under a file size limit
orvanhost is not killed: a Results text or an image beyond the limit fails the
run with status 1, a workbook export is refused, and no file is left behind.
"""
import os
import resource
import shutil
import subprocess
import sys

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAILED: ' + what)


def run(orvanhost, module, script, cwd, env=None, user=None, file_limit=None):
    def limit():
        if file_limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))
    p = subprocess.run([orvanhost, '--module', module, script], cwd=cwd, env=env, user=user,
                       preexec_fn=limit, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return p.returncode, p.stdout.decode('utf-8', 'replace'), p.stderr.decode('utf-8', 'replace')


def expect_unreadable(orvanhost, module, script, cwd, cause, env=None, user=None):
    status, out, err = run(orvanhost, module, script, cwd, env=env, user=user)
    check(status == 1, '%s: exit status %d, not 1' % (script, status))
    check(err == '%s: cannot read the script: %s\n' % (script, cause), '%s: standard error %r' % (script, err))
    check(out == '', '%s: some of the script ran: %r' % (script, out))


def sanitized(binary):
    with open(binary, 'rb') as f:
        return b'__asan_init' in f.read()


def main():
    orvanhost, module, failing_read, work = sys.argv[1:5]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    os.chmod(work, 0o755)
    script = os.path.join(work, 'script.s')
    with open(script, 'w') as f:
        f.write('Result("the first line ran\\n");\n' + '// a comment that makes the script longer\n' * 20 +
                'Result("the last line ran\\n");\n')

    # A folder, a file that is not there, a file whose first read fails.
    os.makedirs(os.path.join(work, 'folder.s'))
    expect_unreadable(orvanhost, module, 'folder.s', work, 'Is a directory')
    expect_unreadable(orvanhost, module, 'missing.s', work, 'No such file or directory')
    expect_unreadable(orvanhost, module, '/proc/self/mem', work, 'Input/output error')

    # A read that fails midway: what was read is not run either.
    env = dict(os.environ, LD_PRELOAD=failing_read, ORVAN_FAIL_READ_PATH=script)
    if sanitized(orvanhost):
        env['ASAN_OPTIONS'] = env.get('ASAN_OPTIONS', '') + ':verify_asan_link_order=0'
    expect_unreadable(orvanhost, module, script, work, 'Input/output error', env=dict(env, ORVAN_FAIL_READ_AFTER='40'))
    # The same file read whole through the same preloaded read runs.
    status, out, err = run(orvanhost, module, script, work, env=dict(env, ORVAN_FAIL_READ_AFTER='100000'))
    check(status == 0 and out == 'the first line ran\nthe last line ran\n', 'whole read: %d %r %r' % (status, out, err))

    # A file the user may not read. Root reads anything, so as root the
    # check runs as nobody, where the system lets it.
    private = os.path.join(work, 'private.s')
    shutil.copy(script, private)
    os.chmod(private, 0)
    if os.geteuid() != 0:
        expect_unreadable(orvanhost, module, private, work, 'Permission denied')
    else:
        try:
            status, _, _ = run(orvanhost, module, '--version', work, user='nobody')
        except (PermissionError, KeyError, OSError) as e:
            status = e
        if status == 0:
            expect_unreadable(orvanhost, module, private, work, 'Permission denied', user='nobody')
        else:
            print('skipped the unreadable file: orvanhost cannot run as nobody here (%s)' % status)

    # Beyond the file size limit: no signal ends orvanhost, each write that
    # does not fit is refused, and nothing is left behind.
    limited = os.path.join(work, 'limited')
    os.makedirs(limited)
    with open(os.path.join(limited, 'results.s'), 'w') as f:
        f.write('for (number i = 0; i < 1000; i = i + 1) Result("0123456789\\n");\n')
    with open(os.path.join(limited, 'save.s'), 'w') as f:
        f.write('image a := RealImage("a", 4, 300, 300);\n'
                'SaveImage(a, "image.tif");\n'
                'Result("saved\\n");\n')
    with open(os.path.join(limited, 'export.s'), 'w') as f:
        f.write('image a := RealImage("a", 4, 200, 200);\n'
                'saveimageasxls(a, "book.xls", "x", "t", "s");\n'
                'Result("went on\\n");\n')
    scripts = sorted(os.listdir(limited))
    out_path = os.path.join(limited, 'results.txt')
    with open(out_path, 'w') as results:
        p = subprocess.run([orvanhost, '--module', module, 'results.s'], cwd=limited, stdout=results,
                           stderr=subprocess.PIPE, timeout=120,
                           preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096)))
    err = p.stderr.decode('utf-8', 'replace')
    check(p.returncode == 1, 'Results beyond the limit: exit status %d, not 1' % p.returncode)
    check(err == 'results.s: cannot write the Results window: File too large\n', 'Results beyond the limit: %r' % err)
    os.remove(out_path)

    status, out, err = run(orvanhost, module, 'save.s', limited, file_limit=100000)
    check(status == 1, 'SaveImage beyond the limit: exit status %d, not 1' % status)
    check(err.startswith('save.s:2: ') and err.count('\n') == 1, 'SaveImage beyond the limit: %r' % err)
    check(out == '', 'SaveImage beyond the limit: the script went on: %r' % out)

    status, out, err = run(orvanhost, module, 'export.s', limited, file_limit=20000)
    check(status == 0, 'export beyond the limit: exit status %d, not 0 (%r)' % (status, err))
    check(out.startswith('exception caught: saveimageasxls: ') and out.endswith('went on\n'),
          'export beyond the limit: %r' % out)
    check(sorted(os.listdir(limited)) == scripts, 'left behind: %s' % sorted(set(os.listdir(limited)) - set(scripts)))

    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
