# SPDX-License-Identifier: MIT
"""Checks the firmware recipes under contrib/ against the build, for what
Buildroot's check-package, OpenWrt's metadata scan and yocto-check-layer do
not see (they know nothing of this project), and without those systems: each
recipe states the project's version and offers every build-time constant of
cmake/GlowConstants.cmake with the project's default; every integer option's
range is what configuring takes (its ends accepted, one past them refused);
every -D it passes names a constant or an option of the project; the
Kconfig files parse without warnings (with kconfiglib, as those tools' own
Kconfig does); Buildroot selects the host CMake the project needs and splits
a release tarball's URL into a site it accepts; the licence checksums match
LICENSE; the recipes that name a maintainer name the project's; and each
recipe's options, expanded as its build tool expands them (Buildroot's and
OpenWrt's make, BitBake's Python expressions) and split by a shell, hand
the board's strings to CMake as one argument each, exactly, a blank, a ;,
a quote and a command substitution included.

    python3 check_recipes.py                      the checks; exit 1 on a failure
    python3 check_recipes.py --board NAME=VALUE...  (after the checks) the -D
        options every recipe passes for that board, one per line

Run with Debian's python3 (python3-kconfiglib).
"""

import functools
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

import kconfiglib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
CONTRIB = os.path.join(ROOT, "contrib")


# One -D option of a recipe: its name, and the value as the recipe writes it
# (a make function's call, a BitBake Python expression, or a word).
FLAG = r"-D(GLOW_\w+)=(\$\{@[^}]*\}|\$\(call \w+,\$\(\w+\)\)|\S+)"
# Values that a menu or local.conf may hold, which must reach CMake as one
# argument each, exactly: a blank, a ; that a shell would take for the end
# of the command, a quote and a command substitution.
HOSTILE = {"GLOW_INTERFACE": "eth 0", "GLOW_OWN_ADDRESS": "10.0.0.1;true",
           "GLOW_CONTROLLER_ADDRESS": "10.0.0.2'`false`", "GLOW_PORT": "9100"}


def read(*path):
    with open(os.path.join(*path), encoding="utf-8") as text:
        return text.read()


def constants():
    """{GLOW_NAME: default} from cmake/GlowConstants.cmake."""
    text = read(ROOT, "cmake", "GlowConstants.cmake")
    return dict(re.findall(r'^glow_constant\((GLOW_\w+) "?([^" ]*)"? ', text, re.M))


def options():
    return set(re.findall(r"^option\((GLOW_\w+)", read(ROOT, "CMakeLists.txt"), re.M))


def kconfig_symbols(text, enable, prefix, stub=""):
    """Parses Kconfig text (after the stub: symbols the build tool defines)
    and selects the package (the symbol enable); returns {name without
    prefix: symbol} for its string and int symbols."""
    # A file of its own: a name chosen here could be someone else's.
    descriptor, path = tempfile.mkstemp(prefix="glow-kconfig-")
    with os.fdopen(descriptor, "w", encoding="utf-8") as kconfig:
        kconfig.write(f"{stub}\n{text}")
    try:
        config = kconfiglib.Kconfig(path, warn_to_stderr=False)
    finally:
        os.remove(path)
    if config.warnings:
        raise AssertionError(f"Kconfig warnings: {config.warnings}")
    if enable in config.syms:
        config.syms[enable].set_value(2)
    return {name[len(prefix):]: symbol for name, symbol in config.syms.items()
            if name.startswith(prefix) and symbol.type in (kconfiglib.STRING, kconfiglib.INT)}


def cmake_minimum():
    """(major, minor) of the project's cmake_minimum_required."""
    found = re.search(r"cmake_minimum_required\(VERSION (\d+)\.(\d+)", read(ROOT, "CMakeLists.txt"))
    return found.group(1), found.group(2)


def buildroot():
    """(symbols by constant, -D templates by name, how a value is written)"""
    package = os.path.join(CONTRIB, "buildroot", "package", "glow-ctl")
    os.environ["BR2_EXTERNAL_GLOW_PATH"] = os.path.join(CONTRIB, "buildroot")
    top = read(CONTRIB, "buildroot", "Config.in").replace("$BR2_EXTERNAL_GLOW_PATH", os.environ[
        "BR2_EXTERNAL_GLOW_PATH"])
    # Buildroot takes a host CMake at least this new, or builds one.
    selected = re.findall(r"select BR2_HOST_CMAKE_AT_LEAST_(\d+)_(\d+)", read(package, "Config.in"))
    if selected != [cmake_minimum()]:
        raise AssertionError(f"selects host CMake {selected}; the project needs {cmake_minimum()}")
    stub = "".join(f"config {name}\n\tbool\n\tdefault y\n" for name in (
        "BR2_INSTALL_LIBSTDCPP", "BR2_TOOLCHAIN_GCC_AT_LEAST_10", "BR2_HOST_CMAKE_AT_LEAST_%s_%s" % cmake_minimum()))
    symbols = kconfig_symbols(top, "BR2_PACKAGE_GLOW_CTL", "BR2_PACKAGE_GLOW_CTL_", stub=stub)
    symbols.pop("TARBALL", None)
    flags = dict(re.findall(FLAG, read(package, "glow-ctl.mk")))
    return symbols, flags, lambda name: f"BR2_PACKAGE_GLOW_CTL_{name}"


