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
    assert (tmp_path / "truth.txt").read_text().startswith("animal\tsire\t")
    summary = (tmp_path / "s.txt").read_text()
    assert "replicate: 1\n" in summary and "seed_origin: python\n" in summary
    assert (tmp_path / "run.tsv").read_text().splitlines()[1].startswith("1\t7\t")


def test_files_read_cleanly_with_pandas(tmp_path):
    pandas = pytest.importorskip("pandas")
    run = pedsim.simulate(3, 20, 5, seed=74565)
    run.write(tmp_path, truth=True)
    truth = pandas.read_csv(tmp_path / "truth.txt", sep="\t")
    assert (truth["altered"] == run.altered).all()
    assert (truth["animal"] == run.animal).all()
    row = pandas.read_csv(tmp_path / "run.tsv", sep="\t")
    assert row["status"].tolist() == [0] and row["animals"].tolist() == [65]


@pytest.mark.parametrize("args, message", [
    ((3, 20, 0), "male must be at least 1"),
    ((-1, 20, 5), "ngen must not be negative"),
    ((1, 10, 6), "breeding needs n - male"),
    ((0, 536870912, 1), "does not fit in 32 bits"),
])
def test_bad_arguments_raise_value_error(args, message):
    with pytest.raises(ValueError, match=message):
        pedsim.simulate(*args, seed=1)


@pytest.mark.parametrize("keywords", [{"replicate": 100000}, {"seed": 2**31}, {"seed": -(2**31) - 1},
                                      {"alleles": 256}, {"markers": 0}])
def test_values_out_of_range_raise_value_error(keywords):
    with pytest.raises(ValueError, match=next(iter(keywords))):
        pedsim.simulate(3, 20, 5, **{"seed": 1, **keywords})


@pytest.mark.parametrize("keywords, error, message", [
    ({"markers": "5"}, TypeError, "markers= takes an int, got str '5'"),
    ({"seed": "3"}, TypeError, "seed= takes an int, got str"),
    ({"markers": None}, TypeError, "markers= takes an int, got NoneType"),
    ({"markers": 5.0}, TypeError, "markers= takes an int, got float"),
    ({"error_rate": True}, TypeError, "error_rate= takes a number, got bool"),
    ({"error_model": 3}, TypeError, "error_model= takes a str, got int"),
    ({"pedigree_format": "bogus"}, ValueError, "pedigree_format= goes with pedigree="),
    ({"eror_rate": 0.1}, TypeError, "unexpected keyword argument 'eror_rate'; did you mean error_rate"),
    ({"frobnicate": 1}, TypeError, "unexpected keyword argument 'frobnicate'$"),
])
def test_wrong_types_raise_naming_the_keyword(keywords, error, message):
    with pytest.raises(error, match=message):
        pedsim.simulate(3, 20, 5, **{"seed": 1, **keywords})


def test_messages_name_keywords():
    with pytest.raises(ValueError, match="^error_model random-allele needs error_rate$"):
        pedsim.simulate(3, 20, 5, seed=1, markers=3, error_model="random-allele")
    with pytest.raises(ValueError, match="^error_spread takes beta:A"):
        pedsim.simulate(3, 20, 5, seed=1, markers=3, error_rate=0.1, error_spread="beta:0")


def test_missing_numbers_are_named():
    with pytest.raises(TypeError, match="needs ngen, n and male .or pedigree=.; missing: n, male"):
        pedsim.simulate(3, seed=1)


def test_arrays_are_read_only():
    run = pedsim.simulate(3, 20, 5, seed=1)
    for name in ("animal", "sire", "dam", "sex", "born", "true_alleles", "lost", "recorded",
                 "altered", "errors"):
        with pytest.raises(ValueError, match="read-only"):
            getattr(run, name)[..., 0] = 9


@pytest.mark.parametrize("folder, truth, message", [
    ("", False, "empty"),
    ("out", "ped.pre", "names the same file as ped.pre"),
    ("out", "run.tsv", "names the same file as run.tsv"),
])
def test_names_that_would_lose_a_file_raise_value_error(tmp_path, monkeypatch, folder, truth, message):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(ValueError, match=message):
        pedsim.simulate(3, 20, 5, seed=1).write(folder, truth=truth)
    assert list(tmp_path.iterdir()) == []


