library(testthat)
library(pedsim)

test_check("pedsim")
