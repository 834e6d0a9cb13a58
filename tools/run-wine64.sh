#!/bin/sh
# Runs a Windows program under Debian's wine64, with the host's address-space randomization
# off for it and for every Wine process it starts (children inherit the setting, so the
# wrapper's own engine runs are covered too). Every script and test of this project starts
# wine64 through here.
#
# Why: Debian's wine64 comes without Wine's preloader, so nothing reserves the addresses that
# Windows fixes before the Linux loader places the program's heap. The wine64 loader is linked
# at 0x7d000000 and its heap starts at a random point of the gigabyte above it; about one start
# in 4,000 that heap lies over 0x7ffe0000, where every Windows process maps its shared user
# data. That process dies before it runs a line ("failed to map the shared user data:
# c0000018", printed only with WINEDEBUG=err+virtual), and the CreateProcess that started it
# fails with 1359 (ERROR_INTERNAL_ERROR). Without randomization the heap always lies just
# above the loader.
exec setarch "$(uname -m)" --addr-no-randomize /usr/lib/wine/wine64 "$@"
