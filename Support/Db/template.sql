-- Schema of the project template (数据库模板.mdb). Every project is a copy of it.
-- Observation epochs: numbered 0, 1, 2 ... without gaps; dates and names are
-- unique in a project without regard to letter case. Layers keeps the load
-- floors as typed: a whole number as an integer.
CREATE TABLE Sur1 (
  CjNo   INTEGER NOT NULL,
  MyDate TEXT COLLATE NOCASE,
  Name   TEXT COLLATE NOCASE,
  Layers NUMERIC
);
CREATE UNIQUE INDEX Sur1_CjNo ON Sur1 (CjNo);
CREATE INDEX Sur1_MyDate ON Sur1 (MyDate);
CREATE INDEX Sur1_Name ON Sur1 (Name);

-- Elevations in metres, at most one per epoch and point.
CREATE TABLE Sur2 (
  CjNo   INTEGER NOT NULL,
  CjdNo  INTEGER NOT NULL,
  PointH REAL
);
CREATE UNIQUE INDEX Sur2_CjNo_CjdNo ON Sur2 (CjNo, CjdNo);
CREATE INDEX Sur2_CjdNo ON Sur2 (CjdNo, CjNo);

-- Settlement points: the grid row, the name, the CAD colour index and the mark.
CREATE TABLE Sur3 (
  CjdNo     INTEGER NOT NULL,
  PointName TEXT,
  Aci       INTEGER,
  Mark      TEXT
);
CREATE UNIQUE INDEX Sur3_CjdNo ON Sur3 (CjdNo);
CREATE INDEX Sur3_PointName ON Sur3 (PointName);

-- CAD colour table, read only by the program.
CREATE TABLE AciRgb (
  Aci_Color INTEGER NOT NULL PRIMARY KEY,
  Rgb_R     INTEGER NOT NULL,
  Rgb_G     INTEGER NOT NULL,
  Rgb_B     INTEGER NOT NULL
);
