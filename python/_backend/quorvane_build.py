"""The build backend of the package: setuptools' own (setuptools.build_meta).

pip builds a package in an environment of its own that holds only what the
build asks for, and would download setuptools into it. This backend asks
for nothing that the system's Python already has: it takes setuptools and
wheel from the system's site folders (Debian's python3-setuptools and
python3-wheel) when the build environment lacks them, so that
"pip install ./python" works without a network.
"""

import importlib.util
import re
import site
import sys


def _importable(name):
    return importlib.util.find_spec(name) is not None


def _system_site_dirs():
    """The site folders of the Python this one was made from (a virtual
    environment's base), which pip's build environment leaves out."""
    dirs = site.getsitepackages([sys.base_prefix]) if hasattr(site, "getsitepackages") else []
    return [d for d in dirs if d not in sys.path]


if not _importable("setuptools"):
    sys.path.extend(_system_site_dirs())
    if not _importable("setuptools"):
        raise ImportError("building quorvane needs setuptools: install Debian's python3-setuptools (or setuptools "
                          "into this Python)")

from setuptools import build_meta as _meta  # noqa: E402
from setuptools.build_meta import build_sdist, build_wheel, prepare_metadata_for_build_wheel  # noqa: E402,F401


def _missing(requirements):
    """The requirements this Python cannot import: the only ones pip needs to fetch."""
    return [r for r in requirements if not _importable(re.split(r"[\s<>=!~;\[]", r.strip(), maxsplit=1)[0])]


def get_requires_for_build_wheel(config_settings=None):
    return _missing(_meta.get_requires_for_build_wheel(config_settings))


def get_requires_for_build_sdist(config_settings=None):
    return _missing(_meta.get_requires_for_build_sdist(config_settings))


if hasattr(_meta, "build_editable"):
    from setuptools.build_meta import build_editable, prepare_metadata_for_build_editable  # noqa: E402,F401

    def get_requires_for_build_editable(config_settings=None):
        return _missing(_meta.get_requires_for_build_editable(config_settings))
