"""Where a Windows case runs beyond the two Wine suites, marked on the case
or its class:

    @placement.runs('vm32', 'windows')
    def test_...

runner.py reads the marks from the source and decides by them; CTest gets
them as the case's labels. A case without a mark runs in both Wine suites."""

LABELS = {
    # Run by default in the machine for the 32-bit runs (a host whose
    # kernel runs no 32-bit code); the rest there only with TG_VM32_ALL.
    'vm32': 'by default in the machine for the 32-bit runs',
    # Never in that machine: the case checks the Wine of the host itself.
    'host_only': 'never in the machine for the 32-bit runs',
    # The 64-bit suite only repeats what the 32-bit suite shows of the same
    # code: it skips the case where the 32-bit suite runs.
    'spared_at_64': 'by the 64-bit suite only where the 32-bit one cannot run',
    # Also on hosted Windows in the windows-release workflow; under Wine it
    # runs as that job runs it (windows_cases.py). A case Windows cannot
    # run is not marked, never skipped there.
    'windows': 'also on Windows itself, over the console driver',
}


def runs(*labels):
    """Marks a test case or class with where it runs; see LABELS. The mark
    is read from the source (an unknown label fails there), so at run time
    it changes nothing."""
    return lambda target: target
