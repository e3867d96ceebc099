"""The DXF reader on LibreCAD's part library (/usr/share/librecad/library):
about 1,300 drawings written by many programs and versions. Every file must
read without error, and the count of entities drawn of each kind, blocks
exploded to any depth (MINSERT arrays included), must equal ezdxf's count of
those kinds in the model space."""
import json
import os
import subprocess
import sys
import unittest

import ezdxf
from ezdxf import bbox, disassemble, recover

LIBRARY = "/usr/share/librecad/library"
CENSUS = sys.argv[1] if len(sys.argv) > 1 else None
DRAWN = {"LINE", "LWPOLYLINE", "POLYLINE", "ARC", "CIRCLE", "ELLIPSE", "SPLINE",
         "SOLID", "TEXT", "MTEXT"}


def read(path):
    try:
        return ezdxf.readfile(path)
    except ezdxf.DXFStructureError:
        doc, _ = recover.readfile(path)
        return doc


def ezdxf_counts(doc):
    """Entities of the drawn kinds, with each INSERT counted through its
    block once per array cell; attribute definitions count in the model
    space only."""
    counts = {}
    memo = {}

    def block_counts(name, stack):
        key = name.upper()
        if key in stack:
            return None
        block = doc.blocks.get(name)
        if block is None:
            return None
        if key not in memo:
            memo[key] = walk(block, stack | {key}, top=False)
        return memo[key]

    def walk(entities, stack, top):
        found = {}
        for e in entities:
            kind = e.dxftype()
            if kind in DRAWN or (kind == "ATTDEF" and top):
                found[kind] = found.get(kind, 0) + 1
            elif kind == "INSERT":
                inner = block_counts(e.dxf.name, stack)
                if inner is None:
                    continue
                cells = max(1, e.dxf.get("row_count", 1)) * max(1, e.dxf.get("column_count", 1))
                for k, n in inner.items():
                    found[k] = found.get(k, 0) + n * cells
        return found

    return walk(doc.modelspace(), frozenset(), top=True)


GEOMETRY = {"LINE", "LWPOLYLINE", "POLYLINE", "ARC", "CIRCLE", "ELLIPSE", "SPLINE"}


def ezdxf_extents(doc):
    """The extents of the lines and curves, blocks exploded, by ezdxf."""
    shapes = [e for e in disassemble.recursive_decompose(doc.modelspace())
              if e.dxftype() in GEOMETRY]
    box = bbox.extents(shapes, fast=False)
    if not box.has_data:
        return None
    return [box.extmin.x, box.extmin.y, box.extmax.x, box.extmax.y]


class PartLibrary(unittest.TestCase):
    def test_every_drawing_reads_and_draws_what_ezdxf_counts(self):
        files = sorted(os.path.join(d, f) for d, _, fs in os.walk(LIBRARY)
                       for f in fs if f.lower().endswith(".dxf"))
        self.assertGreater(len(files), 1000)
        ours = {}
        for start in range(0, len(files), 200):
            batch = files[start:start + 200]
            out = subprocess.run([CENSUS, *batch], capture_output=True, text=True,
                                 timeout=600, check=True).stdout
            for line in out.splitlines():
                row = json.loads(line)
                ours[row["file"]] = row
        self.assertEqual(len(ours), len(files))
        failed = [f for f, row in ours.items() if "error" in row]
        self.assertEqual(failed, [], "files the reader refused")
        mismatched, misplaced = [], []
        for f in files:
            doc = read(f)
            theirs = ezdxf_counts(doc)
            # Where the shapes lie: transforms, bulges, ellipses and splines
            # traced within 0.1 % of the drawing's size.
            box, their_box = ours[f]["extents"], ezdxf_extents(doc)
            if (box is None) != (their_box is None):
                misplaced.append((os.path.relpath(f, LIBRARY), box, their_box))
            elif box is not None:
                size = max(their_box[2] - their_box[0], their_box[3] - their_box[1], 1e-9)
                if max(abs(a - b) for a, b in zip(box, their_box)) > 2e-3 * size:
                    misplaced.append((os.path.relpath(f, LIBRARY), box, their_box))
            drawn = {k: v for k, v in ours[f]["drawn"].items() if k != "ATTDEF" or v}
            if drawn != {k: v for k, v in theirs.items() if v}:
                mismatched.append((os.path.relpath(f, LIBRARY), drawn, theirs))
        self.assertEqual(mismatched[:10], [], f"{len(mismatched)} files counted differently")
        self.assertEqual(misplaced[:10], [], f"{len(misplaced)} files drawn elsewhere")


if __name__ == "__main__":
    if CENSUS is None or not os.path.isdir(LIBRARY):
        print("SKIP: LibreCAD's part library is not installed")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1])
