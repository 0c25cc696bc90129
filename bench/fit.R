# Times R's fit to convergence of a design or cumulative case written by
# "tav_bench --write-inputs" (NAME.fit): for a design case the Poisson regression
#   glm(count ~ factor(A) + factor(B) + x, family = poisson)
# on all cells, for a cumulative case the cumulative logit model
#   ordinal::clm(R ~ sA + sB + sC, weights = count, link = "logit")
# on the cells with a count above zero; for a marginal case marginal homogeneity by Newton steps
# on the Lagrange multipliers of its dual form. Both with their default convergence criteria. Reading
# the file is not timed; the model frame and the fit are.
# Prints one line: the median CPU milliseconds of one fit over five repetitions (each
# repetition fits until it has used at least half a second), the log-likelihood, L-squared
# (the deviance from the saturated model: the table for glm, the response given each
# predictor cell for clm) and the iterations of the fit (glm's IRLS iterations, clm's Newton
# iterations).
# Usage: Rscript fit.R NAME.fit
args <- commandArgs(trailingOnly = TRUE)
family <- readLines(args[1], n = 1)
data <- read.table(args[1], header = TRUE, skip = 1)
cpu <- function() { t <- proc.time(); t[["user.self"]] + t[["sys.self"]] }

if (family == "design") {
  fit_once <- function() glm(count ~ factor(A) + factor(B) + x, family = poisson, data = data)
  l_squared <- function(fit) deviance(fit)
  iterations <- function(fit) fit$iter
} else if (family == "cumulative") {
  suppressPackageStartupMessages(library(ordinal))
  data <- data[data$count > 0, ]
  data$R <- factor(data$R, levels = sort(unique(data$R)), ordered = TRUE)
  fit_once <- function() {
    clm(R ~ sA + sB + sC, weights = count, data = data, link = "logit")
  }
  # The saturated model of R given A, B, C: the observed proportions in each predictor cell.
  predictor_cell <- interaction(data$A, data$B, data$C, drop = TRUE)
  cell_total <- ave(data$count, predictor_cell, FUN = sum)
  saturated <- sum(data$count * log(data$count / cell_total))
  l_squared <- function(fit) 2 * (saturated - as.numeric(logLik(fit)))
  iterations <- function(fit) fit$niter[1]
} else if (family == "marginal") {
  # Marginal homogeneity of a square table by its dual: the restricted fit has
  # p_k = n_k / (N + (A' lambda)_k), A the contrasts P(A = i) - P(B = i), i = 1 .. I - 1, and
  # Newton steps on lambda solve A p(lambda) = 0 (tolerance 1e-12 on the equations).
  size <- max(data$A)
  n <- data$count
  total <- sum(n)
  contrast <- outer(1:(size - 1), data$A, "==") - outer(1:(size - 1), data$B, "==")
  fit_once <- function() {
    lambda <- numeric(size - 1)
    for (iter in 1:100) {
      p <- n / (total + as.vector(crossprod(contrast, lambda)))
      h <- as.vector(contrast %*% p)
      if (max(abs(h)) < 1e-12) break
      jacobian <- -contrast %*% (t(contrast) * (p^2 / pmax(n, 1)))
      lambda <- lambda - solve(jacobian, h)
    }
    list(m = total * p / sum(p), iter = iter)
  }
  logLik <- function(fit) sum(ifelse(n > 0, n * log(fit$m / total), 0))
  l_squared <- function(fit) 2 * sum(ifelse(n > 0, n * log(n / fit$m), 0))
  iterations <- function(fit) fit$iter
} else if (family == "association") {
  # The RC(1) model, gnm's Mult term; gnm starts from random values, so each fit is one of
  # several the user would make.
  suppressPackageStartupMessages(library(gnm))
  data$A <- factor(data$A)
  data$B <- factor(data$B)
  fit_once <- function() {
    gnm(count ~ A + B + Mult(A, B), family = poisson, data = data, verbose = FALSE)
  }
  l_squared <- function(fit) deviance(fit)
  iterations <- function(fit) fit$iter
} else if (family == "discrete_hazard") {
  # The discrete-time logit model as R users fit it: the records expanded to person-periods,
  # counted per covariate cell and period, and the binomial model of the events among those
  # at risk. logLik is that of the person-periods (without binomial coefficients), L-squared
  # the deviance.
  fit_once <- function() {
    periods <- rep(seq_len(nrow(data)), data$time)
    pp <- data.frame(A = data$A[periods], B = data$B[periods],
                     T = sequence(data$time))
    pp$y <- as.numeric(pp$T == data$time[periods] & data$state[periods] == 1)
    cells <- aggregate(cbind(y, n = 1) ~ A + B + T, data = pp, FUN = sum)
    fit <- glm(cbind(y, n - y) ~ factor(A) + factor(B) + factor(T), family = binomial,
               data = cells)
    p <- fitted(fit)
    fit$person_periods <- sum(cells$y * log(p) + (cells$n - cells$y) * log(1 - p))
    fit
  }
  logLik <- function(fit) fit$person_periods
  l_squared <- function(fit) deviance(fit)
  iterations <- function(fit) fit$iter
} else if (family == "competing_risks") {
  # Two competing risks with piecewise-constant rates over the intervals [j - 1, j): the
  # records split at the boundaries (survival::survSplit), exposures and events counted per
  # covariate cell and interval, and one Poisson model with the log exposure as offset per
  # risk. logLik and L-squared are the sums over the two fits; iterations those of the second.
  suppressPackageStartupMessages(library(survival))
  fit_once <- function() {
    data$start <- 0
    split <- survSplit(Surv(start, time, state > 0) ~ A + state, data = data, cut = 1:9,
                       episode = "T")
    split$exposure <- split$time - split$start
    fits <- list()
    loglik <- 0
    for (k in 1:2) {
      split$y <- as.numeric(split$event == 1 & split$state == k)
      cells <- aggregate(cbind(y, exposure) ~ A + T, data = split, FUN = sum)
      fit <- glm(y ~ factor(A) + factor(T), offset = log(exposure), family = poisson,
                 data = cells)
      mu <- fitted(fit)
      loglik <- loglik + sum(cells$y * log(mu / cells$exposure) - mu)
      fits[[k]] <- fit
    }
    list(loglik = loglik, deviance = deviance(fits[[1]]) + deviance(fits[[2]]),
         iter = fits[[2]]$iter)
  }
  logLik <- function(fit) fit$loglik
  l_squared <- function(fit) fit$deviance
  iterations <- function(fit) fit$iter
} else {
  stop("unknown family: ", family)
}

# gnm takes minutes on the association case: one repetition of one fit there.
repetitions <- if (family == "association") 1 else 5
per_fit <- numeric(repetitions)
for (r in 1:repetitions) {
  calls <- 0
  start <- cpu()
  repeat {
    fit <- fit_once()
    calls <- calls + 1
    if (cpu() - start >= 0.5 || family == "association") break
  }
  per_fit[r] <- (cpu() - start) / calls
}
if (family == "design" && !fit$converged) warning("glm did not converge")
if (family == "cumulative" && fit$convergence$code != 0) warning("clm did not converge")
# The peak resident memory of this R process (Linux: VmHWM), in MB.
status <- tryCatch(readLines("/proc/self/status"), error = function(e) character())
peak <- sub("VmHWM:[[:space:]]*([0-9]+) kB", "\\1", grep("^VmHWM", status, value = TRUE))
peak_mb <- if (length(peak) == 1) as.numeric(peak) / 1024 else NA
cat(sprintf("%.3f %.6f %.6f %d %.1f\n", 1000 * median(per_fit), as.numeric(logLik(fit)),
            l_squared(fit), as.integer(iterations(fit)), peak_mb))
