// Random requests for the bridge's request reader, for a bounded time (seconds, default 5):
// each must be accepted or refused with a BridgeFailure sentence; any other exception is a fault.
//   node fuzz/bridge_request_fuzz.mjs [SECONDS] [SEED]
import { BridgeFailure } from '../bridge/lib/failure.mjs';
import { COMMAND_FIELDS, parseRequestText, validateRequest } from '../bridge/lib/request.mjs';

const seconds = Number(process.argv[2] ?? 5);
let state = Number(process.argv[3] ?? Date.now()) >>> 0;
const seed = state;
const rand = (n) => { state = (Math.imul(state ^ (state >>> 15), 0x2c1b3c6d) + 0x6d2b79f5) >>> 0; return state % n; };
const pick = (list) => list[rand(list.length)];

const FIELDS = ['command', 'blackboxUrl', 'email', 'password', 'otp', 'newPassword', 'principalId',
  'ed25519PrivateKeyHex', 'filePath', 'outputPath', 'jobId', 'secretId', 'ttl', 'intervalMs', 'maxAttempts',
  '__proto__', 'constructor', 'toString'];
const TEXTS = ['', ' ', '123456', ' ١٢٣٤٥٦ ', '１２３４５６', '𝟏𝟐𝟑𝟒𝟓𝟔', 'a'.repeat(300), 'https://x.example', 'http://x',
  'https://[::1]:3010/', 'x y', '\u0000', '\ud800', 'ab'.repeat(32), 'ZZ'.repeat(32), 'register', '__proto__',
  'hasOwnProperty', ...Object.keys(COMMAND_FIELDS)];
const value = (depth = 0) => {
  switch (rand(depth > 1 ? 6 : 8)) {
    case 0: return pick(TEXTS);
    case 1: return pick([0, 1, -1, 1.5, 2 ** 53, 2 ** 53 - 1, -0, 1e308, NaN]);
    case 2: return pick([true, false, null]);
    case 3: return String.fromCodePoint(...Array.from({ length: rand(12) }, () => rand(0x11000)).filter((c) => c < 0xd800 || c > 0xdfff));
    case 4: return pick(TEXTS) + pick(TEXTS);
    case 5: return String(rand(1e6)).padStart(6, '0');
    case 6: return Array.from({ length: rand(3) }, () => value(depth + 1));
    default: return Object.fromEntries(Array.from({ length: rand(3) }, () => [pick(FIELDS), value(depth + 1)]));
  }
};
const request = () => {
  const raw = { command: rand(8) ? pick(Object.keys(COMMAND_FIELDS)) : value() };
  for (let n = rand(10); n > 0; n -= 1) raw[pick(FIELDS)] = value();
  let text = JSON.stringify(raw);
  if (rand(10) === 0) text = text.slice(0, rand(text.length + 1)); // cut short
  if (rand(20) === 0) text = pick(['[]', 'null', '"x"', '1', '{"command":"register","__proto__":{"email":"e"}}']);
  return text;
};

let runs = 0;
const end = Date.now() + seconds * 1000;
while (Date.now() < end) {
  for (let i = 0; i < 200; i += 1, runs += 1) {
    const text = request();
    try {
      validateRequest(parseRequestText(text));
    } catch (error) {
      if (!(error instanceof BridgeFailure) || !error.message) {
        console.error(`seed ${seed}, request ${runs}: ${text}\n`, error);
        process.exit(1);
      }
    }
  }
}
console.log(`bridge_request: ${runs} requests, seed ${seed}, no fault`);
