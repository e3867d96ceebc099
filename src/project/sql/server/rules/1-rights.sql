-- Who may do what, per project. The roles: sedimetra_read reads every
-- project of the firm; sedimetra_write may create projects and write those
-- it is a writer of; sedimetra_admin grants, replaces and removes any. The
-- table `members` says which login or group role reads or writes a project
-- (whoever creates one becomes its writer); row-level security on every
-- shared table holds each session to it, whatever SQL it sends. The
-- projects table and its counters change only through the administrator or
-- the functions below, which run with their owner's rights and check first.

DO $$ BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'sedimetra_read') THEN CREATE ROLE sedimetra_read NOLOGIN; END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'sedimetra_write') THEN CREATE ROLE sedimetra_write NOLOGIN; END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'sedimetra_admin') THEN CREATE ROLE sedimetra_admin NOLOGIN; END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'sedimetra_member') THEN CREATE ROLE sedimetra_member NOLOGIN; END IF;
END $$;

-- The owner of the schema's objects, whose rights the functions
-- below run with: a role nobody logs in as, that can neither change
-- roles nor bypass the row rules, so that a function that is ever
-- led astray can do no more than the schema itself. Whoever runs
-- `server init` becomes its member (to renew the schema later); it
-- gives a project's readers and writers the member role.
DO $$ BEGIN
  IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'sedimetra_owner') THEN
    CREATE ROLE sedimetra_owner NOLOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOREPLICATION NOBYPASSRLS;
  END IF;
  IF EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'sedimetra_owner' AND (rolsuper
             OR rolcreaterole OR rolbypassrls OR rolcanlogin OR rolreplication OR rolcreatedb)) THEN
    RAISE EXCEPTION 'the role sedimetra_owner may not log in, be a superuser, create roles or bypass row security' USING ERRCODE = '42501';
  END IF;
  IF NOT pg_catalog.pg_has_role(current_user, 'sedimetra_owner', 'MEMBER') THEN
    EXECUTE pg_catalog.format('GRANT sedimetra_owner TO %I', current_user);
  END IF;
  IF NOT EXISTS (SELECT FROM pg_catalog.pg_auth_members WHERE roleid = 'sedimetra_member'::regrole
                 AND member = 'sedimetra_owner'::regrole AND admin_option) THEN
    GRANT sedimetra_member TO sedimetra_owner WITH ADMIN OPTION;
  END IF;
END $$;

CREATE TABLE IF NOT EXISTS sedimetra.members (project_id integer NOT NULL REFERENCES sedimetra.projects ON DELETE CASCADE, member name NOT NULL, can_write boolean NOT NULL, PRIMARY KEY (project_id, member));

-- Those who were given rights before the member role existed.
DO $$ DECLARE
  m name;
BEGIN
  FOR m IN SELECT DISTINCT s.member FROM sedimetra.members s
           JOIN pg_catalog.pg_roles r ON r.rolname = s.member
           WHERE s.member NOT IN ('sedimetra_owner', 'sedimetra_member')
           AND NOT pg_catalog.pg_has_role(s.member, 'sedimetra_member', 'MEMBER') LOOP
    EXECUTE pg_catalog.format('GRANT sedimetra_member TO %I', m);
  END LOOP;
END $$;

-- Whether the current role is (through any group) a member of the
-- project, as a reader or as a writer.
CREATE OR REPLACE FUNCTION sedimetra.is_member(project integer, writing boolean) RETURNS boolean LANGUAGE sql STABLE SET search_path = pg_catalog, pg_temp AS $$
  SELECT EXISTS (SELECT FROM sedimetra.members m JOIN pg_catalog.pg_roles r ON r.rolname = m.member WHERE m.project_id = project AND (m.can_write OR NOT writing) AND pg_catalog.pg_has_role(r.oid, 'MEMBER'))
$$;

CREATE OR REPLACE FUNCTION sedimetra.may_read(project integer) RETURNS boolean LANGUAGE sql STABLE SET search_path = pg_catalog, pg_temp AS $$
  SELECT pg_catalog.pg_has_role('sedimetra_read', 'MEMBER') OR pg_catalog.pg_has_role('sedimetra_admin', 'MEMBER') OR sedimetra.is_member(project, false)
$$;

CREATE OR REPLACE FUNCTION sedimetra.may_write(project integer) RETURNS boolean LANGUAGE sql STABLE SET search_path = pg_catalog, pg_temp AS $$
  SELECT pg_catalog.pg_has_role('sedimetra_admin', 'MEMBER') OR sedimetra.is_member(project, true)
$$;

