// E-mail delivery for a service without a mail server: each message becomes an .eml file in
// the outbox folder and one line on the log. Also the reader that finds the latest message.
// Mail is made after the request that asked for it has been answered, so no answer waits on it
// and the time an answer takes says nothing about whether a mail was sent.
import { randomBytes } from 'node:crypto';
import { mkdirSync, readdirSync, readFileSync, renameSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const FROM = 'Halvane <no-reply@halvane.localhost>';

export class Outbox {
  constructor({ db, folder, log }) {
    this.folder = folder;
    this.log = log;
    mkdirSync(folder, { recursive: true, mode: 0o700 });
    this.insert = db.prepare('INSERT INTO mails (to_address, kind, file, created_at) VALUES (?, ?, ?, ?)');
    this.setFile = db.prepare('UPDATE mails SET file = ? WHERE id = ?');
    this.filesTo = db.prepare('SELECT file FROM mails WHERE to_address = ?');
    this.removeRowsTo = db.prepare('DELETE FROM mails WHERE to_address = ?');
    this.queue = [];
  }

  // Runs `job` (which may issue a code and send mail) once the current request is answered;
  // jobs run in the order given.
  later(job) {
    this.queue.push(job);
    if (this.queue.length === 1) setImmediate(() => this.flush());
  }

  flush() {
    while (this.queue.length > 0) {
      const job = this.queue[0];
      try {
        job();
      } catch (err) {
        this.log(`mail failed: ${err && err.stack ? err.stack : err}`);
      }
      this.queue.shift();
    }
  }

  // Removes every message to `address`, its file and its row.
  forget(address) {
    this.flush();
    for (const { file } of this.filesTo.all(address)) if (file) rmSync(join(this.folder, file), { force: true });
    this.removeRowsTo.run(address);
  }

  // message: { to, kind, subject, text, code?, link? }; `to` is an already validated address.
  send(message, now) {
    this.later(() => this.write(message, now));
  }

  write(message, now) {
    const id = Number(this.insert.run(message.to, message.kind, '', now).lastInsertRowid);
    const name = `${String(id).padStart(10, '0')}-${message.kind}.eml`;
    const headers = [
      `From: ${FROM}`,
      `To: ${message.to}`,
      `Subject: ${message.subject}`,
      `Date: ${new Date(now).toUTCString()}`,
      `Message-ID: <${id}.${randomBytes(8).toString('hex')}@halvane.localhost>`,
      'MIME-Version: 1.0',
      'Content-Type: text/plain; charset=utf-8',
      'Content-Transfer-Encoding: 8bit',
      `X-Halvane-Kind: ${message.kind}`,
    ];
    if (message.code) headers.push(`X-Halvane-Code: ${message.code}`);
    if (message.link) headers.push(`X-Halvane-Link: ${message.link}`);
    const file = join(this.folder, name);
    const temporary = `${file}.tmp`;
    writeFileSync(temporary, `${headers.join('\r\n')}\r\n\r\n${message.text.replace(/\r?\n/g, '\r\n')}\r\n`, { mode: 0o600 });
    renameSync(temporary, file);
    this.setFile.run(name, id);
    this.log(`mail ${message.kind} to ${message.to}: ${file}`);
  }
}

export function parseMail(text) {
  const split = text.indexOf('\r\n\r\n');
  const head = split < 0 ? text : text.slice(0, split);
  const headers = {};
  for (const line of head.split('\r\n')) {
    const colon = line.indexOf(':');
    if (colon > 0) headers[line.slice(0, colon).toLowerCase()] = line.slice(colon + 1).trim();
  }
  return {
    to: headers.to,
    kind: headers['x-halvane-kind'],
    subject: headers.subject,
    code: headers['x-halvane-code'],
    link: headers['x-halvane-link'],
    body: split < 0 ? '' : text.slice(split + 4),
    raw: text,
  };
}

// The newest message in the outbox folder, optionally only those sent to `to` (compared
// case-insensitively); undefined when there is none.
export function latestMail(folder, to) {
  let names;
  try {
    names = readdirSync(folder).filter((n) => n.endsWith('.eml')).sort().reverse();
  } catch (err) {
    if (err.code === 'ENOENT') return undefined;
    throw err;
  }
  const wanted = to === undefined ? undefined : to.trim().toLowerCase();
  for (const name of names) {
    const file = join(folder, name);
    const mail = parseMail(readFileSync(file, 'utf8'));
    if (wanted === undefined || (mail.to || '').toLowerCase() === wanted) return { ...mail, file };
  }
  return undefined;
}
