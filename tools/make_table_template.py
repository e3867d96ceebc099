#!/usr/bin/python3
"""Writes Support/Tab/沉降观测成果表.xlsx, the results-table template.

Sheet "沉降观测成果表": the header captions of rows 1 to 3 beside the cells
the program fills (B1, H1, B2, H2, M2, B3, H3, M3), and the model of one page
in rows 4 to 25: date, name and heading rows, 15 point rows, the average row
"平均", the interval row "间隔天数" and two rows for the observer, the checker
and the date. Columns A to N fit an A4 landscape page; a page break follows
every page. Run it from the repository root with Debian's python3-openpyxl;
the output is committed.
"""
import pathlib

from openpyxl import Workbook
from openpyxl.styles import Alignment, Border, Font, Side
from openpyxl.worksheet.pagebreak import Break

FONT = "宋体"
thin = Side(style="thin")
box = Border(left=thin, right=thin, top=thin, bottom=thin)
centre = Alignment(horizontal="center", vertical="center", wrap_text=True)
left = Alignment(horizontal="left", vertical="center")

wb = Workbook()
ws = wb.active
ws.title = "沉降观测成果表"

widths = {"A": 9, "B": 11, "C": 11, "D": 8, "E": 8, "F": 8, "G": 11, "H": 8, "I": 8, "J": 8,
          "K": 11, "L": 8, "M": 8, "N": 8}
for column, width in widths.items():
    ws.column_dimensions[column].width = width

# Header block: captions beside the program's cells.
captions = {"A1": "工程名称：", "G1": "委托单位：", "A2": "测量单位：", "G2": "结构形式：",
            "L2": "建筑层次：", "A3": "仪器型号：", "G3": "起算点号：", "L3": "起算高程："}
for cell, text in captions.items():
    ws[cell] = text
    ws[cell].font = Font(name=FONT, size=10, bold=True)
    ws[cell].alignment = left
for merged in ("B1:F1", "H1:N1", "B2:F2", "H2:K2", "M2:N2", "B3:F3", "H3:K3", "M3:N3"):
    ws.merge_cells(merged)
    first = ws[merged.split(":")[0]]
    first.font = Font(name=FONT, size=10)
    first.alignment = left
for row in (1, 2, 3):
    ws.row_dimensions[row].height = 18

# The page model, rows 4 to 25.
top = 4
for row in range(top, top + 20):
    ws.row_dimensions[row].height = 16
    for column in "ABCDEFGHIJKLMN":
        cell = ws[f"{column}{row}"]
        cell.border = box
        cell.alignment = centre
        cell.font = Font(name=FONT, size=9)
ws.row_dimensions[top + 2].height = 28
ws[f"A{top}"] = "观测日期"
ws[f"A{top + 1}"] = "观测名称"
ws[f"A{top + 2}"] = "点号"
for first, last in (("C", "F"), ("G", "J"), ("K", "N")):
    ws.merge_cells(f"{first}{top}:{last}{top}")
    ws.merge_cells(f"{first}{top + 1}:{last}{top + 1}")
    ws.merge_cells(f"{first}{top + 19}:{last}{top + 19}")
for this, total, rate in (("D", "E", "F"), ("H", "I", "J"), ("L", "M", "N")):
    ws[f"{this}{top + 2}"] = "本次沉降\n(mm)"
    ws[f"{total}{top + 2}"] = "累计沉降\n(mm)"
    ws[f"{rate}{top + 2}"] = "沉降速率\n(mm/d)"
ws[f"A{top + 18}"] = "平均"
ws[f"A{top + 19}"] = "间隔天数"
for row, texts in ((top + 20, {"A": "观测：", "E": "检查：", "J": "日期："}),
                   (top + 21, {"A": "计算：", "E": "审核：", "J": "日期："})):
    ws.row_dimensions[row].height = 20
    for column, text in texts.items():
        ws[f"{column}{row}"] = text
        ws[f"{column}{row}"].font = Font(name=FONT, size=9)
        ws[f"{column}{row}"].alignment = left

ws.row_breaks.append(Break(id=top + 21))
ws.page_setup.orientation = "landscape"
ws.page_setup.paperSize = ws.PAPERSIZE_A4
ws.page_setup.fitToWidth = 1
ws.page_setup.fitToHeight = 0
ws.sheet_properties.pageSetUpPr.fitToPage = True
ws.print_options.horizontalCentered = True
ws.page_margins.top = 0.8
ws.page_margins.bottom = 0.6
ws.oddHeader.center.text = "沉降观测成果表"
ws.oddHeader.center.size = 16
ws.oddHeader.center.font = f"{FONT},Bold"
ws.oddFooter.center.text = "第 &P 页 共 &N 页"

out = pathlib.Path("Support/Tab/沉降观测成果表.xlsx")
wb.save(out)
print(out)
