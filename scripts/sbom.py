# SPDX-License-Identifier: MIT
"""Bills of materials for the release, in CycloneDX 1.5 JSON.

    python3 sbom.py make ARTEFACT LINK_MAP BINARY COMMIT > ARTEFACT.cdx.json
    python3 sbom.py check SCHEMA_CACHE FILE...

make: glow_ctl (its version, MIT, the artefact's SHA-256 and the source
commit) and what its link took, found in the linker's map: archive members
and start files are inside the binary, so their packages are components
of glow_ctl's; a shared library the binary needs is the system's, so its
package is a dependency alone. Each package, its version and its licences
come from the build machine's package database (dpkg -S, dpkg-query and
the package's copyright file), or from the database of the folder a package
was unpacked into apart from the system (musl for armel on a Debian
without armel). The time is SOURCE_DATE_EPOCH and the serial
number follows from the artefact, so the same build gives the same bytes.

check: validates each file against the CycloneDX 1.5 JSON schema as the
CycloneDX project publishes it in its npm library (fetched once by npm
itself, by name and pinned version, into SCHEMA_CACHE, its checksum
checked), and checks that it
names the SHA-256 of the artefact beside it. Run with Debian's python3
(python3-jsonschema).
"""

import hashlib
import json
import os
import re
import subprocess
import sys
import tarfile
import uuid
from importlib import metadata
from datetime import datetime, timezone

SCHEMA_PACKAGE = "@cyclonedx/cyclonedx-library@10.3.0"
SCHEMA_SHA256 = "9833bd949052eb18218dd64b13ad62d9246f7395eef01c66dad08fcbacf74f01"
SCHEMAS = ("bom-1.5.SNAPSHOT.schema.json", "spdx.SNAPSHOT.schema.json", "jsf-0.82.SNAPSHOT.schema.json")


