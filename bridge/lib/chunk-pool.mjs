// Spreads the chunks of one large file over a few worker threads, so sealing runs on every core
// while the main thread reads and writes. Answers come back per chunk, each with the memory of
// its block, which the caller reuses.
import { Worker } from 'node:worker_threads';
import { availableParallelism } from 'node:os';
import { BridgeFailure } from './failure.mjs';

export const MAX_WORKERS = 4;

export class ChunkPool {
  // The workers start loading at once; the key and header follow with `setKey`, so a pool can
  // be made while the file key is still being worked out.
  constructor(mode, count = Math.min(MAX_WORKERS, availableParallelism())) {
    this.waiting = new Map();
    this.nextId = 0;
    this.workers = Array.from({ length: Math.max(1, count) }, () => {
      const worker = new Worker(new URL('./chunk-worker.mjs', import.meta.url), { workerData: { mode } });
      worker.on('message', (reply) => this.settle(reply));
      worker.on('error', (error) => this.failAll(error));
      return worker;
    });
  }

  setKey(key, header) {
    for (const worker of this.workers) worker.postMessage({ key: Buffer.from(key), header: Buffer.from(header) });
  }

  settle({ id, pieces, block, error, known }) {
    const entry = this.waiting.get(id);
    this.waiting.delete(id);
    const spare = Buffer.from(block);
    if (error !== undefined) entry.reject(Object.assign(known ? new BridgeFailure(error) : new Error(error), { spare }));
    else entry.resolve({ pieces: pieces.map((piece) => Buffer.from(piece)), spare });
  }

  failAll(error) {
    for (const entry of this.waiting.values()) entry.reject(error);
    this.waiting.clear();
  }

  // `block` must own its whole memory: it is moved to the worker and comes back as `spare`.
  transform(block, index, last) {
    const id = this.nextId;
    this.nextId += 1;
    return new Promise((resolve, reject) => {
      this.waiting.set(id, { resolve, reject });
      this.workers[index % this.workers.length].postMessage(
        { id, index, last, block: block.buffer, length: block.length }, [block.buffer]);
    });
  }

  // May be called more than once.
  close() {
    this.closed ??= Promise.all(this.workers.map((worker) => worker.terminate()));
    return this.closed;
  }
}
