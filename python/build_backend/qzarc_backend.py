"""The package's build backend (PEP 517, PEP 660): builds the wheel and the
source archive of this pure-Python package with the standard library alone,
so that pip needs no index to install it. The metadata comes from the
[project] table of pyproject.toml (only its plain `key = "value"` lines and
the classifiers list are read). Archives are reproducible: entries sorted,
times from SOURCE_DATE_EPOCH (or 1980-01-01).
"""

import base64
import hashlib
import io
import os
import re
import tarfile
import time
import zipfile

_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_PACKAGE = "qzarc"


def _project():
    with open(os.path.join(_ROOT, "pyproject.toml"), encoding="utf-8") as f:
        text = f.read()
    table = text.split("[project]", 1)[1].split("\n[", 1)[0]
    project = dict(re.findall(r'^([A-Za-z-]+)\s*=\s*"([^"]*)"', table, re.M))
    project["classifiers"] = re.findall(r'^\s*"([^"]+)",?\s*$', table.split("classifiers", 1)[1], re.M)
    return project


def _metadata(project):
    lines = [
        "Metadata-Version: 2.1",
        "Name: " + project["name"],
        "Version: " + project["version"],
        "Summary: " + project["description"],
        "Requires-Python: " + project["requires-python"],
        "License: MIT",
    ]
    lines += ["Classifier: " + c for c in project["classifiers"]]
    with open(os.path.join(_ROOT, project["readme"]), encoding="utf-8") as f:
        readme = f.read()
    lines.append("Description-Content-Type: text/markdown")
    return ("\n".join(lines) + "\n\n" + readme).encode("utf-8")


def _epoch():
    return max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800)


def _sources():
    """The package's modules, as (path in the archive, bytes)."""
    files = []
    directory = os.path.join(_ROOT, _PACKAGE)
    for name in sorted(os.listdir(directory)):
        # _installed.py is written by `make install` only, never shipped.
        if name.endswith(".py") and name != "_installed.py" or name == "py.typed":
            with open(os.path.join(directory, name), "rb") as f:
                files.append((_PACKAGE + "/" + name, f.read()))
    return files


def _write_wheel(wheel_directory, files, tag="py3-none-any"):
    project = _project()
    distribution = "%s-%s" % (project["name"], project["version"])
    info = distribution + ".dist-info"
    files = list(files) + [
        (info + "/METADATA", _metadata(project)),
        (info + "/WHEEL", ("Wheel-Version: 1.0\nGenerator: qzarc_backend\nRoot-Is-Purelib: true\nTag: %s\n" % tag).encode()),
        (info + "/top_level.txt", (_PACKAGE + "\n").encode()),
    ]
    record = []
    for path, data in files:
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        record.append("%s,sha256=%s,%d" % (path, digest, len(data)))
    record.append(info + "/RECORD,,")
    files.append((info + "/RECORD", ("\n".join(record) + "\n").encode()))
    name = "%s-%s.whl" % (distribution, tag)
    stamp = time.gmtime(_epoch())[:6]
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in files:
            entry = zipfile.ZipInfo(path, stamp)
            entry.external_attr = 0o644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(entry, data)
    return name


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, _sources())


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    # The wheel holds a .pth file that puts this directory on sys.path.
    return _write_wheel(wheel_directory, [("qzarc_editable.pth", (_ROOT + "\n").encode())])


def build_sdist(sdist_directory, config_settings=None):
    project = _project()
    base = "%s-%s" % (project["name"], project["version"])
    files = [("pyproject.toml", None), ("README.md", None), ("build_backend/qzarc_backend.py", None)]
    files += [(path, data) for path, data in _sources()]
    name = base + ".tar.gz"
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz", format=tarfile.PAX_FORMAT) as archive:
        entries = [("PKG-INFO", _metadata(project))]
        for path, data in files:
            if data is None:
                with open(os.path.join(_ROOT, path), "rb") as f:
                    data = f.read()
            entries.append((path, data))
        for path, data in sorted(entries):
            member = tarfile.TarInfo(base + "/" + path)
            member.size = len(data)
            member.mtime = _epoch()
            member.mode = 0o644
            member.uname = member.gname = ""
            archive.addfile(member, io.BytesIO(data))
    return name
