# SPDX-License-Identifier: MIT
"""Checks the firmware recipes under contrib/ against the build, without
Buildroot, Yocto or OpenWrt: each states the project's version and offers
every build-time constant of
cmake/GlowConstants.cmake with the project's default, every -D it passes
names a constant or an option of the project, the Kconfig files parse (with
kconfiglib, as those tools' own Kconfig does), and the Yocto recipe's
LIC_FILES_CHKSUM matches LICENSE.

    python3 check_recipes.py                      the checks; exit 1 on a failure
    python3 check_recipes.py --board NAME=VALUE...  (after the checks) the -D
        options every recipe passes for that board, one per line

Run with Debian's python3 (python3-kconfiglib).
"""

import hashlib
import os
import re
import sys

import kconfiglib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
CONTRIB = os.path.join(ROOT, "contrib")


# One -D option of a recipe: its name, and the value as the recipe writes it.
FLAG = r"-D(GLOW_\w+)=(\$\(call qstrip,\$\(\w+\)\)|\S+)"


def read(*path):
    with open(os.path.join(*path), encoding="utf-8") as text:
        return text.read()


def constants():
    """{GLOW_NAME: default} from cmake/GlowConstants.cmake."""
    text = read(ROOT, "cmake", "GlowConstants.cmake")
    return dict(re.findall(r'^glow_constant\((GLOW_\w+) "?([^" ]*)"? ', text, re.M))


def options():
    return set(re.findall(r"^option\((GLOW_\w+)", read(ROOT, "CMakeLists.txt"), re.M))


def kconfig_values(text, enable, prefix, stub=""):
    """Parses Kconfig text (after the stub: symbols the build tool defines)
    and selects the package (the symbol enable); returns {name without
    prefix: value} for its string and int symbols, their defaults."""
    path = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"glow-kconfig-{os.getpid()}")
    with open(path, "w", encoding="utf-8") as kconfig:
        kconfig.write(f"{stub}\n{text}")
    try:
        config = kconfiglib.Kconfig(path, warn_to_stderr=False)
    finally:
        os.remove(path)
    if enable in config.syms:
        config.syms[enable].set_value(2)
    return {name[len(prefix):]: symbol.str_value for name, symbol in config.syms.items()
            if name.startswith(prefix) and symbol.type in (kconfiglib.STRING, kconfiglib.INT)}


def buildroot():
    """(defaults by constant, -D templates by name, how a value is written)"""
    package = os.path.join(CONTRIB, "buildroot", "package", "glow-ctl")
    os.environ["BR2_EXTERNAL_GLOW_PATH"] = os.path.join(CONTRIB, "buildroot")
    top = read(CONTRIB, "buildroot", "Config.in").replace("$BR2_EXTERNAL_GLOW_PATH", os.environ[
        "BR2_EXTERNAL_GLOW_PATH"])
    values = kconfig_values(top, "BR2_PACKAGE_GLOW_CTL", "BR2_PACKAGE_GLOW_CTL_",
                            stub="config BR2_INSTALL_LIBSTDCPP\n\tbool\n\tdefault y\n")
    values.pop("TARBALL", None)
    flags = dict(re.findall(FLAG, read(package, "glow-ctl.mk")))
    return values, flags, lambda name: f"BR2_PACKAGE_GLOW_CTL_{name}"


def yocto():
    layer = os.path.join(CONTRIB, "yocto", "meta-glow", "recipes-support", "glow-ctl")
    recipe = read(layer, *[f for f in os.listdir(layer) if f.endswith(".bb")])
    values = {name[len("GLOW_"):]: value for name, value in re.findall(r'^(GLOW_\w+) \?= "(.*)"$', recipe, re.M)}
    flags = dict(re.findall(FLAG, recipe.replace("\\\n", " ").replace('"', " ")))
    return values, flags, lambda name: f"GLOW_{name}"


def openwrt():
    makefile = read(CONTRIB, "openwrt", "glow-ctl", "Makefile")
    config = re.search(r"^define Package/glow-ctl/config\n(.*?)^endef", makefile, re.M | re.S).group(1)
    values = kconfig_values(config, "PACKAGE_glow-ctl", "GLOW_CTL_",
                            stub="config PACKAGE_glow-ctl\n\tbool\n\tdefault y\n")
    rebuilds = set(re.findall(r"CONFIG_GLOW_CTL_\w+", makefile.split("PKG_CONFIG_DEPENDS", 1)[1].split("\n\n")[0]))
    missing = {f"CONFIG_GLOW_CTL_{name}" for name in values} - rebuilds
    if missing:
        raise AssertionError(f"PKG_CONFIG_DEPENDS lacks {sorted(missing)}")
    flags = dict(re.findall(FLAG, makefile))
    return values, flags, lambda name: f"CONFIG_GLOW_CTL_{name}"


def board_options(flags, board):
    """The -D options a recipe passes when its variables have the values in
    board ({variable: value}), replaced as the build tool would, strings
    unquoted."""
    options_out = []
    for name, template in sorted(flags.items()):
        value = re.sub(r"\$\(call qstrip,\$\((\w+)\)\)|\$\((\w+)\)|\$\{(\w+)\}",
                       lambda m: board.get(next(n for n in m.groups() if n), "?"), template)
        options_out.append(f"-D{name}={value}")
    return options_out


def main():
    project, known = constants(), options()
    failures = []
    results = {}
    for recipe in (buildroot, yocto, openwrt):
        name = recipe.__name__
        try:
            values, flags, variable = recipe()
        except (AssertionError, OSError, kconfiglib.KconfigError) as problem:
            failures.append(f"{name}: {problem}")
            continue
        offered = {f"GLOW_{key}": value for key, value in values.items()}
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
    if failures:
        print("\n".join(failures), file=sys.stderr)
        sys.exit(1)
    if sys.argv[1:2] == ["--board"]:
        board = dict(setting.split("=", 1) for setting in sys.argv[2:])
        passed = set()
        for name, (flags, variable) in results.items():
            values = {variable(key[len("GLOW_"):]): board.get(key, default) for key, default in project.items()}
            passed.add(tuple(board_options(flags, values)))
        if len(passed) != 1:
            sys.exit(f"the recipes pass different options for one board: {passed}")
        print("\n".join(passed.pop()))


if __name__ == "__main__":
    main()
