"""Lints the bash and sh steps of GitHub workflow files with shellcheck, and
finds a step whose pipe can fail unseen: one that runs in bash without
pipefail (a step without `shell:` runs `bash -e`).

    lint_workflow_shells.py [--root DIR] [FILE...]   default: .github/workflows/*.yml

Each step's script is checked as the runner runs it: the shell of the step,
else of its job's or the workflow's defaults, else bash (pwsh on Windows).
${{ }} expressions are replaced by a word of their length first. The
scripts of the repository (DIR, default this one) that a step runs with
`bash PATH` are checked too, once each. Prints one line per finding
(FILE:LINE:COLUMN: message [code]); exit 1 with findings, 2 when it cannot
lint (no shellcheck)."""

import json
import os
import re
import shutil
import subprocess
import sys

import yaml

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# What the runner runs for each shell ({0}: the script's file).
SHELLS = {
    'bash': ['bash', '--noprofile', '--norc', '-eo', 'pipefail', '{0}'],
    'sh': ['sh', '-e', '{0}'],
    None: ['bash', '-e', '{0}'],           # no shell named, not on Windows
}
EXPRESSION = re.compile(r'\$\{\{.*?\}\}', re.S)
SCRIPT = re.compile(r'(?:^|[;&|(]\s*|\s)bash\s+((?:\./)?[\w./-]+\.sh)\b', re.M)
PIPE = re.compile(r'(?<![|>])\|(?![|&])')


def _mapping(node):
    """{key: value node} of a YAML mapping node; {} for anything else."""
    if not isinstance(node, yaml.MappingNode):
        return {}
    return {k.value: v for k, v in node.value if isinstance(k, yaml.ScalarNode)}


def _scalar(node):
    return node.value if isinstance(node, yaml.ScalarNode) else None


def _default_shell(*mappings):
    for m in mappings:
        shell = _scalar(_mapping(_mapping(m.get('defaults')).get('run')).get('shell'))
        if shell:
            return shell
    return None


def steps(text):
    """(job, step name, shell, script, (line, column) where the script
    starts in the file) of every run step of a workflow's text; shell is
    None for a step that names none on a machine other than Windows."""
    lines = text.split('\n')
    root = _mapping(yaml.compose(text, Loader=yaml.SafeLoader))
    for job_name, job_node in _mapping(root.get('jobs')).items():
        job = _mapping(job_node)
        runs_on = _scalar(job.get('runs-on')) or ''
        for step_node in getattr(job.get('steps'), 'value', []):
            step = _mapping(step_node)
            run = step.get('run')
            if _scalar(run) is None:
                continue
            shell = _scalar(step.get('shell')) or _default_shell(job, root)
            if shell is None and 'windows' in runs_on.lower():
                shell = 'pwsh'
            if run.style in ('|', '>'):
                # A block's text starts on the line after its indicator.
                line = run.start_mark.line + 2
                column = len(lines[line - 1]) - len(lines[line - 1].lstrip(' ')) + 1
            else:
                line, column = run.start_mark.line + 1, run.start_mark.column + 1
            name = _scalar(step.get('name')) or _scalar(step.get('id')) or run.value.split('\n')[0]
            yield job_name, name, shell, run.value, (line, column)


def command(shell, script_path):
    """The command the runner runs a step of that shell with."""
    return [script_path if part == '{0}' else part for part in SHELLS[shell]]


def shellcheck_comments(shellcheck, dialect, text, what):
    """shellcheck's comments on a script's text."""
    said = subprocess.run([shellcheck, '--shell=' + dialect, '--format=json1', '-'], input=text,
                          capture_output=True, text=True, timeout=120)
    if said.returncode not in (0, 1):
        raise RuntimeError('shellcheck failed on %s: %s' % (what, said.stderr))
    return json.loads(said.stdout or '{"comments": []}')['comments']


def scripts_run(script, root):
    """The repository's shell scripts a step's script runs with bash."""
    found = []
    for name in SCRIPT.findall(script):
        path = os.path.normpath(os.path.join(root, name))
        if os.path.isfile(path) and path not in found:
            found.append(path)
    return found


def findings(path, shellcheck, root=REPO, seen=None):
    """[(file, line, column, message, code)] of one workflow file and the
    scripts its steps run (those in seen, a set, only once)."""
    with open(path, encoding='utf-8') as f:
        text = f.read()
    seen = set() if seen is None else seen
    out = []
    for job, name, shell, script, (first, indent) in steps(text):
        if shell not in SHELLS:
            continue
        plain = EXPRESSION.sub(lambda m: '_' * len(m.group(0)), script)
        dialect = 'sh' if shell == 'sh' else 'bash'
        for c in shellcheck_comments(shellcheck, dialect, plain, '%s, step "%s"' % (job, name)):
            out.append((path, first + c['line'] - 1, indent + c['column'] - 1,
                        '%s: %s' % (job, c['message']), 'SC%d' % c['code']))
        for called in scripts_run(plain, root):
            if called in seen:
                continue
            seen.add(called)
            with open(called, encoding='utf-8') as f:
                body = f.read()
            for c in shellcheck_comments(shellcheck, 'bash', body, called):
                out.append((called, c['line'], c['column'], '%s (run by %s): %s' % (
                    os.path.basename(called), job, c['message']), 'SC%d' % c['code']))
        if shell is None and 'pipefail' not in script:
            for n, line in enumerate(script.split('\n')):
                if PIPE.search(line.split('#')[0]):
                    out.append((path, first + n, indent, '%s: a pipe in step "%s" runs without pipefail (the '
                                'default bash -e): its failure passes unseen; set shell: bash'
                                % (job, name), 'pipefail'))
                    break
    return sorted(out)


def main(argv):
    root = REPO
    if argv[:1] == ['--root']:
        root, argv = os.path.abspath(argv[1]), argv[2:]
    files = argv
    if not files:
        flows = os.path.join(REPO, '.github', 'workflows')
        files = sorted(os.path.join(flows, n) for n in os.listdir(flows)
                       if n.endswith(('.yml', '.yaml')))
    shellcheck = shutil.which('shellcheck')
    if not shellcheck:
        print('lint_workflow_shells: no shellcheck (tools/setup.sh installs it)', file=sys.stderr)
        return 2
    def shown(path):
        relative = os.path.relpath(os.path.abspath(path), root)
        return path if relative.startswith('..') else relative

    count, seen = 0, set()
    for path in files:
        for where, line, column, message, code in findings(path, shellcheck, root, seen):
            print('%s:%d:%d: %s [%s]' % (shown(where), line, column, message, code))
            count += 1
    print('lint_workflow_shells: %d file(s), %d finding(s)' % (len(files), count))
    return 1 if count else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
