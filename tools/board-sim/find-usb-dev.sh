#!/bin/sh
# Stand-in for the unit's board detection script: prints the tty of the
# simulated board that board-sim left in its link file.
cat "${BOARD_SIM_LINK:-/tmp/board-sim.tty}"
