// Runs one of the Ember+ test files with Node.js's test runner; exits 77 (skipped) when
// node-emberplus is not installed (npm ci in tests/ember, as scripts/install-deps.sh does).
"use strict";
const path = require("node:path");
const { spawnSync } = require("node:child_process");

try {
  require.resolve("node-emberplus", { paths: [__dirname] });
} catch {
  console.log("skipped: node-emberplus is not installed (npm ci --prefix tests/ember)");
  process.exit(77);
}
const run = spawnSync(process.execPath, ["--test", path.join(__dirname, process.argv[2])], { stdio: "inherit" });
process.exit(run.status ?? 1);
