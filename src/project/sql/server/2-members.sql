-- From version 1, in place: rights per project. Whoever could write before
-- (every member of sedimetra_write) becomes a writer of every project there
-- is; projects made from now on follow the rules in rules/1-rights.sql.

CREATE TABLE sedimetra.members (
  project_id integer NOT NULL REFERENCES sedimetra.projects ON DELETE CASCADE,
  member name NOT NULL,
  can_write boolean NOT NULL,
  PRIMARY KEY (project_id, member));

INSERT INTO sedimetra.members
  SELECT p.id, r.rolname, true
  FROM sedimetra.projects p, pg_auth_members a
  JOIN pg_roles r ON r.oid = a.member
  WHERE a.roleid = 'sedimetra_write'::regrole;
