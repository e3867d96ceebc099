-- The history, written by the server as the records change, whoever
-- changes them: the program, or plain SQL. With its owner's rights, since
-- nobody else may write the history; it refuses to run for any table but
-- the three record tables. A write is recorded under the entry the
-- transaction made (sedimetra.entry), when that entry is this
-- transaction's and this project's; otherwise under an entry of its own,
-- "sql". An epoch's renumbering is no change: its history and origins move
-- with it. A deleted epoch or point leaves its rows, named in label.
-- Entries and kept files are stamped with the login and the server's time,
-- whatever the insert says.

CREATE OR REPLACE FUNCTION sedimetra.stamp_row() RETURNS trigger LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $$
BEGIN
  -- The schema's own functions (the history, a carried project) write
  -- as the owner, with what they were given.
  IF current_user = (SELECT r.rolname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_roles r
                     ON r.oid = c.relowner WHERE c.oid = TG_RELID) THEN
    RETURN NEW;
  END IF;
  IF TG_TABLE_NAME = 'entries' THEN
    NEW.carriedby := NULL;
    IF NEW.how IS NULL OR NEW.how NOT IN ('typed', 'import', 'level', 'server', 'undo', 'sql') THEN
      RAISE EXCEPTION 'unknown way of writing: %', NEW.how USING ERRCODE = '22023';
    END IF;
    NEW.writtenat := now();
    NEW.who := session_user;
    NEW.txid := txid_current();
    -- The project's write lock from the transaction's first entry on:
    -- its history rows follow the others' whole, in the order they commit.
    PERFORM pg_catalog.pg_advisory_xact_lock(1399080304, NEW.project_id);
  ELSE
    NEW.readat := now();
    NEW.readby := session_user;
    -- A kept file is what its bytes are, whatever the insert says.
    IF NEW.data IS NOT NULL THEN
      NEW.sha256 := pg_catalog.encode(pg_catalog.sha256(NEW.data), 'hex');
      NEW.size := pg_catalog.length(NEW.data);
    END IF;
  END IF;
  RETURN NEW;
END $$;

DROP TRIGGER IF EXISTS entries_stamped ON sedimetra.entries;

CREATE TRIGGER entries_stamped BEFORE INSERT ON sedimetra.entries FOR EACH ROW EXECUTE FUNCTION sedimetra.stamp_row();

DROP TRIGGER IF EXISTS sources_stamped ON sedimetra.sources;

CREATE TRIGGER sources_stamped BEFORE INSERT ON sedimetra.sources FOR EACH ROW EXECUTE FUNCTION sedimetra.stamp_row();

-- The entry a change of `project` is recorded under: the one this
-- transaction made for it, by this login, and not carried from a
-- file; else one of its own ("sql"). A session names its entry in
-- the setting sedimetra.entry, which it could set to any number.
CREATE OR REPLACE FUNCTION sedimetra.entry_for(project integer) RETURNS bigint LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  entry bigint;
BEGIN
  PERFORM pg_catalog.pg_advisory_xact_lock(1399080304, project);
  entry := nullif(current_setting('sedimetra.entry', true), '')::bigint;
  IF entry IS NULL OR NOT EXISTS (SELECT FROM sedimetra.entries WHERE project_id = project
                                   AND id = entry AND txid = pg_catalog.txid_current()
                                   AND who = session_user AND carriedby IS NULL) THEN
    INSERT INTO sedimetra.entries (project_id, how) VALUES (project, 'sql') RETURNING id INTO entry;
    PERFORM set_config('sedimetra.entry', entry::text, true);
  END IF;
  RETURN entry;
END $$;

-- The history's chain (see historyHash in provenance.h): each row's
-- hash over its fields and the project's previous row's hash, set as
-- the row is written. Rows are written under the project's write
-- lock, so that their ids follow one another in commit order.
-- A field as it enters the hash: "<bytes>:<text>|", or "-|" for none.
-- Without a pinned search_path (every name in it is qualified) so
-- that it is inlined where it is used.
CREATE OR REPLACE FUNCTION sedimetra.chain_field(f text) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN f IS NULL THEN '-|' ELSE pg_catalog.octet_length(f)::text OPERATOR(pg_catalog.||) ':'
    OPERATOR(pg_catalog.||) f OPERATOR(pg_catalog.||) '|' END
$$;

CREATE OR REPLACE FUNCTION sedimetra.chain_text(id bigint, entryid bigint, writtenat timestamptz, kind text, oldvalue text, newvalue text) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT sedimetra.chain_field(id::text) || sedimetra.chain_field(entryid::text)
    || sedimetra.chain_field(pg_catalog.floor(pg_catalog.date_part('epoch', writtenat))::bigint::text)
    || sedimetra.chain_field(kind) || sedimetra.chain_field(oldvalue) || sedimetra.chain_field(newvalue)
$$;

CREATE OR REPLACE FUNCTION sedimetra.history_hash(previous text, id bigint, entryid bigint, writtenat timestamptz, kind text, oldvalue text, newvalue text) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT pg_catalog.encode(pg_catalog.sha256(pg_catalog.convert_to(
    sedimetra.chain_text(id, entryid, writtenat, kind, oldvalue, newvalue) || coalesce(previous, ''),
    'UTF8')), 'hex')
$$;

