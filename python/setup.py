"""The wheel carries the native library, so it is tagged for one platform;
it needs no particular Python version, since the library is loaded with
ctypes. Build it with build_wheel.py, which puts the library in place."""

import os
import sysconfig

from setuptools import Distribution, setup
from wheel.bdist_wheel import bdist_wheel

HERE = os.path.dirname(os.path.abspath(__file__))


def bundled_platform():
    package = os.path.join(HERE, "quendral_hosts")
    if os.path.exists(os.path.join(package, "quendral-hosts.dll")):
        return "win_amd64"
    if os.path.exists(os.path.join(package, "libquendral-hosts.so")):
        return sysconfig.get_platform().replace("-", "_").replace(".", "_")
    raise SystemExit("the native library is not in quendral_hosts/; build with build_wheel.py")


class native_distribution(Distribution):
    """Installs to the platform's library folder, as binary packages do."""

    def has_ext_modules(self):
        return True


class native_wheel(bdist_wheel):
    def get_tag(self):
        return "py3", "none", bundled_platform()


setup(distclass=native_distribution, cmdclass={"bdist_wheel": native_wheel})
