"""The wheel carries the native library, so it is tagged for one platform;
it needs no particular Python version, since the library is loaded with
ctypes. Build it with build_wheel.py, which puts the library in place and
names the platform tag (QH_WHEEL_PLATFORM)."""

import os

from setuptools import Distribution, setup

try:  # setuptools 70.1 and later have their own
    from setuptools.command.bdist_wheel import bdist_wheel
except ImportError:
    try:
        from wheel.bdist_wheel import bdist_wheel
    except ImportError:
        raise SystemExit("needs setuptools 70.1 or later, or the 'wheel' package "
                         "(Debian: python3-wheel)") from None

HERE = os.path.dirname(os.path.abspath(__file__))


def bundled_platform():
    package = os.path.join(HERE, "quendral_hosts")
    if not any(os.path.exists(os.path.join(package, name))
               for name in ("quendral-hosts.dll", "libquendral-hosts.so")):
        raise SystemExit("the native library is not in quendral_hosts/; build with build_wheel.py")
    platform = os.environ.get("QH_WHEEL_PLATFORM")
    if not platform:
        raise SystemExit("QH_WHEEL_PLATFORM is not set; build with build_wheel.py")
    return platform


class native_distribution(Distribution):
    """Installs to the platform's library folder, as binary packages do."""

    def has_ext_modules(self):
        return True


class native_wheel(bdist_wheel):
    def get_tag(self):
        return "py3", "none", bundled_platform()


setup(distclass=native_distribution, cmdclass={"bdist_wheel": native_wheel})
