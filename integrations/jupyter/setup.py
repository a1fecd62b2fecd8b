"""The package's version is the project's, read from the CMakeLists.txt two folders up, so it
is written in one place only."""

import pathlib
import re

from setuptools import setup

PROJECT = pathlib.Path(__file__).resolve().parents[2] / "CMakeLists.txt"
VERSION = re.search(r"project\(\s*\S+\s+VERSION\s+([0-9.]+)", PROJECT.read_text()).group(1)

setup(version=VERSION)
