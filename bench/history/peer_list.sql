-- The peer of `quarn-cli history list`: SQLite's own JSON of the same join (runs newest first with
-- their current content, cancelled runs left out, each run's devices), one line per run, byte for
-- byte what the cli prints. Used by history_scale.py: sqlite3 FILE < peer_list.sql
WITH fix AS (SELECT refers_to AS run_id, MAX(CASE WHEN kind = 'correction' THEN seq END) AS latest,
  MAX(kind = 'cancellation') AS cancelled FROM entry WHERE refers_to IS NOT NULL GROUP BY refers_to),
sel AS (SELECT CASE WHEN e.kind = 'run' THEN e.seq ELSE e.refers_to END AS run_id, r.entry_seq AS content_id,
  COALESCE(f.cancelled, 0) AS cancelled, r.* FROM run r JOIN entry e ON e.seq = r.entry_seq
  LEFT JOIN fix f ON f.run_id = CASE WHEN e.kind = 'run' THEN e.seq ELSE e.refers_to END
  WHERE r.entry_seq = COALESCE(f.latest, e.seq) AND NOT COALESCE(f.cancelled, 0))
SELECT json_object('run', run_id, 'content', content_id, 'cancelled', json(CASE cancelled WHEN 1 THEN 'true' ELSE 'false' END),
  'kind', kind, 'tag', tag,
  'startedAt', strftime('%Y-%m-%dT%H:%M:%S', started_at / 1000 + utc_offset_min * 60, 'unixepoch') || printf('%+03d:%02d', utc_offset_min / 60, abs(utc_offset_min) % 60),
  'finishedAt', strftime('%Y-%m-%dT%H:%M:%S', finished_at / 1000 + utc_offset_min * 60, 'unixepoch') || printf('%+03d:%02d', utc_offset_min / 60, abs(utc_offset_min) % 60),
  'startedAtMs', started_at, 'workstation', workstation, 'calibratorSerial', calibrator_serial,
  'devices', (SELECT json_group_array(json_object('channel', channel, 'name', name, 'model', model, 'serial', serial, 'verdict', verdict))
              FROM (SELECT * FROM run_channel ch WHERE ch.entry_seq = sel.content_id ORDER BY channel)))
FROM sel ORDER BY started_at DESC, run_id DESC;
