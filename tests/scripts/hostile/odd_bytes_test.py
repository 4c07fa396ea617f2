#!/usr/bin/python3
"""odd_bytes_test.py ORVANHOST MODULE WORKDIR

Scripts with bytes an editor or a careless generator leaves: lone CR line
ends run line by line (a // comment ends with its line, not the file), CR LF
counts as one line end, an image whose writer broke its chain of
directories is read with a line in the Results window that says so, a
zero byte in an error is shown as text, and a zero byte in a file name is
refused by OpenImage and SaveImage instead of cutting the name short.
"""
import os
import shutil
import struct
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
    expect(orvanhost, module, work, 'cr_lf_line.s', b'// one\r\nnumber x = 2;\r\nResult(;\r\n', 1, b'',
           b"cr_lf_line.s:3: expected an expression, found ';'\n")
    expect(orvanhost, module, work, 'zero_escape.s', b'Result("a\\\x00");\n', 1, b'',
           b"zero_escape.s:1: unknown escape '\\' followed by byte 0x00 in string\n")

    # A 2 x 1 image whose pointer to a next directory leads past the file's end.
    entries = [(256, 4, 2), (257, 4, 1), (258, 3, 8), (262, 3, 1), (273, 4, 8 + 2 + 8 * 12 + 4), (277, 3, 1),
               (278, 4, 1), (279, 4, 2)]
    tiff = b'II*\x00' + struct.pack('<IH', 8, len(entries))
    tiff += b''.join(struct.pack('<HHII', t, k, 1, v) if k == 4 else struct.pack('<HHIHH', t, k, 1, v, 0)
                     for t, k, v in entries)
    with open(os.path.join(work, 'chain.tif'), 'wb') as f:
        f.write(tiff + struct.pack('<I', 1 << 20) + b'\x05\x06')
    expect(orvanhost, module, work, 'chain.s',
           b'image a := OpenImage("chain.tif");\nResult("read " + GetPixel(a, 1, 0) + "\\n");\n', 0,
           b'image file "chain.tif" read, but its chain of directories is broken after directory 1: the next one '
           b'would start past the end of the file\nread 6\n', b'')

    made = b'image a := RealImage("a", 4, 2, 2);\nSaveImage(a, "a.tif");\n'
    expect(orvanhost, module, work, 'open.s', made + b'image b := OpenImage("a.tif\x00.x");\n', 1, b'',
           b'open.s:3: OpenImage: the file name holds a zero byte\n')
    expect(orvanhost, module, work, 'save.s', made + b'SaveImage(a, "b.tif\x00.x");\n', 1, b'',
           b'save.s:3: SaveImage: the file name holds a zero byte\n')
    check(not os.path.exists(os.path.join(work, 'b.tif')), 'SaveImage wrote the name cut at its zero byte')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
