// Where the service keeps its data and where it puts the certificate clients trust.
import { chmodSync, readdirSync } from 'node:fs';
import { homedir } from 'node:os';
import { join } from 'node:path';

export const DEFAULT_PORT = 3010;

export function korvoDataFolder(env = process.env) {
  const base = env.XDG_DATA_HOME && env.XDG_DATA_HOME.length > 0
    ? env.XDG_DATA_HOME
    : join(env.HOME || homedir(), '.local', 'share');
  return join(base, 'Korvo');
}

export function defaultServiceFolder(env = process.env) {
  return join(korvoDataFolder(env), 'halvane-service');
}

export function trustedAuthorityFile(env = process.env) {
  return env.KORVO_TRUSTED_CA && env.KORVO_TRUSTED_CA.length > 0
    ? env.KORVO_TRUSTED_CA
    : join(korvoDataFolder(env), 'trusted-ca.pem');
}

export function serviceLayout(dataFolder) {
  return {
    database: join(dataFolder, 'halvane.db'),
    masterKey: join(dataFolder, 'master.key'),
    tls: join(dataFolder, 'tls'),
    outbox: join(dataFolder, 'outbox'),
  };
}

// Makes `folder` and everything below it owner-only, whoever made them and with whatever mode:
// folders 0700, files 0600. Links are left alone, so nothing outside the folder is touched.
export function tightenFolder(folder) {
  chmodSync(folder, 0o700);
  for (const entry of readdirSync(folder, { withFileTypes: true })) {
    const path = join(folder, entry.name);
    if (entry.isDirectory()) tightenFolder(path);
    else if (entry.isFile()) chmodSync(path, 0o600);
  }
}
