-- The points' positions and the plan drawing (version 3): added in place
-- to an older schema, part of a new one.

ALTER TABLE sedimetra.sur3
  ADD COLUMN IF NOT EXISTS x double precision,
  ADD COLUMN IF NOT EXISTS y double precision;

CREATE TABLE IF NOT EXISTS sedimetra.plan_drawings (
  project_id integer PRIMARY KEY REFERENCES sedimetra.projects ON DELETE CASCADE,
  name text,
  data bytea);