-- A row written one at a time: chained to the project's last row.
-- A row the schema's own functions chained already (chain_rows,
-- running with the rights of the schema's owner role, which owns the
-- history table) keeps its hash; the owner is named, not looked up in
-- the catalog for each of tens of thousands of rows. Without a pinned
-- search_path, for speed: it runs inside those functions (whose path
-- is pinned) and names nothing unqualified.
CREATE OR REPLACE FUNCTION sedimetra.chain_history() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF TG_TABLE_SCHEMA OPERATOR(pg_catalog.<>) 'sedimetra' OR TG_TABLE_NAME OPERATOR(pg_catalog.<>) 'history'
     OR TG_LEVEL OPERATOR(pg_catalog.<>) 'ROW' OR TG_WHEN OPERATOR(pg_catalog.<>) 'BEFORE'
     OR TG_OP OPERATOR(pg_catalog.<>) 'INSERT' THEN
    RAISE EXCEPTION 'sedimetra.chain_history() chains the rows of sedimetra.history only' USING ERRCODE = '42501';
  END IF;
  IF NEW.hash IS NOT NULL AND current_user OPERATOR(pg_catalog.=) 'sedimetra_owner'::pg_catalog.name THEN
    RETURN NEW;
  END IF;
  PERFORM pg_catalog.pg_advisory_xact_lock(1399080304, NEW.project_id);
  NEW.hash := sedimetra.history_hash((SELECT h.hash FROM sedimetra.history h
      WHERE h.project_id OPERATOR(pg_catalog.=) NEW.project_id AND h.id OPERATOR(pg_catalog.<) NEW.id
      ORDER BY h.id DESC LIMIT 1),
    NEW.id, NEW.entryid, NEW.writtenat, NEW.kind, NEW.oldvalue, NEW.newvalue);
  RETURN NEW;
END $$;

-- Many rows at once, chained as they are made, given as arrays of one
-- length, a row at each place in order: its entry, its time (NULL: now),
-- kind, epoch, point, old and new value and label. The rows are given
-- ids after the project's write lock is held, their hashes are computed
-- in one pass, and they are inserted in one statement. Called by the
-- schema's functions alone; arrays, not a document, so that a push of
-- tens of thousands of heights is not written out and parsed again.
CREATE OR REPLACE FUNCTION sedimetra.chain_rows(project integer, entryids bigint[], writtenats timestamptz[], kinds text[], cjnos integer[], cjdnos integer[], oldvalues text[], newvalues text[], labels text[]) RETURNS void LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  n integer := coalesce(pg_catalog.cardinality(kinds), 0);
  ids bigint[];
  times timestamptz[];
  hashes text[];
  previous text;
  id text;
  t timestamptz;
  last_t timestamptz;
  entry_field text;
  time_field text;
  seconds text;
  i integer;
BEGIN
  IF n = 0 THEN
    RETURN;
  END IF;
  PERFORM pg_catalog.pg_advisory_xact_lock(1399080304, project);
  SELECT h.hash INTO previous FROM sedimetra.history h WHERE h.project_id = project
    ORDER BY h.id DESC LIMIT 1;
  -- One pass in order: each row's id, then its hash over the previous.
  -- The row's text is chain_text's, written out here: called for each
  -- of tens of thousands of rows that function costs more than all the
  -- rest, and a push's rows share their entry and time, whose parts are
  -- made once.
  ids := pg_catalog.array_fill(NULL::bigint, ARRAY[n]);
  times := pg_catalog.array_fill(NULL::timestamptz, ARRAY[n]);
  hashes := pg_catalog.array_fill(NULL::text, ARRAY[n]);
  FOR i IN 1 .. n LOOP
    ids[i] := pg_catalog.nextval('sedimetra.history_id_seq'::pg_catalog.regclass);
    id := ids[i]::text;
    t := coalesce(writtenats[i], now());
    times[i] := t;
    IF i = 1 OR entryids[i] IS DISTINCT FROM entryids[i - 1] THEN
      entry_field := sedimetra.chain_field(entryids[i]::text);
    END IF;
    IF i = 1 OR t IS DISTINCT FROM last_t THEN
      seconds := pg_catalog.floor(pg_catalog.date_part('epoch', t))::bigint::text;
      time_field := pg_catalog.octet_length(seconds)::text || ':' || seconds || '|';
      last_t := t;
    END IF;
    previous := pg_catalog.encode(pg_catalog.sha256(pg_catalog.convert_to(
      pg_catalog.octet_length(id)::text || ':' || id || '|' || entry_field || time_field
      || CASE WHEN kinds[i] IS NULL THEN '-|' ELSE pg_catalog.octet_length(kinds[i])::text || ':' || kinds[i] || '|' END
      || CASE WHEN oldvalues[i] IS NULL THEN '-|'
              ELSE pg_catalog.octet_length(oldvalues[i])::text || ':' || oldvalues[i] || '|' END
      || CASE WHEN newvalues[i] IS NULL THEN '-|'
              ELSE pg_catalog.octet_length(newvalues[i])::text || ':' || newvalues[i] || '|' END
      || coalesce(previous, ''), 'UTF8')), 'hex');
    hashes[i] := previous;
  END LOOP;
  INSERT INTO sedimetra.history (project_id, id, entryid, writtenat, kind, cjno, cjdno, oldvalue, newvalue,
                                 label, hash)
    SELECT project, u.id, u.entryid, u.t, u.kind, u.cjno, u.cjdno, u.oldvalue, u.newvalue, u.label, u.hash
    FROM ROWS FROM (pg_catalog.unnest(ids), pg_catalog.unnest(entryids), pg_catalog.unnest(times),
                    pg_catalog.unnest(kinds), pg_catalog.unnest(cjnos), pg_catalog.unnest(cjdnos),
                    pg_catalog.unnest(oldvalues), pg_catalog.unnest(newvalues), pg_catalog.unnest(labels),
                    pg_catalog.unnest(hashes))
         AS u(id, entryid, t, kind, cjno, cjdno, oldvalue, newvalue, label, hash);