-- The projects the login writes (through any of its roles): whose
-- members it may see. With the owner's rights, since the members
-- table shows a role only its own rows; the login is session_user,
-- which no statement of the caller's can change.
CREATE OR REPLACE FUNCTION sedimetra.login_writes() RETURNS integer[] LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
  SELECT coalesce(array_agg(DISTINCT m.project_id), '{}') FROM sedimetra.members m JOIN pg_catalog.pg_roles r ON r.rolname = m.member WHERE m.can_write AND pg_catalog.pg_has_role(session_user, r.oid, 'MEMBER')
$$;

-- A project's name as names are compared: NFKC, blanks trimmed, in
-- capitals, and the Greek and Cyrillic capitals that look like
-- Latin ones read as those, so that "Α" (alpha) is not another "A".
CREATE OR REPLACE FUNCTION sedimetra.name_key(project_name text) RETURNS text LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
  SELECT pg_catalog.translate(pg_catalog.upper(normalize(pg_catalog.btrim(project_name), NFKC)),
    'ΑΒΕΖΗΙΚΜΝΟΡΤΥΧАВЕЅІЈКМНОРСТХУ', 'ABEZHIKMNOPTYXABESIJKMHOPCTXY')
$$;

-- A new project, its creator (the login) its first writer. A name
-- that is taken by a project the login may not see is refused as
-- any name it may not use is: nobody learns of a project this way.
CREATE OR REPLACE FUNCTION sedimetra.create_project(project_name text) RETURNS integer LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  made integer;
BEGIN
  IF project_name IS NULL OR btrim(project_name) = '' OR length(project_name) > 200
     OR project_name ~ '[[:cntrl:]]'
     OR project_name ~ '[\u00AD\u200B-\u200F\u202A-\u202E\u2060-\u2064\uFEFF]'
     OR project_name <> normalize(pg_catalog.btrim(project_name), NFKC)
     OR EXISTS (SELECT FROM sedimetra.projects
                WHERE sedimetra.name_key(name) = sedimetra.name_key(project_name)) THEN
    RAISE EXCEPTION 'this project name cannot be used' USING ERRCODE = 'SD001';
  END IF;
  INSERT INTO sedimetra.projects (name) VALUES (project_name) RETURNING id INTO made;
  INSERT INTO sedimetra.members VALUES (made, session_user, true);
  RETURN made;
EXCEPTION WHEN unique_violation THEN
  RAISE EXCEPTION 'this project name cannot be used' USING ERRCODE = 'SD001';
END $$;

CREATE OR REPLACE FUNCTION sedimetra.grant_project(project_name text, member_name text, rights text) RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  project integer;
BEGIN
  IF rights NOT IN ('read', 'write', 'none') THEN
    RAISE EXCEPTION 'rights must be read, write or none' USING ERRCODE = '22023';
  END IF;
  SELECT id INTO project FROM sedimetra.projects WHERE name = project_name;
  IF project IS NULL THEN
    RAISE EXCEPTION 'no project %', project_name USING ERRCODE = 'P0002';
  END IF;
  IF rights = 'none' THEN
    DELETE FROM sedimetra.members WHERE project_id = project AND member = member_name;
    IF FOUND THEN
      -- Member of no project any more: no longer a member of the schema.
      IF NOT EXISTS (SELECT FROM sedimetra.members WHERE member = member_name)
         AND pg_catalog.pg_has_role(member_name, 'sedimetra_member', 'MEMBER') THEN
        EXECUTE pg_catalog.format('REVOKE sedimetra_member FROM %I', member_name);
      END IF;
      RETURN;
    END IF;
  END IF;
  IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = member_name) THEN
    RAISE EXCEPTION 'no role %', member_name USING ERRCODE = '42704';
  END IF;
  IF rights = 'none' THEN
    RETURN;
  END IF;
  IF member_name IN ('sedimetra_owner', 'sedimetra_member') THEN
    RAISE EXCEPTION 'the role % holds the schema and is no member of a project', member_name
      USING ERRCODE = '22023';
  END IF;
  INSERT INTO sedimetra.members VALUES (project, member_name, rights = 'write')
    ON CONFLICT (project_id, member) DO UPDATE SET can_write = EXCLUDED.can_write;
  -- A member may use the schema; the row rules show it its projects alone.
  IF NOT pg_catalog.pg_has_role(member_name, 'sedimetra_member', 'MEMBER') THEN
    EXECUTE pg_catalog.format('GRANT sedimetra_member TO %I', member_name);
  END IF;
END $$;

-- The grants from scratch: a writer no longer reads every project,
-- nor adds, removes or counts projects itself.
REVOKE ALL ON ALL TABLES IN SCHEMA sedimetra FROM sedimetra_read, sedimetra_write, sedimetra_admin;