def test_two_threads_writing_one_folder_never_blend(tmp_path):
    runs = [pedsim.simulate(6, 40000, 4000, seed=s) for s in (1, 2)]
    for _ in range(5):
        outcomes = [None, None]

        def work(k):
            try:
                runs[k].write(tmp_path, truth=True)
                outcomes[k] = "written"
            except BlockingIOError:
                outcomes[k] = "busy"

        threads = [threading.Thread(target=work, args=(k,)) for k in (0, 1)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert "written" in outcomes
        seed = int((tmp_path / "run.tsv").read_text().splitlines()[1].split("\t")[1])
        lines = (tmp_path / "ped.pre").read_text().splitlines()
        assert [int(x) for x in lines[-1].split()[4:]] == runs[seed - 1].recorded[-1].tolist()
        truth = (tmp_path / "truth.txt").read_text().splitlines()
        assert [int(x) for x in truth[-1].split("\t")[8:10]] == runs[seed - 1].recorded[-1].tolist()


def test_unwritable_folder_raises_os_error_naming_the_file(tmp_path):
    blocker = tmp_path / "file"
    blocker.write_text("not a folder\n")
    run = pedsim.simulate(3, 20, 5, seed=1)
    with pytest.raises(NotADirectoryError) as raised:
        run.write(blocker)
    assert raised.value.filename == str(blocker / "ped.pre")
    if pathlib.Path("/sys/kernel").exists():
        # Root may create files almost anywhere; /sys refuses them to everyone.
        with pytest.raises(PermissionError) as raised:
            run.write("/sys")
        assert raised.value.filename == "/sys/ped.pre"


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


def test_panel_arrays_match_the_files_and_the_marker_file(tmp_path):
    (tmp_path / "map.tsv").write_text(
        "marker\tchromosome\tposition_cm\tfreq_1\tfreq_2\n"
        + "".join(f"snp{k}\t{1 + k // 20}\t{k % 20 * 2.5}\t0.3\t0.7\n" for k in range(60)))
    run = pedsim.simulate(4, 200, 20, seed=3, alleles=2, marker_file=tmp_path / "map.tsv")
    assert run.true_genotypes.shape == run.recorded_genotypes.shape == (run.animal.size, 60, 2)
    assert not run.true_genotypes.flags.writeable
    assert run.marker_names[:2] == ["snp0", "snp1"] and run.marker_chromosomes[-1] == "3"
    run.write(tmp_path / "out", true_genotypes=True)
    for name, array in (("ped.pre", run.recorded_genotypes), ("true.pre", run.true_genotypes)):
        table = np.loadtxt(tmp_path / "out" / name, dtype=np.int64, ndmin=2)
        assert (table[:, 4:].reshape(-1, 60, 2) == array).all()
    # Lost records are 0/0 at every marker; kept ones differ from the truth
    # only in first alleles.
    lost = run.lost.astype(bool)
    assert (run.recorded_genotypes[lost] == 0).all()
    assert (run.recorded_genotypes[~lost, :, 1] == run.true_genotypes[~lost, :, 1]).all()


def test_panel_keywords_are_checked():
    # The docstring names the library's tables' rows, whatever they hold.
    for name in pedsim.error_models + pedsim.missing_models + pedsim.pedigree_formats:
        assert f'"{name}"' in pedsim.simulate.__doc__
    assert "vcf" in pedsim.genotype_formats
    with pytest.raises(ValueError, match="maf: frequencies are for two-allele markers"):
        pedsim.simulate(3, 20, 5, seed=1, markers=10, frequencies="maf:0.1-0.2")
    with pytest.raises(ValueError, match="line 1, column x"):
        import tempfile
        with tempfile.NamedTemporaryFile("w", suffix=".tsv") as f:
            f.write("marker\tx\tposition_cm\n")
            f.flush()
            pedsim.simulate(3, 20, 5, seed=1, marker_file=f.name)


def test_error_table_matches_errors_tsv_and_the_arrays(tmp_path):
    run = pedsim.simulate(4, 300, 30, seed=8, markers=40, alleles=3, error_model="random-allele",
                          error_rate=0.03, missing_model="random", call_rate=0.9)
    table = run.error_table
    assert (table["model"] == "random-allele").all() and len(table["model"]) == len(table["animal"]) > 0
    rows, cols = table["animal"] - 1, table["marker_index"]
    assert (run.recorded_genotypes[rows, cols, 0] == table["recorded_allele1"]).all()
    assert (run.true_genotypes[rows, cols, 1] == table["true_allele2"]).all()
    run.write(tmp_path / "out")
    import csv
    with open(tmp_path / "out" / "errors.tsv", newline="") as f:
        written = list(csv.DictReader(f, delimiter="\t"))
    assert [int(r["animal"]) for r in written] == list(table["animal"])
    assert [r["marker"] for r in written] == list(table["marker"])
    assert [r["detectable"] == "1" for r in written] == list(table["detectable"])
    assert (tmp_path / "out" / "ped.errors").read_text() == ""
    summary = run.record_summary
    assert summary["altered_genotypes"] == len(table["animal"])
    assert summary["detectable_errors"] == table["detectable"].sum()
    assert summary["call_rate_marker_min"] <= summary["call_rate"] <= summary["call_rate_marker_max"]
    # The per-marker table against recounts from the arrays.
    stats = run.marker_statistics
    true, recorded = run.true_genotypes, run.recorded_genotypes
    bred = true[:, 0, 0] != 0
    is_called = recorded[bred, :, 0] != 0
    called = is_called.sum(axis=0)
    changed = ((recorded[bred] != true[bred]).any(axis=2) & is_called).sum(axis=0)
    copies = np.stack([(true[bred] == a).sum(axis=(0, 2)) for a in (1, 2, 3)])
    assert np.allclose(stats["call_rate"], called / bred.sum())
    assert np.allclose(stats["error_rate"], changed / called)
    assert np.allclose(stats["minor_allele_frequency"], copies.min(axis=0) / (2 * bred.sum()))
    assert (stats["inconsistent_genotypes"] == run.inconsistencies_per_marker).all()
    assert summary["error_rate_marker_max"] == stats["error_rate"].max()


def test_interrupt_stops_a_long_run_at_once():
    # The run takes about 20 s; an interrupt after 1 s stops it within a
    # generation, where waiting for its end would take the whole run.
    import os
    import signal
    import time
    timer = threading.Timer(1.0, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        pedsim.simulate(8000, 2000, 200, seed=1)
    timer.join()
    assert time.monotonic() - start < 10
    assert pedsim.simulate(3, 20, 5, seed=74565).recorded[0].tolist() == [1, 2]


def test_pairs_from_a_file_from_numbers_and_in_pairs_tsv_agree(tmp_path):
    herd = "animal sire dam sex\n" + "".join(
        f"c{k} s{k % 3} d{k % 5} F\n" for k in range(12)) + "".join(
        f"s{k} 0 0 M\n" for k in range(3)) + "".join(f"d{k} 0 0 F\n" for k in range(5))
    (tmp_path / "herd.txt").write_text(herd)
    run = pedsim.simulate(pedigree=str(tmp_path / "herd.txt"), seed=2, markers=300, alleles=2,
                          chromosomes=2)
    (tmp_path / "pairs.txt").write_text("c0 c3\nc1 s1\n\nd4 c4\n")
    number = {name: k + 1 for k, name in enumerate(run.names)}
    from_file = run.kinship(str(tmp_path / "pairs.txt"))
    from_numbers = run.kinship([(number["c0"], number["c3"]), (number["c1"], number["s1"]),
                                (number["d4"], number["c4"])])
    for column in ("kinship_true", "kinship_realised", "ibd0", "ibd1", "ibd2"):
        assert (from_file[column] == from_numbers[column]).all(), column
    assert from_file["kinship_true"].tolist() == [0.125, 0.25, 0.25]  # half sibs, then parents
    run.write(tmp_path / "out", pairs=str(tmp_path / "pairs.txt"))
    rows = (tmp_path / "out" / "pairs.tsv").read_text().splitlines()
    assert [r.split("\t")[:3] for r in rows[1:]] == [["c0", "c3", "listed"], ["c1", "s1", "listed"],
                                                     ["d4", "c4", "listed"]]
    (tmp_path / "bad.txt").write_text("c0 c3\nc0 nobody\n")
    with pytest.raises(ValueError, match="pairs file .*bad.txt, line 2: nobody is not an animal"):
        run.kinship(str(tmp_path / "bad.txt"))
