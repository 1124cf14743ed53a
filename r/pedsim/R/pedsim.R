# The run: an environment holding the library's run behind an external
# pointer, whose tables are made when first read.
new_run <- function(pointer) {
  run <- new.env(parent = emptyenv())
  run$.pointer <- pointer
  lazy <- list(
    pedigree = function() as.data.frame(.Call(pedsim_pedigree, pointer), stringsAsFactors = FALSE),
    markers = function() as.data.frame(.Call(pedsim_markers, pointer), stringsAsFactors = FALSE),
    errors = function() as.data.frame(.Call(pedsim_errors, pointer), stringsAsFactors = FALSE),
    pedigree_truth = function() {
      as.data.frame(.Call(pedsim_pedigree_truth, pointer), stringsAsFactors = FALSE)
    },
    figures = function() .Call(pedsim_figures, pointer),
    segments = function() as.data.frame(.Call(pedsim_segments, pointer), stringsAsFactors = FALSE),
    inbreeding = function() as.data.frame(.Call(pedsim_inbreeding, pointer))
  )
  for (name in names(lazy)) {
    local({
      make <- lazy[[name]]
      value <- NULL
      makeActiveBinding(name, function() {
        if (is.null(value)) value <<- make()
        value
      }, run)
    })
  }
  class(run) <- "pedsim_run"
  run
}

# A data.frame pedigree as the text of a pedigree table: the columns animal,
# sire, dam (and sex) by name; NA is unknown.
table_text <- function(frame) {
  columns <- intersect(c("animal", "sire", "dam", "sex"), names(frame))
  if (!identical(columns[1:3], c("animal", "sire", "dam"))) {
    stop("pedigree = takes a data.frame with columns animal, sire and dam (and sex)", call. = FALSE)
  }
  fields <- lapply(frame[columns], function(x) {
    x <- as.character(x)
    x[is.na(x)] <- "NA"
    x
  })
  if (any(startsWith(fields$animal, "#"))) {
    stop("pedigree = holds an animal whose name starts with '#'", call. = FALSE)
  }
  lines <- do.call(paste, c(fields, sep = "\t"))
  paste0(paste(c(paste(columns, collapse = "\t"), lines), collapse = "\n"), "\n")
}

simulate <- function(ngen = NULL, n = NULL, male = NULL, ..., seed = NULL, replicate = 0,
                     pedigree = NULL, pedigree_format = NULL, genotyped = NULL) {
  options <- list(...)
  if (length(options) > 0 && (is.null(names(options)) || any(names(options) == ""))) {
    stop("simulate() takes its options by name (markers = 1000, error_rate = 0.01, ...)",
         call. = FALSE)
  }
  if (!is.null(seed)) options$seed <- seed
  options$replicate <- replicate
  if (is.null(pedigree)) {
    if (!is.null(genotyped)) stop("genotyped = goes with pedigree =", call. = FALSE)
    if (!is.null(pedigree_format)) stop("pedigree_format = goes with pedigree =", call. = FALSE)
    numbers <- list(ngen = ngen, n = n, male = male)
    missing <- names(numbers)[vapply(numbers, is.null, TRUE)]
    if (length(missing) > 0) {
      stop("simulate() needs ngen, n and male (or pedigree =); missing: ",
           paste(missing, collapse = ", "), call. = FALSE)
    }
    for (name in names(numbers)) {
      x <- numbers[[name]]
      if (!is.numeric(x) || length(x) != 1 || is.na(x) || x != round(x) || abs(x) >= 2^31) {
        stop(name, " = takes one whole number (a 32-bit integer)", call. = FALSE)
      }
    }
    return(new_run(.Call(pedsim_simulate, as.integer(unlist(numbers)), options)))
  }
  if (!is.null(ngen) || !is.null(n) || !is.null(male)) {
    stop("pedigree = takes the place of ngen, n and male; give one or the other", call. = FALSE)
  }
  names_text <- if (is.null(genotyped)) NULL else paste0(paste(genotyped, collapse = "\n"), "\n")
  if (is.data.frame(pedigree)) {
    pointer <- .Call(pedsim_simulate_on_pedigree, table_text(pedigree), TRUE, "", names_text,
                     options)
  } else {
    pointer <- .Call(pedsim_simulate_on_pedigree, as.character(pedigree), FALSE,
                     if (is.null(pedigree_format)) "" else pedigree_format, names_text, options)
  }
  new_run(pointer)
}

# Animals or markers by number, or by name where the run names them.
numbers_of <- function(index, names) {
  if (is.null(index) || is.numeric(index)) return(index)
  found <- match(index, names)
  if (anyNA(found)) {
    stop("no such name: ", paste(utils::head(index[is.na(found)], 3), collapse = ", "),
         call. = FALSE)
  }
  found
}

genotypes <- function(run, animals = NULL, markers = NULL, recorded = TRUE, counts = FALSE) {
  stopifnot(inherits(run, "pedsim_run"))
  pedigree <- run$pedigree
  animal_names <- if (is.null(pedigree$name)) as.character(pedigree$animal) else pedigree$name
  marker_names <- run$markers$marker
  rows <- numbers_of(animals, animal_names)
  columns <- numbers_of(markers, marker_names)
  out <- .Call(pedsim_genotypes, run$.pointer, rows, columns, isTRUE(recorded), isTRUE(counts))
  labels <- list(animal_names[if (is.null(rows)) seq_along(animal_names) else rows],
                 marker_names[if (is.null(columns)) seq_along(marker_names) else columns])
  dimnames(out) <- if (isTRUE(counts)) labels else c(labels, list(NULL))
  out
}

kinship <- function(run, pairs) {
  stopifnot(inherits(run, "pedsim_run"))
  table <- if (is.character(pairs)) {
    .Call(pedsim_kinship, run$.pointer, paste(pairs, collapse = ","), NULL, NULL)
  } else {
    pairs <- as.matrix(pairs)
    if (ncol(pairs) != 2) stop("pairs = takes kinds of relatives, a file, or two columns of animals",
                               call. = FALSE)
    .Call(pedsim_kinship, run$.pointer, NULL, pairs[, 1], pairs[, 2])
  }
  as.data.frame(table, stringsAsFactors = FALSE)
}

write <- function(run, dir, formats = "pre", truth = FALSE, summary = FALSE,
                  true_genotypes = FALSE, ibd = FALSE, pairs = NULL) {
  stopifnot(inherits(run, "pedsim_run"))
  name <- function(value, default) {
    if (isFALSE(value) || is.null(value)) NULL else if (isTRUE(value)) default else value
  }
  .Call(pedsim_write, run$.pointer, path.expand(dir), paste(formats, collapse = ","),
        name(truth, "truth.txt"), name(summary, "summary.txt"), isTRUE(true_genotypes),
        isTRUE(ibd), pairs)
  invisible(run)
}

print.pedsim_run <- function(x, ...) {
  f <- x$figures
  cat("pedsim run: ", f$animals, " animals, ", f$markers, " marker(s), seed ", f$seed,
      ", replicate ", f$replicate, "\n", f$model, "\n", sep = "")
  invisible(x)
}
