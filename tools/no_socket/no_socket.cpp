// SPDX-License-Identifier: MIT
// no_socket: runs a command in which socket(AF_INET, ...) fails with EMFILE.
//
//   no_socket COMMAND [ARG...]
//
// A seccomp filter, installed before the exec, answers IPv4 socket creation
// with EMFILE and lets every other call through, so the command starts
// normally (its loader can still open libraries) and meets the failure only
// where it asks for a socket. The filter covers this machine's native system
// call table; a command run under qemu-user is covered too, since qemu turns
// the guest's calls into native ones.
#include <linux/audit.h>
#include <linux/bpf_common.h>
#include <linux/filter.h>
#include <linux/prctl.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#ifdef __x86_64__
#define NATIVE_AUDIT_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define NATIVE_AUDIT_ARCH AUDIT_ARCH_AARCH64
#elif defined(__arm__)
#define NATIVE_AUDIT_ARCH AUDIT_ARCH_ARM
#elif defined(__i386__)
#define NATIVE_AUDIT_ARCH AUDIT_ARCH_I386
#else
#error "no_socket: unknown architecture"
#endif

static bool refuse_ipv4_sockets()
{
	static sock_filter program[] = {
		BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
		BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, NATIVE_AUDIT_ARCH, 1, 0),
		BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
		BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
		BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 3),
		BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
		BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_INET, 0, 1),
		BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EMFILE & SECCOMP_RET_DATA)),
		BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
	};
	sock_fprog filter{};
	filter.len = sizeof program / sizeof program[0];
	filter.filter = program;
	// Needed to install a filter without CAP_SYS_ADMIN; harmless with it.
	if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
		return false;
	return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

int main(int argc, char **argv)
{
	if (argc < 2) {
		fputs("usage: no_socket COMMAND [ARG...]\n", stderr);
		return 2;
	}
	if (!refuse_ipv4_sockets()) {
		fprintf(stderr, "no_socket: cannot install the filter: %s\n", strerror(errno));
		return 2;
	}
	execvp(argv[1], argv + 1);
	fprintf(stderr, "no_socket: %s: %s\n", argv[1], strerror(errno));
	return 127;
}
