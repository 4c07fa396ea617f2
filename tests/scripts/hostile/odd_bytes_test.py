#!/usr/bin/python3
"""odd_bytes_test.py ORVANHOST MODULE WORKDIR

Scripts with bytes an editor or a careless generator leaves: lone CR line
ends run line by line (a // comment ends with its line, not the file), a
zero byte in an error is shown as text, and a zero byte in a file name is
refused by OpenImage and SaveImage instead of cutting the name short.
"""
import os
import shutil
import subprocess
import sys

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAILED: ' + what)


def run(orvanhost, module, work, name, source):
    with open(os.path.join(work, name), 'wb') as f:
        f.write(source)
    p = subprocess.run([orvanhost, '--module', module, name], cwd=work, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=120)
    return p.returncode, p.stdout, p.stderr


def expect(orvanhost, module, work, name, source, status, out, err):
    got = run(orvanhost, module, work, name, source)
    check(got == (status, out, err), '%s: %r, expected %r' % (name, got, (status, out, err)))


def main():
    orvanhost, module, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    expect(orvanhost, module, work, 'lone_cr.s',
           b'// made on an old Mac\rResult("first\\n");\rnumber x = 2;\r/* two\rlines */\r'
           b'Result("x is " + x + "\\n");\r\n', 0, b'first\nx is 2\n', b'')
    expect(orvanhost, module, work, 'lone_cr_line.s', b'// one\r/* two\r three */\rResult(;\r', 1, b'',
           b"lone_cr_line.s:4: expected an expression, found ';'\n")
    expect(orvanhost, module, work, 'zero_escape.s', b'Result("a\\\x00");\n', 1, b'',
           b"zero_escape.s:1: unknown escape '\\' followed by byte 0x00 in string\n")

    made = b'image a := RealImage("a", 4, 2, 2);\nSaveImage(a, "a.tif");\n'
    expect(orvanhost, module, work, 'open.s', made + b'image b := OpenImage("a.tif\x00.x");\n', 1, b'',
           b'open.s:3: OpenImage: the file name holds a zero byte\n')
    expect(orvanhost, module, work, 'save.s', made + b'SaveImage(a, "b.tif\x00.x");\n', 1, b'',
           b'save.s:3: SaveImage: the file name holds a zero byte\n')
    check(not os.path.exists(os.path.join(work, 'b.tif')), 'SaveImage wrote the name cut at its zero byte')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