def sha256(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def linked_files(link_map, binary):
    """(files inside the binary, shared libraries it needs), from the map."""
    with open(link_map, encoding="utf-8", errors="replace") as text:
        members, rest = text.read().split("\nDiscarded input sections", 1)
    inside = {m.group(1) for line in members.splitlines() if (m := re.match(r"(/\S+\.a)\(", line))}
    loaded = {os.path.normpath(line[5:].strip()) for line in rest.splitlines() if line.startswith("LOAD /")}
    inside |= {path for path in loaded if path.endswith(".o")}
    dynamic = subprocess.run(["readelf", "-dW", binary], capture_output=True, text=True, check=True).stdout
    needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[(.+)\]", dynamic))
    return inside, {path for path in loaded if os.path.basename(path) in needed}


def licences(root, package):
    """The licences the package's copyright file states: the License fields
    of a machine-readable file's "Files: *" paragraph, or else the licences
    it names under /usr/share/common-licenses."""
    name = package.split(":")[0]
    path = f"/usr/share/doc/{name}/copyright"
    with open(os.path.join(root, path.lstrip("/")), encoding="utf-8", errors="replace") as copyright_file:
        text = copyright_file.read()
    if text.startswith("Format:"):
        paragraph = next((p for p in text.split("\n\n") if re.search(r"^Files: \*$", p, re.M)), "")
        found = re.findall(r"^License: (\S+)", paragraph, re.M)
    else:
        found = [n.rstrip(".") for n in re.findall(r"/usr/share/common-licenses/([\w.+-]+)", text)]
        if "GCC RUNTIME LIBRARY EXCEPTION" in text:
            found.append("GCC-exception-3.1")
    unique = list(dict.fromkeys(found))
    return [{"license": {"id": n} if n == "MIT" else {"name": n}} for n in unique], path


def package_root(path):
    """The folder whose own package database covers path: the nearest one
    above it with a var/lib/dpkg/status, or else the system's, "/"."""
    folder = os.path.dirname(path)
    while folder != "/":
        if os.path.isfile(os.path.join(folder, "var", "lib", "dpkg", "status")):
            return folder
        folder = os.path.dirname(folder)
    return "/"


def package_of(path):
    """(root, package): the package database's folder (package_root) and the
    package that installed path, as dpkg -S names it (with its architecture
    when it has several); dpkg may know the file by its other name across
    the /usr merge, or by the target of a link."""
    root = package_root(path)
    for candidate in (path, os.path.realpath(path), path.removeprefix("/usr"), "/usr" + path):
        inside = "/" + os.path.relpath(candidate, root)
        owner = subprocess.run(["dpkg", f"--root={root}", "-S", inside], capture_output=True, text=True,
                               check=False).stdout
        if owner:
            return root, owner.split(": ", 1)[0]
    raise SystemExit(f"no package owns {path}")


def component(root, package, files, depended):
    query = subprocess.run(["dpkg-query", f"--root={root}", "-W", "-f",
                            "${Version}\t${Architecture}\t${source:Package}", package],
                           capture_output=True, text=True, check=True).stdout
    version, architecture, source = query.split("\t")
    licence_list, licence_file = licences(root, package)
    name = package.split(":")[0]
    return {"type": "library", "bom-ref": f"{name}@{version}", "name": name, "version": version,
            "purl": f"pkg:deb/debian/{name}@{version}?arch={architecture}", "licenses": licence_list,
            "properties": [{"name": "glow_ctl:source-package", "value": source},
                           {"name": "glow_ctl:licence-from", "value": licence_file},
                           {"name": "glow_ctl:linked", "value": ("needed at run time: " if depended else
                                                                 "inside the binary: ") +
                            " ".join(sorted(os.path.basename(f) for f in files))}]}


def make(artefact, link_map, binary, commit):
    inside, needed = linked_files(link_map, binary)
    by_package = {}
    for path in inside | needed:
        by_package.setdefault((package_of(path), path in needed), []).append(path)
    contained = [component(*p, files, False) for (p, needed_too), files in sorted(by_package.items())
                 if not needed_too]
    depended = [component(*p, files, True) for (p, needed_too), files in sorted(by_package.items()) if needed_too]
    version = re.search(r"[_-](\d+(?:\.\d+)+)[_-]", os.path.basename(artefact)).group(1)
    digest = sha256(artefact)
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    glow = {"type": "application", "bom-ref": f"glow_ctl@{version}", "name": "glow_ctl", "version": version,
            "licenses": [{"license": {"id": "MIT"}}], "hashes": [{"alg": "SHA-256", "content": digest}],
            "purl": f"pkg:generic/glow_ctl@{version}",
            "properties": [{"name": "glow_ctl:artefact", "value": os.path.basename(artefact)},
                           {"name": "glow_ctl:source-commit", "value": commit}],
            "components": contained}
    bom = {"bomFormat": "CycloneDX", "specVersion": "1.5",
           "serialNumber": f"urn:uuid:{uuid.uuid5(uuid.NAMESPACE_URL, 'sha256:' + digest)}", "version": 1,
           "metadata": {"timestamp": datetime.fromtimestamp(epoch, timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
                        "component": glow},
           "components": depended,
           "dependencies": [{"ref": glow["bom-ref"], "dependsOn": [c["bom-ref"] for c in contained + depended]},
                            *({"ref": c["bom-ref"], "dependsOn": []} for c in contained + depended)]}
    json.dump(bom, sys.stdout, indent=2, sort_keys=True)
    sys.stdout.write("\n")


def schemas(cache):
    """The three schema files, fetched once and checked."""
    folder = os.path.join(cache, "cyclonedx-schema")
    if not all(os.path.exists(os.path.join(folder, name)) for name in SCHEMAS):
        os.makedirs(folder, exist_ok=True)
        # npm pack prints the name of the tarball it wrote.
        packed = subprocess.run(["npm", "pack", "--silent", "--pack-destination", folder, SCHEMA_PACKAGE],
                                check=True, capture_output=True, text=True).stdout.split()
        if not packed:
            sys.exit(f"npm pack {SCHEMA_PACKAGE} wrote no tarball")
        archive = os.path.join(folder, packed[-1])
        if sha256(archive) != SCHEMA_SHA256:
            sys.exit(f"{SCHEMA_PACKAGE}: unexpected SHA-256")
        with tarfile.open(archive) as library:
            for name in SCHEMAS:
                with library.extractfile(f"package/res/schema/{name}") as member, \
                        open(os.path.join(folder, name), "wb") as out:
                    out.write(member.read())
    loaded = {}
    for name in SCHEMAS:
        with open(os.path.join(folder, name), encoding="utf-8") as schema:
            loaded[name] = json.load(schema)
    return loaded


def additional_items(validator, additional, instance, schema):
    """Draft 7's additionalItems as jsonschema has it, its message naming the
    extra items in the order they come: jsonschema 4.10 sorts them to word
    the message, which fails on objects (a list of several licences, tried
    against the schema's one-expression form)."""
    items = schema.get("items", {})
    if not validator.is_type(instance, "array") or validator.is_type(items, "object"):
        return
    extras = instance[len(items):]
    if validator.is_type(additional, "object"):
        for index, item in enumerate(extras, len(items)):
            yield from validator.descend(item, additional, path=index)
    elif not additional and extras:
        import jsonschema
        yield jsonschema.ValidationError(f"Additional items are not allowed ({', '.join(map(repr, extras))} "
                                         f"{'was' if len(extras) == 1 else 'were'} unexpected)")


def bom_validator(loaded):
    """A Draft 7 validator of the bill of materials schema that finds the
    two schemas it refers to among the loaded ones, through jsonschema's
    public interface: a referencing registry where jsonschema has one
    (4.18 and later), its RefResolver before."""
    import jsonschema  # Debian's python3-jsonschema
    bom_schema = loaded[SCHEMAS[0]]
    store = {f"http://cyclonedx.org/schema/{name}": schema for name, schema in loaded.items()}
    validator = jsonschema.validators.extend(jsonschema.Draft7Validator, {"additionalItems": additional_items})
    if tuple(int(part) for part in metadata.version("jsonschema").split(".")[:2]) < (4, 18):
        return validator(bom_schema, resolver=jsonschema.RefResolver(bom_schema["$id"], bom_schema, store=store))
    import referencing.jsonschema  # what jsonschema resolves references with since 4.18
    registry = referencing.Registry().with_resources(
        (uri, referencing.Resource.from_contents(schema, default_specification=referencing.jsonschema.DRAFT7))
        for uri, schema in store.items())
    return validator(bom_schema, registry=registry)


def check(cache, files):
    validator = bom_validator(schemas(cache))
    failed = 0
    for path in files:
        with open(path, encoding="utf-8") as bom_file:
            bom = json.load(bom_file)
        errors = [f"{'/'.join(map(str, e.path))}: {e.message}" for e in validator.iter_errors(bom)]
        # The artefact beside it is the one it describes.
        artefact = path.removesuffix(".cdx.json")
        if not errors and os.path.exists(artefact):
            if bom["metadata"]["component"]["hashes"][0]["content"] != sha256(artefact):
                errors.append(f"its SHA-256 is not {os.path.basename(artefact)}'s")
        for error in sorted(errors)[:5]:
            print(f"{path}: {error}")
        failed += bool(errors)
        print(f"{os.path.basename(path)}: {'not valid' if errors else 'valid'} CycloneDX 1.5")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    if sys.argv[1:2] == ["make"] and len(sys.argv) == 6:
        make(*sys.argv[2:6])
    elif sys.argv[1:2] == ["check"] and len(sys.argv) >= 4:
        check(sys.argv[2], sys.argv[3:])
    else:
        sys.exit(__doc__.split("\n\n")[1])
