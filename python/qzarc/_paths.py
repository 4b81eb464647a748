"""Where an entry may be written: the command-line tool's rules.

Archives record names relative, with '\\' between directories; on
extraction both '\\' and '/' separate. A name is written only below the
destination directory: absolute names, drive letters and '..' components
are refused, as are names with control characters or a NUL byte. The
directories are created one component at a time, and the walk down never
goes through a symbolic link found below the destination, so that a link
planted there cannot redirect a write outside it.
"""

import os
import stat

from .errors import UnsafePath

_SEPARATORS = ("/", "\\")
_WINDOWS_DEVICES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}


def _check_component(component):
    if component == "..":
        return "it has a '..' component, which would leave the destination"
    if os.name == "nt":
        if ":" in component:
            return "it has a ':' (an alternate data stream or a drive)"
        base = component.split(".", 1)[0].rstrip(" ").upper()
        if base in _WINDOWS_DEVICES or (len(base) == 4 and base[:3] in ("COM", "LPT") and base[3] in "123456789"):
            return "'%s' names a device on Windows" % component
        if component[-1] in ". ":
            return "a component ends with a dot or a space, which Windows drops"
    return None


def split_name(info):
    """The entry's name as (components, is_directory); raises UnsafePath when
    it may not be written below a destination."""
    name = info.filename

    def refuse(reason):
        raise UnsafePath("%r: refused: %s" % (name, reason))

    if b"\0" in info.orig_filename:
        refuse("the name contains a NUL byte")
    if not name:
        refuse("the name is empty")
    if any(ord(c) < 0x20 or ord(c) == 0x7F for c in name):
        refuse("the name contains control characters")
    if name.startswith(_SEPARATORS):
        refuse("it is an absolute path")
    if len(name) >= 2 and name[1] == ":" and name[0].isascii() and name[0].isalpha():
        refuse("it starts with a drive letter")
    components = []
    for component in name.replace("\\", "/").split("/"):
        if component in ("", "."):
            continue
        reason = _check_component(component)
        if reason:
            refuse(reason)
        components.append(component)
    if not components:
        refuse("it names no file")
    return components, name.endswith(_SEPARATORS)


def _kind(path):
    try:
        mode = os.lstat(path).st_mode
    except FileNotFoundError:
        return "missing"
    if stat.S_ISLNK(mode):
        return "link"
    if stat.S_ISDIR(mode):
        return "directory"
    if stat.S_ISREG(mode):
        return "file"
    return "other"


def prepare_target(root, components, is_directory, known=None):
    """Creates the entry's directories below root and returns the path to
    write (for a directory entry, the directory). `known` is a set of
    directories already found safe in this extraction, each looked at once."""
    directories = components if is_directory else components[:-1]
    path = root
    for component in directories:
        path = os.path.join(path, component)
        if known is not None and path in known:
            continue
        kind = _kind(path)
        if kind == "missing":
            os.mkdir(path)
        elif kind == "link":
            raise UnsafePath("%s: the path goes through a symbolic link, which is not followed" % path)
        elif kind != "directory":
            raise UnsafePath("%s is in the way: it is not a directory" % path)
        if known is not None:
            known.add(path)
    if is_directory:
        return path
    target = os.path.join(path, components[-1])
    kind = _kind(target)
    if kind == "link":
        raise UnsafePath("%s is a symbolic link, which is not written through" % target)
    if kind == "directory":
        raise UnsafePath("%s: a directory of that name exists" % target)
    if kind == "other":
        raise UnsafePath("%s exists and is not a regular file" % target)
    return target
