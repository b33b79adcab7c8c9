// Runs the real bridge script as the application does: a child process, the request on its
// standard input, the envelope read from its standard output.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

export const BRIDGE_SCRIPT = join(dirname(fileURLToPath(import.meta.url)), '..', '..', 'korvo-bridge.mjs');

// `request` is an object (sent as JSON), a string (sent as is) or null (nothing sent and the
// input left open, as for the health check).
export function runBridge(request, { args = [], env = {} } = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, [BRIDGE_SCRIPT, ...args], {
      env: { ...process.env, ...env },
      stdio: ['pipe', 'pipe', 'pipe'],
    });
    const out = [];
    const err = [];
    child.stdout.on('data', (d) => out.push(d));
    child.stderr.on('data', (d) => err.push(d));
    child.on('error', reject);
    child.on('close', (status) => {
      const stdout = Buffer.concat(out).toString('utf8');
      let envelope;
      try {
        envelope = JSON.parse(stdout);
      } catch {
        envelope = undefined;
      }
      if (request === null) child.stdin.destroy();
      resolve({ status, stdout, stderr: Buffer.concat(err).toString('utf8'), envelope });
    });
    if (request !== null) child.stdin.end(typeof request === 'string' ? request : JSON.stringify(request));
  });
}

export function temporaryFolder(t, prefix = 'korvo-bridge-test-') {
  const dir = mkdtempSync(join(tmpdir(), prefix));
  t.after(() => rmSync(dir, { recursive: true, force: true }));
  return dir;
}
