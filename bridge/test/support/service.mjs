// The reference service's own test harness, in this process, with the real bridge run against it.
import { existsSync } from 'node:fs';
import { runBridge } from './bridge.mjs';

const SERVICE = new URL('../../../service/', import.meta.url);
export const serviceAvailable = existsSync(new URL('node_modules', SERVICE));

// The harness's service plus `data` (its folder), `env` (trusts its authority), `latestMail(to)`
// (the newest e-mail to `to`: { kind, code, link }) and `bridge(request, options)` (runs one bridge
// command against it). The benchmarks pass a folder and a mail kind, which it has no need of.
export async function startService() {
  const { mailTo, startTestService } = await import(new URL('test/support/harness.mjs', SERVICE));
  const service = await startTestService();
  const env = { KORVO_TRUSTED_CA: service.trustedCaPath };
  return {
    ...service, data: service.dataDir, env, latestMail: (to) => mailTo(service, to),
    bridge: (req, options = {}) => runBridge({ blackboxUrl: service.url, ...req }, { ...options, env: { ...env, ...options.env } }),
  };
}

// Signs up `email` through the bridge as the application does (register, verify the code,
// generate and register a device key, first session, first Korvo) and returns the identity.
export async function signUp(service, email, password = 'correct horse battery') {
  const ok = async (req) => {
    const { envelope } = await service.bridge(req);
    if (!envelope?.ok) throw new Error(`${req.command}: ${envelope?.error}`);
    return envelope.result;
  };
  const { principalId } = await ok({ command: 'register', email, password });
  await ok({ command: 'verifyEmail', email, otp: service.latestMail(email).code });
  const { privateKeyHex } = await ok({ command: 'generateKey' });
  const registered = await ok({ command: 'registerKey', password, principalId, ed25519PrivateKeyHex: privateKeyHex });
  if (registered.nodeRegistrationStatus !== 'complete') throw new Error(`registerKey: ${registered.nodeRegistrationStatus}`);
  const identity = { principalId, ed25519PrivateKeyHex: privateKeyHex };
  await ok({ command: 'createSession', ...identity });
  const { secretId } = await ok({ command: 'createSecret', ...identity });
  return { email, password, ...identity, secretId };
}
