#!/bin/sh
# quillmere-avg for the command-line tests, as the Windows build under Wine:
# QUILLMERE_AVG=tools/tests/wine_avg.sh QUILLMERE_AVG_EXE=.../quillmere-avg.exe tools_tests
# Wine's own messages are kept off standard error: they are not the program's.
WINEDEBUG=-all exec wine "${QUILLMERE_AVG_EXE:?the path of quillmere-avg.exe}" "$@"
