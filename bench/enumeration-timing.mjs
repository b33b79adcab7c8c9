// Does the time of an answer tell whether an address has an account or a waiting sign-up?
// Starts the reference service in its own process, then for each endpoint times requests for an
// address in a given state against requests for an unknown address, interleaved (the order of
// each pair drawn at random), SAMPLES per state, and prints the Mann-Whitney U statistic and its
// two-sided p-value (normal approximation with tie correction).
//
//   node bench/enumeration-timing.mjs [samples=60]
//
// Every round uses fresh addresses and moves the service clock on by an hour (--clock-file), so
// no limit answers instead of the endpoint.
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { Agent, request } from 'node:https';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { latestMail } from '../service/src/outbox.mjs';

const SAMPLES = Number(process.argv[2] ?? 60);
const script = fileURLToPath(new URL('../service/halvane.mjs', import.meta.url));
const folder = mkdtempSync(join(tmpdir(), 'halvane-timing-'));
const clockFile = join(folder, 'clock');
const caFile = join(folder, 'ca.pem');
writeFileSync(clockFile, '0');

function startService() {
  const child = spawn(process.execPath, [script, '--port', '0', '--data', join(folder, 'data'), '--clock-file', clockFile],
    { env: { ...process.env, KORVO_TRUSTED_CA: caFile }, stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (d) => {
      out += d;
      const match = /listening on https:\/\/localhost:(\d+)/.exec(out);
      if (match) resolve({ child, port: Number(match[1]) });
    });
    child.on('exit', (code) => reject(new Error(`service exited ${code}`)));
  });
}

const { child, port } = await startService();
const agent = new Agent({ keepAlive: true, maxSockets: 1, ca: readFileSync(caFile) });

function post(path, body) {
  const raw = JSON.stringify(body);
  return new Promise((resolve, reject) => {
    const started = process.hrtime.bigint();
    request({ host: '127.0.0.1', servername: 'localhost', port, path: `/v1/accounts/${path}`, method: 'POST', agent,
      headers: { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(raw) } }, (res) => {
      res.resume();
      res.on('end', () => resolve({ status: res.statusCode, ms: Number(process.hrtime.bigint() - started) / 1e6 }));
    }).on('error', reject).end(raw);
  });
}

const codeFor = (email) => latestMail(join(folder, 'data', 'outbox'), email)?.code;
const settle = () => new Promise((resolve) => setTimeout(resolve, 20)); // the service writes mail after answering

// [endpoint, state, how to make an address in that state, the request body]
const PASSWORD = 'timing password 1';
const wrong = (email) => String((Number(codeFor(email) ?? '0') + 1) % 1e6).padStart(6, '0');
const ENDPOINTS = [
  ['forgot-password', 'verified', 'verified', (email) => ({ email })],
  ['resend-code', 'waiting', 'waiting', (email) => ({ email })],
  ['verify-email (wrong code)', 'waiting', 'waiting', (email) => ({ email, code: wrong(email) })],
  ['register', 'verified', 'verified', (email) => ({ email, password: 'another password 2' })],
];

async function makeAddress(state, email) {
  if (state === 'unknown') return;
  await post('register', { email, password: PASSWORD });
  if (state === 'verified') {
    await settle();
    await post('verify-email', { email, code: codeFor(email) });
  }
  await settle();
}

// Two-sided Mann-Whitney U test, normal approximation with tie correction.
function mannWhitney(a, b) {
  const all = [...a.map((v) => [v, 0]), ...b.map((v) => [v, 1])].sort((x, y) => x[0] - y[0]);
  const ranks = new Array(all.length);
  let tieTerm = 0;
  for (let i = 0; i < all.length;) {
    let j = i;
    while (j + 1 < all.length && all[j + 1][0] === all[i][0]) j += 1;
    for (let k = i; k <= j; k += 1) ranks[k] = (i + j) / 2 + 1;
    const t = j - i + 1;
    tieTerm += t ** 3 - t;
    i = j + 1;
  }
  const n1 = a.length;
  const n2 = b.length;
  const r1 = all.reduce((sum, [, group], i) => sum + (group === 0 ? ranks[i] : 0), 0);
  const u1 = r1 - (n1 * (n1 + 1)) / 2;
  const u = Math.min(u1, n1 * n2 - u1);
  const n = n1 + n2;
  const sigma = Math.sqrt(((n1 * n2) / 12) * ((n + 1) - tieTerm / (n * (n - 1))));
  const z = (Math.abs(u1 - (n1 * n2) / 2) - 0.5) / sigma;
  return { u, z, p: Math.min(1, erfc(Math.max(0, z) / Math.SQRT2)) };
}

// Complementary error function, fractional error below 1.2e-7 (Chebyshev fit).
function erfc(x) {
  const t = 1 / (1 + 0.5 * Math.abs(x));
  const y = t * Math.exp(-x * x - 1.26551223 + t * (1.00002368 + t * (0.37409196 + t * (0.09678418 + t * (-0.18628806
    + t * (0.27886807 + t * (-1.13520398 + t * (1.48851587 + t * (-0.82215223 + t * 0.17087277)))))))));
  return x >= 0 ? y : 2 - y;
}

const median = (values) => { const s = [...values].sort((x, y) => x - y); return (s[(s.length - 1) >> 1] + s[s.length >> 1]) / 2; };

try {
  const times = ENDPOINTS.map(() => ({ state: [], unknown: [] }));
  for (let round = 0; round < SAMPLES; round += 1) {
    writeFileSync(clockFile, String(round * 3700)); // a fresh hour for every limit
    for (const [e, [name, , state, body]] of ENDPOINTS.entries()) {
      const known = `t${round}-${e}-${state}@example.com`;
      const unknown = `t${round}-${e}-unknown@example.com`;
      await makeAddress(state, known);
      const pair = [[known, 'state'], [unknown, 'unknown']];
      if (Math.random() < 0.5) pair.reverse();
      for (const [email, group] of pair) {
        const res = await post(name.split(' ')[0], body(email));
        if (res.status === 429 || res.status >= 500) throw new Error(`${name}: ${res.status}`);
        times[e][group].push(res.ms);
      }
      await settle();
    }
  }
  console.log(`${SAMPLES} interleaved samples per state; times in ms (median)`);
  console.log('endpoint                     state      median   unknown median        U        p');
  for (const [e, [name, label]] of ENDPOINTS.entries()) {
    const { u, p } = mannWhitney(times[e].state, times[e].unknown);
    console.log(`${name.padEnd(28)} ${label.padEnd(9)} ${median(times[e].state).toFixed(3).padStart(7)}  ${median(times[e].unknown).toFixed(3).padStart(15)} ${String(u).padStart(8)} ${p.toExponential(2).padStart(8)}`);
  }
} finally {
  agent.destroy();
  child.kill('SIGTERM');
  await new Promise((resolve) => child.once('exit', resolve));
  rmSync(folder, { recursive: true, force: true });
}
