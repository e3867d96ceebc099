-- Schema of the system database Sdmx.mdb: the program's settings as name/value rows.
CREATE TABLE Para1 (
  Name  TEXT NOT NULL PRIMARY KEY,
  Value TEXT
);
