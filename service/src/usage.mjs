// Metering of file jobs per account and calendar month (UTC) against the free plan, and the
// data-consumption figures of the current month.
import { randomBytes } from 'node:crypto';
import { ServiceError } from './http.mjs';

const GIB = 2 ** 30;
export const FREE_PLAN = Object.freeze({
  planId: 'free',
  encrypt: { bytes: 3 * GIB, jobs: 10000 },
  decrypt: { bytes: 2 * GIB, jobs: 10000 },
});

const MONTHS = ['January', 'February', 'March', 'April', 'May', 'June', 'July', 'August',
  'September', 'October', 'November', 'December'];
const renewal = (end) => `${MONTHS[end.getUTCMonth()]} ${end.getUTCDate()}`;
export const byteLimitReached = (kind, end) => (kind === 'encrypt'
  ? `This month's free allowance for protecting files (3 GB) would be exceeded; it renews on ${renewal(end)}.`
  : `This month's free allowance for opening files (2 GB) would be exceeded; it renews on ${renewal(end)}.`);
export const jobLimitReached = (limit, end) => `This month's limit of ${limit} file jobs is reached; it renews on ${renewal(end)}.`;

export function periodOf(now) {
  const date = new Date(now);
  const start = new Date(Date.UTC(date.getUTCFullYear(), date.getUTCMonth(), 1));
  const end = new Date(Date.UTC(date.getUTCFullYear(), date.getUTCMonth() + 1, 1));
  return { key: start.toISOString().slice(0, 7), start, end };
}

export const NO_SUCH_JOB = 'No unfinished file job of this account has that identifier.';
export const JOB_FINISHED = 'This file job was already completed.';

// A job is recorded when it starts and charged when the bridge that runs it reports it done, so
// work that was stopped, refused or found damaged costs nothing. Both steps check the plan: the
// first so that a job that cannot fit is refused before any work, the second because other
// jobs may have been charged meanwhile.
export class Usage {
  constructor({ db }) {
    this.find = db.prepare('SELECT bytes, jobs FROM usage WHERE principal_id = ? AND period = ? AND kind = ?');
    this.add = db.prepare(`INSERT INTO usage (principal_id, period, kind, bytes, jobs) VALUES (?, ?, ?, ?, 1)
      ON CONFLICT (principal_id, period, kind) DO UPDATE SET bytes = bytes + excluded.bytes, jobs = jobs + 1`);
    this.logJob = db.prepare("INSERT INTO jobs (job_id, principal_id, kind, secret_id, bytes, created_at, lock_hash, state) VALUES (?, ?, ?, ?, ?, ?, ?, 'pending')");
    this.jobOf = db.prepare('SELECT kind, bytes, state FROM jobs WHERE job_id = ? AND principal_id = ?');
    this.markCharged = db.prepare("UPDATE jobs SET state = 'charged' WHERE job_id = ?");
    this.completeTx = db.transaction((principalId, jobId, now) => {
      const job = this.jobOf.get(jobId, principalId);
      if (!job) throw new ServiceError(404, NO_SUCH_JOB);
      if (job.state !== 'pending') throw new ServiceError(409, JOB_FINISHED);
      const period = this.admit(principalId, job.kind, job.bytes, now);
      this.add.run(principalId, period.key, job.kind, job.bytes);
      this.markCharged.run(jobId);
      return job;
    });
  }

  used(principalId, periodKey, kind) {
    return this.find.get(principalId, periodKey, kind) || { bytes: 0, jobs: 0 };
  }

  // Throws the plan limit's ServiceError when one more job of `bytes` would pass it this month.
  admit(principalId, kind, bytes, now) {
    const period = periodOf(now);
    const used = this.used(principalId, period.key, kind);
    const limits = FREE_PLAN[kind];
    if (used.jobs + 1 > limits.jobs) throw new ServiceError(403, jobLimitReached(limits.jobs, period.end));
    if (used.bytes + bytes > limits.bytes) throw new ServiceError(403, byteLimitReached(kind, period.end));
    return period;
  }

  // Records a job that fits the plan, uncharged; returns its identifier. A lock keeps
  // `lockHash`, by which its opening finds it.
  start({ principalId, kind, secretId, bytes, now, lockHash }) {
    this.admit(principalId, kind, bytes, now);
    const jobId = `job-${randomBytes(12).toString('hex')}`;
    this.logJob.run(jobId, principalId, kind, secretId, bytes, now, lockHash ?? null);
    return jobId;
  }

  // Charges a started job of `principalId` once, checked against the plan of the month it
  // finishes in; returns the job.
  complete({ principalId, jobId, now }) {
    return this.completeTx(principalId, jobId, now);
  }

  consumption(principalId, now) {
    const period = periodOf(now);
    const stats = (kind) => {
      const limits = FREE_PLAN[kind];
      const used = this.used(principalId, period.key, kind);
      const remaining = Math.max(0, limits.bytes - used.bytes);
      return {
        limit: limits.bytes,
        used: used.bytes,
        remaining,
        count: used.jobs,
        requestLimit: limits.jobs,
        rateLimit: 0,
        limitGB: limits.bytes / GIB,
        usedGB: used.bytes / GIB,
        remainingGB: remaining / GIB,
      };
    };
    return {
      userId: principalId,
      userType: 'individual',
      planId: FREE_PLAN.planId,
      cycleType: 'monthly',
      periodStart: period.start.toISOString(),
      periodEnd: period.end.toISOString(),
      encryption: stats('encrypt'),
      decryption: stats('decrypt'),
    };
  }
}
