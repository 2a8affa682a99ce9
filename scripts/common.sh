# Shared by the scripts: where things are, and installing what is missing.
# Sourced, not run.

GLOW_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
GLOW_BUILD=${GLOW_BUILD:-$GLOW_ROOT/build}

say() { printf '\n== %s\n' "$*"; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# apt_install PACKAGE... : installs the packages that are not installed yet,
# refreshing the package lists once per run.
apt_install() {
	local missing=() package
	for package in "$@"; do
		dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
			missing+=("$package")
	done
	[ ${#missing[@]} -eq 0 ] && return 0
	[ "$(id -u)" -eq 0 ] || die "missing packages (${missing[*]}); run as root to install them"
	say "installing ${missing[*]}"
	if [ -z "${GLOW_APT_UPDATED:-}" ]; then
		apt-get update -q >/dev/null || die "apt-get update failed"
		GLOW_APT_UPDATED=1
	fi
	DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" \
		>/dev/null || die "apt-get install ${missing[*]} failed"
}

# The host build's packages: compilers, CMake, GoogleTest, Python, iproute2.
host_packages() {
	apt_install g++ cmake libgtest-dev googletest python3 iproute2
}
