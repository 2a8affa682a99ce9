// SPDX-License-Identifier: MIT
// The benchmark's baseline: a program that starts and exits, built and
// linked as glow_ctl is, so that what a run costs beyond it is glow_ctl's.
int main(void)
{
	return 0;
}