END $$;

-- Heights changed in one statement, chained under one entry at one time:
-- the epochs, points, old and new values (NULL: none) of each, in order.
CREATE OR REPLACE FUNCTION sedimetra.chain_heights(project integer, entry bigint, cjnos integer[], cjdnos integer[], oldvalues text[], newvalues text[]) RETURNS void LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  n integer := coalesce(pg_catalog.cardinality(cjnos), 0);
BEGIN
  IF n > 0 THEN
    PERFORM sedimetra.chain_rows(project, pg_catalog.array_fill(entry, ARRAY[n]), NULL::timestamptz[],
                                 pg_catalog.array_fill('H'::text, ARRAY[n]), cjnos, cjdnos, oldvalues, newvalues,
                                 NULL::text[]);
  END IF;
END $$;

-- What chained many rows from a document before chain_rows did.
DROP FUNCTION IF EXISTS sedimetra.insert_history(integer, jsonb);

DROP TRIGGER IF EXISTS history_chained ON sedimetra.history;

-- Not even called for a row the schema's functions chained already (as
-- the function itself would return at once): a push chains tens of
-- thousands of rows.
CREATE TRIGGER history_chained BEFORE INSERT ON sedimetra.history FOR EACH ROW WHEN (NEW.hash IS NULL OR current_user OPERATOR(pg_catalog.<>) 'sedimetra_owner'::pg_catalog.name) EXECUTE FUNCTION sedimetra.chain_history();

-- The elevations' history, a statement at a time: a push of tens of
-- thousands of heights is one insert into the history, not one each.
CREATE OR REPLACE FUNCTION sedimetra.record_elevations() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  project integer;
  entry bigint;
BEGIN
  IF TG_TABLE_SCHEMA <> 'sedimetra' OR TG_TABLE_NAME <> 'sur2' OR TG_LEVEL <> 'STATEMENT'
     OR TG_WHEN <> 'AFTER' THEN
    RAISE EXCEPTION 'sedimetra.record_elevations() records the changes of sedimetra.sur2 only' USING ERRCODE = '42501';
  END IF;
  IF TG_OP = 'INSERT' THEN
    FOR project IN SELECT DISTINCT n.project_id FROM new_rows n
                   JOIN sedimetra.projects p ON p.id = n.project_id LOOP
      entry := sedimetra.entry_for(project);
      PERFORM sedimetra.chain_heights(project, entry, pg_catalog.array_agg(n.cjno ORDER BY n.cjno, n.cjdno),
        pg_catalog.array_agg(n.cjdno ORDER BY n.cjno, n.cjdno), NULL::text[],
        pg_catalog.array_agg(n.pointh::text ORDER BY n.cjno, n.cjdno))
        FROM new_rows n WHERE n.project_id = project;
    END LOOP;
  ELSIF TG_OP = 'UPDATE' THEN
    FOR project IN SELECT DISTINCT n.project_id FROM new_rows n
                   JOIN old_rows o ON o.project_id = n.project_id AND o.cjno = n.cjno
                   AND o.cjdno = n.cjdno AND o.pointh IS DISTINCT FROM n.pointh
                   JOIN sedimetra.projects p ON p.id = n.project_id LOOP
      entry := sedimetra.entry_for(project);
      PERFORM sedimetra.chain_heights(project, entry, pg_catalog.array_agg(n.cjno ORDER BY n.cjno, n.cjdno),
        pg_catalog.array_agg(n.cjdno ORDER BY n.cjno, n.cjdno), pg_catalog.array_agg(o.pointh::text ORDER BY n.cjno, n.cjdno),
        pg_catalog.array_agg(n.pointh::text ORDER BY n.cjno, n.cjdno))
        FROM new_rows n
        JOIN old_rows o ON o.project_id = n.project_id AND o.cjno = n.cjno AND o.cjdno = n.cjdno
        WHERE n.project_id = project AND o.pointh IS DISTINCT FROM n.pointh;
    END LOOP;
  ELSE
    FOR project IN SELECT DISTINCT o.project_id FROM old_rows o
                   JOIN sedimetra.projects p ON p.id = o.project_id LOOP
      entry := sedimetra.entry_for(project);
      PERFORM sedimetra.chain_heights(project, entry, pg_catalog.array_agg(o.cjno ORDER BY o.cjno, o.cjdno),
        pg_catalog.array_agg(o.cjdno ORDER BY o.cjno, o.cjdno), pg_catalog.array_agg(o.pointh::text ORDER BY o.cjno, o.cjdno),
        NULL::text[])
        FROM old_rows o WHERE o.project_id = project;
      DELETE FROM sedimetra.origins g USING old_rows o WHERE o.project_id = project
        AND g.project_id = project AND g.cjno = o.cjno AND g.cjdno = o.cjdno;
    END LOOP;
  END IF;
  RETURN NULL;
END $$;

CREATE OR REPLACE FUNCTION sedimetra.record_history() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  project integer;
  entry bigint;
