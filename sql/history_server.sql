-- The lab's run history on a PostgreSQL server, schema version 1.
--
-- Every workstation keeps its own SQLite history (lab/history/schema.sql) and pushes each of its
-- entries here, unchanged: an entry is keyed by the workstation and its local number, and carries the
-- exact canonical bytes its hash covers, so the server holds the same hash chain per workstation as
-- the workstation's file. The server refuses an entry whose hash is not the SHA-256 of its previous
-- hash and content, an entry that does not continue its workstation's chain, and any change or
-- removal of an entry (for every role; a superuser who disables the guards is found by the check,
-- which recomputes the chain).
--
-- Applied once by an administrator, in one transaction, to an empty database:
--   psql -v ON_ERROR_STOP=1 --single-transaction -d DB -f sql/history_server_roles.sql -f sql/history_server.sql
-- The roles quarn_history_writer (the workstations: read and append) and quarn_history_reader
-- (reports: read only) are made by history_server_roles.sql; grant them to the login roles.

CREATE TABLE history_server_meta (
  name  TEXT PRIMARY KEY,
  value TEXT NOT NULL
);
INSERT INTO history_server_meta (name, value) VALUES ('schema_version', '1');

-- One row per workstation history: its first entry names the history (a file replaced by another
-- history under the same id is refused), and the head is the last entry the server acknowledged.
CREATE TABLE workstation (
  id            TEXT PRIMARY KEY CHECK (id <> ''),
  first_hash    TEXT NOT NULL CHECK (first_hash ~ '^[0-9a-f]{64}$'),
  head_seq      BIGINT NOT NULL DEFAULT 0 CHECK (head_seq >= 0),
  head_hash     TEXT NOT NULL DEFAULT '0000000000000000000000000000000000000000000000000000000000000000',
  registered_at TIMESTAMPTZ NOT NULL DEFAULT now()
);

-- The entries: the header columns as the workstation stored them, its canonical content (the bytes
-- the hash covers) and, for runs and corrections, what a list shows and filters by.
CREATE TABLE entry (
  workstation_id TEXT    NOT NULL REFERENCES workstation (id),
  seq            BIGINT  NOT NULL CHECK (seq >= 1),
  kind           TEXT    NOT NULL CHECK (kind IN ('run', 'correction', 'cancellation', 'adjustment')),
  refers_to      BIGINT,
  recorded_at    BIGINT  NOT NULL,
  workstation    TEXT    NOT NULL,
  note           TEXT    NOT NULL,
  operator_name  TEXT    NOT NULL,
  hash_format    INTEGER NOT NULL,
  prev_hash      TEXT    NOT NULL,
  hash           TEXT    NOT NULL,
  canonical      BYTEA   NOT NULL,
  run_started_at BIGINT,
  run_utc_offset INTEGER,
  run_kind       TEXT,
  run_tag        TEXT,
  -- The run's devices in channel order (what a list shows and filters by).
  device_channels INTEGER[],
  device_names    TEXT[],
  device_serials  TEXT[],
  device_verdicts TEXT[],
  received_at    TIMESTAMPTZ NOT NULL DEFAULT now(),
  PRIMARY KEY (workstation_id, seq),
  CONSTRAINT entry_hash_of_content
    CHECK (hash = encode(sha256(convert_to(prev_hash || E'\n', 'UTF8') || canonical), 'hex'))
);
-- The lab's list: runs newest first (by the run's own start), a serial's runs and corrections, what
-- refers to a run (its corrections and cancellation).
CREATE INDEX entry_run_order ON entry (run_started_at DESC, workstation_id, seq DESC) WHERE kind = 'run';
CREATE INDEX entry_device_serials ON entry USING gin (device_serials);
CREATE INDEX entry_refers_to ON entry (workstation_id, refers_to, kind) WHERE refers_to IS NOT NULL;

-- An entry must continue its workstation's chain: the next number, linked to the acknowledged head
-- (the first entry being the one the workstation was registered with). The head then moves to it.
CREATE FUNCTION entry_continues_chain() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
  ws workstation%ROWTYPE;
