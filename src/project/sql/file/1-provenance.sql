-- Where the values came from, added to a project file on its first write:
-- the files kept, the acts of writing, the origin of each elevation and the
-- history of every change. The history's values keep their own type
-- (elevations as numbers, dates and names as text).

CREATE TABLE IF NOT EXISTS Sources (
  Id INTEGER PRIMARY KEY,
  Name TEXT NOT NULL,
  Sha256 TEXT NOT NULL UNIQUE,
  Size INTEGER NOT NULL,
  ReadAt TEXT,
  ReadBy TEXT,
  Instrument TEXT,
  Closure REAL,
  Tolerance REAL,
  Data BLOB);

CREATE TABLE IF NOT EXISTS Entries (
  Id INTEGER PRIMARY KEY,
  WrittenAt TEXT NOT NULL,
  Who TEXT,
  How TEXT NOT NULL,
  SourceId INTEGER,
  Sheet TEXT,
  CarriedBy TEXT);

CREATE TABLE IF NOT EXISTS Origins (
  CjNo INTEGER NOT NULL,
  CjdNo INTEGER NOT NULL,
  EntryId INTEGER,
  Line INTEGER,
  Station TEXT,
  Adjusted REAL,
  Sigma REAL,
  PRIMARY KEY (CjNo, CjdNo)) WITHOUT ROWID;

CREATE TABLE IF NOT EXISTS History (
  Id INTEGER PRIMARY KEY,
  EntryId INTEGER,
  WrittenAt INTEGER,
  Kind TEXT NOT NULL,
  CjNo INTEGER,
  CjdNo INTEGER,
  OldValue,
  NewValue,
  Label TEXT,
  Hash TEXT);

-- The entry the writes of this connection go under, and whether each change
-- keeps its own time (typing, whose entry serves many commits) or the
-- entry's.
CREATE TEMP TABLE IF NOT EXISTS SdWriting (EntryId INTEGER, Stamped INTEGER);
