' A script whose run-time error cscript would swallow: the harness must
' notice that it never reached its tally.
Check True, "a check that passes"
Dim broken
broken = 1 / 0
Check True, "never reached"
