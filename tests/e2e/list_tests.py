"""Prints the end-to-end test cases, one "module.Class.method" a line with
the labels placement.runs gives it after a space each, so that CTest can run
and name each on its own. Reads the sources; imports none of them.

    list_tests.py [FOLDER]"""

import ast
import os
import sys

from placement import LABELS


class BadMark(Exception):
    pass


def marks(node, where):
    """The labels of `node`'s @runs(...) or @placement.runs(...) marks."""
    labels = []
    for dec in node.decorator_list:
        if not isinstance(dec, ast.Call):
            continue
        func = dec.func
        name = func.attr if isinstance(func, ast.Attribute) else getattr(func, 'id', '')
        if name != 'runs':
            continue
        for arg in dec.args:
            if not (isinstance(arg, ast.Constant) and arg.value in LABELS):
                raise BadMark('%s:%d: not a placement label: %s'
                              % (where, dec.lineno, ast.unparse(arg)))
            labels.append(arg.value)
    return labels


def cases(folder):
    """(name, labels) of every test case of the folder's test_*.py."""
    for name in sorted(os.listdir(folder)):
        if not (name.startswith('test_') and name.endswith('.py')):
            continue
        with open(os.path.join(folder, name), encoding='utf-8') as f:
            tree = ast.parse(f.read(), name)
        for node in tree.body:
            if isinstance(node, ast.ClassDef):
                own = marks(node, name)
                for item in node.body:
                    if isinstance(item, ast.FunctionDef) and item.name.startswith('test'):
                        labels = own + [x for x in marks(item, name) if x not in own]
                        yield '%s.%s.%s' % (name[:-3], node.name, item.name), labels


def labelled(label, folder=None):
    """The names of the cases with `label`."""
    return [case for case, labels in cases(folder or os.path.dirname(os.path.abspath(__file__)))
            if label in labels]


def main(argv):
    folder = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    try:
        for case, labels in cases(folder):
            print(' '.join([case] + labels))
    except BadMark as e:
        print('list_tests.py: %s' % e, file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
