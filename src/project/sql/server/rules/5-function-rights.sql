-- Who may call the schema's functions: nobody by default (PostgreSQL
-- grants EXECUTE to PUBLIC on every new function), then each role what it
-- must. The rules' helpers are called by the policies with the caller's
-- rights; count_change is called by its triggers alone, which needs no
-- EXECUTE right, and without that right nobody can attach it to a table.

REVOKE ALL ON ALL FUNCTIONS IN SCHEMA sedimetra FROM PUBLIC, sedimetra_read, sedimetra_write, sedimetra_admin, sedimetra_member;

GRANT EXECUTE ON FUNCTION sedimetra.is_member(integer, boolean), sedimetra.may_read(integer), sedimetra.may_write(integer), sedimetra.login_writes() TO sedimetra_read, sedimetra_write, sedimetra_admin;

GRANT EXECUTE ON FUNCTION sedimetra.is_member(integer, boolean), sedimetra.may_read(integer), sedimetra.may_write(integer), sedimetra.login_writes() TO sedimetra_member;

GRANT EXECUTE ON FUNCTION sedimetra.create_project(text) TO sedimetra_write, sedimetra_admin;

-- Each checks first that the login writes the project.
GRANT EXECUTE ON FUNCTION sedimetra.carry_provenance(integer, jsonb), sedimetra.carry_source(integer, jsonb, bytea), sedimetra.renumber_epochs(integer, integer, integer), sedimetra.confirm_elevation(integer, integer, integer) TO sedimetra_write, sedimetra_admin, sedimetra_member;

GRANT EXECUTE ON FUNCTION sedimetra.grant_project(text, text, text) TO sedimetra_admin;

