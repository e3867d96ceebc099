-- A point's position in the history, once Sur3 has X and Y: east and north
-- as text (made with the other history triggers, on a file with positions).

CREATE TEMP TRIGGER IF NOT EXISTS SdPointMoved AFTER UPDATE OF X, Y ON main.Sur3
WHEN old.X IS NOT new.X OR old.Y IS NOT new.Y BEGIN
  INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) VALUES (
    (SELECT EntryId FROM temp.SdWriting),
    (SELECT CASE WHEN Stamped THEN CAST(strftime('%s', 'now') AS INTEGER) END FROM temp.SdWriting),
    'XY', NULL, new.CjdNo,
    CASE WHEN old.X IS NULL OR old.Y IS NULL THEN NULL ELSE printf('%!.15g,%!.15g', old.X, old.Y) END,
    CASE WHEN new.X IS NULL OR new.Y IS NULL THEN NULL ELSE printf('%!.15g,%!.15g', new.X, new.Y) END);
END;