BEGIN
  IF TG_TABLE_SCHEMA <> 'sedimetra' OR TG_TABLE_NAME NOT IN ('sur1', 'sur3', 'origins')
     OR TG_LEVEL <> 'ROW' OR TG_WHEN <> 'AFTER' THEN
    RAISE EXCEPTION 'sedimetra.record_history() records the changes of the sedimetra record tables only' USING ERRCODE = '42501';
  END IF;
  IF TG_OP = 'DELETE' THEN project := OLD.project_id; ELSE project := NEW.project_id; END IF;
  -- A project being removed takes its history with it.
  IF NOT EXISTS (SELECT FROM sedimetra.projects WHERE id = project) THEN
    RETURN NULL;
  END IF;
  -- An origin replaced or removed by a login: what it said is kept
  -- (the schema's own moves and deletions are not run through here).
  IF TG_TABLE_NAME = 'origins' THEN
    entry := sedimetra.entry_for(project);
    INSERT INTO sedimetra.history (project_id, entryid, kind, cjno, cjdno, oldvalue, newvalue)
      VALUES (project, entry, 'O', OLD.cjno, OLD.cjdno, sedimetra.origin_text(OLD.entryid, OLD.line,
              OLD.station, OLD.adjusted, OLD.sigma),
              CASE WHEN TG_OP = 'UPDATE' THEN sedimetra.origin_text(NEW.entryid, NEW.line, NEW.station,
                   NEW.adjusted, NEW.sigma) END);
    RETURN NULL;
  END IF;
  IF TG_TABLE_NAME = 'sur1' AND TG_OP = 'UPDATE' THEN
    IF OLD.cjno <> NEW.cjno THEN
      UPDATE sedimetra.history SET cjno = NEW.cjno WHERE project_id = project AND cjno = OLD.cjno;
      UPDATE sedimetra.origins SET cjno = NEW.cjno WHERE project_id = project AND cjno = OLD.cjno;
    END IF;
  END IF;
  entry := sedimetra.entry_for(project);
  IF TG_TABLE_NAME = 'sur1' THEN
    IF TG_OP = 'UPDATE' THEN
      INSERT INTO sedimetra.history (project_id, entryid, kind, cjno, oldvalue, newvalue)
        SELECT project, entry, k, NEW.cjno, o, n FROM (VALUES ('D', OLD.mydate, NEW.mydate),
          ('N', OLD.name, NEW.name), ('L', OLD.layers, NEW.layers)) c(k, o, n)
        WHERE o IS DISTINCT FROM n;
    ELSIF TG_OP = 'DELETE' THEN
      INSERT INTO sedimetra.history (project_id, entryid, kind, cjno, oldvalue)
        VALUES (project, entry, 'E', OLD.cjno, btrim(coalesce(OLD.mydate, '') || ' ' ||
                coalesce(OLD.name, '') || ' ' || coalesce(OLD.layers, '')));
      UPDATE sedimetra.history SET cjno = NULL, label = btrim(coalesce(label || ' ', '') ||
             coalesce(OLD.mydate, '') || ' ' || coalesce(OLD.name, ''))
        WHERE project_id = project AND cjno = OLD.cjno;
      DELETE FROM sedimetra.origins WHERE project_id = project AND cjno = OLD.cjno;
    END IF;
  ELSE
    IF TG_OP = 'UPDATE' THEN
      IF OLD.pointname IS DISTINCT FROM NEW.pointname THEN
        INSERT INTO sedimetra.history (project_id, entryid, kind, cjdno, oldvalue, newvalue)
          VALUES (project, entry, 'P', NEW.cjdno, OLD.pointname, NEW.pointname);
      END IF;
      IF OLD.x IS DISTINCT FROM NEW.x OR OLD.y IS DISTINCT FROM NEW.y THEN
        INSERT INTO sedimetra.history (project_id, entryid, kind, cjdno, oldvalue, newvalue)
          VALUES (project, entry, 'XY', NEW.cjdno, OLD.x::text || ',' || OLD.y::text,
                  NEW.x::text || ',' || NEW.y::text);
      END IF;
    ELSIF TG_OP = 'DELETE' THEN
      INSERT INTO sedimetra.history (project_id, entryid, kind, cjdno, oldvalue)
        VALUES (project, entry, 'T', OLD.cjdno, OLD.pointname);
      UPDATE sedimetra.history SET cjdno = NULL, label = btrim(coalesce(label || ' ', '') ||
             coalesce(OLD.pointname, '')) WHERE project_id = project AND cjdno = OLD.cjdno;
      DELETE FROM sedimetra.origins WHERE project_id = project AND cjdno = OLD.cjdno;
    END IF;
  END IF;
  RETURN NULL;
END $$;

-- A project's own record of where its values came from, carried from
-- a file by a push: the files, entries (marked as carried, by whom),
-- origins and history, with their ids made the server's. Only a writer
-- of the project may carry into it; the server's own history of the
-- push stands beside it.
-- One kept file of a push, with its bytes: one file a call, so that no
-- document holds them all. Its SHA-256 and size are computed here; the
-- rest is what the file says. A file the project keeps already is kept
-- once.
CREATE OR REPLACE FUNCTION sedimetra.carry_source(project integer, described jsonb, bytes bytea) RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
BEGIN
  IF NOT (project = ANY (sedimetra.login_writes())
          OR pg_catalog.pg_has_role(session_user, 'sedimetra_admin', 'MEMBER')) THEN
    RAISE EXCEPTION 'no right to write project %', project USING ERRCODE = '42501';
  END IF;
  IF bytes IS NULL THEN
    RETURN;
  END IF;
  INSERT INTO sedimetra.sources (project_id, name, sha256, size, readat, readby, instrument, closure,
                                 tolerance, data)
    SELECT project, coalesce(x.name, ''), pg_catalog.encode(pg_catalog.sha256(bytes), 'hex'),
           pg_catalog.length(bytes), x.readat::timestamptz, x.readby, x.instrument, x.closure, x.tolerance,
           bytes
    FROM pg_catalog.jsonb_to_record(described) AS x(name text, readat text, readby text, instrument text,
         closure float8, tolerance float8)
    ON CONFLICT (project_id, sha256) DO NOTHING;
END $$;

-- Nothing here names an object a caller could make first (no
-- temporary table, every name schema-qualified): the ids old and new are
-- matched in jsonb values, never in a table.
CREATE OR REPLACE FUNCTION sedimetra.carry_provenance(project integer, carried jsonb) RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  source_ids jsonb;
  entry_ids jsonb;
  unnamed bigint;
  entryids bigint[];
  times timestamptz[];
  kinds text[];
  cjnos integer[];
  cjdnos integer[];
  olds text[];
  news text[];
  labels text[];
BEGIN
  IF NOT (project = ANY (sedimetra.login_writes())
          OR pg_catalog.pg_has_role(session_user, 'sedimetra_admin', 'MEMBER')) THEN
    RAISE EXCEPTION 'no right to write project %', project USING ERRCODE = '42501';
  END IF;
  PERFORM pg_catalog.pg_advisory_xact_lock(1399080304, project);
  -- A kept file's SHA-256 and size are those of its bytes, computed here.
  INSERT INTO sedimetra.sources (project_id, name, sha256, size, readat, readby, instrument, closure,
                                 tolerance, data)
    SELECT project, x.name, CASE WHEN b.bytes IS NULL THEN pg_catalog.lower(x.sha256)
             ELSE pg_catalog.encode(pg_catalog.sha256(b.bytes), 'hex') END,
           coalesce(pg_catalog.length(b.bytes)::bigint, x.size), x.readat::timestamptz, x.readby,
           x.instrument, x.closure, x.tolerance, b.bytes
    FROM pg_catalog.jsonb_to_recordset(carried->'sources') AS x(id bigint, name text, sha256 text,
         size bigint, readat text, readby text, instrument text, closure float8, tolerance float8,
         data text)
    CROSS JOIN LATERAL (SELECT pg_catalog.decode(x.data, 'base64') AS bytes) b
    ON CONFLICT (project_id, sha256) DO NOTHING;
  SELECT coalesce(pg_catalog.jsonb_object_agg(x.id::text, s.id), '{}') INTO source_ids
    FROM pg_catalog.jsonb_to_recordset(carried->'sources') AS x(id bigint, sha256 text, data text)
    JOIN sedimetra.sources s ON s.project_id = project AND s.sha256 = CASE WHEN x.data IS NULL
      THEN pg_catalog.lower(x.sha256)
      ELSE pg_catalog.encode(pg_catalog.sha256(pg_catalog.decode(x.data, 'base64')), 'hex') END;
  SELECT coalesce(pg_catalog.jsonb_object_agg(x.id::text,
           pg_catalog.nextval('sedimetra.entries_id_seq'::pg_catalog.regclass)), '{}') INTO entry_ids
    FROM pg_catalog.jsonb_to_recordset(carried->'entries') AS x(id bigint);
  -- Carried entries are what the file says, marked with who carried
  -- them; they belong to no transaction, so no write can be made
  -- under one of them.
  INSERT INTO sedimetra.entries (project_id, id, writtenat, who, how, sourceid, sheet, txid, carriedby)
    SELECT project, (entry_ids->>x.id::text)::bigint, coalesce(x.writtenat::timestamptz, now()),
           coalesce(x.who, ''),
           coalesce(x.how, ''), (source_ids->>x.sourceid::text)::bigint, x.sheet, NULL, session_user
    FROM pg_catalog.jsonb_to_recordset(carried->'entries') AS x(id bigint, writtenat text, who text,
         how text, sourceid bigint, sheet text);
  -- The history's rows in order (ties, rows without an id, too), each
  -- entry the server's; a row the project has already (carried before,
  -- or pulled from here and pushed back) is kept once.
  SELECT pg_catalog.array_agg((entry_ids->>x.entryid::text)::bigint ORDER BY x.id, x.o),
         pg_catalog.array_agg(coalesce(x.writtenat::timestamptz, now()) ORDER BY x.id, x.o),
         pg_catalog.array_agg(x.kind ORDER BY x.id, x.o), pg_catalog.array_agg(x.cjno ORDER BY x.id, x.o),
         pg_catalog.array_agg(x.cjdno ORDER BY x.id, x.o), pg_catalog.array_agg(x.oldvalue ORDER BY x.id, x.o),
         pg_catalog.array_agg(x.newvalue ORDER BY x.id, x.o), pg_catalog.array_agg(x.label ORDER BY x.id, x.o)
    INTO entryids, times, kinds, cjnos, cjdnos, olds, news, labels
    FROM ROWS FROM (pg_catalog.jsonb_to_recordset(carried->'history') AS (id bigint, entryid bigint,
         writtenat text, kind text, cjno integer, cjdno integer, oldvalue text, newvalue text,
         label text)) WITH ORDINALITY AS x(id, entryid, writtenat, kind, cjno, cjdno, oldvalue, newvalue, label, o)
    WHERE NOT EXISTS (SELECT FROM sedimetra.history h WHERE h.project_id = project
      AND pg_catalog.concat_ws(E'\x1f', h.kind, coalesce(h.cjno::text, E'\x01'),
            coalesce(h.cjdno::text, E'\x01'), coalesce(h.oldvalue, E'\x01'), coalesce(h.newvalue, E'\x01'),
            pg_catalog.floor(pg_catalog.date_part('epoch', h.writtenat))::bigint::text)
        = pg_catalog.concat_ws(E'\x1f', x.kind, coalesce(x.cjno::text, E'\x01'),
            coalesce(x.cjdno::text, E'\x01'), coalesce(x.oldvalue, E'\x01'), coalesce(x.newvalue, E'\x01'),
            pg_catalog.floor(pg_catalog.date_part('epoch', coalesce(x.writtenat::timestamptz, now())))::bigint::text));
  -- A carried row that names no carried entry is carried all the same,
  -- under an entry that says so.
  IF pg_catalog.array_position(entryids, NULL) IS NOT NULL
     OR EXISTS (SELECT FROM pg_catalog.jsonb_to_recordset(carried->'origins') AS x(entryid bigint)
                WHERE (entry_ids->>coalesce(x.entryid::text, '')) IS NULL) THEN
    INSERT INTO sedimetra.entries (project_id, writtenat, who, how, txid, carriedby)
      VALUES (project, now(), '', '', NULL, session_user) RETURNING id INTO unnamed;
    entryids := pg_catalog.array_replace(entryids, NULL, unnamed);
  END IF;
  INSERT INTO sedimetra.origins (project_id, cjno, cjdno, entryid, line, station, adjusted, sigma)
    SELECT project, x.cjno, x.cjdno, coalesce((entry_ids->>x.entryid::text)::bigint, unnamed), x.line,
           x.station, x.adjusted, x.sigma
    FROM pg_catalog.jsonb_to_recordset(carried->'origins') AS x(cjno integer, cjdno integer,
         entryid bigint, line integer, station text, adjusted float8, sigma float8)
    ON CONFLICT (project_id, cjno, cjdno) DO UPDATE SET entryid = EXCLUDED.entryid, line = EXCLUDED.line,
      station = EXCLUDED.station, adjusted = EXCLUDED.adjusted, sigma = EXCLUDED.sigma;
  PERFORM sedimetra.chain_rows(project, entryids, times, kinds, cjnos, cjdnos, olds, news, labels);
