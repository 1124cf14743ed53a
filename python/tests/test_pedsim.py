"""Tests of the Python module: the reference runs, views without copies,
threads, and errors."""

import gc
import pathlib
import threading

import numpy as np
import pytest

import pedsim

GOLDEN = pathlib.Path(__file__).resolve().parents[2] / "tests" / "golden"
CASES = ["3-20-5", "2-10-3", "12-40-8", "0-7-7"]


def golden(name):
    folder = GOLDEN / name
    ngen, n, male = (int(x) for x in (folder / "args").read_text().split())
    return folder, (ngen, n, male), int((folder / "seed").read_text())


@pytest.mark.parametrize("name", CASES)
def test_reference_runs_written_and_in_arrays(name, tmp_path):
    folder, args, seed = golden(name)
    run = pedsim.simulate(*args, seed=seed)
    run.write(tmp_path)
    for file in ("ped.pre", "ped.errors"):
        assert (tmp_path / file).read_bytes() == (folder / file).read_bytes(), file
    pre = [[int(f) for f in line.split()] for line in (folder / "ped.pre").read_text().splitlines()]
    pre = np.array(pre, dtype=np.int64)
    animals = pre[pre[:, 0] != 0]
    assert len(run.animal) == len(animals)
    assert (run.animal == animals[:, 0]).all()
    assert (run.sire == animals[:, 1]).all()
    assert (run.dam == animals[:, 2]).all()
    assert (run.sex == animals[:, 3]).all()
    assert (run.recorded == animals[:, 4:6]).all()
    errors = [[int(f) for f in line.split()] for line in (folder / "ped.errors").read_text().splitlines()]
    assert run.errors.tolist() == errors
    assert sorted(np.flatnonzero(run.altered) + 1) == sorted(e[0] for e in errors)


def test_arrays_are_views_that_outlive_the_run_object():
    run = pedsim.simulate(5, 3000, 300, seed=11)
    recorded = run.recorded
    sire = run.sire
    assert recorded.base is not None and sire.base is not None
    assert not recorded.flags.owndata and not sire.flags.owndata
    expected_sire = sire.copy()
    expected_recorded = recorded.copy()
    del run
    gc.collect()
    # Memory that is reused would soon differ from the copies.
    pedsim.simulate(5, 3000, 300, seed=12)
    assert (sire == expected_sire).all()
    assert (recorded == expected_recorded).all()


def resident_kib():
    for line in pathlib.Path("/proc/self/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def test_a_large_run_takes_its_table_once():
    before = resident_kib()
    run = pedsim.simulate(20, 400000, 40000, seed=5)
    views = [run.sire, run.dam, run.sex, run.born, run.true_alleles, run.lost, run.recorded]
    grown = (resident_kib() - before) * 1024
    table = run.animal.size * 18  # 3 int32 and 6 int8 columns per animal
    assert grown < 1.5 * table + (64 << 20), (grown, table)
    assert all(not v.flags.owndata for v in views)


def test_two_runs_in_two_threads_equal_one_after_the_other():
    args = (8, 20000, 2000)
    expected = [pedsim.simulate(*args, seed=s).recorded.copy() for s in (1, 2)]
    results = [None, None]

    def work(k):
        results[k] = pedsim.simulate(*args, seed=k + 1).recorded.copy()

    threads = [threading.Thread(target=work, args=(k,)) for k in (0, 1)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all((r == e).all() for r, e in zip(results, expected))


def test_replicates_and_reports(tmp_path):
    zero = pedsim.simulate(4, 60, 6, seed=7)
    assert (pedsim.simulate(4, 60, 6, seed=7, replicate=0).recorded == zero.recorded).all()
    one = pedsim.simulate(4, 60, 6, seed=7, replicate=1)
    assert one.replicate == 1 and one.seed == 7
    one.write(tmp_path, truth=True, summary="s.txt")
    assert (tmp_path / "truth.txt").read_text().startswith("# animal")
    assert "replicate: 1\n" in (tmp_path / "s.txt").read_text()
    assert (tmp_path / "run.tsv").read_text().splitlines()[1].startswith("1\t7\t")


@pytest.mark.parametrize("args, message", [
    ((3, 20, 0), "male must be at least 1"),
    ((-1, 20, 5), "ngen must not be negative"),
    ((1, 10, 6), "breeding needs n - male"),
    ((0, 536870912, 1), "does not fit in 32 bits"),
])
def test_bad_arguments_raise_value_error(args, message):
    with pytest.raises(ValueError, match=message):
        pedsim.simulate(*args, seed=1)


def test_bad_replicate_raises_value_error():
    with pytest.raises(ValueError, match="replicate"):
        pedsim.simulate(3, 20, 5, seed=1, replicate=100000)


def test_unwritable_folder_raises_os_error_naming_the_file(tmp_path):
    blocker = tmp_path / "file"
    blocker.write_text("not a folder\n")
    run = pedsim.simulate(3, 20, 5, seed=1)
    with pytest.raises(OSError, match=str(blocker / "ped.pre")):
        run.write(blocker)


def test_to_pandas():
    pandas = pytest.importorskip("pandas")
    run = pedsim.simulate(3, 20, 5, seed=74565)
    frame = run.to_pandas()
    assert isinstance(frame, pandas.DataFrame)
    assert len(frame) == 65
    assert frame["altered"].sum() == len(run.errors)


def test_nothing_is_printed(capfd, tmp_path):
    pedsim.simulate(3, 20, 5, seed=1).write(tmp_path)
    out, err = capfd.readouterr()
    assert out == "" and err == ""
