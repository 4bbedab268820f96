"""Corpus indexing, validation sets and the seeded stream of simulated
training mixtures."""
try:
    # The extension defines every name of the module in this package's own
    # namespace as it loads.
    from utility.blendkit import _blendkit  # noqa: F401
except ImportError as error:
    # The extension's initialisation reports a failed dependency import as
    # "initialization failed"; the dependency's own error is the one to see.
    if error.__cause__ is not None:
        raise error.__cause__ from None
    raise
