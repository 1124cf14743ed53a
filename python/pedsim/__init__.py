"""Simulate an animal pedigree carrying one three-allele marker, in memory.

    import pedsim
    run = pedsim.simulate(10, 2000, 200, seed=20261208, replicate=3)
    run.recorded      # (animals, 2) recorded genotypes, a view of the run's memory
    run.altered       # True where an error was injected
    run.write("out")  # ped.pre, ped.errors, run.tsv as the command line writes them
"""

import operator
import os

from ._pedsim import (Run, _simulate, _simulate_on_pedigree, error_models, genotype_formats,
                      missing_models, pedigree_formats)

__all__ = ["Run", "simulate", "error_models", "missing_models", "genotype_formats",
           "pedigree_formats"]


def _int32(name, value):
    value = operator.index(value)
    if not -(2**31) <= value < 2**31:
        raise ValueError(f"{name} must be a 32-bit signed integer, got {value}")
    return value


def simulate(ngen=None, n=None, male=None, *, seed=None, replicate=0, pedigree=None,
             pedigree_format=None, genotyped=None, **options):
    """Breed NGEN generations on N founders (the first MALE of them male), or
    drop the markers onto pedigree= instead.

    seed: the 32-bit clock sum that seeds the random stream (None: the clocks).
    replicate: 0 to 99999; replicate R of a seed draws from its stream jumped
    ahead by R x 2^44 numbers. Further keywords are the command line's model
    options, named with "_" for "-": markers=, alleles=, frequencies=,
    chromosomes=, chromosome_length=, marker_file= ask for a marker panel,
    whose genotypes are run.true_genotypes and run.recorded_genotypes,
    (animals, markers, 2); error_model= is one of {error_models} and
    missing_model= one of {missing_models}. Raises ValueError for arguments no
    pedigree can be bred from or outside their limits. The work runs without
    the GIL, so runs can go side by side in threads. The run's arrays are
    read-only views.

    pedigree: a pedigree file's path (pedigree_format one of {pedigree_formats};
    default by its name) or a pandas DataFrame with columns animal, sire,
    dam and optionally sex (missing values: unknown), in place of NGEN N
    MALE; run.names gives the animals' names by number. genotyped: the names
    of the animals that have records (any iterable), in place of the age
    schedule.
    """
    keywords = dict(seed=seed, replicate=replicate, **options)
    if "marker_file" in keywords:
        keywords["marker_file"] = os.fspath(keywords["marker_file"])
    if pedigree is None and genotyped is not None:
        raise ValueError("genotyped= goes with pedigree=")
    if pedigree is None and pedigree_format is not None:
        raise ValueError("pedigree_format= goes with pedigree=")
    if pedigree is None:
        missing = [name for name, value in (("ngen", ngen), ("n", n), ("male", male)) if value is None]
        if missing:
            raise TypeError("simulate() needs ngen, n and male (or pedigree=); missing: "
                            + ", ".join(missing))
        return _simulate(_int32("ngen", ngen), _int32("n", n), _int32("male", male), keywords)
    if (ngen, n, male) != (None, None, None):
        raise ValueError("pedigree= takes the place of ngen, n and male; give one or the other")
    names = None if genotyped is None else "".join(f"{name}\n" for name in genotyped)
    if hasattr(pedigree, "columns"):
        return _simulate_on_pedigree(_table_text(pedigree), True, "", names, keywords)
    return _simulate_on_pedigree(str(pedigree), False, pedigree_format or "", names, keywords)


def _table_text(frame):
    """A DataFrame's animal, sire, dam (and sex) columns as a pedigree table."""
    columns = [c for c in ("animal", "sire", "dam", "sex") if c in frame.columns]
    if columns[:3] != ["animal", "sire", "dam"]:
        raise ValueError("a pedigree DataFrame has columns animal, sire and dam (and sex)")
    def field(value):
        if value is None or value != value:  # None, NaN
            return "NA"
        if isinstance(value, float) and value.is_integer():
            return str(int(value))
        return str(value)
    lines = ["\t".join(columns)]  # read by name, never guessed from the first row
    for row in frame[columns].itertuples(index=False):
        fields = [field(v) for v in row]
        if fields[0].startswith("#"):  # a pedigree file's comment line
            raise ValueError(f"a pedigree's animal name may not start with '#', got {fields[0]!r}")
        lines.append("\t".join(fields))
    return "\n".join(lines) + "\n"


def _to_pandas(run):
    import pandas

    return pandas.DataFrame(
        {
            "animal": run.animal,
            "sire": run.sire,
            "dam": run.dam,
            "sex": run.sex,
            "born": run.born,
            "true_allele1": run.true_alleles[:, 0],
            "true_allele2": run.true_alleles[:, 1],
            "lost": run.lost,
            "recorded_allele1": run.recorded[:, 0],
            "recorded_allele2": run.recorded[:, 1],
            "altered": run.altered,
        }
    )


Run.to_pandas = _to_pandas
Run.to_pandas.__doc__ = "One DataFrame row per animal (needs pandas)."


def _listed(names):
    return ", ".join(f'"{name}"' for name in names)


# The models and formats named in the docstring are the library's tables.
simulate.__doc__ = simulate.__doc__.format(
    error_models=_listed(error_models), missing_models=_listed(missing_models),
    pedigree_formats=_listed(pedigree_formats))
