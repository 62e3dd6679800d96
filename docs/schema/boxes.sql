-- The manufacturing record in a database: one row per box served, written by
-- `vespanode-cli download|upload --record TARGET` and read by `vespanode-cli report`.
--
-- vespanode-cli runs the statements below itself (they are built into the program), so this file
-- is what a database made by the tool holds. One section per engine; each starts at its
-- "-- engine:" line and runs up to the next one.
--
-- Columns: one per field of the JSON record (docs/schema/record.schema.json), in snake_case;
-- `record` holds the JSON record itself, whole, so that nothing a later field adds is lost.
-- `record_id` is the record's recordId (a UUID); a record without one (schema 1) gets one made
-- from its port, start, box and operation, so that writing a record twice never gives two rows.
--
-- Migration rule: `schema_version` holds one row, the version of this layout (now 1). A change
-- only ever adds: a nullable column, an index or a table, never a rename, a new type or a drop.
-- Each change raises the version by one and appends its statements, for both engines, under a
-- "-- migration N" line at the end of each engine's section; a program runs the migrations above
-- the database's version, in order, in one transaction. A program refuses a database whose
-- version is newer than its own: it would not know what the new columns mean.

-- engine: sqlite
CREATE TABLE IF NOT EXISTS schema_version (
  version INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS boxes (
  id INTEGER PRIMARY KEY,
  record_id TEXT NOT NULL UNIQUE,
  host TEXT,
  schema INTEGER NOT NULL,
  start_time TEXT NOT NULL,
  end_time TEXT,
  port TEXT NOT NULL,
  operation TEXT NOT NULL,
  box INTEGER,
  file TEXT,
  sha256 TEXT,
  ident_for_nocheck INTEGER,
  manufacture_ident TEXT,
  hardware_module TEXT,
  hardware_version TEXT,
  software_module TEXT,
  software_version TEXT,
  kind_code INTEGER,
  partition_count INTEGER,
  result TEXT NOT NULL,
  failure_kind TEXT,
  failure TEXT,
  reason TEXT,
  phase TEXT,
  bytes_sent INTEGER,
  bytes_received INTEGER,
  frames_resent INTEGER,
  naks_sent INTEGER,
  naks_received INTEGER,
  timeouts INTEGER,
  mean_answer_delay_ms REAL,
  seconds REAL,
  efficiency REAL,
  regions_checked INTEGER,
  regions_differing INTEGER,
  record TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS boxes_start_time ON boxes (start_time);
CREATE INDEX IF NOT EXISTS boxes_port ON boxes (port);
CREATE INDEX IF NOT EXISTS boxes_sha256 ON boxes (sha256);
CREATE INDEX IF NOT EXISTS boxes_result ON boxes (result);

-- engine: postgresql
CREATE TABLE IF NOT EXISTS schema_version (
  version integer NOT NULL
);
CREATE TABLE IF NOT EXISTS boxes (
  id bigserial PRIMARY KEY,
  record_id text NOT NULL UNIQUE,
  host text,
  schema integer NOT NULL,
  start_time timestamptz NOT NULL,
  end_time timestamptz,
  port text NOT NULL,
  operation text NOT NULL,
  box integer,
  file text,
  sha256 text,
  ident_for_nocheck bigint,
  manufacture_ident text,
  hardware_module text,
  hardware_version text,
  software_module text,
  software_version text,
  kind_code bigint,
  partition_count integer,
  result text NOT NULL,
  failure_kind text,
  failure text,
  reason text,
  phase text,
  bytes_sent bigint,
  bytes_received bigint,
  frames_resent bigint,
  naks_sent bigint,
  naks_received bigint,
  timeouts bigint,
  mean_answer_delay_ms double precision,
  seconds double precision,
  efficiency double precision,
  regions_checked integer,
  regions_differing integer,
  record jsonb NOT NULL
);
CREATE INDEX IF NOT EXISTS boxes_start_time ON boxes (start_time);
CREATE INDEX IF NOT EXISTS boxes_port ON boxes (port);
CREATE INDEX IF NOT EXISTS boxes_sha256 ON boxes (sha256);
CREATE INDEX IF NOT EXISTS boxes_result ON boxes (result);
