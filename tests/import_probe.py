"""Fresh interpreters for import tests: a package loaded with the repository
and the stand-ins on the path, optionally with one module made unimportable."""
import os
import subprocess
import sys
import textwrap

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Imports `package` with `blocked` refused, prints the import error, then
# whether each of `loaded` made it into sys.modules.
_BLOCKED_IMPORT = """
import sys
class Block:
    def find_spec(self, name, path=None, target=None):
        if name == {blocked!r}:
            raise ModuleNotFoundError("No module named " + repr(name), name=name)
sys.meta_path.insert(0, Block())
try:
    import {package}
except ImportError as error:
    print(type(error).__name__, error)
print(*[name in sys.modules for name in {loaded!r}])
"""


def run_python(code, cwd, *argv, extra_path=(), timeout=120):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([*extra_path, ROOT, os.path.join(ROOT, "stand_ins")]))
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code), *argv], capture_output=True, text=True,
                          env=env, cwd=cwd, timeout=timeout)


def import_with_blocked(package, blocked, loaded, cwd):
    return run_python(_BLOCKED_IMPORT.format(package=package, blocked=blocked, loaded=list(loaded)), cwd)
