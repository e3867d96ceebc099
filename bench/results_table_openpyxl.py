#!/usr/bin/python3
"""The results table written the plain Python way, as the side-by-side anchor
of `sedimetra-batch table`: the template's page (rows 4 to 25) copied for
every page with its values, styles, row heights, merged cells and page
break, then every cell the program writes, with the same number formats.
It leaves out the stability and the deformation sheets the program adds, so
it does less than the program.

usage: results_table_openpyxl.py PROJECT.mdb TEMPLATE.xlsx POINT_COUNT OUT.xlsx
(outside the tests; for farm-bench --vs, see README "Benchmarks")
"""
import copy
import datetime
import sqlite3
import sys

import openpyxl
from openpyxl.worksheet.cell_range import CellRange
from openpyxl.worksheet.pagebreak import Break

FIRST, ROWS, PER_PAGE = 4, 22, 15
SLOTS = {1: "CDEF", 2: "GHIJ", 0: "KLMN"}  # epoch k goes to slot k mod 3


def main(project, template, point_count, out):
    db = sqlite3.connect(project)
    epochs = {k: (d, n) for k, d, n in db.execute("SELECT CjNo, MyDate, Name FROM Sur1")}
    names = dict(db.execute("SELECT CjdNo, PointName FROM Sur3"))
    h = {(k, j): v for k, j, v in db.execute("SELECT CjNo, CjdNo, PointH FROM Sur2") if v}
    highest = max(j for _, j in h)
    n = (min(highest, point_count) + PER_PAGE - 1) // PER_PAGE * PER_PAGE
    last = max(epochs)
    groups = (last + 2) // 3
    per_group = n // PER_PAGE

    book = openpyxl.load_workbook(template)
    sheet = book.worksheets[0]
    merges = [m for m in sheet.merged_cells.ranges if m.min_row >= FIRST and m.max_row < FIRST + ROWS]
    page_cells = [[sheet.cell(r, c) for c in range(1, 15)] for r in range(FIRST, FIRST + ROWS)]
    heights = [sheet.row_dimensions[r].height for r in range(FIRST, FIRST + ROWS)]
    for page in range(1, groups * per_group):
        top = FIRST + page * ROWS
        for i, cells in enumerate(page_cells):
            for source in cells:
                target = sheet.cell(top + i, source.column)
                target.value = source.value
                if source.has_style:
                    target._style = copy.copy(source._style)
            sheet.row_dimensions[top + i].height = heights[i]
        # Listed directly: merge_cells() looks through every range so far.
        for m in merges:
            sheet.merged_cells.ranges.append(CellRange(min_col=m.min_col, min_row=m.min_row + page * ROWS,
                                                       max_col=m.max_col, max_row=m.max_row + page * ROWS))
        sheet.row_breaks.append(Break(id=top + ROWS - 1))
    for page in range(groups * per_group):
        for column in "CGK":
            sheet[f"{column}{FIRST + page * ROWS + 2}"] = "本次高程\r\n(m)"

    def day(k):
        return datetime.date.fromisoformat(epochs[k][0])

    for k in range(1, last + 1):
        slot, group = SLOTS[k % 3], (k - 1) // 3
        interval = (day(k) - day(k - 1)).days
        this_sum = cum_sum = count = 0
        for j in range(1, n + 1):
            if (k, j) in h and (k - 1, j) in h and (0, j) in h:
                this_sum += (h[k, j] - h[k - 1, j]) * 1000
                cum_sum += (h[k, j] - h[0, j]) * 1000
                count += 1
        for j in range(1, n + 1):
            top = FIRST + (group * per_group + (j - 1) // PER_PAGE) * ROWS
            if (j - 1) % PER_PAGE == 0:
                sheet[f"{slot[0]}{top}"] = epochs[k][0]
                sheet[f"{slot[0]}{top + 1}"] = epochs[k][1]
                sheet[f"{slot[0]}{top + 2}"] = "本次高程\r\n(m)"
                if k % 3 == 1:
                    sheet[f"B{top}"] = epochs[k - 1][0]
                    sheet[f"B{top + 1}"] = epochs[k - 1][1]
                    sheet[f"B{top + 2}"] = "初始高程\r\n(m)" if k == 1 else "上次高程\r\n(m)"
                if count:
                    for column, value, form in ((slot[1], this_sum / count, "0.00"),
                                                (slot[2], cum_sum / count, "0.00"),
                                                (slot[3], this_sum / count / interval if interval else None, "0.000")):
                        if value is not None:
                            cell = sheet[f"{column}{top + 18}"]
                            cell.value = round(value, 3 if form == "0.000" else 2)
                            cell.number_format = form
                sheet[f"{slot[0]}{top + 19}"] = interval
            row = top + 3 + (j - 1) % PER_PAGE
            if k % 3 == 1:
                sheet[f"A{row}"] = names.get(j)
                if (k - 1, j) in h:
                    sheet[f"B{row}"] = round(h[k - 1, j], 5)
                    sheet[f"B{row}"].number_format = "0.00000"
            if (k, j) not in h:
                continue
            values = [(slot[0], round(h[k, j], 5), "0.00000")]
            if (0, j) in h:
                values.append((slot[2], round((h[k, j] - h[0, j]) * 1000, 2), "+0.00;-0.00;+0.00"))
            if (k - 1, j) in h:
                this = (h[k, j] - h[k - 1, j]) * 1000
                values.append((slot[1], round(this, 2), "+0.00;-0.00;+0.00"))
                if interval:
                    values.append((slot[3], round(this / interval, 3), "+0.000;-0.000;+0.000"))
            for column, value, form in values:
                cell = sheet[f"{column}{row}"]
                cell.value = value
                cell.number_format = form
    book.save(out)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4])
