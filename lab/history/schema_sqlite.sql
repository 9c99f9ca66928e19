-- SQLite's guard for the rule that entries are never changed or deleted: any UPDATE or DELETE of
-- an entry or of its content is refused. (A server database would use its own trigger or rights.)
CREATE TRIGGER entry_no_update BEFORE UPDATE ON entry
  BEGIN SELECT RAISE(ABORT, 'history entries are never changed'); END;
CREATE TRIGGER entry_no_delete BEFORE DELETE ON entry
  BEGIN SELECT RAISE(ABORT, 'history entries are never deleted'); END;
CREATE TRIGGER run_no_update BEFORE UPDATE ON run
  BEGIN SELECT RAISE(ABORT, 'history entries are never changed'); END;
CREATE TRIGGER run_no_delete BEFORE DELETE ON run
  BEGIN SELECT RAISE(ABORT, 'history entries are never deleted'); END;
CREATE TRIGGER run_field_no_update BEFORE UPDATE ON run_field
  BEGIN SELECT RAISE(ABORT, 'history entries are never changed'); END;
CREATE TRIGGER run_field_no_delete BEFORE DELETE ON run_field
  BEGIN SELECT RAISE(ABORT, 'history entries are never deleted'); END;
CREATE TRIGGER run_channel_no_update BEFORE UPDATE ON run_channel
  BEGIN SELECT RAISE(ABORT, 'history entries are never changed'); END;
CREATE TRIGGER run_channel_no_delete BEFORE DELETE ON run_channel
  BEGIN SELECT RAISE(ABORT, 'history entries are never deleted'); END;
CREATE TRIGGER run_point_no_update BEFORE UPDATE ON run_point
  BEGIN SELECT RAISE(ABORT, 'history entries are never changed'); END;
CREATE TRIGGER run_point_no_delete BEFORE DELETE ON run_point
  BEGIN SELECT RAISE(ABORT, 'history entries are never deleted'); END;
CREATE TRIGGER run_relay_no_update BEFORE UPDATE ON run_relay
  BEGIN SELECT RAISE(ABORT, 'history entries are never changed'); END;
CREATE TRIGGER run_relay_no_delete BEFORE DELETE ON run_relay
  BEGIN SELECT RAISE(ABORT, 'history entries are never deleted'); END;
CREATE TRIGGER adjustment_no_update BEFORE UPDATE ON adjustment
  BEGIN SELECT RAISE(ABORT, 'history entries are never changed'); END;
CREATE TRIGGER adjustment_no_delete BEFORE DELETE ON adjustment
  BEGIN SELECT RAISE(ABORT, 'history entries are never deleted'); END;
