// Request plumbing: the error type every handler throws, body reading, JSON field checks
// and the route table dispatch.

export const MAX_BODY_BYTES = 64 * 1024;

const BAD_JSON = 'The request could not be read as JSON.';
const BODY_NOT_OBJECT = 'The request body must be a JSON object.';
const TOO_LARGE = 'The request is too large.';
const NO_SUCH_ADDRESS = 'This address is not part of the Halvane service.';
const WRONG_METHOD = 'This address does not accept that kind of request.';
const INTERNAL = 'Halvane ran into a problem; please try again.';
const BAD_TARGET = 'The request names an address Halvane cannot read.';
const missingField = (name) => `The request is missing the field "${name}".`;
const wrongFieldType = (name, kind) => `The field "${name}" must be ${kind}.`;

// A failure with the HTTP status and the one sentence the user sees; `reason` is an optional
// machine-readable word sent beside it (signed-request failures).
export class ServiceError extends Error {
  constructor(status, sentence, reason) {
    super(sentence);
    this.status = status;
    this.reason = reason;
  }
}

export function readBody(req) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    let failed = false;
    req.on('data', (chunk) => {
      if (failed) return;
      size += chunk.length;
      if (size > MAX_BODY_BYTES) {
        failed = true;
        reject(new ServiceError(413, TOO_LARGE));
        req.resume();
        return;
      }
      chunks.push(chunk);
    });
    req.on('end', () => { if (!failed) resolve(Buffer.concat(chunks)); });
    req.on('error', (err) => { if (!failed) { failed = true; reject(err); } });
  });
}

export function parseJsonObject(raw) {
  if (raw.length === 0) return {};
  let value;
  try {
    value = JSON.parse(raw.toString('utf8'));
  } catch {
    throw new ServiceError(400, BAD_JSON);
  }
  if (value === null || typeof value !== 'object' || Array.isArray(value)) {
    throw new ServiceError(400, BODY_NOT_OBJECT);
  }
  return value;
}

export function requireString(body, name) {
  const value = body[name];
  if (value === undefined || value === null) throw new ServiceError(400, missingField(name));
  if (typeof value !== 'string') throw new ServiceError(400, wrongFieldType(name, 'text'));
  return value;
}

export function optionalString(body, name) {
  const value = body[name];
  if (value === undefined || value === null) return undefined;
  if (typeof value !== 'string') throw new ServiceError(400, wrongFieldType(name, 'text'));
  return value;
}

// A whole number from 0 to 2^53 - 1, or undefined when absent.
export function optionalCount(body, name) {
  const value = body[name];
  if (value === undefined || value === null) return undefined;
  if (!Number.isSafeInteger(value) || value < 0) {
    throw new ServiceError(400, wrongFieldType(name, 'a whole number of 0 or more'));
  }
  return value;
}

export function requireCount(body, name) {
  const value = optionalCount(body, name);
  if (value === undefined) throw new ServiceError(400, missingField(name));
  return value;
}

function send(res, status, payload) {
  if (payload.html !== undefined) {
    res.writeHead(status, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' });
    res.end(payload.html);
    return;
  }
  const text = JSON.stringify(payload.json);
  res.writeHead(status, {
    'Content-Type': 'application/json; charset=utf-8',
    'Content-Length': Buffer.byteLength(text),
    'Cache-Control': 'no-store',
  });
  res.end(text);
}

export function sendError(res, err, log) {
  if (err instanceof ServiceError) {
    send(res, err.status, { json: err.reason ? { error: err.message, reason: err.reason } : { error: err.message } });
    return;
  }
  log(`internal error: ${err && err.stack ? err.stack : err}`);
  send(res, 500, { json: { error: INTERNAL } });
}

// The request target in origin form ("/path?query"); anything else is the client's mistake.
function parseTarget(target) {
  if (typeof target !== 'string' || !target.startsWith('/')) throw new ServiceError(400, BAD_TARGET);
  try {
    return new URL(`https://localhost${target}`);
  } catch {
    throw new ServiceError(400, BAD_TARGET);
  }
}

// routes: [{ method, pattern (RegExp with named groups), handle(ctx) -> { status?, json | html } }]
// `prepare(req, route, rawBody)` builds the handler's context (authentication happens there).
export function makeDispatcher(routes, prepare, log) {
  return async function dispatch(req, res) {
    try {
      const url = parseTarget(req.url);
      const matches = routes
        .map((route) => ({ route, match: route.pattern.exec(url.pathname) }))
        .filter((m) => m.match);
      if (matches.length === 0) throw new ServiceError(404, NO_SUCH_ADDRESS);
      const hit = matches.find((m) => m.route.method === req.method);
      if (!hit) throw new ServiceError(405, WRONG_METHOD);
      const rawBody = await readBody(req);
      const ctx = await prepare(req, hit.route, rawBody, url);
      ctx.params = hit.match.groups || {};
      const answer = await hit.route.handle(ctx);
      send(res, answer.status || 200, answer);
    } catch (err) {
      sendError(res, err, log);
    }
  };
}