def buildroot_make(expression, settings):
    """What Buildroot's make expands expression to once it has read
    glow-ctl.mk, .config holding settings (NAME=VALUE, as .config writes
    them)."""
    stub = ('qstrip = $(strip $(subst ",,$(1)))\ncmake-package =\nBUILD_DIR = /build\n'
            f'include {os.path.join(CONTRIB, "buildroot", "package", "glow-ctl", "glow-ctl.mk")}\n'
            f'$(info {expression})\nshow:\n\t@:\n')
    return subprocess.run(["make", "-s", "-f", "-", "show", *settings], input=stub, capture_output=True, text=True,
                          check=True).stdout.strip()


def buildroot_tarball_site(url):
    """(GLOW_CTL_SITE, GLOW_CTL_SOURCE) as Buildroot's make reads them from
    glow-ctl.mk when BR2_PACKAGE_GLOW_CTL_TARBALL is url."""
    shown = buildroot_make("$(GLOW_CTL_SITE) $(GLOW_CTL_SOURCE)", [f'BR2_PACKAGE_GLOW_CTL_TARBALL="{url}"'])
    return tuple(shown.split())


def yocto():
    layer = os.path.join(CONTRIB, "yocto", "meta-glow", "recipes-support", "glow-ctl")
    recipe = read(layer, *[f for f in os.listdir(layer) if f.endswith(".bb")])
    values = {name[len("GLOW_"):]: Value(value) for name, value in
              re.findall(r'^(GLOW_\w+) \?= "(.*)"$', recipe, re.M) if name in constants()}
    flags = dict(re.findall(FLAG, recipe.replace("\\\n", " ").replace('"', " ")))
    return values, flags, lambda name: f"GLOW_{name}"


def openwrt():
    makefile = read(CONTRIB, "openwrt", "glow-ctl", "Makefile")
    config = re.search(r"^define Package/glow-ctl/config\n(.*?)^endef", makefile, re.M | re.S).group(1)
    symbols = kconfig_symbols(config, "PACKAGE_glow-ctl", "GLOW_CTL_",
                              stub="config PACKAGE_glow-ctl\n\tbool\n\tdefault y\n")
    rebuilds = set(re.findall(r"CONFIG_GLOW_CTL_\w+", makefile.split("PKG_CONFIG_DEPENDS:=", 1)[1].split("\n\n")[0]))
    missing = {f"CONFIG_GLOW_CTL_{name}" for name in symbols} - rebuilds
    if missing:
        raise AssertionError(f"PKG_CONFIG_DEPENDS lacks {sorted(missing)}")
    flags = dict(re.findall(FLAG, makefile))
    return symbols, flags, lambda name: f"CONFIG_GLOW_CTL_{name}"


class Value:
    """A recipe variable that is no Kconfig symbol: its default alone."""

    def __init__(self, value):
        self.str_value = value
        self.type = None
        self.ranges = []


@functools.cache
def accepted(constant, value):
    """Whether configuring takes value for constant (the project's own
    check, run alone)."""
    check = os.path.join(ROOT, "tests", "check_constants.cmake")
    return subprocess.run(["cmake", f"-D{constant}={value}", "-P", check], capture_output=True,
                          check=False).returncode == 0


def range_failures(name, symbols):
    """An integer option's range must be what configuring takes: its ends
    accepted, one past each end refused."""
    failures = []
    for key, symbol in sorted(symbols.items()):
        if symbol.type != kconfiglib.INT:
            continue
        if not symbol.ranges:
            failures.append(f"{name}: {key} has no range")
            continue
        low, high = (int(end.str_value) for end in symbol.ranges[0][:2])
        constant = f"GLOW_{key}"
        if not (accepted(constant, low) and accepted(constant, high)) or accepted(constant, high + 1) or (
                low > 0 and accepted(constant, low - 1)):
            failures.append(f"{name}: {key}'s range {low} {high} is not what configuring takes")
    return failures


