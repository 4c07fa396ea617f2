"""Exports into files of other users, run as those users (setpriv; the tests
run as root): a file the user may not write is refused and left as it was;
in a group folder the file keeps its owner, group and mode; a second hard
link to a file sees the new workbook. Skipped, saying so, where the tests
cannot change user."""
import os
import shutil
import subprocess
import sys
import tempfile

import xlrd

OWNER, USER, GROUP = 1000, 1001, 1234


def main():
    if os.geteuid() != 0 or shutil.which("setpriv") is None:
        print("skipped: running exports as other users needs root and setpriv")
        return 77
    with tempfile.TemporaryDirectory() as wd:
        os.chmod(wd, 0o755)
        # The host and the module where every user may run them.
        bindir = os.path.join(wd, "bin")
        os.mkdir(bindir)
        os.chmod(bindir, 0o755)
        host = shutil.copy(os.environ["ORVANHOST"], bindir)
        module = shutil.copy(os.environ["ORVAN_MODULE"], bindir)

        def export(path, sheet, user=None, groups=()):
            """Adds `sheet` to the workbook `path`, as root or as `user`;
            returns the Results text."""
            script = os.path.join(bindir, "%s.s" % sheet)
            with open(script, "w") as f:
                f.write('image p := RealImage("p", 4, 2, 1);\nSetPixel(p, 0, 0, 7);\n'
                        'saveprofileasxlslong(p, "%s", "q I", 1, "t", "%s");\n' % (path, sheet))
            os.chmod(script, 0o644)
            command = [host, "--module", module, script]
            if user is not None:
                ids = ["--reuid=%d" % user, "--regid=%d" % user]
                ids += ["--groups=" + ",".join(map(str, groups))] if groups else ["--clear-groups"]
                command = ["setpriv"] + ids + command
            done = subprocess.run(command, cwd=bindir, capture_output=True, text=True)
            assert done.returncode == 0, (command, done.returncode, done.stderr)
            return done.stdout

        def folder(name, uid, gid, mode):
            path = os.path.join(wd, name)
            os.mkdir(path)
            os.chown(path, uid, gid)
            os.chmod(path, mode)
            return path

        def book(path, uid, gid, mode):
            export(path, "Old")
            os.chown(path, uid, gid)
            os.chmod(path, mode)
            return path

        def owner_and_mode(path):
            info = os.stat(path)
            return info.st_uid, info.st_gid, info.st_mode & 0o7777

        # Root's file in a folder every user may write: refused, left alone.
        shared = folder("shared", 0, 0, 0o777)
        theirs = book(os.path.join(shared, "root.xls"), 0, 0, 0o644)
        with open(theirs, "rb") as f:
            before = f.read()
        results = export(theirs, "New", USER)
        assert results == ('exception caught: saveprofileasxlslong: "%s" is not writable for this user; '
                           "it was left unchanged\n" % theirs), results
        with open(theirs, "rb") as f:
            assert f.read() == before
        assert owner_and_mode(theirs) == (0, 0, 0o644)
        assert os.listdir(shared) == ["root.xls"], os.listdir(shared)

        # A group folder: another member's file keeps its owner, group and
        # mode; the user's own file with a second link is written in place.
        group = folder("group", OWNER, GROUP, 0o2775)
        common = book(os.path.join(group, "common.xls"), OWNER, GROUP, 0o664)
        assert export(common, "New", USER, [GROUP]) == ""
        assert owner_and_mode(common) == (OWNER, GROUP, 0o664)
        assert xlrd.open_workbook(common).sheet_names() == ["New", "Old", "Sheet1"]
        mine = book(os.path.join(group, "mine.xls"), USER, GROUP, 0o640)
        os.link(mine, os.path.join(group, "link.xls"))
        assert export(mine, "New", USER, [GROUP]) == ""
        assert owner_and_mode(mine) == (USER, GROUP, 0o640)
        assert os.stat(mine).st_ino == os.stat(os.path.join(group, "link.xls")).st_ino
        assert xlrd.open_workbook(os.path.join(group, "link.xls")).sheet_names() == ["New", "Old", "Sheet1"]
        assert sorted(os.listdir(group)) == ["common.xls", "link.xls", "mine.xls"], os.listdir(group)
    return 0


if __name__ == "__main__":
    sys.exit(main())
