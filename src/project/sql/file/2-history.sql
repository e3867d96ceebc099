-- The history of a project file, written as the records change, by
-- triggers of the writing connection (temporary: the file stays readable by
-- any SQLite program and by older versions of this one), under the entry
-- temp.SdWriting names, at the time it gives (seconds since 1970, UTC; none
-- for an entry whose changes take the entry's time).
--
-- Names and dates are compared letter by letter (the columns compare without
-- case: "C.3" becoming "c.3" is a change). An epoch's renumbering (its CjNo
-- alone) is no change: the program moves its history with it. A deleted
-- epoch or point leaves its rows, named in Label.

CREATE TEMP TRIGGER IF NOT EXISTS SdElevationAdded AFTER INSERT ON main.Sur2 BEGIN
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) VALUES (
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'H', new.CjNo, new.CjdNo, NULL, new.PointH);
END;

CREATE TEMP TRIGGER IF NOT EXISTS SdElevationChanged AFTER UPDATE OF PointH ON main.Sur2
WHEN old.PointH IS NOT new.PointH BEGIN
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) VALUES (
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'H', new.CjNo, new.CjdNo, old.PointH, new.PointH);
END;

CREATE TEMP TRIGGER IF NOT EXISTS SdElevationDeleted AFTER DELETE ON main.Sur2 BEGIN
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) VALUES (
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'H', old.CjNo, old.CjdNo, old.PointH, NULL);
  DELETE FROM Origins WHERE CjNo = old.CjNo AND CjdNo = old.CjdNo;
END;

-- A new epoch's date, name and load floors, and a new point's name: what
-- later changes are compared with.
CREATE TEMP TRIGGER IF NOT EXISTS SdEpochAdded AFTER INSERT ON main.Sur1 BEGIN
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) SELECT
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'D', new.CjNo, NULL, NULL, new.MyDate WHERE new.MyDate IS NOT NULL;
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) SELECT
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'N', new.CjNo, NULL, NULL, new.Name WHERE new.Name IS NOT NULL;
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) SELECT
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'L', new.CjNo, NULL, NULL, new.Layers WHERE new.Layers IS NOT NULL;
END;

CREATE TEMP TRIGGER IF NOT EXISTS SdPointAdded AFTER INSERT ON main.Sur3 BEGIN
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) VALUES (
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'P', NULL, new.CjdNo, NULL, new.PointName);
END;

CREATE TEMP TRIGGER IF NOT EXISTS SdEpochChanged AFTER UPDATE ON main.Sur1 BEGIN
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) SELECT
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'D', new.CjNo, NULL, old.MyDate, new.MyDate WHERE old.MyDate IS NOT new.MyDate COLLATE BINARY;
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) SELECT
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'N', new.CjNo, NULL, old.Name, new.Name WHERE old.Name IS NOT new.Name COLLATE BINARY;
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) SELECT
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'L', new.CjNo, NULL, old.Layers, new.Layers WHERE old.Layers IS NOT new.Layers;
END;

CREATE TEMP TRIGGER IF NOT EXISTS SdEpochDeleted AFTER DELETE ON main.Sur1 BEGIN
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) VALUES (
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'E', old.CjNo, NULL,
    trim(coalesce(old.MyDate, '') || ' ' || coalesce(old.Name, '') || ' ' || coalesce(old.Layers, '')), NULL);
  UPDATE History SET CjNo = NULL,
    Label = trim(coalesce(Label || ' ', '') || coalesce(old.MyDate, '') || ' ' || coalesce(old.Name, ''))
    WHERE CjNo = old.CjNo;
  DELETE FROM Origins WHERE CjNo = old.CjNo;
END;

CREATE TEMP TRIGGER IF NOT EXISTS SdPointRenamed AFTER UPDATE OF PointName ON main.Sur3
WHEN old.PointName IS NOT new.PointName COLLATE BINARY BEGIN
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) VALUES (
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'P', NULL, new.CjdNo, old.PointName, new.PointName);
END;

CREATE TEMP TRIGGER IF NOT EXISTS SdPointDeleted AFTER DELETE ON main.Sur3 BEGIN
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) VALUES (
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'T', NULL, old.CjdNo, old.PointName, NULL);
  UPDATE History SET CjdNo = NULL, Label = trim(coalesce(Label || ' ', '') || coalesce(old.PointName, ''))
    WHERE CjdNo = old.CjdNo;
  DELETE FROM Origins WHERE CjdNo = old.CjdNo;
END;
