import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { chmodSync, lstatSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, statSync, symlinkSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { call } from './support/harness.mjs';

const script = fileURLToPath(new URL('../halvane.mjs', import.meta.url));
const folder = mkdtempSync(join(tmpdir(), 'halvane-cli-'));
after(() => rmSync(folder, { recursive: true, force: true }));
const run = (args, env = {}) => spawnSync(process.execPath, [script, ...args], { env: { ...process.env, ...env }, encoding: 'utf8' });
const openssl = (...args) => spawnSync('openssl', args, { encoding: 'utf8' });

// Starts the service; `ready` resolves to the port once it printed its address.
function launch(args, env) {
  const child = spawn(process.execPath, [script, ...args], { env: { ...process.env, ...env }, stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  const ready = new Promise((resolve, reject) => {
    child.stdout.on('data', (d) => {
      out += d;
      const match = /^listening on https:\/\/localhost:(\d+)$/m.exec(out);
      if (match) resolve(Number(match[1]));
    });
    child.on('exit', (code) => reject(new Error(`exited ${code}`)));
  });
  return { ready, output: () => out, stop: () => new Promise((resolve) => { child.once('exit', resolve); child.kill('SIGTERM'); }) };
}

const fetchJson = (port, path, caPem, body) => call({ port, caPem }, body ? 'POST' : 'GET', path, body);

test('serves HTTPS trusted through the written authority, reads the clock file, and latest-mail reads the outbox', async () => {
  const data = join(folder, 'data');
  const caFile = join(folder, 'elsewhere', 'ca.pem');
  const clockFile = join(folder, 'clock');
  const service = launch(['--port', '0', '--data', data, '--clock-file', clockFile], { KORVO_TRUSTED_CA: caFile });
  let firstCa;
  try {
    const port = await service.ready;
    firstCa = readFileSync(caFile, 'utf8');
    assert.equal(firstCa, readFileSync(join(data, 'tls', 'ca.pem'), 'utf8'));
    assert.equal((await fetchJson(port, '/v1/health', firstCa)).json.service, 'halvane');
    await assert.rejects(fetchJson(port, '/v1/health', undefined), /certificate/, 'not trusted without the authority');
    writeFileSync(clockFile, '86400\n');
    assert.ok(Date.parse((await fetchJson(port, '/v1/health', firstCa)).json.time) - Date.now() > 86000e3, 'read per request');
    writeFileSync(clockFile, '');

    assert.equal((await fetchJson(port, '/v1/accounts/register', firstCa, { email: 'cli@example.com', password: 'a long password' })).status, 201);
    for (let i = 0; i < 100 && !/mail verify-email to cli@example\.com/.test(service.output()); i += 1) await new Promise((r) => { setTimeout(r, 20); });
    assert.match(service.output(), /mail verify-email to cli@example\.com/, 'the mail is logged');
    const code = run(['latest-mail', '--data', data, '--to', 'CLI@example.com', '--code']);
    assert.deepEqual([code.status, /^[0-9]{6}\n$/.test(code.stdout)], [0, true]);
    assert.equal(run(['latest-mail', '--data', data, '--to', 'nobody@example.com']).status, 1);

    const busy = run(['--port', String(port), '--data', join(folder, 'other')], { KORVO_TRUSTED_CA: join(folder, 'other-ca.pem') });
    assert.deepEqual([busy.status, busy.stderr.includes(`Port ${port} is already in use`)], [1, true], busy.stderr);
  } finally {
    await service.stop();
  }
  // A data folder left readable by others (by hand or an earlier version) is tightened on start,
  // without following a link out of it.
  const outside = join(folder, 'outside.txt');
  writeFileSync(outside, 'not the service\'s', { mode: 0o644 });
  symlinkSync(outside, join(data, 'link'));
  for (const [path, mode] of [[data, 0o755], [join(data, 'outbox'), 0o755], [join(data, 'halvane.db'), 0o644], [join(data, 'tls', 'ca.key'), 0o644]]) chmodSync(path, mode);
  for (const name of readdirSync(join(data, 'outbox'))) chmodSync(join(data, 'outbox', name), 0o644);
  const again = launch(['--port', '0', '--data', data], { KORVO_TRUSTED_CA: caFile });
  await again.ready;
  await again.stop();
  assert.equal(readFileSync(caFile, 'utf8'), firstCa, 'a restart keeps the authority');
  const loose = ['', ...readdirSync(data, { recursive: true })].filter((name) => (lstatSync(join(data, name)).mode & 0o077) && name !== 'link');
  assert.deepEqual([loose, statSync(outside).mode & 0o777], [[], 0o644]);
});

test('without flags, data and authority go under the Korvo data folder; an authority without name limits is replaced', async () => {
  const korvo = join(folder, 'xdg', 'Korvo');
  const tls = join(korvo, 'halvane-service', 'tls');
  mkdirSync(tls, { recursive: true });
  openssl('req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes', '-keyout', join(tls, 'ca.key'), '-subj', '/CN=old', '-out', join(tls, 'ca.pem'));
  const service = launch(['--port', '0'], { XDG_DATA_HOME: join(folder, 'xdg'), KORVO_TRUSTED_CA: '' });
  try {
    await service.ready;
    assert.match(openssl('x509', '-in', join(korvo, 'trusted-ca.pem'), '-noout', '-ext', 'nameConstraints').stdout, /Permitted:\s+DNS:localhost/);
    readFileSync(join(korvo, 'halvane-service', 'halvane.db'));
  } finally {
    await service.stop();
  }
});
