// A contested sign-up's way out. When two sign-ups of one address compete (signups.mjs), both
// are stopped and the address is mailed a claim code instead. Entering that code proves that
// someone reads the mailbox, but not which sign-up they made, so it binds nothing by itself: the
// sign-up is the one whose first device key is registered next, with its password (which only
// the person who made it knows). Every sign-up of the address made while the claim lasts, and
// those it stopped, may be that one:
//
// - A key asked for before the code was entered marks that sign-up as never the one: the owner's
//   app asks only after its code was accepted, so only a guesser asks early, and it cannot ask
//   again and again until it happens to come right after the owner's code.
// - After the code, the first sign-up to ask is held for a moment. If another asks meanwhile (the
//   owner and a guesser who happened to ask just then), neither wins and a new code is mailed.
//   The owner's app asks within a second of its code being accepted, so a guesser can win only
//   by asking, blind, in that second, and then the owner asks too and both lose.
// The other party learns nothing: every answer is the one a waiting sign-up gets.
import { setTimeout as sleep } from 'node:timers/promises';
import { CODE_KINDS } from './codes.mjs';
import { ServiceError } from './http.mjs';

export const CLAIM_LIFETIME_MS = 24 * 60 * 60 * 1000;
export const PROOF_WINDOW_MS = 10 * 60 * 1000;
export const CLAIM_CONFLICT = 'Another device tried to finish this sign-up at the same moment; enter the new code we sent you.';
export const CLAIM_FIRST = 'Create your account again in the app, then enter this code.';

const CLAIM_MAIL = 'Two Halvane sign-ups with this email address and different passwords were started within a day of\n'
  + 'each other. To keep the address safe, the codes sent for them no longer work.\n\n'
  + 'If one of them was yours, enter this code in the app where it asks for the code: CODE\n'
  + 'If the app no longer asks for one, create your account again and then enter this code. It works for 24 hours.\n'
  + 'If none of them was yours, you can ignore this email: nobody can finish the sign-up without this code.\n';

const claimPrincipal = (email) => `claim:${email}`;

export class Claims {
  constructor({ db, codes, outbox, holdMs }) {
    this.codes = codes;
    this.outbox = outbox;
    this.holdMs = holdMs;
    this.byEmail = db.prepare('SELECT * FROM claims WHERE email = ?');
    this.upsert = db.prepare(`INSERT INTO claims (email, opened_at, last_at) VALUES (?, ?, ?)
      ON CONFLICT (email) DO UPDATE SET opened_at = excluded.opened_at, last_at = excluded.last_at, proven_at = NULL, holder = NULL`);
    this.touchClaim = db.prepare('UPDATE claims SET last_at = ? WHERE email = ?');
    this.prove = db.prepare('UPDATE claims SET proven_at = ?, holder = NULL, last_at = ? WHERE email = ?');
    this.hold = db.prepare('UPDATE claims SET holder = ? WHERE email = ? AND holder IS NULL');
    this.markCandidates = db.prepare('UPDATE signups SET candidate = 1 WHERE email = ?');
    this.burn = db.prepare('UPDATE signups SET candidate = 0 WHERE principal_id = ?');
    this.stale = db.prepare('SELECT email FROM claims WHERE last_at <= ?');
    this.remove = db.prepare('DELETE FROM claims WHERE email = ?');
  }

  of(email) { return this.byEmail.get(email); }

  // Opens (or starts over) the claim of `email`: every sign-up of it may be the one, and a new
  // code is mailed.
  open(email, now) {
    this.upsert.run(email, now, now);
    this.markCandidates.run(email);
    this.mailCode(email, now);
  }

  mailCode(email, now) {
    this.outbox.later(() => {
      const code = this.codes.issue(claimPrincipal(email), CODE_KINDS.verifyEmail, now, CLAIM_LIFETIME_MS);
      this.outbox.write({ to: email, kind: 'signup-stopped', subject: 'Your Halvane sign-up was stopped', code, text: CLAIM_MAIL.replace('CODE', code) }, now);
    });
  }

  // A sign-up made while the claim lasts joins it.
  join(email, now) { this.touchClaim.run(now, email); }

  drop(email) {
    this.remove.run(email);
    this.codes.discardAll(claimPrincipal(email));
  }

  prune(now) {
    for (const { email } of this.stale.all(now - CLAIM_LIFETIME_MS)) this.drop(email);
  }

  // verify-email while a claim lasts: the claim code proves the mailbox; throws otherwise.
  verify(email, typed, now) {
    this.codes.consume({ email, kind: CODE_KINDS.verifyEmail, typed, now, candidates: [claimPrincipal(email)] });
    this.prove.run(now, now, email);
    return { principalId: '', emailVerified: true };
  }

  // The first device key of `signup` (its password already checked): resolves when it is the
  // sign-up to become the account, else throws the answer a waiting sign-up gets.
  async settle(signup, now, unverified) {
    const claim = this.of(signup.email);
    if (!claim || !signup.candidate) throw new ServiceError(403, unverified);
    if (claim.proven_at === null || now > claim.proven_at + PROOF_WINDOW_MS) {
      this.burn.run(signup.principal_id);
      throw new ServiceError(403, unverified);
    }
    if (this.hold.run(signup.principal_id, signup.email).changes === 0) return this.conflict(signup.email, now);
    await sleep(this.holdMs);
    const after = this.of(signup.email);
    if (after?.opened_at !== claim.opened_at || after.holder !== signup.principal_id) throw new ServiceError(403, CLAIM_CONFLICT);
    return undefined;
  }

  conflict(email, now) {
    this.open(email, now);
    throw new ServiceError(403, CLAIM_CONFLICT);
  }
}