END $$;

DROP TRIGGER IF EXISTS sur1_history ON sedimetra.sur1;

CREATE TRIGGER sur1_history AFTER UPDATE OR DELETE ON sedimetra.sur1 FOR EACH ROW EXECUTE FUNCTION sedimetra.record_history();

DROP TRIGGER IF EXISTS sur3_history ON sedimetra.sur3;

CREATE TRIGGER sur3_history AFTER UPDATE OR DELETE ON sedimetra.sur3 FOR EACH ROW EXECUTE FUNCTION sedimetra.record_history();

-- Epochs and points added, a statement at a time: a push adds hundreds
-- of each in one statement, and their history is one insert. An epoch
-- is recorded as its date, name and load floors (those it has), a point
-- as its name, in the order of their numbers.
CREATE OR REPLACE FUNCTION sedimetra.record_additions() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  project integer;
  entry bigint;
BEGIN
  IF TG_TABLE_SCHEMA <> 'sedimetra' OR TG_TABLE_NAME NOT IN ('sur1', 'sur3') OR TG_LEVEL <> 'STATEMENT'
     OR TG_WHEN <> 'AFTER' OR TG_OP <> 'INSERT' THEN
    RAISE EXCEPTION 'sedimetra.record_additions() records the epochs and points added only' USING ERRCODE = '42501';
  END IF;
  FOR project IN SELECT DISTINCT n.project_id FROM new_rows n
                 JOIN sedimetra.projects p ON p.id = n.project_id LOOP
    entry := sedimetra.entry_for(project);
    IF TG_TABLE_NAME = 'sur1' THEN
      PERFORM sedimetra.chain_rows(project, pg_catalog.array_fill(entry, ARRAY[count(*)::integer]),
        NULL::timestamptz[], pg_catalog.array_agg(c.k ORDER BY n.cjno, c.o),
        pg_catalog.array_agg(n.cjno ORDER BY n.cjno, c.o), NULL::integer[], NULL::text[],
        pg_catalog.array_agg(c.v ORDER BY n.cjno, c.o), NULL::text[])
        FROM new_rows n CROSS JOIN LATERAL (VALUES (1, 'D', n.mydate), (2, 'N', n.name), (3, 'L', n.layers))
             AS c(o, k, v)
        WHERE n.project_id = project AND c.v IS NOT NULL;
    ELSE
      PERFORM sedimetra.chain_rows(project, pg_catalog.array_fill(entry, ARRAY[count(*)::integer]),
        NULL::timestamptz[], pg_catalog.array_fill('P'::text, ARRAY[count(*)::integer]), NULL::integer[],
        pg_catalog.array_agg(n.cjdno ORDER BY n.cjdno), NULL::text[],
        pg_catalog.array_agg(n.pointname ORDER BY n.cjdno), NULL::text[])
        FROM new_rows n WHERE n.project_id = project;
    END IF;
  END LOOP;
  RETURN NULL;
