-- Where the values came from (version 5): the files kept, the entries (who
-- wrote, when, how), the origin of each elevation and the history of every
-- change. Added in place to an older schema, part of a new one.

CREATE TABLE IF NOT EXISTS sedimetra.sources (
  project_id integer NOT NULL REFERENCES sedimetra.projects ON DELETE CASCADE,
  id bigserial,
  name text NOT NULL,
  sha256 text NOT NULL,
  size bigint NOT NULL,
  readat timestamptz,
  readby text,
  instrument text,
  closure double precision,
  tolerance double precision,
  data bytea,
  PRIMARY KEY (project_id, id),
  UNIQUE (project_id, sha256));

CREATE TABLE IF NOT EXISTS sedimetra.entries (
  project_id integer NOT NULL REFERENCES sedimetra.projects ON DELETE CASCADE,
  id bigserial,
  writtenat timestamptz NOT NULL DEFAULT now(),
  who text NOT NULL DEFAULT session_user,
  how text NOT NULL,
  sourceid bigint,
  sheet text,
  txid bigint DEFAULT txid_current(),
  carriedby text,
  PRIMARY KEY (project_id, id));

CREATE TABLE IF NOT EXISTS sedimetra.origins (
  project_id integer NOT NULL REFERENCES sedimetra.projects ON DELETE CASCADE,
  cjno integer NOT NULL,
  cjdno integer NOT NULL,
  entryid bigint,
  line integer,
  station text,
  adjusted double precision,
  sigma double precision,
  PRIMARY KEY (project_id, cjno, cjdno));

-- A history row belongs to a project without a foreign key (checked for
-- each of a push's tens of thousands of rows, the key cost as much as the
-- row): only the schema's own functions write it, always beside an entry
-- of the project made in the same transaction, whose key holds the
-- project; a removed project takes its history with it (rules).
CREATE TABLE IF NOT EXISTS sedimetra.history (
  project_id integer NOT NULL,
  id bigserial,
  entryid bigint,
  writtenat timestamptz NOT NULL DEFAULT now(),
  kind text NOT NULL,
  cjno integer,
  cjdno integer,
  oldvalue text,
  newvalue text,
  label text,
  PRIMARY KEY (project_id, id));

CREATE INDEX IF NOT EXISTS history_cell ON sedimetra.history (project_id, cjno, cjdno);

-- Version 6: each history row chained to the one before it.
ALTER TABLE sedimetra.history ADD COLUMN IF NOT EXISTS hash text;
