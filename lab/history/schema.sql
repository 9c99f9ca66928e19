-- Run history of the verification workstation, schema version 2.
-- Plain SQL: the tables take the same shape in a server database. Times are milliseconds since
-- 1970-01-01 UTC; pressures kPa unless a column names the device unit; a missing number is NULL.
-- The comment /*WITHOUT_ROWID*/ after a table's columns is how SQLite stores it (the rows kept in the
-- order of their key, with no second copy of the key); other databases ignore it.

CREATE TABLE history_meta (
  name  TEXT PRIMARY KEY,
  value TEXT NOT NULL
);

-- Every write is one entry. Entries are never changed or deleted: a correction or a cancellation is
-- a new entry that refers to the run it concerns. Each entry carries the SHA-256 of its content and
-- of the previous entry's hash, and the workstation and operator that made it (operator_name came
-- with schema 2, last, as a history of schema 1 gets it).
CREATE TABLE entry (
  seq         INTEGER PRIMARY KEY,
  kind        TEXT    NOT NULL CHECK (kind IN ('run', 'correction', 'cancellation', 'adjustment')),
  refers_to   INTEGER REFERENCES entry (seq),
  recorded_at INTEGER NOT NULL,
  workstation TEXT    NOT NULL,
  note        TEXT    NOT NULL,
  hash_format INTEGER NOT NULL,
  prev_hash   TEXT    NOT NULL,
  hash        TEXT    NOT NULL UNIQUE,
  operator_name TEXT  NOT NULL DEFAULT ''
);
CREATE INDEX entry_refers_to ON entry (refers_to);

-- The content of a 'run' entry, or the corrected content of a 'correction' entry.
CREATE TABLE run (
  entry_seq           INTEGER PRIMARY KEY REFERENCES entry (seq),
  started_at          INTEGER NOT NULL,
  finished_at         INTEGER NOT NULL,
  utc_offset_min      INTEGER NOT NULL,
  workstation         TEXT    NOT NULL,
  kind                TEXT    NOT NULL CHECK (kind IN ('verification', 'calibration', 'relay_check')),
  tag                 TEXT    NOT NULL CHECK (tag IN ('as_found', 'as_left')),
  calibrator_model    TEXT    NOT NULL,
  calibrator_serial   TEXT    NOT NULL,
  calibrator_version  TEXT    NOT NULL,
  reference_kind      TEXT    NOT NULL CHECK (reference_kind IN ('calibrator', 'dorv')),
  reference_serial    TEXT    NOT NULL,
  reference_module    INTEGER NOT NULL,
  reference_upper_kpa REAL,
  temperature         TEXT    NOT NULL,
  humidity            TEXT    NOT NULL,
  pressure            TEXT    NOT NULL,
  method              TEXT    NOT NULL,
  point_set           INTEGER NOT NULL,
  point_count         INTEGER NOT NULL,
  hand_input          INTEGER NOT NULL,
  hold_s              INTEGER NOT NULL,
  band_prc            REAL,
  hard_mode           INTEGER NOT NULL,
  protocol_no         TEXT    NOT NULL,
  protocol_date       TEXT    NOT NULL,
  periodic            INTEGER NOT NULL,
  decimals            INTEGER NOT NULL,
  display_unit        INTEGER NOT NULL,
  unit_factor         REAL,
  reference_list      TEXT    NOT NULL
);
CREATE INDEX run_started_at ON run (started_at);

-- Texts of the protocol page (placeholder controls) in their order.
CREATE TABLE run_field (
  entry_seq INTEGER NOT NULL REFERENCES run (entry_seq),
  idx       INTEGER NOT NULL,
  name      TEXT    NOT NULL,
  value     TEXT    NOT NULL,
  PRIMARY KEY (entry_seq, idx)
) /*WITHOUT_ROWID*/;

-- The devices under test, one row per enabled channel.
CREATE TABLE run_channel (
  entry_seq     INTEGER NOT NULL REFERENCES run (entry_seq),
  channel       INTEGER NOT NULL CHECK (channel BETWEEN 1 AND 4),
  name          TEXT    NOT NULL,
  model         TEXT    NOT NULL,
  serial        TEXT    NOT NULL,
  inventory_no  TEXT    NOT NULL,
  owner         TEXT    NOT NULL,
  range_min     REAL,
  range_max     REAL,
  units         TEXT    NOT NULL,
  min_kpa       REAL,
  max_kpa       REAL,
  to_kpa_mul    REAL,
  signal_min    REAL,
  signal_max    REAL,
  signal_units  TEXT    NOT NULL,
  signal_type   INTEGER NOT NULL,
  transfer_fn   INTEGER NOT NULL,
  err_ok        REAL,
  vr_coeff      REAL,
  method        TEXT    NOT NULL,
  verdict       TEXT    NOT NULL CHECK (verdict IN ('none', 'suitable', 'unsuitable')),
  PRIMARY KEY (entry_seq, channel)
) /*WITHOUT_ROWID*/;
CREATE INDEX run_channel_serial ON run_channel (serial);

-- Every recorded point of every device; idx is the record's place in the run's result table.
CREATE TABLE run_point (
  entry_seq     INTEGER NOT NULL REFERENCES run (entry_seq),
  channel       INTEGER NOT NULL,
  idx           INTEGER NOT NULL,
  target_prc    REAL,
  p_ref         REAL,
  current       REAL,
  i_expected    REAL,
  p_from_i      REAL,
  p_from_i_kpa  REAL,
  reduced_error REAL,
  uncertainty   REAL,
  PRIMARY KEY (entry_seq, channel, idx)
) /*WITHOUT_ROWID*/;

-- The contacts of a relay check: two per channel.
CREATE TABLE run_relay (
  entry_seq      INTEGER NOT NULL REFERENCES run (entry_seq),
  channel        INTEGER NOT NULL CHECK (channel BETWEEN 1 AND 4),
  relay          INTEGER NOT NULL CHECK (relay BETWEEN 1 AND 2),
  selected       INTEGER NOT NULL,
  setpoint_kpa   REAL,
  hysteresis_kpa REAL,
  state          INTEGER NOT NULL,
  p_on_kpa       REAL,
  p_off_kpa      REAL,
  PRIMARY KEY (entry_seq, channel, relay)
) /*WITHOUT_ROWID*/;

-- The content of an 'adjustment' entry: a device changed between runs.
CREATE TABLE adjustment (
  entry_seq      INTEGER PRIMARY KEY REFERENCES entry (seq),
  at             INTEGER NOT NULL,
  utc_offset_min INTEGER NOT NULL,
  workstation    TEXT    NOT NULL,
  channel        INTEGER NOT NULL,
  serial         TEXT    NOT NULL,
  device_name    TEXT    NOT NULL,
  action         TEXT    NOT NULL
                 CHECK (action IN ('current_trim', 'sensor_trim', 'zero_trim', 'trim_restore', 'rerange')),
  note           TEXT    NOT NULL
);
CREATE INDEX adjustment_serial ON adjustment (serial);

INSERT INTO history_meta (name, value) VALUES ('schema_version', '2');
INSERT INTO history_meta (name, value) VALUES ('head_seq', '0');
INSERT INTO history_meta (name, value)
  VALUES ('head_hash', '0000000000000000000000000000000000000000000000000000000000000000');
