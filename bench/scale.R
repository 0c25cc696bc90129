# The R side of bench/scale: the same models on the same records (written by tav_scale_bench).
#   Rscript scale.R loglin DATA K   all two-way terms of the records' variables (10 categories
#                                   each), R's loglin with iter = K, eps = 0
#   Rscript scale.R lcem DATA C K   a vectorised EM of C latent classes for dichotomous items on
#                                   the distinct response patterns, K iterations
#   Rscript scale.R flexmix DATA C K  flexmix's EM (FLXMCmvbinary) of the same model on the
#                                   distinct patterns weighted by their counts, K iterations
# Prints the CPU milliseconds per iteration; reading the records and forming the table or the
# patterns are not timed.
args <- commandArgs(trailingOnly = TRUE)
mode <- args[1]
cpu <- function() { t <- proc.time(); t[["user.self"]] + t[["sys.self"]] }
first <- scan(args[2], what = integer(), nlines = 1, quiet = TRUE)
records <- matrix(scan(args[2], what = integer(), quiet = TRUE), ncol = length(first),
                  byrow = TRUE)
if (mode == "loglin") {
  k <- as.integer(args[3])
  J <- ncol(records)
  # The array runs the first index fastest: variable v is dimension J + 1 - v.
  index <- 0
  for (v in 1:J) index <- index * 10 + (records[, v] - 1)
  table <- array(tabulate(index + 1, nbins = 10^J), dim = rep(10, J))
  margins <- list()
  for (a in 1:(J - 1)) for (b in (a + 1):J) margins[[length(margins) + 1]] <- c(J + 1 - a, J + 1 - b)
  start <- cpu()
  suppressWarnings(loglin(table, margins, eps = 0, iter = k, print = FALSE))
  cat(sprintf("%.3f\n", 1000 * (cpu() - start) / k))
} else if (mode == "flexmix") {
  suppressMessages(library(flexmix))
  classes <- as.integer(args[3])
  k <- as.integer(args[4])
  key <- do.call(paste0, as.data.frame(records))
  keep <- !duplicated(key)
  x <- (records[keep, , drop = FALSE] == 1) * 1L
  w <- tabulate(match(key, key[keep]), nbins = sum(keep))
  set.seed(1)
  start <- cpu()
  fit <- flexmix(x ~ 1, k = classes, model = FLXMCmvbinary(), weights = w,
                 control = list(iter.max = k, minprior = 0, tolerance = 0))
  cat(sprintf("%.3f\n", 1000 * (cpu() - start) / fit@iter))
} else {
  classes <- as.integer(args[3])
  k <- as.integer(args[4])
  key <- do.call(paste0, as.data.frame(records))
  keep <- !duplicated(key)
  x <- records[keep, , drop = FALSE] == 1
  w <- tabulate(match(key, key[keep]), nbins = sum(keep))
  n <- sum(w)
  set.seed(1)
  p <- matrix(runif(classes * ncol(x), 0.2, 0.8), classes)
  prior <- rep(1 / classes, classes)
  start <- cpu()
  for (it in 1:k) {
    lp <- x %*% t(log(p)) + (!x) %*% t(log(1 - p))
    lp <- sweep(lp, 2, log(prior), "+")
    m <- apply(lp, 1, max)
    post <- exp(lp - m)
    s <- rowSums(post)
    loglik <- sum(w * (m + log(s)))
    post <- post * (w / s)
    size <- colSums(post)
    prior <- size / n
    p <- (t(post) %*% x) / size
  }
  cat(sprintf("%.3f\n", 1000 * (cpu() - start) / k))
}
