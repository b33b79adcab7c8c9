// The service's SQLite database: one file in the data folder, schema created on open.
import Database from 'better-sqlite3';

const SCHEMA = `
CREATE TABLE IF NOT EXISTS accounts (
  principal_id   TEXT PRIMARY KEY,
  email          TEXT NOT NULL UNIQUE,
  password_hash  TEXT NOT NULL,
  email_verified INTEGER NOT NULL DEFAULT 0,
  created_at     INTEGER NOT NULL,
  keys_reset_at  INTEGER
);
CREATE TABLE IF NOT EXISTS signups (
  principal_id  TEXT PRIMARY KEY,
  email         TEXT NOT NULL,
  password_hash TEXT NOT NULL,
  created_at    INTEGER NOT NULL,
  last_at       INTEGER NOT NULL,
  cancelled     INTEGER NOT NULL DEFAULT 0,
  candidate     INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS signups_email ON signups (email);
CREATE TABLE IF NOT EXISTS claims (
  email     TEXT PRIMARY KEY,
  opened_at INTEGER NOT NULL,
  last_at   INTEGER NOT NULL,
  proven_at INTEGER,
  holder    TEXT
);
CREATE TABLE IF NOT EXISTS limit_events (
  scope   TEXT NOT NULL,
  subject TEXT NOT NULL,
  at      INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS limit_events_subject ON limit_events (scope, subject, at);
CREATE TABLE IF NOT EXISTS codes (
  principal_id TEXT NOT NULL,
  kind         TEXT NOT NULL,
  code_hash    TEXT NOT NULL,
  expires_at   INTEGER NOT NULL,
  wrong_tries  INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (principal_id, kind)
);
CREATE TABLE IF NOT EXISTS device_keys (
  public_key         TEXT PRIMARY KEY,
  principal_id       TEXT NOT NULL,
  status             TEXT NOT NULL CHECK (status IN ('active', 'pending')),
  created_at         INTEGER NOT NULL,
  confirm_token_hash TEXT UNIQUE,
  confirm_expires_at INTEGER
);
CREATE INDEX IF NOT EXISTS device_keys_principal ON device_keys (principal_id);
CREATE TABLE IF NOT EXISTS nonces (
  public_key TEXT NOT NULL,
  nonce      TEXT NOT NULL,
  seen_at    INTEGER NOT NULL,
  PRIMARY KEY (public_key, nonce)
);
CREATE INDEX IF NOT EXISTS nonces_seen ON nonces (seen_at);
CREATE TABLE IF NOT EXISTS korvos (
  secret_id      INTEGER PRIMARY KEY AUTOINCREMENT,
  owner          TEXT NOT NULL,
  public_key     BLOB NOT NULL,
  sealed_private BLOB,
  created_at     INTEGER NOT NULL,
  updated_at     INTEGER NOT NULL,
  recorded_locks INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS korvos_owner ON korvos (owner);
CREATE TABLE IF NOT EXISTS usage (
  principal_id TEXT NOT NULL,
  period       TEXT NOT NULL,
  kind         TEXT NOT NULL CHECK (kind IN ('encrypt', 'decrypt')),
  bytes        INTEGER NOT NULL DEFAULT 0,
  jobs         INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (principal_id, period, kind)
);
CREATE TABLE IF NOT EXISTS jobs (
  job_id       TEXT PRIMARY KEY,
  principal_id TEXT NOT NULL,
  kind         TEXT NOT NULL,
  secret_id    INTEGER NOT NULL,
  bytes        INTEGER NOT NULL,
  created_at   INTEGER NOT NULL,
  lock_hash    TEXT,
  state        TEXT NOT NULL DEFAULT 'charged'
);
CREATE TABLE IF NOT EXISTS mails (
  id         INTEGER PRIMARY KEY AUTOINCREMENT,
  to_address TEXT NOT NULL,
  kind       TEXT NOT NULL,
  file       TEXT NOT NULL,
  created_at INTEGER NOT NULL
);
`;

// Columns that databases of earlier versions lack. Korvos made before locks were recorded keep
// recorded_locks = 0 (see korvos.mjs); jobs of versions that charged at once are 'charged'.
const LATER_COLUMNS = [['korvos', 'recorded_locks', 'INTEGER NOT NULL DEFAULT 0'], ['jobs', 'lock_hash', 'TEXT'],
  ['jobs', 'state', "TEXT NOT NULL DEFAULT 'charged'"],
  ['signups', 'candidate', 'INTEGER NOT NULL DEFAULT 0'], ['accounts', 'keys_reset_at', 'INTEGER']];

export function openDatabase(file) {
  const db = new Database(file);
  db.pragma('journal_mode = WAL');
  db.pragma('foreign_keys = ON');
  db.pragma('busy_timeout = 5000');
  db.exec(SCHEMA);
  for (const [table, column, definition] of LATER_COLUMNS) {
    if (!db.pragma(`table_info(${table})`).some((c) => c.name === column)) db.exec(`ALTER TABLE ${table} ADD COLUMN ${column} ${definition}`);
  }
  db.exec('CREATE UNIQUE INDEX IF NOT EXISTS jobs_lock ON jobs (secret_id, lock_hash)');
  // Earlier versions kept unverified sign-ups as accounts; they wait in `signups` now.
  db.transaction(() => {
    db.exec(`INSERT OR IGNORE INTO signups (principal_id, email, password_hash, created_at, last_at)
      SELECT principal_id, email, password_hash, created_at, created_at FROM accounts WHERE email_verified = 0`);
    db.exec('DELETE FROM accounts WHERE email_verified = 0');
  })();
  return db;
}
