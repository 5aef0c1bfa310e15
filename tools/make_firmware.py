#!/usr/bin/env python3
"""Generates data/firmware.mot, the firmware image that the updater carries built in.

Deterministic: the same script always writes the same file. The layout is fixed by hand (the four
unprogrammed stretches in the top 64 KB, forty single unprogrammed bytes, the first and the last
record); the record lengths and the data bytes come from a seeded generator, and a small search
arranges the short records so that the image keeps its published figures, which the script checks
before it writes anything.

Usage: tools/make_firmware.py [OUTPUT]   (default: data/firmware.mot beside this script's parent)
"""
import os
import sys

IMAGE_START, IMAGE_END = 0xC0000, 0x100000

# Unprogrammed stretches (start, end exclusive), all inside 0xF0000..0xFFFFF.
STRETCHES = [(0xF013F, 0xF0DD1), (0xF3FF6, 0xF4786), (0xF8098, 0xF86E7), (0xFC0F9, 0xFC3A6)]
# Per programmed region between the stretches: single unprogrammed bytes, short records and the
# total length of the short records.
REGION_PLAN = [(34, 95, 1373), (2, 5, 67), (2, 5, 80), (1, 5, 81), (1, 5, 57)]
FIRST_RECORD = bytes([0x00, 0x28, 0x14, 0x0A, 0x06, 0x05, 0x04, 0x03])  # at 0xC0000
LAST_RECORD = bytes([0x00, 0xF0, 0x0F, 0xFF])  # at 0xFFFFC
SHORT_RECORDS_RUNNING_ON = 70
FULL = 32


class Prng:
    """xorshift64*: small, fast and the same on every Python version."""

    def __init__(self, seed):
        self.state = seed or 1

    def next(self):
        x = self.state
        x ^= (x >> 12)
        x ^= (x << 25) & 0xFFFFFFFFFFFFFFFF
        x ^= (x >> 27)
        self.state = x
        return ((x * 0x2545F4914F6CDD1D) & 0xFFFFFFFFFFFFFFFF) >> 32

    def below(self, n):
        return self.next() % n


def regions():
    bounds = [IMAGE_START]
    for start, end in STRETCHES:
        bounds += [start, end]
    bounds.append(IMAGE_END)
    return [(bounds[i], bounds[i + 1]) for i in range(0, len(bounds), 2)]


def split_sum(rng, total, parts, low=1, high=31):
    """`parts` numbers in low..high adding up to `total`."""
    values = [low] * parts
    rest = total - low * parts
    while rest > 0:
        i = rng.below(parts)
        if values[i] < high:
            values[i] += 1
            rest -= 1
    return values


def plan_region(rng, index, start, end):
    """Returns the region's items in order: ('rec', length) or ('gap', 1)."""
    gaps, shorts, short_total = REGION_PLAN[index]
    pinned_first = index == 0
    pinned_last = index == len(REGION_PLAN) - 1
    free_shorts = shorts - pinned_first - pinned_last
    free_total = short_total - (len(FIRST_RECORD) if pinned_first else 0) \
        - (len(LAST_RECORD) if pinned_last else 0)
    lengths = split_sum(rng, free_total, free_shorts)
    items = [('rec', n) for n in lengths] + [('gap', 1)] * gaps
    for i in range(len(items) - 1, 0, -1):  # shuffle
        j = rng.below(i + 1)
        items[i], items[j] = items[j], items[i]
    fulls = (end - start - short_total - gaps) // FULL
    assert (end - start - short_total - gaps) % FULL == 0, "region plan does not tile"
    return items, fulls, pinned_first, pinned_last


def short_run_ons(start, items, pinned_first):
    column = start % 16
    if pinned_first:
        column = (column + len(FIRST_RECORD)) % 16
    count = 0
    for kind, n in items:
        if kind == 'rec' and column + n > 16:
            count += 1
        column = (column + n) % 16
    return count


def arrange(rng, plans):
    """Moves length between short records and swaps items until exactly the wanted number of short
    records run on into the next row."""
    def total():
        return sum(short_run_ons(r[0], p[0], p[2]) for r, p in zip(regions(), plans))

    current = total()
    while current != SHORT_RECORDS_RUNNING_ON:
        plan = plans[rng.below(len(plans))]
        items = plan[0]
        i, j = rng.below(len(items)), rng.below(len(items))
        saved = list(items)
        if rng.below(2) and items[i][0] == 'rec' and items[j][0] == 'rec' and i != j:
            d = 1 + rng.below(4)
            a, b = items[i][1] - d, items[j][1] + d
            if not (1 <= a <= 31 and 1 <= b <= 31):
                continue
            items[i], items[j] = ('rec', a), ('rec', b)
        else:
            items[i], items[j] = items[j], items[i]
        new = total()
        if abs(new - SHORT_RECORDS_RUNNING_ON) <= abs(current - SHORT_RECORDS_RUNNING_ON):
            current = new
        else:
            items[:] = saved


