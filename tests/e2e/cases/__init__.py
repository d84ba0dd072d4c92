"""The end-to-end cases, one module for each part of the programs they run."""
