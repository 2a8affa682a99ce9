// SPDX-License-Identifier: MIT
// The monotonic clock in milliseconds, for deadlines that a change of the
// wall clock must not move.
#pragma once

#include <time.h>

inline long long monotonic_ms()
{
	timespec now{};
	clock_gettime(CLOCK_MONOTONIC, &now);
	return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
