"""Raw files of a digital level, made from true heights: the same stations
written as Leica GSI-8, GSI-16 and Trimble DiNi M5, for the levelling tests.

A station is (back id, fore id, B1, F1, B2, F2, back distance, fore distance)
in metres, read back–fore–fore–back.
"""


def loop_stations(route, heights, errors=None, sights=(1.2, 1.3, 1.25, 1.4)):
    """Stations along `route` (ids, turning points included) over `heights`;
    errors[i] (m) is added to station i's fore readings (both)."""
    stations = []
    for i, (back, fore) in enumerate(zip(route, route[1:])):
        b1 = sights[i % len(sights)]
        line_of_sight = heights[back] + b1
        f1 = line_of_sight - heights[fore] + (errors or {}).get(i, 0.0)
        # The second readings of the same set-up differ by a few hundredths of a mm.
        b2, f2 = b1 + 0.00003, f1 + 0.00002
        stations.append([back, fore, round(b1, 5), round(f1, 5), round(b2, 5), round(f2, 5),
                         round(20.0 + 0.1 * (i % 3), 1), round(20.1 + 0.1 * ((i + 1) % 3), 1)])
    return stations


def _gsi_word(index, info, unit, value, wide):
    width = 16 if wide else 8
    sign = "-" if value < 0 else "+"
    data = str(abs(value)).rjust(width, "0")
    return f"{index}{info}{unit}{sign}{data} "


def _gsi_id(block, point, wide):
    width = 16 if wide else 8
    return f"11{block % 10000:04d}+{point.rjust(width, '0')} "


def gsi(stations, wide=False, start_height=None):
    """GSI-8 (or GSI-16 with `wide`): a line-start block, then one block a
    reading with its point, distance (mm) and reading (0.01 mm)."""
    lines = []
    prefix = "*" if wide else ""
    block = 1
    lines.append(prefix + _gsi_id(block, stations[0][0], wide) + _gsi_word("41", "0000", "", 2, wide))
    if start_height is not None:
        lines.append(prefix + _gsi_id(block, stations[0][0], wide)
                     + _gsi_word("83", "..5", "8", round(start_height * 100000), wide))
    order = [("331", 0, 2, 6), ("332", 1, 3, 7), ("336", 1, 5, 7), ("335", 0, 4, 6)]
    for s in stations:
        for word, who, reading, distance in order:
            block += 1
            lines.append(prefix + _gsi_id(block, s[who], wide)
                         + _gsi_word("32", "...", "0", round(s[distance] * 1000), wide)
                         + _gsi_word(word, ".0", "8", round(s[reading] * 100000), wide))
    return "\r\n".join(lines) + "\r\n"


def _dini_line(address, info, values=()):
    """One M5 record at the level's columns: info in 18-48, value blocks of
    type (50-51), value right-aligned (53-66) and unit (68-71), and so on."""
    cells = []
    for kind, value, unit in values:
        cells.append(f"{kind:<2} {value:>14.5f} {unit:<4}")
    while len(cells) < 3:
        cells.append(" " * 22)
    return f"For M5|Adr {address:5d}|{info:<31}|{cells[0]}|{cells[1]}|{cells[2]}|   "


def dini(stations, line=1):
    """DiNi M5, one BFFB line: Start-Line with its number, KD1 point records
    (id in 22-29), Rb/Rf and HD, End-Line."""
    lines = [_dini_line(1, "TO  Start-Line" + f"{'BFFB':>11}{line:>6}")]
    address = 1
    order = [("Rb", 0, 2, 6), ("Rf", 1, 3, 7), ("Rf", 1, 5, 7), ("Rb", 0, 4, 6)]
    for s in stations:
        for kind, who, reading, distance in order:
            address += 1
            lines.append(_dini_line(address, f"KD1 {s[who]:>8}     12:00:00{line:>6}",
                                    [(kind, s[reading], "m"), ("HD", s[distance], "m")]))
    lines.append(_dini_line(address + 1, "TO  End-Line".ljust(25) + f"{line:>6}"))
    return "\r\n".join(lines) + "\r\n"
