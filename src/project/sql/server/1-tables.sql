-- The schema's tables as a new server gets them (with 3-positions.sql and
-- 5-provenance.sql after them, and the rules in rules/ made on top). The
-- version row is written by `server init`, which knows the version it makes.

CREATE SCHEMA sedimetra;

CREATE TABLE sedimetra.schema_version (version integer NOT NULL);

-- change_seq counts the commits to a project's records: a program that read
-- the project sees from it whether another one has written.
CREATE TABLE sedimetra.projects (
  id serial PRIMARY KEY,
  name text NOT NULL UNIQUE,
  created timestamptz NOT NULL DEFAULT now(),
  change_seq bigint NOT NULL DEFAULT 0);

CREATE TABLE sedimetra.header_fields (
  project_id integer NOT NULL REFERENCES sedimetra.projects ON DELETE CASCADE,
  name text NOT NULL,
  value text,
  PRIMARY KEY (project_id, name));

-- The epochs, the elevations and the points, as the project file has them.
CREATE TABLE sedimetra.sur1 (
  project_id integer NOT NULL REFERENCES sedimetra.projects ON DELETE CASCADE,
  cjno integer NOT NULL,
  mydate text,
  name text,
  layers text,
  PRIMARY KEY (project_id, cjno));

CREATE TABLE sedimetra.sur2 (
  project_id integer NOT NULL REFERENCES sedimetra.projects ON DELETE CASCADE,
  cjno integer NOT NULL,
  cjdno integer NOT NULL,
  pointh double precision,
  PRIMARY KEY (project_id, cjno, cjdno));

CREATE INDEX sur2_point ON sedimetra.sur2 (project_id, cjdno, cjno);

CREATE TABLE sedimetra.sur3 (
  project_id integer NOT NULL REFERENCES sedimetra.projects ON DELETE CASCADE,
  cjdno integer NOT NULL,
  pointname text,
  aci integer,
  mark text,
  PRIMARY KEY (project_id, cjdno));

-- The drawing colours, filled from the project template.
CREATE TABLE sedimetra.acirgb (
  aci_color integer PRIMARY KEY,
  rgb_r integer NOT NULL,
  rgb_g integer NOT NULL,
  rgb_b integer NOT NULL);
