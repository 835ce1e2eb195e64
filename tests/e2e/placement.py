"""Where a Windows case runs beyond the two Wine suites, marked on the case
or its class: `@placement.runs('vm32', 'windows')`. runner.py reads the
marks from the source and decides by them; CTest gets them as the case's
labels. docs/testing.md ("Where a case runs") says what each label does."""

LABELS = {
    'vm32': 'by default in the machine for the 32-bit runs',
    'host_only': 'never in the machine for the 32-bit runs: it checks the Wine of the host itself',
    'spared_at_64': 'by the 64-bit suite only where the 32-bit one cannot run',
    # A case Windows cannot run is not marked, never skipped there.
    'windows': 'also on Windows itself, over the console driver',
}


def runs(*labels):
    """Marks a test case or class with where it runs; read from the source
    (an unknown label fails there), it changes nothing at run time."""
    return lambda target: target
