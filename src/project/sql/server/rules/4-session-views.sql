-- The views a session works through: the file's table names over the
-- records of the project named by the session setting sedimetra.project,
-- adding its id to every record written and refusing any other. Permanent,
-- so that opening a project writes nothing to the server's catalog; with
-- the rights of the session's own role, so that row-level security holds.

CREATE SCHEMA IF NOT EXISTS sedimetra_project;

CREATE OR REPLACE VIEW sedimetra_project.sur1 WITH (security_invoker = true) AS SELECT project_id, cjno, mydate, name, layers FROM sedimetra.sur1 WHERE project_id = current_setting('sedimetra.project', true)::integer WITH CASCADED CHECK OPTION;

ALTER VIEW sedimetra_project.sur1 ALTER COLUMN project_id SET DEFAULT current_setting('sedimetra.project', true)::integer;

CREATE OR REPLACE VIEW sedimetra_project.sur2 WITH (security_invoker = true) AS SELECT project_id, cjno, cjdno, pointh FROM sedimetra.sur2 WHERE project_id = current_setting('sedimetra.project', true)::integer WITH CASCADED CHECK OPTION;

ALTER VIEW sedimetra_project.sur2 ALTER COLUMN project_id SET DEFAULT current_setting('sedimetra.project', true)::integer;

CREATE OR REPLACE VIEW sedimetra_project.sur3 WITH (security_invoker = true) AS SELECT project_id, cjdno, pointname, aci, mark, x, y FROM sedimetra.sur3 WHERE project_id = current_setting('sedimetra.project', true)::integer WITH CASCADED CHECK OPTION;

ALTER VIEW sedimetra_project.sur3 ALTER COLUMN project_id SET DEFAULT current_setting('sedimetra.project', true)::integer;

CREATE OR REPLACE VIEW sedimetra_project.headerfields WITH (security_invoker = true) AS SELECT project_id, name, value FROM sedimetra.header_fields WHERE project_id = current_setting('sedimetra.project', true)::integer WITH CASCADED CHECK OPTION;

ALTER VIEW sedimetra_project.headerfields ALTER COLUMN project_id SET DEFAULT current_setting('sedimetra.project', true)::integer;

CREATE OR REPLACE VIEW sedimetra_project.plandrawing WITH (security_invoker = true) AS SELECT project_id, name, data FROM sedimetra.plan_drawings WHERE project_id = current_setting('sedimetra.project', true)::integer WITH CASCADED CHECK OPTION;

ALTER VIEW sedimetra_project.plandrawing ALTER COLUMN project_id SET DEFAULT current_setting('sedimetra.project', true)::integer;

CREATE OR REPLACE VIEW sedimetra_project.sources WITH (security_invoker = true) AS SELECT project_id, id, name, sha256, size, readat, readby, instrument, closure, tolerance, data FROM sedimetra.sources WHERE project_id = current_setting('sedimetra.project', true)::integer WITH CASCADED CHECK OPTION;

ALTER VIEW sedimetra_project.sources ALTER COLUMN project_id SET DEFAULT current_setting('sedimetra.project', true)::integer;

CREATE OR REPLACE VIEW sedimetra_project.entries WITH (security_invoker = true) AS SELECT project_id, id, writtenat, who, how, sourceid, sheet, carriedby FROM sedimetra.entries WHERE project_id = current_setting('sedimetra.project', true)::integer WITH CASCADED CHECK OPTION;

ALTER VIEW sedimetra_project.entries ALTER COLUMN project_id SET DEFAULT current_setting('sedimetra.project', true)::integer;

CREATE OR REPLACE VIEW sedimetra_project.origins WITH (security_invoker = true) AS SELECT project_id, cjno, cjdno, entryid, line, station, adjusted, sigma FROM sedimetra.origins WHERE project_id = current_setting('sedimetra.project', true)::integer WITH CASCADED CHECK OPTION;

ALTER VIEW sedimetra_project.origins ALTER COLUMN project_id SET DEFAULT current_setting('sedimetra.project', true)::integer;

CREATE OR REPLACE VIEW sedimetra_project.history WITH (security_invoker = true) AS SELECT project_id, id, entryid, writtenat, kind, cjno, cjdno, oldvalue, newvalue, label, hash FROM sedimetra.history WHERE project_id = current_setting('sedimetra.project', true)::integer WITH CASCADED CHECK OPTION;

ALTER VIEW sedimetra_project.history ALTER COLUMN project_id SET DEFAULT current_setting('sedimetra.project', true)::integer;

GRANT USAGE ON SCHEMA sedimetra_project TO sedimetra_read, sedimetra_write, sedimetra_admin, sedimetra_member;

GRANT SELECT ON ALL TABLES IN SCHEMA sedimetra_project TO sedimetra_read, sedimetra_write, sedimetra_admin, sedimetra_member;

GRANT INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA sedimetra_project TO sedimetra_write, sedimetra_admin, sedimetra_member;

