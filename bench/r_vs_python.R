# Times the R package against the Python module on the 10^10-genotype panel
# (processor time of simulate() in each, in turn), and a slice of 10^8
# genotypes reaching R; prints Markdown lines.
#
# usage: R_LIBS=.r-library PYTHONPATH=build/release/python Rscript bench/r_vs_python.R

library(pedsim, warn.conflicts = FALSE)

runs <- 6
python <- paste(
  "import pedsim, resource",
  "def used(): u = resource.getrusage(resource.RUSAGE_SELF); return u.ru_utime + u.ru_stime",
  "start = used(); pedsim.simulate(10, 20000, 2000, seed=3, markers=50000, alleles=2)",
  "print(used() - start)", sep = "\n")

# Each in a fresh process, timed around simulate() alone: memory a process
# frees and touches again costs the kernel more on this machine than memory
# touched once.
r_code <- paste(
  "suppressMessages(library(pedsim)); t <- proc.time()",
  "invisible(simulate(10, 20000, 2000, seed = 3, markers = 50000, alleles = 2))",
  "d <- proc.time() - t; cat(d[[1]] + d[[2]], '\\n')", sep = "; ")
r_times <- numeric(runs)
python_times <- numeric(runs)
time_r <- function() as.numeric(system2("Rscript", c("-e", shQuote(r_code)), stdout = TRUE))
time_python <- function() as.numeric(system2("python3", c("-c", shQuote(python)), stdout = TRUE))
# Which goes first alternates: the kernel's cost of fresh memory depends on
# what the process before freed, and how long ago.
for (k in seq_len(runs)) {
  if (k %% 2 == 1) {
    r_times[k] <- time_r()
    python_times[k] <- time_python()
  } else {
    python_times[k] <- time_python()
    r_times[k] <- time_r()
  }
}
run <- simulate(10, 20000, 2000, seed = 3, markers = 5000, alleles = 2, error_rate = 0.01,
                call_rate = 0.98)
slice <- system.time(genotypes(run, animals = 1:20000, markers = 1:5000, counts = TRUE))
cat(sprintf("- `simulate(10, 20000, 2000, markers = 50000, alleles = 2)` (1.1 x 10^10 genotypes), each in a fresh process: R %.2f s, Python %.2f s of processor time (medians of %d, each first in turn); ratio %.2f (target 1.2).\n",
            median(r_times), median(python_times), runs, median(r_times) / median(python_times)))
cat(sprintf("- `genotypes(run, animals = 1:20000, markers = 1:5000, counts = TRUE)` (10^8 genotypes into an R integer matrix): %.2f s wall, %.2f s processor (target 1 s).\n",
            slice[["elapsed"]], slice[["user.self"]] + slice[["sys.self"]]))
