-- Every object of the schema owned by sedimetra_owner, whoever made it:
-- the functions that run with their owner's rights then have no more than
-- the schema's own (never those of the superuser who ran `server init`).

DO $$ DECLARE
  o record;
BEGIN
  -- The schemas first: an object's new owner must be able to create in its schema.
  IF (SELECT nspowner FROM pg_catalog.pg_namespace WHERE nspname = 'sedimetra')
     <> 'sedimetra_owner'::pg_catalog.regrole THEN
    ALTER SCHEMA sedimetra OWNER TO sedimetra_owner;
  END IF;
  IF (SELECT nspowner FROM pg_catalog.pg_namespace WHERE nspname = 'sedimetra_project')
     <> 'sedimetra_owner'::pg_catalog.regrole THEN
    ALTER SCHEMA sedimetra_project OWNER TO sedimetra_owner;
  END IF;
  FOR o IN SELECT c.oid::pg_catalog.regclass AS name, c.relkind FROM pg_catalog.pg_class c
           JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace
           WHERE n.nspname IN ('sedimetra', 'sedimetra_project') AND c.relkind IN ('r', 'v', 'p')
           AND c.relowner <> 'sedimetra_owner'::pg_catalog.regrole LOOP
    EXECUTE pg_catalog.format('ALTER %s %s OWNER TO sedimetra_owner',
                              CASE o.relkind WHEN 'v' THEN 'VIEW' ELSE 'TABLE' END, o.name);
  END LOOP;
  FOR o IN SELECT p.oid::pg_catalog.regprocedure AS name FROM pg_catalog.pg_proc p
           JOIN pg_catalog.pg_namespace n ON n.oid = p.pronamespace
           WHERE n.nspname = 'sedimetra' AND p.proowner <> 'sedimetra_owner'::pg_catalog.regrole LOOP
    EXECUTE pg_catalog.format('ALTER FUNCTION %s OWNER TO sedimetra_owner', o.name);
  END LOOP;
END $$;

