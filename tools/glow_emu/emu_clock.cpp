// SPDX-License-Identifier: MIT
#include "emu_clock.h"

#include <cstdio>
#include <ctime>

void format_now(char *text, size_t size)
{
	timespec now{};
	clock_gettime(CLOCK_REALTIME, &now);
	tm local{};
	localtime_r(&now.tv_sec, &local);
	snprintf(text, size, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
		 static_cast<int>(now.tv_nsec / 1000000));
}

void wall_time(long long *seconds, long *microseconds)
{
	timespec now{};
	clock_gettime(CLOCK_REALTIME, &now);
	*seconds = static_cast<long long>(now.tv_sec);
	*microseconds = now.tv_nsec / 1000;
}
