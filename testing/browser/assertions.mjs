// Assertions whose failure messages stay readable on megabyte pages.
import assert from 'node:assert/strict';

// sameText(actual, expected, what): equal strings, or a failure naming the
// first difference with some text around it.
export function sameText(actual, expected, what) {
  if (actual === expected) return;
  let at = 0;
  while (at < actual.length && actual[at] === expected[at]) at++;
  const around = (text) => JSON.stringify(text.slice(Math.max(0, at - 40), at + 40));
  assert.fail(`${what}: differs at ${at} of ${actual.length} (expected ${expected.length}):\n` +
    `  actual   ${around(actual)}\n  expected ${around(expected)}`);
}

// noErrors(page): nothing went to the console as an error, no exception.
export function noErrors(page) {
  assert.deepEqual(page.errors, [], 'console errors or uncaught exceptions in the page');
}
