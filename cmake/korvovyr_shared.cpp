// The shared library korvovyr::korvovyr is the static library linked whole; this file only gives
// its target a source of its own.
