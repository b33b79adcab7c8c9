// HTTPS calls to the Korvo service: JSON in and out, certificate verification always on, and the
// device signature on the calls that act for an account.
import { Agent, request as httpsRequest } from 'node:https';
import { createHash, randomBytes } from 'node:crypto';
import { BridgeFailure } from './failure.mjs';
import { signMessage } from './device-key.mjs';
import { serviceSecureContext } from './trust.mjs';

// node's own wording for a service that cannot be reached; the application recognises it.
export const UNREACHABLE = 'fetch failed';
export const UNTRUSTED_SERVICE = 'The Korvo service could not prove its identity, so the bridge did not talk to it.';
export const UNREADABLE_ANSWER = 'The Korvo service sent an answer the bridge could not read.';
export const SERVICE_FAILED = (status) => `The Korvo service could not complete the request (status ${status}).`;

export const SIGNATURE_SCHEME = 'KORVO-ED25519-V1';
// A call that has no answer this long after it was sent, or whose connection then stays silent
// this long, is given up ("fetch failed"): a service that stopped without closing its port is
// reported within seconds, not minutes. (The socket's own idle timeout alone lets a stalled
// secure handshake run for twice as long.)
const REQUEST_TIMEOUT_MS = 15_000;
const MAX_ANSWER_BYTES = 4 * 1024 * 1024;

const UNREACHABLE_CODES = new Set(['ECONNREFUSED', 'ECONNRESET', 'ENOTFOUND', 'EAI_AGAIN', 'ETIMEDOUT',
  'EHOSTUNREACH', 'ENETUNREACH', 'EADDRNOTAVAIL', 'EPIPE', 'ECONNABORTED', 'UND_ERR_SOCKET']);

// The request target as sent: the service address's own path (if any), then "/v1" and `path`.
export function requestTarget(baseUrl, path) {
  return `${baseUrl.pathname.replace(/\/+$/, '')}/v1${path}`;
}

// Headers proving that the holder of `deviceKey` sent exactly this method, target and body.
export function signedHeaders({ deviceKey, principalId }, method, target, body, now = Date.now()) {
  const timestamp = String(now);
  const nonce = randomBytes(24).toString('hex');
  const bodyHash = createHash('sha256').update(body).digest('hex');
  const message = [SIGNATURE_SCHEME, method.toUpperCase(), target, bodyHash, timestamp, nonce].join('\n');
  const headers = {
    'X-Korvo-Key': deviceKey.publicKeyHex,
    'X-Korvo-Timestamp': timestamp,
    'X-Korvo-Nonce': nonce,
    'X-Korvo-Signature': signMessage(deviceKey, message).toString('hex'),
  };
  if (principalId) headers['X-Korvo-Principal'] = principalId;
  return headers;
}

// Certificate checks that failed, as node names them; a failure it has no name for (a name
// outside what the authority may vouch for) is UNSPECIFIED.
const UNTRUSTED_CODES = new Set(['UNSPECIFIED', 'PATH_LENGTH_EXCEEDED', 'INVALID_CA', 'INVALID_PURPOSE', 'CRL_HAS_EXPIRED',
  'CRL_NOT_YET_VALID', 'CRL_SIGNATURE_FAILURE', 'UNABLE_TO_GET_CRL', 'UNABLE_TO_DECRYPT_CRL_SIGNATURE',
  'ERROR_IN_CRL_LAST_UPDATE_FIELD', 'ERROR_IN_CRL_NEXT_UPDATE_FIELD', 'HOSTNAME_MISMATCH']);

function connectionFailure(error) {
  if (error instanceof BridgeFailure) return error;
  const code = error?.code ?? '';
  if (UNREACHABLE_CODES.has(code) || code === 'ERR_SOCKET_CONNECTION_TIMEOUT') return new BridgeFailure(UNREACHABLE, { cause: error });
  if (UNTRUSTED_CODES.has(code) || /CERT|SELF_SIGNED|UNABLE_TO_|ERR_TLS|ALTNAME/.test(code)) return new BridgeFailure(UNTRUSTED_SERVICE, { cause: error });
  return new BridgeFailure(UNREACHABLE, { cause: error });
}

function judgeAnswer(status, text) {
  let body;
  try {
    body = text.length ? JSON.parse(text) : undefined;
  } catch {
    body = undefined;
  }
  if (status >= 400) {
    const sentence = body && typeof body.error === 'string' && body.error.trim() ? body.error : SERVICE_FAILED(status);
    throw new BridgeFailure(sentence, { status, reason: body?.reason });
  }
  if (body === null || typeof body !== 'object' || Array.isArray(body)) throw new BridgeFailure(UNREADABLE_ANSWER);
  return body;
}

// The calls of one run share a connection per trust setting (a file job makes up to three), so
// only the first pays for the handshake.
const agents = new WeakMap();
function agentFor(secureContext) {
  if (!agents.has(secureContext)) agents.set(secureContext, new Agent({ keepAlive: true, maxSockets: 1 }));
  return agents.get(secureContext);
}

// Sends one call and resolves to the answer's JSON object; every failure is a BridgeFailure
// carrying the sentence to show (the service's own sentence when it gave one). The service may
// close an idle connection just as it is used again; a call lost that way, which the service
// never received, is sent once more on a new connection.
export async function callService(baseUrl, method, path, options = {}) {
  try {
    return await callOnce(baseUrl, method, path, options);
  } catch (error) {
    if (!error.reusedSocket) throw error;
    return callOnce(baseUrl, method, path, options);
  }
}

function callOnce(baseUrl, method, path, { body, signer } = {}) {
  const target = requestTarget(baseUrl, path);
  const payload = body === undefined ? Buffer.alloc(0) : Buffer.from(JSON.stringify(body));
  const headers = { Accept: 'application/json', ...(signer ? signedHeaders(signer, method, target, payload) : {}) };
  if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    headers['Content-Length'] = String(payload.length);
  }
  const secureContext = serviceSecureContext();
  return new Promise((resolve, reject) => {
    const timedOut = () => req.destroy(Object.assign(new Error('timed out'), { code: 'ETIMEDOUT' }));
    const noAnswer = setTimeout(timedOut, REQUEST_TIMEOUT_MS);
    const req = httpsRequest({
      protocol: 'https:',
      hostname: baseUrl.hostname.replace(/^\[|\]$/g, ''),
      port: baseUrl.port || 443,
      method,
      path: target,
      headers,
      secureContext,
      rejectUnauthorized: true,
      agent: agentFor(secureContext),
      timeout: REQUEST_TIMEOUT_MS,
    }, (res) => {
      clearTimeout(noAnswer);
      const parts = [];
      let size = 0;
      res.on('data', (part) => {
        size += part.length;
        if (size > MAX_ANSWER_BYTES) req.destroy(new BridgeFailure(UNREADABLE_ANSWER));
        else parts.push(part);
      });
      res.on('end', () => {
        try {
          resolve(judgeAnswer(res.statusCode, Buffer.concat(parts).toString('utf8')));
        } catch (error) {
          reject(error);
        }
      });
      res.on('error', (error) => reject(connectionFailure(error)));
    });
    req.on('timeout', timedOut);
    req.on('error', (error) => {
      clearTimeout(noAnswer);
      const lost = req.reusedSocket && (error.code === 'ECONNRESET' || error.code === 'EPIPE');
      reject(Object.assign(connectionFailure(error), lost ? { reusedSocket: true } : {}));
    });
    req.end(payload);
  });
}
