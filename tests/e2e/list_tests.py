"""Prints the end-to-end test cases, one "module.Class.method" a line, so
that CTest can run and name each on its own. Reads the sources; imports
nothing."""

import ast
import os
import sys


def cases(folder):
    for name in sorted(os.listdir(folder)):
        if not (name.startswith('test_') and name.endswith('.py')):
            continue
        with open(os.path.join(folder, name), encoding='utf-8') as f:
            tree = ast.parse(f.read(), name)
        for node in tree.body:
            if isinstance(node, ast.ClassDef):
                for item in node.body:
                    if isinstance(item, ast.FunctionDef) and item.name.startswith('test'):
                        yield '%s.%s.%s' % (name[:-3], node.name, item.name)


if __name__ == '__main__':
    for case in cases(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(__file__)):
        print(case)
