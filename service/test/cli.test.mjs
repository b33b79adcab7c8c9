import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { request } from 'node:https';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

const script = fileURLToPath(new URL('../halvane.mjs', import.meta.url));
const folders = [];
after(() => { for (const f of folders) rmSync(f, { recursive: true, force: true }); });

function tempFolder() {
  const folder = mkdtempSync(join(tmpdir(), 'halvane-cli-'));
  folders.push(folder);
  return folder;
}

// Starts the service; resolves once it printed its address.
function launch(args, env) {
  const child = spawn(process.execPath, [script, ...args], { env: { ...process.env, ...env }, stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  let err = '';
  child.stderr.on('data', (d) => { err += d; });
  const ready = new Promise((resolve, reject) => {
    child.stdout.on('data', (d) => {
      out += d;
      const match = /^listening on https:\/\/localhost:(\d+)$/m.exec(out);
      if (match) resolve(Number(match[1]));
    });
    child.on('exit', (code) => reject(new Error(`exited ${code}: ${err}`)));
  });
  return {
    child,
    ready,
    output: () => out,
    stop: () => new Promise((resolve) => { child.once('exit', resolve); child.kill('SIGTERM'); }),
  };
}

function fetchJson(port, path, ca, body) {
  return new Promise((resolve, reject) => {
    const req = request({ host: 'localhost', port, path, method: body ? 'POST' : 'GET', ca, headers: { 'Content-Type': 'application/json' } }, (res) => {
      let text = '';
      res.on('data', (d) => { text += d; });
      res.on('end', () => resolve({ status: res.statusCode, json: JSON.parse(text) }));
    });
    req.on('error', reject);
    req.end(body ? JSON.stringify(body) : undefined);
  });
}

async function until(condition, what) {
  for (let i = 0; i < 100 && !condition(); i += 1) await new Promise((r) => { setTimeout(r, 20); });
  assert.ok(condition(), what);
}

const run = (args, env = {}) => spawnSync(process.execPath, [script, ...args], { env: { ...process.env, ...env }, encoding: 'utf8' });

describe('the command line', () => {
  test('serves HTTPS trusted through the written authority, and latest-mail reads the outbox', async () => {
    const folder = tempFolder();
    const data = join(folder, 'data');
    const caFile = join(folder, 'elsewhere', 'ca.pem');
    const clockFile = join(folder, 'clock');
    let firstCa;
    const service = launch(['--port', '0', '--data', data, '--clock-file', clockFile], { KORVO_TRUSTED_CA: caFile });
    try {
      const port = await service.ready;
      const ca = readFileSync(caFile, 'utf8');
      firstCa = ca;
      assert.equal(ca, readFileSync(join(data, 'tls', 'ca.pem'), 'utf8'));
      const health = await fetchJson(port, '/v1/health', ca);
      assert.equal(health.json.service, 'halvane');
      await assert.rejects(fetchJson(port, '/v1/health', undefined), /certificate/, 'not trusted without the authority');

      writeFileSync(clockFile, '86400\n');
      const later = await fetchJson(port, '/v1/health', ca);
      assert.ok(Date.parse(later.json.time) - Date.now() > 86000e3, 'the clock file is read per request');
      writeFileSync(clockFile, '');

      const made = await fetchJson(port, '/v1/accounts/register', ca, { email: 'cli@example.com', password: 'a long password' });
      assert.equal(made.status, 201);
      await until(() => /mail verify-email to cli@example\.com/.test(service.output()), 'the mail is logged');
      const code = run(['latest-mail', '--data', data, '--to', 'CLI@example.com', '--code']);
      assert.equal(code.status, 0);
      assert.match(code.stdout, /^[0-9]{6}\n$/);
      const whole = run(['latest-mail', '--data', data]);
      assert.match(whole.stdout, /^To: cli@example\.com$/m);
      assert.ok(whole.stdout.includes(code.stdout.trim()));
      assert.equal(run(['latest-mail', '--data', data, '--link']).status, 1);
      const nobody = run(['latest-mail', '--data', data, '--to', 'nobody@example.com']);
      assert.equal(nobody.status, 1);
      assert.match(nobody.stderr, /nobody@example\.com/);

      const busy = run(['--port', String(port), '--data', join(folder, 'other')], { KORVO_TRUSTED_CA: join(folder, 'other-ca.pem') });
      assert.equal(busy.status, 1);
      assert.match(busy.stderr, new RegExp(`Port ${port} is already in use`));
    } finally {
      await service.stop();
    }

    // A restart keeps the authority.
    const again = launch(['--port', '0', '--data', data], { KORVO_TRUSTED_CA: caFile });
    await again.ready;
    await again.stop();
    assert.equal(readFileSync(caFile, 'utf8'), readFileSync(join(data, 'tls', 'ca.pem'), 'utf8'));
    assert.equal(readFileSync(caFile, 'utf8'), firstCa);
  });

  test('without flags, data and authority go under the Korvo data folder', async () => {
    const home = tempFolder();
    const service = launch(['--port', '0'], { XDG_DATA_HOME: join(home, 'xdg'), KORVO_TRUSTED_CA: '' });
    try {
      await service.ready;
      readFileSync(join(home, 'xdg', 'Korvo', 'trusted-ca.pem'));
      readFileSync(join(home, 'xdg', 'Korvo', 'halvane-service', 'halvane.db'));
    } finally {
      await service.stop();
    }
  });
});
