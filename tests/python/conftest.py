"""What the module's tests share: the built camsys tool and the examples, as ctest hands them on."""
import os
import subprocess

CAMSYS = os.environ.get("CAMSYS_EXE", "build/cli/camsys")
EXAMPLES = os.environ.get("CAMSYS_EXAMPLES", "examples")
FLYTHROUGH = os.path.join(EXAMPLES, "flythrough.json")
MINIMAL = os.path.join(EXAMPLES, "minimal.json")


def tool(*arguments, stdin=None):
    """Runs camsys; its exit status, standard output and standard error (bytes)."""
    run = subprocess.run([CAMSYS, *arguments], input=stdin, capture_output=True)
    return run.returncode, run.stdout, run.stderr