BEGIN
  SELECT * INTO ws FROM workstation WHERE id = NEW.workstation_id FOR UPDATE;
  IF NOT FOUND THEN
    RAISE EXCEPTION 'workstation % is not registered', NEW.workstation_id;
  END IF;
  IF NEW.seq <> ws.head_seq + 1 OR NEW.prev_hash <> ws.head_hash THEN
    RAISE EXCEPTION 'entry % of workstation % does not continue its chain (head %)',
      NEW.seq, NEW.workstation_id, ws.head_seq;
  END IF;
  IF NEW.seq = 1 AND NEW.hash <> ws.first_hash THEN
    RAISE EXCEPTION 'entry 1 of workstation % is not the one it was registered with', NEW.workstation_id;
  END IF;
  NEW.received_at := now();
  RETURN NEW;
END $$;
CREATE TRIGGER entry_continues_chain BEFORE INSERT ON entry
  FOR EACH ROW EXECUTE FUNCTION entry_continues_chain();

CREATE FUNCTION entry_moves_head() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE workstation SET head_seq = NEW.seq, head_hash = NEW.hash WHERE id = NEW.workstation_id;
  RETURN NULL;
END $$;
CREATE TRIGGER entry_moves_head AFTER INSERT ON entry
  FOR EACH ROW EXECUTE FUNCTION entry_moves_head();

-- Nothing stored is changed or removed.
CREATE FUNCTION history_refuse_change() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  RAISE EXCEPTION 'the run history is append-only: % on % refused', TG_OP, TG_TABLE_NAME;
END $$;
CREATE TRIGGER entry_refuse_change BEFORE UPDATE OR DELETE ON entry
  FOR EACH ROW EXECUTE FUNCTION history_refuse_change();
CREATE TRIGGER entry_refuse_truncate BEFORE TRUNCATE ON entry
  FOR EACH STATEMENT EXECUTE FUNCTION history_refuse_change();
CREATE TRIGGER workstation_refuse_delete BEFORE DELETE ON workstation
  FOR EACH ROW EXECUTE FUNCTION history_refuse_change();
CREATE TRIGGER workstation_refuse_truncate BEFORE TRUNCATE ON workstation
  FOR EACH STATEMENT EXECUTE FUNCTION history_refuse_change();
CREATE TRIGGER meta_refuse_change BEFORE UPDATE OR DELETE ON history_server_meta
  FOR EACH ROW EXECUTE FUNCTION history_refuse_change();

-- A workstation's id and first entry never change, and its head only moves forward, one entry at a
-- time, to an entry the server holds (the insert trigger above moves it).
CREATE FUNCTION workstation_head_forward() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF NEW.id <> OLD.id OR NEW.first_hash <> OLD.first_hash OR NEW.registered_at <> OLD.registered_at THEN
    RAISE EXCEPTION 'workstation %: its id and first entry never change', OLD.id;
  END IF;
  IF NEW.head_seq <> OLD.head_seq + 1 OR NOT EXISTS (
       SELECT 1 FROM entry e WHERE e.workstation_id = NEW.id AND e.seq = NEW.head_seq AND e.hash = NEW.head_hash) THEN
    RAISE EXCEPTION 'workstation %: the head moves only to the next stored entry', OLD.id;
  END IF;
  RETURN NEW;
END $$;
CREATE TRIGGER workstation_head_forward BEFORE UPDATE ON workstation
  FOR EACH ROW EXECUTE FUNCTION workstation_head_forward();

-- A new workstation starts empty.
CREATE FUNCTION workstation_starts_empty() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF NEW.head_seq <> 0 OR NEW.head_hash <> '0000000000000000000000000000000000000000000000000000000000000000' THEN
    RAISE EXCEPTION 'workstation % must be registered before its first entry', NEW.id;
  END IF;
  NEW.registered_at := now();
  RETURN NEW;
END $$;
CREATE TRIGGER workstation_starts_empty BEFORE INSERT ON workstation
  FOR EACH ROW EXECUTE FUNCTION workstation_starts_empty();

REVOKE ALL ON history_server_meta, workstation, entry FROM PUBLIC;
GRANT SELECT ON history_server_meta, workstation, entry
  TO quarn_history_writer, quarn_history_reader;
GRANT INSERT ON workstation, entry TO quarn_history_writer;
GRANT UPDATE (head_seq, head_hash) ON workstation TO quarn_history_writer;
