#!/usr/bin/python3
"""Writes the sample project's input files into docs/示例数据/: one
observation workbook per epoch (sheet "Sheet1", a heading row, then point
name and elevation in metres, as a field crew's workbook is laid out), the
points' coordinates as a CSV on the national grid, and the epochs' dates,
names and load floors (a list the sample script reads).

The settlements are made up: each point sinks along a hyperbola of its own
towards a final value between 35 and 60 mm, with 0.1 mm of levelling noise,
so that the sample shows a building settling under its load and then slowing down.
Run once; its outputs are committed. usage: make_sample_data.py OUT_DIR
"""
import datetime
import pathlib
import random
import sys

import openpyxl

OUT = pathlib.Path(sys.argv[1])
OUT.mkdir(parents=True, exist_ok=True)
random.seed(20240301)

# Name, first elevation (m), final settlement (mm), east and north (m)
# relative to the building's south-west corner.
POINTS = [("J1", 10.2468, 41.0, 0.0, 0.0), ("J2", 10.1953, 47.0, 20.0, 0.0), ("J3", 10.3127, 55.0, 40.0, 0.0),
          ("J4", 10.2841, 60.0, 40.0, 15.0), ("J5", 10.1719, 50.0, 20.0, 15.0), ("J6", 10.2295, 44.0, 0.0, 15.0),
          ("J7", 10.3356, 35.0, -0.5, 7.5), ("J8", 10.2610, 52.0, 40.5, 7.5)]
EPOCHS = [("2024-03-01", "首次", 2), ("2024-03-31", "第2次", 4), ("2024-04-30", "第3次", 7),
          ("2024-05-31", "第4次", 10), ("2024-06-30", "第5次", 13), ("2024-07-31", "第6次", 16),
          ("2024-08-31", "第7次", 18), ("2024-09-30", "第8次", 18), ("2024-10-31", "第9次", 18),
          ("2024-11-30", "第10次", 18), ("2024-12-31", "第11次", 18), ("2025-01-31", "第12次", 18),
          ("2025-02-28", "第13次", 18), ("2025-03-31", "第14次", 18), ("2025-04-30", "第15次", 18),
          ("2025-05-31", "第16次", 18), ("2025-06-30", "第17次", 18)]

first = datetime.date.fromisoformat(EPOCHS[0][0])
with open(OUT / "观测期次.txt", "w", encoding="utf-8") as f:
    for n, (date, name, floors) in enumerate(EPOCHS, start=1):
        f.write(f"{date} {name} {floors} 第{n:02d}次观测.xlsx\n")
        days = (datetime.date.fromisoformat(date) - first).days
        book = openpyxl.Workbook()
        sheet = book.active
        sheet.title = "Sheet1"
        sheet.append(["点号", "高程(m)"])
        for point, h0, final, _, _ in POINTS:
            settled = final * days / (days + 200.0)
            noise = 0.0 if n == 1 else random.gauss(0.0, 0.1)
            sheet.append([point, round(h0 - (settled + noise) / 1000.0, 5)])
        book.save(OUT / f"第{n:02d}次观测.xlsx")

# X north (7 digits), Y east (6 digits): as a surveyor's grid file has them.
with open(OUT / "测点坐标.csv", "w", encoding="utf-8") as f:
    f.write("点号,X,Y\n")
    for point, _, _, east, north in POINTS:
        f.write(f"{point},{3380120.000 + north:.3f},{512460.000 + east:.3f}\n")
