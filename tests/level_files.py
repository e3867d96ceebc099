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
    return f"11{block:04d}+{point.rjust(width, '0')} "


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


def _dini_line(address, block, values=(), error=False):
    cells = []
    for kind, value, unit in values:
        cells.append(f"{kind:<2}{value:>14.5f} {unit:<5}")
    while len(cells) < 3:
        cells.append(" " * 22)
    text = f"For M5|Adr {address:5d}|{block:<31}|{cells[0]}|{cells[1]}|{cells[2]}|"
    return text + ("e  " if error else "   ")


def dini(stations, error_lines=False):
    """DiNi M5 with a Start-Line, KD1 point blocks, Rb/Rf and HD, and (when
    asked) an error line of nonsense the level marked with "e"."""
    lines = [_dini_line(1, "TO  Start-Line         BFFB")]
    address = 1
    order = [("Rb", 0, 2, 6), ("Rf", 1, 3, 7), ("Rf", 1, 5, 7), ("Rb", 0, 4, 6)]
    for s in stations:
        for kind, who, reading, distance in order:
            address += 1
            lines.append(_dini_line(address, f"KD1 {s[who]:>8}      12:00:00  1",
                                    [(kind, s[reading], "m"), ("HD", s[distance], "m")]))
            if error_lines and address % 7 == 0:
                address += 1
                lines.append(_dini_line(address, f"KD1 {s[who]:>8}      12:00:01  1",
                                        [(kind, 9.99999, "m")], error=True))
    lines.append(_dini_line(address + 1, "TO  End-Line"))
    return "\r\n".join(lines) + "\r\n"
