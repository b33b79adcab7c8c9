// A service on a free port in a temporary folder, a clock the test moves, an HTTPS client that
// trusts only the service's own authority, and a device that signs like the bridge does.
import { generateKeyPairSync } from 'node:crypto';
import { mkdtempSync, rmSync } from 'node:fs';
import { request as httpsRequest } from 'node:https';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { latestMail } from '../../src/outbox.mjs';
import { startService } from '../../src/server.mjs';
import { signatureHeaders } from '../../src/signing.mjs';

export const PASSWORD = 'correct horse 8';

export async function startTestService(options = {}) {
  const folder = mkdtempSync(join(tmpdir(), 'halvane-test-'));
  const clock = { offsetMs: 0, now() { return Date.now() + this.offsetMs; } };
  const service = await startService({
    dataDir: join(folder, 'data'), port: 0, clock: () => clock.now(), trustedCaPath: join(folder, 'trusted-ca.pem'), log: () => {}, ...options,
  });
  const stop = async () => { await service.close(); rmSync(folder, { recursive: true, force: true }); };
  return { ...service, clock, stop };
}

// Runs `fn` with the service clock moved by `offsetMs`, then puts it back.
export async function atOffset(service, offsetMs, fn) {
  service.clock.offsetMs = offsetMs;
  try { return await fn(); } finally { service.clock.offsetMs = 0; }
}

export function newDevice() {
  const { privateKey, publicKey } = generateKeyPairSync('ed25519');
  const hex = (b64url) => Buffer.from(b64url, 'base64url').toString('hex');
  return { privateKeyHex: hex(privateKey.export({ format: 'jwk' }).d), publicKeyHex: hex(publicKey.export({ format: 'jwk' }).x) };
}

// options: { device (signs), now (signing time, default the service clock), nonce, headers,
//            rawBody (sent as is instead of JSON), from (a loopback address to call from) }
export function call(service, method, path, body, options = {}) {
  const raw = Buffer.from(options.rawBody ?? (body === undefined ? '' : JSON.stringify(body)));
  const headers = raw.length > 0 ? { 'Content-Type': 'application/json' } : {};
  if (options.device) {
    Object.assign(headers, signatureHeaders({
      privateKeyHex: options.device.privateKeyHex, method, target: path, body: raw, now: options.now ?? service.clock.now(), nonce: options.nonce,
    }));
  }
  Object.assign(headers, options.headers);
  return new Promise((resolve, reject) => {
    httpsRequest({ host: '127.0.0.1', servername: 'localhost', port: service.port, method, path, headers, ca: service.caPem, localAddress: options.from }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const text = Buffer.concat(chunks).toString('utf8');
        let json;
        try { json = JSON.parse(text); } catch { json = undefined; }
        resolve({ status: res.statusCode, json, text, headers: res.headers });
      });
    }).on('error', reject).end(raw);
  });
}

// The newest mail to `email`: { kind, code, link, to, body } or undefined.
export const mailTo = (service, email) => latestMail(service.outboxFolder, email);
export const latestCode = (service, email) => mailTo(service, email)?.code;

// POSTs that must answer `status`; the answer's JSON.
async function mustPost(service, status, path, body, options) {
  const res = await call(service, 'POST', path, body, options);
  if (res.status !== status) throw new Error(`${path}: ${res.text}`);
  return res.json;
}

// A verified account with an active device key: { email, principalId, device }.
export async function createAccount(service, email) {
  const { principalId } = await mustPost(service, 201, '/v1/accounts/register', { email, password: PASSWORD });
  await mustPost(service, 200, '/v1/accounts/verify-email', { email, code: latestCode(service, email) });
  const device = newDevice();
  await mustPost(service, 201, '/v1/devices/register', { principalId, password: PASSWORD }, { device });
  return { email, principalId, device };
}

// A Korvo for the account; returns its number.
export const createKorvo = async (service, account) => (await mustPost(service, 201, '/v1/korvos', {}, { device: account.device })).secretId;
