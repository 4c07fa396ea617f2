#!/usr/bin/python3
"""Makes the damaged workbooks of this folder from the two control files.

    make_damaged.py FOLDER

control_small.xls keeps its "Workbook" stream in the mini stream (under
4096 bytes), control_large.xls in ordinary sectors. Each damaged file
breaks one thing and nothing else; the export functions must refuse every
one of them and leave it as it is.
"""
import struct
import sys

ENDOFCHAIN = 0xFFFFFFFE


class Cfb:
    """Just enough of a compound document to find and patch one stream."""

    def __init__(self, data):
        self.data = bytearray(data)
        d = self.data
        self.sector = 1 << struct.unpack_from('<H', d, 0x1E)[0]
        self.mini = 1 << struct.unpack_from('<H', d, 0x20)[0]
        self.dir_start = struct.unpack_from('<I', d, 0x30)[0]
        self.cutoff = struct.unpack_from('<I', d, 0x38)[0]
        self.minifat_start = struct.unpack_from('<I', d, 0x3C)[0]
        fat_count = struct.unpack_from('<I', d, 0x2C)[0]
        difat = struct.unpack_from('<109I', d, 0x4C)[:fat_count]
        self.fat_sectors = list(difat)
        self.fat = []
        for s in self.fat_sectors:
            self.fat += struct.unpack_from('<%dI' % (self.sector // 4), d, self.offset(s))

    def offset(self, sector):
        return (sector + 1) * self.sector

    def chain(self, start, table):
        out = []
        while start < 0xFFFFFFFA and len(out) <= len(table):
            out.append(start)
            start = table[start]
        return out

    def fat_entry_offset(self, index):
        per = self.sector // 4
        return self.offset(self.fat_sectors[index // per]) + 4 * (index % per)

    def minifat(self):
        out = []
        for s in self.chain(self.minifat_start, self.fat):
            out += struct.unpack_from('<%dI' % (self.sector // 4), self.data, self.offset(s))
        return out

    def minifat_entry_offset(self, index):
        per = self.sector // 4
        sectors = self.chain(self.minifat_start, self.fat)
        return self.offset(sectors[index // per]) + 4 * (index % per)

    def entries(self):
        for s in self.chain(self.dir_start, self.fat):
            for k in range(self.sector // 128):
                at = self.offset(s) + 128 * k
                n = struct.unpack_from('<H', self.data, at + 64)[0]
                name = self.data[at:at + max(n - 2, 0)].decode('utf-16-le')
                start, size = struct.unpack_from('<IQ', self.data, at + 116)
                yield name, start, size

    def stream_offsets(self, name):
        """File offset of every byte of a stream, and whether it is mini."""
        entries = dict((n, (s, z)) for n, s, z in self.entries())
        start, size = entries[name]
        if size >= self.cutoff:
            sectors = self.chain(start, self.fat)
            offs = [self.offset(s) + i for s in sectors for i in range(self.sector)]
            return offs[:size], False, sectors
        root_start = entries['Root Entry'][0]
        root = [self.offset(s) + i for s in self.chain(root_start, self.fat) for i in range(self.sector)]
        minis = self.chain(start, self.minifat())
        offs = [root[m * self.mini + i] for m in minis for i in range(self.mini)]
        return offs[:size], True, minis

    def read(self, offs):
        return bytes(self.data[o] for o in offs)

    def patch(self, offs, at, raw):
        for i, b in enumerate(raw):
            self.data[offs[at + i]] = b


def records(stream):
    at = 0
    while at + 4 <= len(stream):
        kind, length = struct.unpack_from('<HH', stream, at)
        yield at, kind, length
        at += 4 + length


def make(folder, control, tag):
    src = open('%s/%s' % (folder, control), 'rb').read()
    out = {}

    out['truncated_half'] = src[:len(src) // 2]
    out['truncated_header'] = src[:300]

    doc = Cfb(src)
    offs, mini, chain = doc.stream_offsets('Workbook')
    if len(chain) < 2:
        raise SystemExit('%s: the workbook stream needs two sectors' % control)
    # The stream's second sector leads back to its first.
    loop = Cfb(src)
    if mini:
        struct.pack_into('<I', loop.data, loop.minifat_entry_offset(chain[1]), chain[0])
    else:
        struct.pack_into('<I', loop.data, loop.fat_entry_offset(chain[1]), chain[0])
    out['looping_chain'] = bytes(loop.data)
    # The directory's one sector leads to itself.
    dloop = Cfb(src)
    struct.pack_into('<I', dloop.data, dloop.fat_entry_offset(dloop.dir_start), dloop.dir_start)
    out['looping_directory'] = bytes(dloop.data)

    stream = doc.read(offs)
    sst = [at for at, kind, _ in records(stream) if kind == 0x00FC][0]
    bad = Cfb(src)
    bad.patch(offs, sst + 8, struct.pack('<I', 0x7FFFFFF0))  # unique strings
    out['sst_count_high'] = bytes(bad.data)
    bad = Cfb(src)
    bad.patch(offs, sst + 4, struct.pack('<II', 1, 1))  # fewer strings than the cells use
    out['sst_count_low'] = bytes(bad.data)

    bound = [at for at, kind, _ in records(stream) if kind == 0x0085][0]
    bad = Cfb(src)
    bad.patch(offs, bound + 4, struct.pack('<I', len(stream) + 4096))
    out['boundsheet_past_end'] = bytes(bad.data)

    for name, data in out.items():
        with open('%s/%s_%s.xls' % (folder, tag, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    folder = sys.argv[1]
    make(folder, 'control_small.xls', 'small')
    make(folder, 'control_large.xls', 'large')
