#!/usr/bin/python3
"""deep_scripts_test.py ORVANHOST MODULE WORKDIR

Scripts nested tens of thousands of levels deep (parentheses, signs, blocks,
if, for) are refused with "NAME:LINE: nested more than 1000 levels deep", the
line one that opens a level beyond the limit; scripts nested just inside the
limit run. Chains that read flat (a sum of 30000 terms, 10000 statements, a
loop of 10000 runs, an else-if ladder of 30000 rungs) run whatever their
length. Run under AddressSanitizer too, whose frames are larger.
"""
import os
import shutil
import subprocess
import sys

LIMIT = 1000
failures = []


def run(orvanhost, module, work, name, text):
    path = os.path.join(work, name + '.s')
    with open(path, 'w') as f:
        f.write(text)
    p = subprocess.run([orvanhost, '--module', module, name + '.s'], cwd=work,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    return p.returncode, p.stdout.decode('utf-8', 'replace'), p.stderr.decode('utf-8', 'replace')


def expect_output(orvanhost, module, work, name, text, wanted):
    status, out, err = run(orvanhost, module, work, name, text)
    if status != 0 or out != wanted:
        failures.append(name)
        print('FAILED %s: exit status %d, output %r, wanted %r; %s' % (name, status, out[:200], wanted[:200], err[:500]))


def expect_refused(orvanhost, module, work, name, text, lines):
    """The nesting is refused at one of `lines` (the levels opened there)."""
    status, out, err = run(orvanhost, module, work, name, text)
    prefix, _, rest = err.partition(':')
    line, _, message = rest.partition(': ')
    ok = (status == 1 and out == '' and prefix == name + '.s' and line.isdigit() and int(line) in lines and
          message == 'nested more than %d levels deep\n' % LIMIT)
    if not ok:
        failures.append(name)
        print('FAILED %s: exit status %d, standard error %r' % (name, status, err[:500]))


def main():
    orvanhost, module, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    deep = 30000
    head = '// two lines before\n\n'
    # One level opened per line from line 3 on: the refusal must name a line
    # near the limit, not the first or the last.
    near = range(3 + LIMIT - 20, 3 + LIMIT + 1)
    cases = [
        ('parentheses', head + 'number x = ' + '(\n' * deep + '1' + ')' * deep + ';\n'),
        ('nested_if', head + 'if (1)\n' * deep + 'Result("in");\n'),
        ('nested_for', head + 'for (; 0;)\n' * deep + ';\n'),
        ('nested_blocks', head + '{\n' * deep + '}' * deep + '\n'),
        ('nested_calls', head + 'Result(\n' * deep + '1' + ')' * deep + ';\n'),
    ]
    for name, text in cases:
        expect_refused(orvanhost, module, work, name, text, near)
    expect_refused(orvanhost, module, work, 'minus_signs', head + 'Result(' + '-' * 60000 + '1);\n', [3])

    # Just inside the limit, each kind of level runs and gives its value.
    inside = LIMIT - 10
    expect_output(orvanhost, module, work, 'parentheses_inside', 'Result(' + '(' * inside + '2' + ')' * inside + ');\n', '2')
    expect_output(orvanhost, module, work, 'minus_inside', 'Result(' + '-' * inside + '1);\n', '1')
    expect_output(orvanhost, module, work, 'minus_inside_odd', 'Result(' + '-' * (inside + 1) + '1);\n', '-1')
    expect_output(orvanhost, module, work, 'if_inside', 'if (1)\n' * inside + 'Result("in");\n', 'in')
    expect_output(orvanhost, module, work, 'blocks_inside',
                  ''.join('{ number v%d = %d;\n' % (i, i) for i in range(inside)) + 'Result(v0 + v%d);' %
                  (inside - 1) + '}' * inside + '\n', str(inside - 1))
    # Each loop runs once: 990 loops inside each other, the innermost counts.
    expect_output(orvanhost, module, work, 'for_inside',
                  'number n = 0;\n' + ''.join('for (number i%d = 0; i%d < 1; i%d = i%d + 1)\n' % ((i,) * 4)
                                              for i in range(inside)) + 'n = n + 1;\nResult(n);\n', '1')
    # A sign and a sum per level: the evaluator's deepest path.
    half = inside // 2
    expect_output(orvanhost, module, work, 'sum_and_sign_inside', 'Result(' + '1 + -(' * half + '1' + ')' * half + ');\n',
                  str((half + 1) % 2))

    # Flat chains of any length.
    flat = 30000
    expect_output(orvanhost, module, work, 'long_sum', 'Result(' + ' + '.join(['1'] * flat) + ');\n', str(flat))
    expect_output(orvanhost, module, work, 'long_difference', 'Result(' + ' - '.join(['1'] * flat) + ');\n', str(2 - flat))
    expect_output(orvanhost, module, work, 'long_product', 'Result(' + ' * '.join(['2'] * 20) + ' / 2' * 19 + ');\n', '2')
    expect_output(orvanhost, module, work, 'long_comparison', 'Result(' + ' < '.join(['5'] * flat) + ');\n', '1')
    expect_output(orvanhost, module, work, 'long_join', 'Result(' + ' + '.join(['"ab"'] * flat) + ');\n', 'ab' * flat)
    expect_output(orvanhost, module, work, 'plus_signs', 'Result(' + '+' * 60000 + '7);\n', '7')
    expect_output(orvanhost, module, work, 'statements', 'number x = 0;\n' + 'x = x + 1;\n' * 10000 + 'Result(x);\n',
                  '10000')
    expect_output(orvanhost, module, work, 'runs',
                  'number x = 0;\nfor (number i = 0; i < 10000; i = i + 1) { x = x + 1; }\nResult(x);\n', '10000')
    ladder = ('number k = %d;\nif (k == 0) Result(0);\n' % (flat - 1) +
              ''.join('else if (k == %d) Result(%d);\n' % (i, i) for i in range(1, flat)) + 'else Result("none");\n')
    expect_output(orvanhost, module, work, 'else_if_ladder', ladder, str(flat - 1))
    expect_output(orvanhost, module, work, 'else_if_ladder_else', ladder.replace('k = %d' % (flat - 1), 'k = -1'), 'none')

    if failures:
        print('%d failed: %s' % (len(failures), ' '.join(failures)))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
