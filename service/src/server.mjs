// Puts the service together: data folder, certificates, database, handlers, HTTPS listeners.
import { chmodSync, mkdirSync } from 'node:fs';
import { createServer } from 'node:https';
import { Accounts } from './accounts.mjs';
import { OneTimeCodes } from './codes.mjs';
import { Limits, clientKey } from './limits.mjs';
import { openDatabase } from './db.mjs';
import { Devices } from './devices.mjs';
import { makeDispatcher, parseJsonObject } from './http.mjs';
import { Korvos } from './korvos.mjs';
import { Outbox } from './outbox.mjs';
import { DEFAULT_PORT, serviceLayout, tightenFolder, trustedAuthorityFile } from './paths.mjs';
import { loadOrCreateMasterKey } from './secrets.mjs';
import { NonceMemory, verifySignedRequest } from './signing.mjs';
import { Signups } from './signups.mjs';
import { ensureCertificates, writeTrustedAuthority } from './tls.mjs';
import { Usage } from './usage.mjs';

export const SERVICE_VERSION = '1.0.0';

function healthRoute() {
  return {
    method: 'GET', pattern: /^\/v1\/health$/, auth: 'none',
    handle: (c) => ({ json: { service: 'halvane', version: SERVICE_VERSION, time: new Date(c.now).toISOString() } }),
  };
}

// The client a caller counts as (limits.mjs).
const clientOf = (req) => clientKey(req.socket.remoteAddress);

function listen(server, port, host) {
  return new Promise((resolve, reject) => {
    const onError = (err) => { server.off('listening', onListening); reject(err); };
    const onListening = () => { server.off('error', onError); resolve(server.address().port); };
    server.once('error', onError);
    server.once('listening', onListening);
    server.listen(port, host);
  });
}

// options: { dataDir (required), port = 3010 (0 picks one), clock = Date.now,
//            trustedCaPath = KORVO_TRUSTED_CA or the Korvo data folder's trusted-ca.pem,
//            log = console.log, claimHoldMs = 2000 (see claims.mjs) }
export async function startService(options) {
  const { dataDir, port = DEFAULT_PORT, clock = () => Date.now(), log = (line) => console.log(line) } = options;
  const trustedCaPath = options.trustedCaPath || trustedAuthorityFile();
  const layout = serviceLayout(dataDir);
  mkdirSync(dataDir, { recursive: true, mode: 0o700 });
  chmodSync(dataDir, 0o700); // an existing folder keeps others out before anything is read or made
  const tls = ensureCertificates(layout.tls);
  writeTrustedAuthority(trustedCaPath, tls.ca);

  const db = openDatabase(layout.database);
  const masterKey = loadOrCreateMasterKey(layout.masterKey);
  const outbox = new Outbox({ db, folder: layout.outbox, log });
  const limits = new Limits(db);
  const codes = new OneTimeCodes({ db, masterKey, limits });
  const accounts = new Accounts({ db, codes, outbox, limits });
  const signups = new Signups({ db, accounts, codes, outbox, limits, claimHoldMs: options.claimHoldMs });
  let boundPort = port;
  const devices = new Devices({ db, accounts, outbox, masterKey, publicUrl: () => `https://localhost:${boundPort}` });
  const usage = new Usage({ db });
  const korvos = new Korvos({ db, masterKey, usage });
  const nonces = new NonceMemory(db);
  // Everything made above (and whatever an earlier version left looser) is owner-only.
  tightenFolder(dataDir);
  const routes = [healthRoute(), ...signups.routes(), ...accounts.routes(), ...devices.routes(), ...korvos.routes()];

  const prepare = async (req, route, rawBody, url) => {
    const now = clock();
    const ctx = { req, url, rawBody, now, client: clientOf(req) };
    if (route.auth === 'new-key') {
      limits.admitNewKey(ctx.client, now); // before a nonce is stored or a password checked
      ctx.newKey = verifySignedRequest({ req, rawBody, now, nonces });
    }
    const signed = route.auth === 'device' || (route.auth === 'optional-device' && req.headers['x-korvo-key'] !== undefined);
    if (signed) {
      const authorise = (publicKey) => devices.authorise(publicKey, req.headers['x-korvo-principal']);
      ctx.device = verifySignedRequest({ req, rawBody, now, nonces, authorise });
    }
    ctx.body = parseJsonObject(rawBody); // read only once the sender is known
    return ctx;
  };
  const dispatch = makeDispatcher(routes, prepare, log);

  const servers = [createServer({ key: tls.key, cert: tls.cert }, dispatch)];
  try {
    boundPort = await listen(servers[0], port, '127.0.0.1');
  } catch (err) {
    db.close();
    throw err;
  }
  const loopback6 = createServer({ key: tls.key, cert: tls.cert }, dispatch);
  try {
    await listen(loopback6, boundPort, '::1');
    servers.push(loopback6);
  } catch {
    // No IPv6 loopback here (or its port is taken): 127.0.0.1 alone serves.
  }

  return {
    port: boundPort,
    url: `https://localhost:${boundPort}`,
    caPem: tls.ca,
    dataDir,
    outboxFolder: layout.outbox,
    trustedCaPath,
    async close() {
      await Promise.all(servers.map((s) => new Promise((resolve) => {
        s.close(() => resolve());
        s.closeAllConnections();
      })));
      outbox.flush();
      db.close();
    },
  };
}
