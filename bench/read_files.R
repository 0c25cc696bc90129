# The data of bench/read_files: 1,000,000 records of 20 variables v1 .. v20 with categories 1
# to 4 at random, written as plain numbers (records.dat), SPSS (records.sav), Stata
# (records.dta) and CSV (records.csv).
library(haven)
set.seed(7)
n <- 1000000
d <- as.data.frame(matrix(sample.int(4L, n * 20, replace = TRUE), n, 20))
names(d) <- paste0("v", 1:20)
write.table(d, "records.dat", row.names = FALSE, col.names = FALSE)
write_sav(d, "records.sav")
write_dta(d, "records.dta")
write.csv(d, "records.csv", row.names = FALSE)
