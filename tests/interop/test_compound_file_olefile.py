"""Documents written by the compound-file layer, read by olefile.

Every scenario of the cf_writer tool is written (and read back by the tool
itself), then opened with olefile
raising at DEFECT_INCORRECT: the listing must hold exactly the manifest's
storages and streams, every stream must read back the bytes of its pattern,
and olefile must record no parsing issue.
"""
import os
import subprocess
import sys
import tempfile

import olefile


def pattern(seed, size):
    return bytes((i * 31 + seed * 17 + (i >> 8) + (i >> 16) * 7) & 0xFF for i in range(size))


def check(writer, scenario, workdir):
    doc = os.path.join(workdir, scenario + ".cfb")
    manifest = os.path.join(workdir, scenario + ".txt")
    subprocess.run([writer, scenario, doc, manifest], check=True)
    storages, streams = set(), {}
    with open(manifest) as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if parts[0] == "D":
                storages.add(parts[1])
            else:
                streams[parts[1]] = (int(parts[2]), int(parts[3]))

    ole = olefile.OleFileIO(doc, raise_defects=olefile.DEFECT_INCORRECT)
    try:
        assert not ole.parsing_issues, ole.parsing_issues
        listed_streams = {"/".join(p) for p in ole.listdir(streams=True, storages=False)}
        listed_storages = {"/".join(p) for p in ole.listdir(streams=False, storages=True)}
        assert listed_streams == set(streams), (scenario, listed_streams ^ set(streams))
        assert listed_storages == storages, (scenario, listed_storages ^ storages)
        for path, (size, seed) in streams.items():
            assert ole.get_size(path) == size, (scenario, path, ole.get_size(path), size)
            data = ole.openstream(path).read()
            assert data == pattern(seed, size), (scenario, path, "content differs")
        assert not ole.parsing_issues, ole.parsing_issues
    finally:
        ole.close()
    if scenario == "deep":
        with open(doc, "rb") as f:
            header = f.read(0x50)
        # The extension table must need a second sector for this to test it.
        assert int.from_bytes(header[0x48:0x4C], "little") >= 2, header[0x48:0x4C]
    print("%s: %d streams, %d storages, %d bytes" % (scenario, len(streams), len(storages), os.path.getsize(doc)))


def main():
    writer = os.environ["ORVAN_TOOL_CF_WRITER"]
    with tempfile.TemporaryDirectory() as workdir:
        for scenario in ("sizes", "large", "deep", "churn", "many", "variant"):
            check(writer, scenario, workdir)
    return 0


if __name__ == "__main__":
    sys.exit(main())
