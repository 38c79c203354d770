import assert from "node:assert/strict";

// Waits until |check| holds, polling; fails with |what| after |timeout| ms.
export async function eventually(what, check, timeout = 8000) {
  const deadline = Date.now() + timeout;
  let last;
  while (Date.now() < deadline) {
    last = await check();
    if (last === true) return;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  assert.fail(`${what} (last: ${JSON.stringify(last)})`);
}
