-- From a version before 6, once, after the rules (it needs history_hash):
-- the history there is chained as it stands, project by project. A chain
-- made since is checked, never made again: that would hide a change made
-- outside the program.

DO $$ DECLARE
  r record;
  previous text;
  current_project integer;
BEGIN
  FOR r IN SELECT project_id, id, entryid, writtenat, kind, oldvalue, newvalue FROM sedimetra.history
           ORDER BY project_id, id LOOP
    IF current_project IS DISTINCT FROM r.project_id THEN
      current_project := r.project_id;
      previous := NULL;
    END IF;
    previous := sedimetra.history_hash(previous, r.id, r.entryid, r.writtenat, r.kind, r.oldvalue,
                                       r.newvalue);
    UPDATE sedimetra.history SET hash = previous WHERE project_id = r.project_id AND id = r.id;
  END LOOP;
END $$;