def contact_failures():
    """Every recipe that names a maintainer names the project's, and so
    does the security policy (yocto-check-layer looks for it)."""
    maintainer = re.search(r'set\(GLOW_MAINTAINER "(.*)"\)', read(ROOT, "CMakeLists.txt")).group(1)
    named = {"openwrt": re.findall(r"^PKG_MAINTAINER:=(.*)$", read(CONTRIB, "openwrt", "glow-ctl", "Makefile"), re.M),
             "yocto": re.findall(r"^Maintainer: (.*)$", read(CONTRIB, "yocto", "meta-glow", "README.md"), re.M),
             "SECURITY.md": re.findall(r"^Maintainer: (.*)$", read(ROOT, "SECURITY.md"), re.M)}
    return [f"{name}: names maintainer {found}, the project's is {maintainer!r}"
            for name, found in named.items() if found != [maintainer]]


def shell_words(text):
    """The arguments a POSIX shell makes of text on a command line."""
    printed = subprocess.run(["sh", "-c", f"printf '%s\\0' {text}"], capture_output=True, text=True, check=True)
    return printed.stdout.split("\0")[:-1]


def config_value(value):
    """A value as a Kconfig .config holds it: strings in double quotes."""
    return value if value.isdigit() else f'"{value}"'


def buildroot_options(values):
    """GLOW_CTL_CONF_OPTS as Buildroot's make expands it, .config holding
    values ({GLOW_NAME: value})."""
    return buildroot_make("$(GLOW_CTL_CONF_OPTS)", [f"BR2_PACKAGE_GLOW_CTL_{name[len('GLOW_'):]}={config_value(value)}"
                                                    for name, value in values.items()])


def openwrt_options(values):
    """CMAKE_OPTIONS as OpenWrt's make expands the package's Makefile,
    .config holding values; its build system's includes stubbed."""
    # A folder of its own, which the clean-up below removes whole.
    stubs = tempfile.mkdtemp(prefix="glow-openwrt-")
    texts = {"rules.mk": 'qstrip = $(strip $(subst ",,$(1)))\n', "package.mk": "", "cmake.mk": "",
             "show.mk": "$(info $(CMAKE_OPTIONS))\nshow:\n\t@:\n"}
    try:
        for name, text in texts.items():
            with open(os.path.join(stubs, name), "w", encoding="utf-8") as stub:
                stub.write(text)
        settings = [f"CONFIG_GLOW_CTL_{name[len('GLOW_'):]}={config_value(value)}" for name, value in values.items()]
        return subprocess.run(["make", "-s", "-C", os.path.join(CONTRIB, "openwrt", "glow-ctl"), "-f", "Makefile",
                               "-f", os.path.join(stubs, "show.mk"), f"TOPDIR={stubs}", f"INCLUDE_DIR={stubs}",
                               "show", *settings], capture_output=True, text=True, check=True).stdout.strip()
    finally:
        shutil.rmtree(stubs)


def yocto_options(values):
    """EXTRA_OECMAKE as BitBake expands the recipe: its line continuations
    joined, each ${@...} evaluated with the recipe's own Python functions
    and values as the variables."""
    layer = os.path.join(CONTRIB, "yocto", "meta-glow", "recipes-support", "glow-ctl")
    recipe = read(layer, *[f for f in os.listdir(layer) if f.endswith(".bb")])
    functions = {}
    for function in re.findall(r"^def .*\n(?:    .*\n)+", recipe, re.M):
        exec(function, functions)  # noqa: S102 - the project's own recipe

    class Data:
        @staticmethod
        def getVar(name):  # noqa: N802 - BitBake's name
            return values[name]

    text = re.search(r'^EXTRA_OECMAKE \+= "(.*?)"$', recipe, re.M | re.S).group(1).replace("\\\n", " ")
    return re.sub(r"\$\{@([^}]*)\}", lambda m: str(eval(m.group(1), {**functions, "d": Data})), text)


EXPANSIONS = {"buildroot": buildroot_options, "openwrt": openwrt_options, "yocto": yocto_options}


def expanded_options(name, values):
    """The -D options the recipe passes for values ({GLOW_NAME: value}),
    one argument each, as its build tool expands them and a shell splits
    them."""
    return [word for word in shell_words(EXPANSIONS[name](values)) if word.startswith("-D")]