END $$;

DROP TRIGGER IF EXISTS sur1_history_inserted ON sedimetra.sur1;

CREATE TRIGGER sur1_history_inserted AFTER INSERT ON sedimetra.sur1 REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.record_additions();

DROP TRIGGER IF EXISTS sur3_history_inserted ON sedimetra.sur3;

CREATE TRIGGER sur3_history_inserted AFTER INSERT ON sedimetra.sur3 REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.record_additions();

-- A removed project takes its history with it (the history has no
-- foreign key: see the tables). A project is removed by an
-- administrator, who may not touch the history otherwise.
CREATE OR REPLACE FUNCTION sedimetra.remove_history() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
BEGIN
  IF TG_TABLE_SCHEMA <> 'sedimetra' OR TG_TABLE_NAME <> 'projects' OR TG_LEVEL <> 'ROW' OR TG_WHEN <> 'AFTER'
     OR TG_OP <> 'DELETE' THEN
    RAISE EXCEPTION 'sedimetra.remove_history() follows the removal of a project only' USING ERRCODE = '42501';
  END IF;
  DELETE FROM sedimetra.history WHERE project_id = OLD.id;
  RETURN NULL;
END $$;

DROP TRIGGER IF EXISTS projects_history_removed ON sedimetra.projects;