def layout(rng, plans):
    """Turns the plans into (address, length) records with full records between the items."""
    records = []
    for (start, end), (items, fulls, pinned_first, pinned_last) in zip(regions(), plans):
        address = start
        if pinned_first:
            records.append((address, len(FIRST_RECORD)))
            address += len(FIRST_RECORD)
        slots = [0] * (len(items) + 1)
        for _ in range(fulls):
            slots[rng.below(len(slots))] += 1
        for slot, item in zip(slots, items + [None]):
            for _ in range(slot):
                records.append((address, FULL))
                address += FULL
            if item is None:
                break
            if item[0] == 'rec':
                records.append((address, item[1]))
            address += item[1]
        if pinned_last:
            records.append((address, len(LAST_RECORD)))
            address += len(LAST_RECORD)
        assert address == end, (hex(address), hex(end))
    return records


def program_bytes(rng, size):
    """Byte stream with the look of machine code: opcodes, register fields, 16-bit operands, zeros."""
    opcodes = [0x00, 0x01, 0x04, 0x05, 0x08, 0x09, 0x0A, 0x0B, 0x10, 0x14, 0x20, 0x28, 0x2F,
               0x3C, 0x40, 0x48, 0x4E, 0x60, 0x61, 0x66, 0x67, 0x70, 0x7A, 0x80, 0x8A, 0x90,
               0xA0, 0xB0, 0xC4, 0xD0, 0xE0, 0xE8, 0xF0, 0xF2, 0xF6, 0xFA]
    out = bytearray()
    while len(out) < size:
        pick = rng.below(10)
        if pick < 5:
            out.append(opcodes[rng.below(len(opcodes))])
            out.append(rng.below(0x40))
        elif pick < 7:
            target = 0xC0000 + rng.below(0x40000)
            out += bytes([0xF4, target & 0xFF, (target >> 8) & 0xFF, target >> 16])
        elif pick < 9:
            out += bytes([rng.below(256) for _ in range(2)])
        else:
            out += bytes([0x00, 0x00])
    return bytes(out[:size])


def s2_line(address, data):
    count = len(data) + 4
    body = bytes([count, address >> 16, (address >> 8) & 0xFF, address & 0xFF]) + data
    checksum = (~sum(body)) & 0xFF
    return 'S2' + body.hex().upper() + format(checksum, '02X')


def check(records, image):
    """The published figures of the built-in image."""
    assert len(records) == 8021
    assert sum(1 for _, n in records if n == FULL) == 7906
    assert all(1 <= n <= FULL for _, n in records)
    assert sum(n for _, n in records) == 254650
    assert sum(1 for a, n in records if a % 16 + n > 16) == 7976
    assert all(a + n <= b for (a, n), (b, _) in zip(records, records[1:]))
    covered = bytearray(IMAGE_END - IMAGE_START)
    for a, n in records:
        covered[a - IMAGE_START:a - IMAGE_START + n] = b'\x01' * n
    gaps, run = [], 0
    for c in covered:
        if c:
            if run:
                gaps.append(run)
            run = 0
        else:
            run += 1
    assert run == 0
    assert len(gaps) == 44 and sum(gaps) == 7494 and max(gaps) == 3218
    assert sorted(gaps)[:40] == [1] * 40
    marked = [any(image[r * 16 + c] < 0xFF for c in range(16)) for r in range(16384)]
    assert sum(marked) == 15921
    for r, used in enumerate(marked):
        if not used:
            address = IMAGE_START + r * 16
            assert any(s <= address and address + 16 <= e for s, e in STRETCHES)
    assert sum(1 for p in range(256) if not any(marked[p * 64:p * 64 + 64])) == 3


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'data', 'firmware.mot')
    rng = Prng(0x52514D35)  # "RQM5"
    plans = [plan_region(rng, i, s, e) for i, (s, e) in enumerate(regions())]
    arrange(rng, plans)
    records = layout(rng, plans)

    image = bytearray([0xFF]) * (IMAGE_END - IMAGE_START)
    code = program_bytes(rng, IMAGE_END - IMAGE_START)
    lines = ['S0030000FC']
    for index, (address, n) in enumerate(records):
        if index == 0:
            data = FIRST_RECORD
        elif index == len(records) - 1:
            data = LAST_RECORD
        else:
            data = code[address - IMAGE_START:address - IMAGE_START + n]
        image[address - IMAGE_START:address - IMAGE_START + n] = data
        lines.append(s2_line(address, data))
    lines.append('S804000000FB')
    check(records, image)
    assert lines[1] == 'S20C0C00000028140A060504038F' and lines[-2] == 'S2080FFFFC00F00FFFEF'
    assert len(lines) == 8023
    with open(output, 'w', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
