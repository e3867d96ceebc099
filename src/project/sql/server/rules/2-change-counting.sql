-- The change counter of every project: once per statement that changes
-- rows of a project, whoever makes it (the program, or plain SQL), each
-- project whose rows the statement touched counts a change; the session
-- counts those of its own project (sedimetra.project) as its own, so that it
-- never reloads for its own writes. Both go back with a rollback. Made anew
-- by every `server init`, so an older server gets it too. It runs with its
-- owner's rights, so that nobody else may move a counter; nobody may call it
-- (functionRights) or attach it to a table of their own, and it refuses to
-- count for any table but the schema's record tables, before it reads a
-- row: a row of a type of the caller's could run the caller's cast inside.

CREATE OR REPLACE FUNCTION sedimetra.count_change() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  own integer;
  touched integer[];
BEGIN
  IF TG_TABLE_SCHEMA <> 'sedimetra' OR TG_TABLE_NAME NOT IN ('sur1', 'sur2', 'sur3', 'header_fields', 'plan_drawings') OR TG_LEVEL <> 'STATEMENT'
     OR TG_WHEN <> 'AFTER' THEN
    RAISE EXCEPTION 'sedimetra.count_change() counts the changes of the sedimetra record tables only' USING ERRCODE = '42501';
  END IF;
  own := nullif(current_setting('sedimetra.project', true), '')::integer;
  IF TG_OP = 'INSERT' THEN
    SELECT array_agg(DISTINCT project_id) INTO touched FROM new_rows;
  ELSIF TG_OP = 'DELETE' THEN
    SELECT array_agg(DISTINCT project_id) INTO touched FROM old_rows;
  ELSE
    SELECT array_agg(DISTINCT project_id) INTO touched
      FROM (SELECT project_id FROM new_rows UNION SELECT project_id FROM old_rows) r;
  END IF;
  IF touched IS NULL THEN
    RETURN NULL;
  END IF;
  UPDATE sedimetra.projects SET change_seq = change_seq + 1 WHERE id = ANY (touched);
  IF own = ANY (touched) THEN
    PERFORM set_config('sedimetra.own_changes', (coalesce(nullif(current_setting('sedimetra.own_changes', true), ''), '0')::bigint + 1)::text, false);
  END IF;
  RETURN NULL;
END $$;

DROP TRIGGER IF EXISTS sur1_changed ON sedimetra.sur1;

DROP TRIGGER IF EXISTS sur1_inserted ON sedimetra.sur1;

CREATE TRIGGER sur1_inserted AFTER INSERT ON sedimetra.sur1 REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS sur1_updated ON sedimetra.sur1;

CREATE TRIGGER sur1_updated AFTER UPDATE ON sedimetra.sur1 REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS sur1_deleted ON sedimetra.sur1;

CREATE TRIGGER sur1_deleted AFTER DELETE ON sedimetra.sur1 REFERENCING OLD TABLE AS old_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS sur2_changed ON sedimetra.sur2;

DROP TRIGGER IF EXISTS sur2_inserted ON sedimetra.sur2;

CREATE TRIGGER sur2_inserted AFTER INSERT ON sedimetra.sur2 REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS sur2_updated ON sedimetra.sur2;

CREATE TRIGGER sur2_updated AFTER UPDATE ON sedimetra.sur2 REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS sur2_deleted ON sedimetra.sur2;

CREATE TRIGGER sur2_deleted AFTER DELETE ON sedimetra.sur2 REFERENCING OLD TABLE AS old_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS sur3_changed ON sedimetra.sur3;

DROP TRIGGER IF EXISTS sur3_inserted ON sedimetra.sur3;

CREATE TRIGGER sur3_inserted AFTER INSERT ON sedimetra.sur3 REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS sur3_updated ON sedimetra.sur3;

CREATE TRIGGER sur3_updated AFTER UPDATE ON sedimetra.sur3 REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS sur3_deleted ON sedimetra.sur3;

CREATE TRIGGER sur3_deleted AFTER DELETE ON sedimetra.sur3 REFERENCING OLD TABLE AS old_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS header_changed ON sedimetra.header_fields;

DROP TRIGGER IF EXISTS header_inserted ON sedimetra.header_fields;

CREATE TRIGGER header_inserted AFTER INSERT ON sedimetra.header_fields REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS header_updated ON sedimetra.header_fields;

CREATE TRIGGER header_updated AFTER UPDATE ON sedimetra.header_fields REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS header_deleted ON sedimetra.header_fields;

CREATE TRIGGER header_deleted AFTER DELETE ON sedimetra.header_fields REFERENCING OLD TABLE AS old_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS plan_changed ON sedimetra.plan_drawings;

DROP TRIGGER IF EXISTS plan_inserted ON sedimetra.plan_drawings;

CREATE TRIGGER plan_inserted AFTER INSERT ON sedimetra.plan_drawings REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS plan_updated ON sedimetra.plan_drawings;

CREATE TRIGGER plan_updated AFTER UPDATE ON sedimetra.plan_drawings REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

DROP TRIGGER IF EXISTS plan_deleted ON sedimetra.plan_drawings;

CREATE TRIGGER plan_deleted AFTER DELETE ON sedimetra.plan_drawings REFERENCING OLD TABLE AS old_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change();