CREATE TRIGGER projects_history_removed AFTER DELETE ON sedimetra.projects FOR EACH ROW EXECUTE FUNCTION sedimetra.remove_history();

ALTER TABLE sedimetra.history DROP CONSTRAINT IF EXISTS history_project_id_fkey;

-- An origin as words the history keeps: "entry 12, line 8, station 2,
-- adjusted 10.2501, sigma 0.3" (what is not there is left out).
CREATE OR REPLACE FUNCTION sedimetra.origin_text(entryid bigint, line integer, station text, adjusted double precision, sigma double precision) RETURNS text LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
  SELECT pg_catalog.concat_ws(', ', 'entry ' || entryid, 'line ' || line, 'station ' || station,
                              'adjusted ' || adjusted, 'sigma ' || sigma)
$$;

-- Origins a login replaces or removes; the schema's own functions (a
-- carried file, renumbering, deletions that follow an epoch or point)
-- write them as the owner and are recorded where they are made.
DROP TRIGGER IF EXISTS origins_history ON sedimetra.origins;

CREATE TRIGGER origins_history AFTER UPDATE OR DELETE ON sedimetra.origins FOR EACH ROW WHEN (current_user <> 'sedimetra_owner') EXECUTE FUNCTION sedimetra.record_history();

-- A record's key (its project, epoch and point numbers) is changed by
-- the schema's own functions alone: moved by plain SQL, an elevation
-- would change epoch or point without a trace. An origin names an entry
-- this login made in this transaction, so that it always says truly who
-- wrote it and when. With the caller's rights: it refuses, it writes
-- nothing.
CREATE OR REPLACE FUNCTION sedimetra.guard_keys() RETURNS trigger LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $$
BEGIN
  IF current_user = (SELECT r.rolname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_roles r
                     ON r.oid = c.relowner WHERE c.oid = TG_RELID) THEN
    RETURN NEW;
  END IF;
  IF TG_OP = 'UPDATE' AND (OLD.project_id IS DISTINCT FROM NEW.project_id
      OR pg_catalog.to_jsonb(OLD)->'cjno' IS DISTINCT FROM pg_catalog.to_jsonb(NEW)->'cjno'
      OR pg_catalog.to_jsonb(OLD)->'cjdno' IS DISTINCT FROM pg_catalog.to_jsonb(NEW)->'cjdno') THEN
    RAISE EXCEPTION 'epoch and point numbers are changed by sedimetra.renumber_epochs() only'
      USING ERRCODE = 'SD002';
  END IF;
  IF TG_TABLE_NAME = 'origins' THEN
    IF NOT EXISTS (SELECT FROM sedimetra.entries e WHERE e.project_id = NEW.project_id
        AND e.id = NEW.entryid AND e.txid = pg_catalog.txid_current() AND e.who = session_user
        AND e.carriedby IS NULL) THEN
      RAISE EXCEPTION 'an origin names the entry its own transaction made' USING ERRCODE = 'SD003';
    END IF;
  END IF;
  RETURN NEW;
END $$;

-- The records' triggers run only for a row whose key changes: a push
-- changes tens of thousands of heights, none of their keys.
DROP TRIGGER IF EXISTS sur1_keys ON sedimetra.sur1;

CREATE TRIGGER sur1_keys BEFORE UPDATE ON sedimetra.sur1 FOR EACH ROW WHEN (OLD.project_id IS DISTINCT FROM NEW.project_id OR OLD.cjno IS DISTINCT FROM NEW.cjno) EXECUTE FUNCTION sedimetra.guard_keys();

DROP TRIGGER IF EXISTS sur2_keys ON sedimetra.sur2;

CREATE TRIGGER sur2_keys BEFORE UPDATE ON sedimetra.sur2 FOR EACH ROW WHEN (OLD.project_id IS DISTINCT FROM NEW.project_id OR OLD.cjno IS DISTINCT FROM NEW.cjno OR OLD.cjdno IS DISTINCT FROM NEW.cjdno) EXECUTE FUNCTION sedimetra.guard_keys();

