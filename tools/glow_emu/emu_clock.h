// SPDX-License-Identifier: MIT
// glow_emu's clocks: the monotonic one for deadlines and ticks (shared with
// glow_ctl), and the wall clock for the times it shows and logs.
#pragma once

#include "clock.h"

#include <cstddef>

// The wall-clock time of day as HH:MM:SS.mmm, local time.
void format_now(char *text, size_t size);

// The wall-clock time as seconds and microseconds since the epoch.
void wall_time(long long *seconds, long *microseconds);
