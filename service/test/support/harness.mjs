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

export async function startTestService() {
  const folder = mkdtempSync(join(tmpdir(), 'halvane-test-'));
  const clock = { offsetMs: 0, now() { return Date.now() + this.offsetMs; } };
  const logLines = [];
  const service = await startService({
    dataDir: join(folder, 'data'),
    port: 0,
    clock: () => clock.now(),
    trustedCaPath: join(folder, 'trusted-ca.pem'),
    log: (line) => logLines.push(line),
  });
  return {
    ...service,
    clock,
    logLines,
    folder,
    async stop() {
      await service.close();
      rmSync(folder, { recursive: true, force: true });
    },
  };
}

export function newDevice() {
  const { privateKey, publicKey } = generateKeyPairSync('ed25519');
  const seed = privateKey.export({ format: 'jwk' }).d;
  return {
    privateKeyHex: Buffer.from(seed, 'base64url').toString('hex'),
    publicKeyHex: Buffer.from(publicKey.export({ format: 'jwk' }).x, 'base64url').toString('hex'),
  };
}

// options: { device (signs), now (signing time, default the service clock), nonce, headers,
//            rawBody (sent as is instead of JSON), host }
export function call(service, method, path, body, options = {}) {
  const raw = options.rawBody !== undefined
    ? Buffer.from(options.rawBody)
    : Buffer.from(body === undefined ? '' : JSON.stringify(body));
  const headers = { ...(raw.length > 0 ? { 'Content-Type': 'application/json' } : {}) };
  if (options.device) {
    Object.assign(headers, signatureHeaders({
      privateKeyHex: options.device.privateKeyHex, method, target: path, body: raw,
      now: options.now ?? service.clock.now(), nonce: options.nonce,
    }));
  }
  Object.assign(headers, options.headers || {});
  return new Promise((resolve, reject) => {
    const req = httpsRequest({
      host: options.host || 'localhost', port: service.port, method, path, headers, ca: service.caPem,
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const text = Buffer.concat(chunks).toString('utf8');
        let json;
        try { json = JSON.parse(text); } catch { json = undefined; }
        resolve({ status: res.statusCode, json, text, headers: res.headers });
      });
    });
    req.on('error', reject);
    req.end(raw);
  });
}

export function latestCode(service, email) {
  return latestMail(service.outboxFolder, email)?.code;
}

export function latestLink(service, email) {
  return latestMail(service.outboxFolder, email)?.link;
}

// A verified account with an active device key: { email, principalId, device }.
export async function createAccount(service, email) {
  const registered = await call(service, 'POST', '/v1/accounts/register', { email, password: PASSWORD });
  if (registered.status !== 201) throw new Error(`register: ${registered.text}`);
  const { principalId } = registered.json;
  const verified = await call(service, 'POST', '/v1/accounts/verify-email', { email, code: latestCode(service, email) });
  if (verified.status !== 200) throw new Error(`verify: ${verified.text}`);
  const device = newDevice();
  const bound = await call(service, 'POST', '/v1/devices/register', { principalId, password: PASSWORD }, { device });
  if (bound.status !== 201) throw new Error(`register key: ${bound.text}`);
  return { email, principalId, device };
}

// A Korvo for the account; returns its number.
export async function createKorvo(service, account) {
  const made = await call(service, 'POST', '/v1/korvos', {}, { device: account.device });
  if (made.status !== 201) throw new Error(`create korvo: ${made.text}`);
  return made.json.secretId;
}