DROP TRIGGER IF EXISTS sur3_keys ON sedimetra.sur3;

CREATE TRIGGER sur3_keys BEFORE UPDATE ON sedimetra.sur3 FOR EACH ROW WHEN (OLD.project_id IS DISTINCT FROM NEW.project_id OR OLD.cjdno IS DISTINCT FROM NEW.cjdno) EXECUTE FUNCTION sedimetra.guard_keys();

DROP TRIGGER IF EXISTS origins_keys ON sedimetra.origins;

CREATE TRIGGER origins_keys BEFORE INSERT OR UPDATE ON sedimetra.origins FOR EACH ROW EXECUTE FUNCTION sedimetra.guard_keys();

-- The epochs from `first` on move up one number (step 1, an epoch
-- inserted before them) or down one (step -1, epoch `first` deleted);
-- their elevations move with them, their history and origins by the
-- epochs' trigger, and the move itself is a history row ('R': the first
-- number before and after).
CREATE OR REPLACE FUNCTION sedimetra.renumber_epochs(project integer, first integer, step integer) RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
BEGIN
  IF NOT (project = ANY (sedimetra.login_writes())
          OR pg_catalog.pg_has_role(session_user, 'sedimetra_admin', 'MEMBER')) THEN
    RAISE EXCEPTION 'no right to write project %', project USING ERRCODE = '42501';
  END IF;
  IF first IS NULL OR first < 0 OR step IS NULL OR step NOT IN (1, -1) THEN
    RAISE EXCEPTION 'epochs move up or down one number from a number of 0 or more'
      USING ERRCODE = '22023';
  END IF;
  IF step = -1 AND EXISTS (SELECT FROM sedimetra.sur1 WHERE project_id = project AND cjno = first) THEN
    RAISE EXCEPTION 'epoch % is still there', first USING ERRCODE = '22023';
  END IF;
  IF NOT EXISTS (SELECT FROM sedimetra.sur1 WHERE project_id = project AND cjno >= first) THEN
    RETURN;
  END IF;
  -- Numbers are unique: through negative ones, then to their places.
  IF step = 1 THEN
    UPDATE sedimetra.sur1 SET cjno = -cjno - 1 WHERE project_id = project AND cjno >= first;
    UPDATE sedimetra.sur2 SET cjno = -cjno - 1 WHERE project_id = project AND cjno >= first;
    UPDATE sedimetra.sur1 SET cjno = -cjno WHERE project_id = project AND cjno < 0;
    UPDATE sedimetra.sur2 SET cjno = -cjno WHERE project_id = project AND cjno < 0;
  ELSE
    UPDATE sedimetra.sur1 SET cjno = -cjno WHERE project_id = project AND cjno > first;
    UPDATE sedimetra.sur2 SET cjno = -cjno WHERE project_id = project AND cjno > first;
    UPDATE sedimetra.sur1 SET cjno = -cjno - 1 WHERE project_id = project AND cjno < 0;
    UPDATE sedimetra.sur2 SET cjno = -cjno - 1 WHERE project_id = project AND cjno < 0;
  END IF;
  INSERT INTO sedimetra.history (project_id, entryid, kind, oldvalue, newvalue)
    VALUES (project, sedimetra.entry_for(project), 'R',
            CASE WHEN step = 1 THEN first ELSE first + 1 END::text,
            CASE WHEN step = 1 THEN first + 1 ELSE first END::text);
END $$;

-- An elevation that looked like a slip, confirmed by a writer as
-- observed: a history row 'C' holding the value stored now, under the
-- login's own entry. The history is the server's alone to write.
CREATE OR REPLACE FUNCTION sedimetra.confirm_elevation(project integer, target_epoch integer, target_point integer) RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  stored text;
BEGIN
  IF NOT (project = ANY (sedimetra.login_writes())
          OR pg_catalog.pg_has_role(session_user, 'sedimetra_admin', 'MEMBER')) THEN
    RAISE EXCEPTION 'no right to write project %', project USING ERRCODE = '42501';
  END IF;
  SELECT s.pointh::text INTO stored FROM sedimetra.sur2 s
    WHERE s.project_id = project AND s.cjno = target_epoch AND s.cjdno = target_point;
  IF stored IS NULL THEN
    RAISE EXCEPTION 'point % has no elevation in epoch %', target_point, target_epoch
      USING ERRCODE = '22023';
  END IF;
  INSERT INTO sedimetra.history (project_id, entryid, kind, cjno, cjdno, oldvalue, newvalue)
    VALUES (project, sedimetra.entry_for(project), 'C', target_epoch, target_point, stored, stored);
END $$;

DROP TRIGGER IF EXISTS sur2_history ON sedimetra.sur2;

DROP TRIGGER IF EXISTS sur2_history_inserted ON sedimetra.sur2;

CREATE TRIGGER sur2_history_inserted AFTER INSERT ON sedimetra.sur2 REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.record_elevations();

DROP TRIGGER IF EXISTS sur2_history_updated ON sedimetra.sur2;

CREATE TRIGGER sur2_history_updated AFTER UPDATE ON sedimetra.sur2 REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.record_elevations();

DROP TRIGGER IF EXISTS sur2_history_deleted ON sedimetra.sur2;

CREATE TRIGGER sur2_history_deleted AFTER DELETE ON sedimetra.sur2 REFERENCING OLD TABLE AS old_rows FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.record_elevations();