REVOKE ALL ON ALL SEQUENCES IN SCHEMA sedimetra FROM sedimetra_read, sedimetra_write, sedimetra_admin;

DO $$ BEGIN
  IF pg_catalog.pg_has_role('sedimetra_write', 'sedimetra_read', 'MEMBER') THEN
    REVOKE sedimetra_read FROM sedimetra_write;
  END IF;
END $$;

-- A member of a project (sedimetra_member, given by grant_project)
-- holds the same table rights as a writer: the row rules alone say
-- which project it reads and which it writes.
GRANT USAGE ON SCHEMA sedimetra TO sedimetra_read, sedimetra_write, sedimetra_admin, sedimetra_member;

GRANT SELECT ON ALL TABLES IN SCHEMA sedimetra TO sedimetra_read, sedimetra_write, sedimetra_admin, sedimetra_member;

GRANT INSERT, UPDATE, DELETE ON sedimetra.sur1, sedimetra.sur2, sedimetra.sur3, sedimetra.header_fields, sedimetra.plan_drawings TO sedimetra_write, sedimetra_admin, sedimetra_member;

-- The files kept and the entries are added, never changed; the
-- history is written by the server alone.
GRANT INSERT ON sedimetra.sources, sedimetra.entries TO sedimetra_write, sedimetra_admin, sedimetra_member;

GRANT USAGE ON SEQUENCE sedimetra.sources_id_seq, sedimetra.entries_id_seq TO sedimetra_write, sedimetra_admin, sedimetra_member;

GRANT INSERT, UPDATE, DELETE ON sedimetra.origins TO sedimetra_write, sedimetra_admin, sedimetra_member;

GRANT DELETE ON sedimetra.projects TO sedimetra_admin;

GRANT INSERT, UPDATE, DELETE ON sedimetra.members TO sedimetra_admin;

-- A project is seen by those who may read it.
ALTER TABLE sedimetra.projects ENABLE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS project_read ON sedimetra.projects;

CREATE POLICY project_read ON sedimetra.projects FOR SELECT USING (sedimetra.may_read(id));

DROP POLICY IF EXISTS project_remove ON sedimetra.projects;

CREATE POLICY project_remove ON sedimetra.projects FOR DELETE TO sedimetra_admin USING (true);

-- Who works on which building is seen by the administrators, by
-- each role of its own rows, and by the writers of a project of
-- that project's members.
ALTER TABLE sedimetra.members ENABLE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS members_read ON sedimetra.members;

CREATE POLICY members_read ON sedimetra.members FOR SELECT USING (pg_catalog.pg_has_role('sedimetra_admin', 'MEMBER') OR member IN (SELECT rolname FROM pg_catalog.pg_roles WHERE pg_catalog.pg_has_role(oid, 'MEMBER')) OR project_id = ANY (sedimetra.login_writes()));

DROP POLICY IF EXISTS members_change ON sedimetra.members;

CREATE POLICY members_change ON sedimetra.members FOR ALL TO sedimetra_admin USING (true) WITH CHECK (true);

ALTER TABLE sedimetra.sources ENABLE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS records_read ON sedimetra.sources;

DROP POLICY IF EXISTS records_insert ON sedimetra.sources;

DROP POLICY IF EXISTS records_update ON sedimetra.sources;

DROP POLICY IF EXISTS records_delete ON sedimetra.sources;

-- A project's records: read where the project is seen, written where
-- the role is its writer. The list of projects is made once a
-- statement, not once a row.
CREATE POLICY records_read ON sedimetra.sources FOR SELECT USING (project_id IN (SELECT id FROM sedimetra.projects));

CREATE POLICY records_insert ON sedimetra.sources FOR INSERT WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

ALTER TABLE sedimetra.entries ENABLE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS records_read ON sedimetra.entries;

DROP POLICY IF EXISTS records_insert ON sedimetra.entries;

DROP POLICY IF EXISTS records_update ON sedimetra.entries;

DROP POLICY IF EXISTS records_delete ON sedimetra.entries;

CREATE POLICY records_read ON sedimetra.entries FOR SELECT USING (project_id IN (SELECT id FROM sedimetra.projects));

CREATE POLICY records_insert ON sedimetra.entries FOR INSERT WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

ALTER TABLE sedimetra.origins ENABLE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS records_read ON sedimetra.origins;

DROP POLICY IF EXISTS records_insert ON sedimetra.origins;

DROP POLICY IF EXISTS records_update ON sedimetra.origins;

DROP POLICY IF EXISTS records_delete ON sedimetra.origins;

