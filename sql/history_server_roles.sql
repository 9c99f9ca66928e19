-- The two group roles of the lab's run history server (cluster-wide; made once, before
-- history_server.sql). Login roles are made members of them by the administrator:
--   CREATE ROLE ws1 LOGIN PASSWORD '…' IN ROLE quarn_history_writer;
--   CREATE ROLE quality LOGIN PASSWORD '…' IN ROLE quarn_history_reader;
DO $$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'quarn_history_writer') THEN
    CREATE ROLE quarn_history_writer NOLOGIN;  -- the workstations: read and append
  END IF;
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'quarn_history_reader') THEN
    CREATE ROLE quarn_history_reader NOLOGIN;  -- reports: read only
  END IF;
END $$;