def quoting_failures(project):
    """Each recipe hands the board's strings to CMake as one argument each,
    exactly, whatever they hold, and drops no option."""
    values = {**project, **HOSTILE}
    wanted = sorted(f"-D{name}={value}" for name, value in values.items())
    failures = []
    for name in EXPANSIONS:
        try:
            passed = sorted(word for word in expanded_options(name, values) if word[2:].split("=")[0] in values)
        except (subprocess.CalledProcessError, AttributeError) as problem:
            failures.append(f"{name}: its options cannot be expanded: {problem}")
            continue
        if passed != wanted:
            failures.append(f"{name}: for {HOSTILE} it passes {passed}")
    return failures


def main():
    project, known = constants(), options()
    failures = []
    results = {}
    for recipe in (buildroot, yocto, openwrt):
        name = recipe.__name__
        try:
            symbols, flags, variable = recipe()
        except (AssertionError, OSError, kconfiglib.KconfigError) as problem:
            failures.append(f"{name}: {problem}")
            continue
        failures += range_failures(name, symbols)
        offered = {f"GLOW_{key}": symbol.str_value for key, symbol in symbols.items()}
        for constant in sorted(set(offered) | set(project)):
            if offered.get(constant) != project.get(constant):
                failures.append(f"{name}: {constant} is offered with default {offered.get(constant)!r}; "
                                f"the project's is {project.get(constant)!r}")
        unknown = set(flags) - set(project) - known
        untaken = set(project) - set(flags)
        if unknown or untaken:
            failures.append(f"{name}: passes -D for no such constant or option {sorted(unknown)}; "
                            f"does not pass {sorted(untaken)}")
        for constant in set(project) & set(flags):
            if variable(constant[len("GLOW_"):]) not in flags[constant]:
                failures.append(f"{name}: -D{constant} is not set from {variable(constant[len('GLOW_'):])}")
        results[name] = (flags, variable)
        print(f"{name}: {len(offered)} constants offered; "
              f"{len(flags)} -D options", file=sys.stderr)
    # Each states the project's version (a recipe has to write it down).
    version = re.search(r"project\(glow_ctl VERSION (\S+)", read(ROOT, "CMakeLists.txt")).group(1)
    stated = {"buildroot": re.findall(r"^GLOW_CTL_VERSION = (\S+)$", read(
                  CONTRIB, "buildroot", "package", "glow-ctl", "glow-ctl.mk"), re.M),
              "yocto": re.findall(r"^glow-ctl_(.+)\.bb$", "\n".join(os.listdir(
                  os.path.join(CONTRIB, "yocto", "meta-glow", "recipes-support", "glow-ctl"))), re.M),
              "openwrt": re.findall(r"^PKG_VERSION:=(\S+)$", read(CONTRIB, "openwrt", "glow-ctl", "Makefile"), re.M)}
    for name, versions in stated.items():
        if versions != [version]:
            failures.append(f"{name}: states version {versions}, the project's is {version}")
    recipe = read(CONTRIB, "yocto", "meta-glow", "recipes-support", "glow-ctl", f"glow-ctl_{version}.bb")
    checksum = re.search(r'LIC_FILES_CHKSUM = "file://LICENSE;md5=([0-9a-f]+)"', recipe)
    licence = hashlib.md5(read(ROOT, "LICENSE").encode()).hexdigest()
    if not checksum or checksum.group(1) != licence:
        failures.append(f"yocto: LIC_FILES_CHKSUM is not LICENSE's md5 {licence}")
    licence = hashlib.sha256(read(ROOT, "LICENSE").encode()).hexdigest()
    if f"sha256  {licence}  LICENSE" not in read(CONTRIB, "buildroot", "package", "glow-ctl", "glow-ctl.hash"):
        failures.append(f"buildroot: glow-ctl.hash lacks LICENSE's sha256 {licence}")
    # A release's tarball, as Buildroot splits its URL: a site without the
    # trailing slash Buildroot refuses, and the file's name.
    site = buildroot_tarball_site(f"https://downloads.example/glow_ctl/glow_ctl-{version}.tar.gz")
    if site != ("https://downloads.example/glow_ctl", f"glow_ctl-{version}.tar.gz"):
        failures.append(f"buildroot: a release tarball's URL gives site and source {site}")
    failures += contact_failures()
    failures += quoting_failures(project)
    if failures:
        print("\n".join(failures), file=sys.stderr)
        sys.exit(1)
    if sys.argv[1:2] == ["--board"]:
        board = dict(setting.split("=", 1) for setting in sys.argv[2:])
        values = {key: board.get(key, default) for key, default in project.items()}
        passed = {tuple(sorted(expanded_options(name, values))) for name in results}
        if len(passed) != 1:
            sys.exit(f"the recipes pass different options for one board: {passed}")
        print("\n".join(passed.pop()))


if __name__ == "__main__":
    main()