CREATE POLICY records_read ON sedimetra.origins FOR SELECT USING (project_id IN (SELECT id FROM sedimetra.projects));

CREATE POLICY records_insert ON sedimetra.origins FOR INSERT WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

CREATE POLICY records_update ON sedimetra.origins FOR UPDATE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id))) WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

CREATE POLICY records_delete ON sedimetra.origins FOR DELETE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

ALTER TABLE sedimetra.history ENABLE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS records_read ON sedimetra.history;

DROP POLICY IF EXISTS records_insert ON sedimetra.history;

DROP POLICY IF EXISTS records_update ON sedimetra.history;

DROP POLICY IF EXISTS records_delete ON sedimetra.history;

CREATE POLICY records_read ON sedimetra.history FOR SELECT USING (project_id IN (SELECT id FROM sedimetra.projects));

ALTER TABLE sedimetra.sur1 ENABLE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS records_read ON sedimetra.sur1;

CREATE POLICY records_read ON sedimetra.sur1 FOR SELECT USING (project_id IN (SELECT id FROM sedimetra.projects));

DROP POLICY IF EXISTS records_insert ON sedimetra.sur1;

CREATE POLICY records_insert ON sedimetra.sur1 FOR INSERT WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

DROP POLICY IF EXISTS records_update ON sedimetra.sur1;

CREATE POLICY records_update ON sedimetra.sur1 FOR UPDATE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id))) WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

DROP POLICY IF EXISTS records_delete ON sedimetra.sur1;

CREATE POLICY records_delete ON sedimetra.sur1 FOR DELETE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

ALTER TABLE sedimetra.sur2 ENABLE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS records_read ON sedimetra.sur2;

CREATE POLICY records_read ON sedimetra.sur2 FOR SELECT USING (project_id IN (SELECT id FROM sedimetra.projects));

DROP POLICY IF EXISTS records_insert ON sedimetra.sur2;

CREATE POLICY records_insert ON sedimetra.sur2 FOR INSERT WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

DROP POLICY IF EXISTS records_update ON sedimetra.sur2;

CREATE POLICY records_update ON sedimetra.sur2 FOR UPDATE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id))) WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

DROP POLICY IF EXISTS records_delete ON sedimetra.sur2;

CREATE POLICY records_delete ON sedimetra.sur2 FOR DELETE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

ALTER TABLE sedimetra.sur3 ENABLE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS records_read ON sedimetra.sur3;

CREATE POLICY records_read ON sedimetra.sur3 FOR SELECT USING (project_id IN (SELECT id FROM sedimetra.projects));

DROP POLICY IF EXISTS records_insert ON sedimetra.sur3;

CREATE POLICY records_insert ON sedimetra.sur3 FOR INSERT WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

DROP POLICY IF EXISTS records_update ON sedimetra.sur3;

CREATE POLICY records_update ON sedimetra.sur3 FOR UPDATE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id))) WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

DROP POLICY IF EXISTS records_delete ON sedimetra.sur3;

CREATE POLICY records_delete ON sedimetra.sur3 FOR DELETE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

ALTER TABLE sedimetra.header_fields ENABLE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS records_read ON sedimetra.header_fields;

CREATE POLICY records_read ON sedimetra.header_fields FOR SELECT USING (project_id IN (SELECT id FROM sedimetra.projects));

DROP POLICY IF EXISTS records_insert ON sedimetra.header_fields;

CREATE POLICY records_insert ON sedimetra.header_fields FOR INSERT WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

DROP POLICY IF EXISTS records_update ON sedimetra.header_fields;

CREATE POLICY records_update ON sedimetra.header_fields FOR UPDATE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id))) WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

DROP POLICY IF EXISTS records_delete ON sedimetra.header_fields;

CREATE POLICY records_delete ON sedimetra.header_fields FOR DELETE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

ALTER TABLE sedimetra.plan_drawings ENABLE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS records_read ON sedimetra.plan_drawings;

CREATE POLICY records_read ON sedimetra.plan_drawings FOR SELECT USING (project_id IN (SELECT id FROM sedimetra.projects));

DROP POLICY IF EXISTS records_insert ON sedimetra.plan_drawings;

CREATE POLICY records_insert ON sedimetra.plan_drawings FOR INSERT WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

DROP POLICY IF EXISTS records_update ON sedimetra.plan_drawings;

CREATE POLICY records_update ON sedimetra.plan_drawings FOR UPDATE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id))) WITH CHECK (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

DROP POLICY IF EXISTS records_delete ON sedimetra.plan_drawings;

CREATE POLICY records_delete ON sedimetra.plan_drawings FOR DELETE USING (project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id)));

