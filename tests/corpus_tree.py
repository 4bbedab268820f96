"""Builds small directory trees for the corpus indexer tests from a compact
description: file paths (relative, "/"-separated, str or bytes), folders,
symbolic links and FIFOs."""
import os


def build(root, files=(), folders=(), links=(), fifos=()):
    """`files`: paths of empty files; `folders`: paths of (empty) folders;
    `links`: (link path, target) pairs, the target written as given;
    `fifos`: paths of named pipes, which block whoever opens them to read."""
    root = os.fsencode(root)
    for rel in folders:
        os.makedirs(os.path.join(root, os.fsencode(rel)), exist_ok=True)
    for rel in files:
        path = os.path.join(root, os.fsencode(rel))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb"):
            pass
    for rel, target in links:
        path = os.path.join(root, os.fsencode(rel))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.symlink(os.fsencode(target), path)
    for rel in fifos:
        path = os.path.join(root, os.fsencode(rel))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.mkfifo(path)
    return os.fsdecode(root)
